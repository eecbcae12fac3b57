// Text rules of the desktop services; see desktop_text.h.
#include "desktop/desktop_text.h"

#include <glib.h>

#include <charconv>
#include <cmath>

namespace {

// The string value of "<key>" in the object from `from` to `to` (its
// closing brace). The key is looked for inside the object only, so a long
// list of objects without it costs linear time; the value may run on past
// the brace to the next unescaped quote. A backslash takes the next
// character literally.
std::string action_value(std::string_view s, size_t from, size_t to, std::string_view key) {
  std::string pat = "\"" + std::string(key) + "\":";
  size_t k = s.substr(from, to - from).find(pat);
  if (k == std::string_view::npos) return "";
  k += from;
  size_t q = s.find('"', k + pat.size());
  if (q == std::string_view::npos) return "";
  std::string out;
  for (size_t i = q + 1; i < s.size(); ++i) {
    if (s[i] == '\\') {
      if (i + 1 < s.size()) out += s[++i];
      continue;
    }
    if (s[i] == '"') break;
    out += s[i];
  }
  return out;
}

std::string_view trim(std::string_view s, std::string_view chars) {
  while (!s.empty() && chars.find(s.front()) != std::string_view::npos) s.remove_prefix(1);
  while (!s.empty() && chars.find(s.back()) != std::string_view::npos) s.remove_suffix(1);
  return s;
}

}  // namespace

std::vector<NotifyAction> parse_notify_actions(std::string_view json) {
  std::vector<NotifyAction> out{{"default", "Open"}};
  size_t pos = 0;
  for (;;) {
    size_t open = json.find('{', pos);
    if (open == std::string_view::npos) break;
    size_t close = json.find('}', open + 1);
    if (close == std::string_view::npos) break;
    std::string id = action_value(json, open, close, "id");
    std::string title = action_value(json, open, close, "title");
    if (!id.empty()) out.push_back({id, title.empty() ? id : title});
    pos = close + 1;
  }
  return out;
}

bool parse_badge_count(std::string_view text, int64_t* count) {
  if (text.empty()) return false;
  int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  *count = v;
  return true;
}

double parse_progress(std::string_view text) {
  if (text.empty()) return -1.0;
  std::string s(text);
  double v = g_ascii_strtod(s.c_str(), nullptr);
  // A NaN would reach the dock as a bar of no size that claims to be shown.
  if (std::isnan(v)) return -1.0;
  return v > 1.0 ? 1.0 : v;
}

std::string battery_fields_json(std::string_view capacity, std::string_view status) {
  capacity = trim(capacity, " \t\r\n");
  status = trim(status, "\r\n");
  // The capacity goes into the answer as a number, so only a plain whole
  // number may pass; anything else (a driver's odd text, a truncated read)
  // would make the whole answer unreadable.
  std::string percent = "null";
  unsigned v = 0;
  auto [end, ec] = std::from_chars(capacity.data(), capacity.data() + capacity.size(), v);
  if (!capacity.empty() && ec == std::errc() && end == capacity.data() + capacity.size())
    percent = std::to_string(v);
  bool charging = status == "Charging";
  bool plugged = charging || status == "Full" || status == "Not charging";
  return "{\"percent\":" + percent + ",\"charging\":" + (charging ? "true" : "false") +
         ",\"plugged\":" + (plugged ? "true" : "false") + ",\"minutesRemaining\":null}";
}

std::string utf8_valid(std::string_view s) {
  if (g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr)) return std::string(s);
  gchar* fixed = g_utf8_make_valid(s.data(), static_cast<gssize>(s.size()));
  std::string out = fixed;
  g_free(fixed);
  return out;
}
