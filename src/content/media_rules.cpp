#include "content/media_rules.h"

bool media_glob(std::string_view p, std::string_view t) {
  // Greedy matching with one backtrack point: the last "*" seen takes one
  // more character whenever the rest fails. This accepts exactly what the
  // recursive definition does, in time linear in pattern times text, so a
  // pattern with many stars cannot stall the main loop.
  size_t pi = 0, ti = 0;
  size_t star = std::string_view::npos, mark = 0;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ti;
    } else if (pi < p.size() && p[pi] == t[ti]) {
      ++pi;
      ++ti;
    } else if (star != std::string_view::npos) {
      pi = star + 1;
      ti = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

std::vector<MediaRule> parse_media_rules(std::string_view text) {
  std::vector<MediaRule> rules;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    size_t sp = line.find(' ');
    if (sp == std::string_view::npos) continue;
    rules.push_back({std::string(line.substr(0, sp)), std::string(line.substr(sp + 1))});
  }
  return rules;
}

bool media_rules_trust(const std::vector<MediaRule>& rules, std::string_view key,
                       std::string_view origin) {
  if (origin == "file://") return true;
  for (const MediaRule& r : rules)
    if (r.key == key && media_glob(r.pattern, origin)) return true;
  return false;
}

std::string proxy_key_of(std::string_view uri) {
  size_t q = uri.find('?');
  if (q == std::string_view::npos) return "";
  std::string_view head = uri.substr(q + 1);
  size_t u = uri.find("u=");
  if (u != std::string_view::npos && u > q) head = uri.substr(q + 1, u - q - 1);
  while (!head.empty()) {
    size_t amp = head.find('&');
    std::string_view param = head.substr(0, amp);
    if (param.size() > 2 && param.substr(0, 2) == "k=") return std::string(param.substr(2));
    if (amp == std::string_view::npos) break;
    head.remove_prefix(amp + 1);
  }
  return "";
}
