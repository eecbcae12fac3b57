#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/gobj.h"
#include "core/wire.h"

const void* LineFramer::memchr_(const char* p, size_t n) { return std::memchr(p, '\n', n); }

std::string wire_unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c != '\\' || i + 1 == s.size()) {
      out += c;
      continue;
    }
    char n = s[++i];
    switch (n) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      default: out += n; break;
    }
  }
  return out;
}

std::vector<std::string> split_tabs(std::string_view s) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t tab = s.find('\t', start);
    if (tab == std::string_view::npos) {
      out.emplace_back(s.substr(start));
      return out;
    }
    out.emplace_back(s.substr(start, tab - start));
    start = tab + 1;
  }
}

std::string tab_field(const std::vector<std::string>& fields, size_t i) {
  return i < fields.size() ? fields[i] : std::string();
}

namespace {

// Whether none of eight bytes needs a look: no control character, quote,
// backslash or byte of a multi-byte character.
inline bool plain8(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
  auto has_zero = [](uint64_t x) { return (x - kOnes) & ~x & kHigh; };
  uint64_t below_space = (v - kOnes * 0x20) & ~v & kHigh;
  return !(below_space | has_zero(v ^ (kOnes * '"')) | has_zero(v ^ (kOnes * '\\')) | (v & kHigh));
}

// Length of the well-formed UTF-8 character at p (2 to 4 bytes, no
// surrogates, nothing past U+10FFFF, no overlong form), or 0.
size_t utf8_char_len(const unsigned char* p, size_t left) {
  unsigned char c = p[0];
  size_t n;
  uint32_t cp;
  if (c >= 0xc2 && c <= 0xdf) n = 2, cp = c & 0x1f;
  else if (c >= 0xe0 && c <= 0xef) n = 3, cp = c & 0x0f;
  else if (c >= 0xf0 && c <= 0xf4) n = 4, cp = c & 0x07;
  else return 0;
  if (left < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xc0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3f);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))) || (n == 4 && (cp < 0x10000 || cp > 0x10ffff)))
    return 0;
  return n;
}

// Escapes text in one pass, eight plain bytes at a time, checking on the way
// that it is well-formed UTF-8 unless it is known to be. False, with `out` as
// it was, at the first byte that is not.
bool escape_if_valid(std::string& out, const char* p, size_t n, bool known_valid = false) {
  static const char hex[] = "0123456789abcdef";
  size_t mark = out.size();
  size_t run = 0, i = 0;
  while (i < n) {
    if (i + 8 <= n && plain8(p + i)) {
      i += 8;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c >= 0x80 && known_valid) {
      ++i;
      continue;
    }
    if (c >= 0x80) {
      size_t len = utf8_char_len(reinterpret_cast<const unsigned char*>(p + i), n - i);
      if (!len) {
        out.resize(mark);
        return false;
      }
      i += len;
      continue;
    }
    if (c >= 32 && c != '"' && c != '\\') {
      ++i;
      continue;
    }
    out.append(p + run, i - run);
    run = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        char u[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
        out.append(u, 6);
      }
    }
    ++i;
  }
  out.append(p + run, n - run);
  return true;
}

}  // namespace

void json_escape_to(std::string& out, std::string_view s) {
  out.reserve(out.size() + s.size() + 2);
  out += '"';
  if (escape_if_valid(out, s.data(), s.size())) {
    out += '"';
    return;
  }
  {
    // g_utf8_make_valid stops at NUL bytes; they are legal in a wire field's
    // bytes, so repair each NUL-free stretch and keep the NULs between them.
    size_t pos = 0;
    while (pos <= s.size()) {
      size_t nul = s.find('\0', pos);
      size_t len = (nul == std::string_view::npos ? s.size() : nul) - pos;
      GChars fixed(g_utf8_make_valid(s.data() + pos, static_cast<gssize>(len)));
      escape_if_valid(out, fixed.get(), std::strlen(fixed.get()), true);
      if (nul == std::string_view::npos) break;
      out += "\\u0000";
      pos = nul + 1;
    }
  }
  out += '"';
}

std::string json_escape(std::string_view s) {
  std::string out;
  json_escape_to(out, s);
  return out;
}

// Position just after `"key":`, or npos.
static size_t find_key(std::string_view json, std::string_view key) {
  std::string pat;
  pat.reserve(key.size() + 3);
  pat += '"';
  pat += key;
  pat += "\":";
  size_t at = json.find(pat);
  return at == std::string_view::npos ? at : at + pat.size();
}

