// Trust rules from the environment and origins from pages: parsing never
// fails, every rule line is kept whole, and the linear matcher agrees with
// the recursive definition of a glob on short inputs.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "content/media_rules.h"

namespace {

bool reference_glob(std::string_view p, std::string_view t) {
  if (p.empty()) return t.empty();
  if (p[0] == '*') {
    for (size_t i = 0; i <= t.size(); ++i)
      if (reference_glob(p.substr(1), t.substr(i))) return true;
    return false;
  }
  return !t.empty() && p[0] == t[0] && reference_glob(p.substr(1), t.substr(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  size_t cut = in.find('\x01');
  std::string_view rules_text = cut == std::string_view::npos ? in : in.substr(0, cut);
  std::string_view origin = cut == std::string_view::npos ? std::string_view() : in.substr(cut + 1);

  auto rules = parse_media_rules(rules_text);
  size_t bytes = 0;
  for (const MediaRule& r : rules) {
    if (r.key.find(' ') != std::string::npos || r.key.find('\n') != std::string::npos ||
        r.pattern.find('\n') != std::string::npos)
      std::abort();
    bytes += r.key.size() + 1 + r.pattern.size();
  }
  if (bytes > rules_text.size()) std::abort();
  bool any = false;
  for (const MediaRule& r : rules) {
    bool m = media_glob(r.pattern, origin);
    if (r.pattern.size() <= 12 && origin.size() <= 24 && m != reference_glob(r.pattern, origin))
      std::abort();
    any |= r.key == "proxy" && m;
  }
  if (origin != "file://" && media_rules_trust(rules, "proxy", origin) != any) std::abort();

  // A proxied address's document key: a whole parameter of the query, ahead
  // of the target, never running into another parameter.
  std::string key = proxy_key_of(in);
  if (!key.empty()) {
    size_t at = in.find("k=" + key);
    size_t q = in.find('?');
    if (at == std::string_view::npos || q == std::string_view::npos || at <= q ||
        key.find('&') != std::string::npos)
      std::abort();
    size_t u = in.find("u=");
    if (u != std::string_view::npos && u > q && at + 2 + key.size() > u) std::abort();
  }
  return 0;
}
