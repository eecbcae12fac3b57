// A strict JSON string-literal reader shared by the fuzz properties and the
// fake backend, so both hold launcher's output to the same rules.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Decodes the JSON string literal at the start of s; nullopt when it is not
// one (raw control characters, bad escapes, lone surrogates, no closing
// quote). *end receives the number of bytes the literal takes.
inline std::optional<std::string> json_string_at(std::string_view s, size_t* end = nullptr) {
  if (s.empty() || s.front() != '"') return std::nullopt;
  std::string out;
  auto put = [&](unsigned cp) {
    if (cp < 0x80) out += static_cast<char>(cp);
    else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 63));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 63));
      out += static_cast<char>(0x80 | (cp & 63));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 63));
      out += static_cast<char>(0x80 | ((cp >> 6) & 63));
      out += static_cast<char>(0x80 | (cp & 63));
    }
  };
  auto hex4 = [&](size_t at, unsigned& v) {
    if (at + 4 > s.size()) return false;
    v = 0;
    for (size_t k = 0; k < 4; ++k) {
      char c = s[at + k];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') v |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v |= static_cast<unsigned>(c - 'A' + 10);
      else return false;
    }
    return true;
  };
  for (size_t i = 1; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"') {
      if (end) *end = i + 1;
      return out;
    }
    if (c < 0x20) return std::nullopt;
    if (c != '\\') {
      out += static_cast<char>(c);
      continue;
    }
    if (++i >= s.size()) return std::nullopt;
    switch (s[i]) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '/': out += '/'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        unsigned cp;
        if (!hex4(i + 1, cp)) return std::nullopt;
        i += 4;
        if (cp >= 0xD800 && cp < 0xDC00) {
          unsigned lo;
          if (i + 2 >= s.size() || s[i + 1] != '\\' || s[i + 2] != 'u' || !hex4(i + 3, lo) ||
              lo < 0xDC00 || lo >= 0xE000)
            return std::nullopt;
          cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          i += 6;
        } else if (cp >= 0xDC00 && cp < 0xE000) {
          return std::nullopt;
        }
        put(cp);
        break;
      }
      default: return std::nullopt;
    }
  }
  return std::nullopt;  // no closing quote
}

// A text that is exactly one JSON string literal, nothing before or after.
inline std::optional<std::string> strict_json_string(std::string_view s) {
  size_t end = 0;
  auto v = json_string_at(s, &end);
  if (!v || end != s.size()) return std::nullopt;
  return v;
}