std::string json_find_str(std::string_view json, std::string_view key) {
  size_t i = find_key(json, key);
  if (i == std::string_view::npos) return {};
  while (i < json.size() && (json[i] == ' ' || json[i] == '\t')) ++i;
  if (i >= json.size() || json[i] != '"') return {};
  std::string out;
  for (++i; i < json.size(); ++i) {
    char c = json[i];
    if (c == '"') break;
    if (c == '\\') {
      if (++i >= json.size()) break;
      c = json[i];
    }
    out += c;
  }
  return out;
}

double json_find_num(std::string_view json, std::string_view key) {
  size_t i = find_key(json, key);
  if (i == std::string_view::npos) return 0;
  // Numbers are short: a bounded window keeps a huge text from being copied.
  while (i < json.size() && g_ascii_isspace(json[i])) ++i;
  return ascii_num(json.substr(i, 64));
}

double ascii_num(std::string_view s) {
  while (!s.empty() && g_ascii_isspace(s.front())) s.remove_prefix(1);
  std::string tmp(s.substr(0, 512));  // g_ascii_strtod needs a terminated string
  char* end = nullptr;
  double v = g_ascii_strtod(tmp.c_str(), &end);
  return end == tmp.c_str() ? 0 : v;
}

std::string ascii_num_text(double v, int digits) {
  char fmt[16];
  std::snprintf(fmt, sizeof fmt, "%%.%dg", digits);
  char buf[G_ASCII_DTOSTR_BUF_SIZE];
  return g_ascii_formatd(buf, sizeof buf, fmt, v);
}

namespace {

size_t skip_ws(std::string_view s, size_t i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  return i;
}

size_t string_end(std::string_view s, size_t i) {
  // s[i] is the opening quote. Control characters must be escaped; any other
  // byte passes (the text was made valid UTF-8 before it got here).
  for (++i; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"') return i + 1;
    if (c < 0x20) return std::string_view::npos;
    if (c != '\\') continue;
    if (++i >= s.size()) return std::string_view::npos;
    char e = s[i];
    if (e == 'u') {
      for (int k = 0; k < 4; ++k)
        if (++i >= s.size() || !g_ascii_isxdigit(s[i])) return std::string_view::npos;
    } else if (!std::strchr("\"\\/bfnrt", e) || e == '\0') {
      return std::string_view::npos;
    }
  }
  return std::string_view::npos;
}

size_t number_end(std::string_view s, size_t i) {
  auto digits = [&](size_t j) {
    size_t k = j;
    while (k < s.size() && g_ascii_isdigit(s[k])) ++k;
    return k;
  };
  if (i < s.size() && s[i] == '-') ++i;
  if (i >= s.size() || !g_ascii_isdigit(s[i])) return std::string_view::npos;
  i = s[i] == '0' ? i + 1 : digits(i);
  if (i < s.size() && s[i] == '.') {
    size_t j = digits(i + 1);
    if (j == i + 1) return std::string_view::npos;
    i = j;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t j = digits(i);
    if (j == i) return std::string_view::npos;
    i = j;
  }
  return i;
}

size_t value_end(std::string_view s, size_t i, int depth) {
  constexpr size_t npos = std::string_view::npos;
  if (depth > 512) return npos;
  i = skip_ws(s, i);
  if (i >= s.size()) return npos;
  char c = s[i];
  if (c == '"') return string_end(s, i);
  if (c == '-' || g_ascii_isdigit(c)) return number_end(s, i);
  for (std::string_view word : {"true", "false", "null"})
    if (s.substr(i, word.size()) == word) return i + word.size();
  if (c != '{' && c != '[') return npos;
  char close = c == '{' ? '}' : ']';
  i = skip_ws(s, i + 1);
  if (i < s.size() && s[i] == close) return i + 1;
  for (;;) {
    if (c == '{') {
      i = skip_ws(s, i);
      if (i >= s.size() || s[i] != '"') return npos;
      i = string_end(s, i);
      if (i == npos) return npos;
      i = skip_ws(s, i);
      if (i >= s.size() || s[i] != ':') return npos;
      ++i;
    }
    i = value_end(s, i, depth + 1);
    if (i == npos) return npos;
    i = skip_ws(s, i);
    if (i >= s.size()) return npos;
    if (s[i] == close) return i + 1;
    if (s[i] != ',') return npos;
    ++i;
  }
}

}  // namespace

size_t json_value_end(std::string_view s, size_t pos) { return value_end(s, pos, 0); }
