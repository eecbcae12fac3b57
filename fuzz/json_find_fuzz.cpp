// The JSON lookups never read past their input, and a value written with
// json_escape into a flat object is found again.
#include <glib.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "core/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  size_t cut = in.find('\x01');
  std::string_view key = cut == std::string_view::npos ? std::string_view("k") : in.substr(0, cut);
  std::string_view json = cut == std::string_view::npos ? in : in.substr(cut + 1);

  std::string s = json_find_str(json, key);
  if (s.size() > json.size()) std::abort();
  double d = json_find_num(json, key);
  (void)d;

  // Round trip: a plain value (no quotes, backslashes or control bytes) in
  // an object whose key has no quote is read back unchanged.
  if (key.find('"') == std::string_view::npos &&
      g_utf8_validate(json.data(), static_cast<gssize>(json.size()), nullptr)) {
    bool plain = true;
    for (unsigned char c : json) plain &= c >= 32 && c != '"' && c != '\\';
    if (plain) {
      std::string obj = "{\"" + std::string(key) + "\": " + json_escape(json) + "}";
      if (json_find_str(obj, key) != json) std::abort();
    }
  }
  std::string num = "{\"" + std::string(key) + "\":" + std::to_string(size) + "}";
  if (key.find('"') == std::string_view::npos && json_find_num(num, key) != static_cast<double>(size))
    std::abort();
  return 0;
}
