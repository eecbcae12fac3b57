#include "content/content_text.h"

namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool scheme_is_ours(std::string_view scheme) {
  static const char* const mine[] = {"http", "https",      "file",        "about",
                                     "data", "blob",       "javascript", "ovalis-media"};
  std::string s;
  for (char c : scheme) s += ascii_lower(c);
  for (const char* m : mine)
    if (s == m) return true;
  return false;
}

std::string uri_scheme(std::string_view uri) {
  size_t colon = uri.find(':');
  if (colon == std::string_view::npos || colon == 0) return "";
  std::string s;
  for (char c : uri.substr(0, colon)) s += ascii_lower(c);
  return s;
}

int nav_action_for(std::string_view verdict) {
  if (verdict == "deny") return 1;
  if (verdict == "external") return 2;
  return 0;
}

bool split_answer(std::string_view rest, std::string_view* id, std::string_view* verdict) {
  size_t sp = rest.find(' ');
  if (sp == std::string_view::npos) return false;
  *id = rest.substr(0, sp);
  *verdict = rest.substr(sp + 1);
  return true;
}

std::string popup_action(std::string_view verdict, std::string_view fallback) {
  if (verdict == "external" || verdict == "deny") return std::string(verdict);
  return std::string(fallback);
}

bool rate_allow(std::deque<int64_t>& times, int64_t now, size_t limit, int64_t span) {
  while (!times.empty() && (times.front() <= now - span || times.front() > now)) times.pop_front();
  if (times.size() >= limit) return false;
  times.push_back(now);
  return true;
}

std::string ext_for_mime(std::string_view mime) {
  static const char* const table[][2] = {
      {"application/pdf", "pdf"}, {"application/zip", "zip"}, {"application/json", "json"},
      {"application/gzip", "gz"}, {"text/csv", "csv"},        {"text/plain", "txt"},
      {"text/html", "html"},      {"image/png", "png"},       {"image/jpeg", "jpg"},
      {"image/gif", "gif"},       {"image/webp", "webp"},     {"image/svg+xml", "svg"},
      {"audio/mpeg", "mp3"},      {"audio/wav", "wav"},       {"audio/ogg", "ogg"},
      {"video/mp4", "mp4"},       {"video/webm", "webm"},
  };
  mime = mime.substr(0, mime.find(';'));
  for (auto& row : table)
    if (mime == row[0]) return row[1];
  return "";
}

std::string download_base_name(std::string_view suggested, std::string_view mime) {
  std::string name = suggested.empty() ? "download" : std::string(suggested);
  if (name.find('.') == std::string::npos) {
    std::string ext = ext_for_mime(mime);
    if (!ext.empty()) name += "." + ext;
  }
  return name;
}

std::string free_download_name(const std::string& name,
                               const std::function<bool(const std::string&)>& taken) {
  if (!taken(name)) return name;
  size_t dot = name.rfind('.');
  std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  auto numbered = [&](unsigned long long n) { return stem + " (" + std::to_string(n) + ")" + ext; };
  // Copies are numbered from 2 without gaps as a rule, so the first free
  // number is found by doubling, then halving: a folder with thousands of
  // copies costs a few dozen lookups, not one per copy. With gaps, some free
  // number is still found, and a taken name is never returned.
  unsigned long long lo = 1, hi = 2;
  while (taken(numbered(hi))) {
    lo = hi;
    if (hi > (1ULL << 62)) return numbered(hi + 1);
    hi = hi * 2 - 1;
  }
  while (hi - lo > 1) {
    unsigned long long mid = lo + (hi - lo) / 2;
    if (taken(numbered(mid))) lo = mid;
    else hi = mid;
  }
  return numbered(hi);
}

ExtFilter ext_filter_for(std::string_view list) {
  ExtFilter f;
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t comma = list.find(',', pos);
    if (comma == std::string_view::npos) comma = list.size();
    std::string item(list.substr(pos, comma - pos));
    pos = comma + 1;
    if (item.empty()) continue;
    if (f.default_ext.empty()) f.default_ext = item;
    std::string pattern = "*." + item;
    f.patterns.push_back(pattern);
    std::string upper;
    for (char c : item) upper += ascii_upper(c);
    if (upper != item) f.patterns.push_back("*." + upper);
    if (!f.name.empty()) f.name += ", ";
    f.name += pattern;
  }
  return f;
}

std::string with_default_ext(const std::string& path, std::string_view ext) {
  if (ext.empty()) return path;
  size_t slash = path.rfind('/');
  std::string_view base = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  if (base.find('.') != std::string_view::npos) return path;
  return path + "." + std::string(ext);
}

std::string dialog_detail_text(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'n' || s[i + 1] == '\\')) {
      out += s[i + 1] == 'n' ? '\n' : '\\';
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}
