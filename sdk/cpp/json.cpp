#include "ovalis/json.h"

#include <glib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace ovalis {

const Json* Json::get(std::string_view key) const {
  if (!is_object()) return nullptr;
  for (auto& [k, val] : obj())
    if (k == key) return &val;
  return nullptr;
}


bool Json::erase(std::string_view key) {
  if (!is_object()) return false;
  auto& o = std::get<JsonObject>(v);
  for (auto it = o.begin(); it != o.end(); ++it) {
    if (it->first == key) {
      o.erase(it);
      return true;
    }
  }
  return false;
}

namespace {

constexpr int kMaxDepth = 256;

void set_member(JsonObject& o, std::string key, Json value) {
  for (auto& [k, val] : o) {
    if (k == key) {
      val = std::move(value);
      return;
    }
  }
  o.emplace_back(std::move(key), std::move(value));
}

void put_utf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.
size_t utf8_len(std::string_view s, size_t i) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned c = b(i);
  if (c < 0x80) return 1;
  size_t n;
  unsigned cp;
  if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
  else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; }
  else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; }
  else return 0;
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
  if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
  return n;
}

class Parser {
 public:
  explicit Parser(std::string_view t, bool keep_duplicates = false)
      : t_(t), keep_duplicates_(keep_duplicates) {}

  std::optional<Json> document() {
    auto v = value(0);
    if (!v) return std::nullopt;
    ws();
    if (i_ != t_.size()) return std::nullopt;
    return v;
  }
  // Where the text stopped making sense; meaningful after a failure.
  size_t stop() const { return i_ < t_.size() ? i_ : t_.size(); }

 private:
  std::string_view t_;
  bool keep_duplicates_;
  size_t i_ = 0;

  void ws() {
    while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r'))
      ++i_;
  }
  bool eat(char c) {
    ws();
    if (i_ < t_.size() && t_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool word(std::string_view w) {
    if (t_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }

  std::optional<Json> value(int depth) {
    if (depth > kMaxDepth) return std::nullopt;
    ws();
    if (i_ >= t_.size()) return std::nullopt;
    char c = t_[i_];
    if (c == '{') return object(depth);
    if (c == '[') return array(depth);
    if (c == '"') {
      auto s = string();
      if (!s) return std::nullopt;
      return Json(std::move(*s));
    }
    if (word("true")) return Json(true);
    if (word("false")) return Json(false);
    if (word("null")) return Json(nullptr);
    return number();
  }

  std::optional<Json> object(int depth) {
    ++i_;  // '{'
    JsonObject o;
    if (eat('}')) return Json(std::move(o));
    for (;;) {
      ws();
      if (i_ >= t_.size() || t_[i_] != '"') return std::nullopt;
      auto k = string();
      if (!k || !eat(':')) return std::nullopt;
      auto v = value(depth + 1);
      if (!v) return std::nullopt;
      if (keep_duplicates_)
        o.emplace_back(std::move(*k), std::move(*v));  // the reader decides about repeats
      else
        set_member(o, std::move(*k), std::move(*v));  // a repeated key: the last one wins
      if (eat(',')) continue;
      if (eat('}')) return Json(std::move(o));
      return std::nullopt;
    }
  }

  std::optional<Json> array(int depth) {
    ++i_;  // '['
    JsonArray a;
    if (eat(']')) return Json(std::move(a));
    for (;;) {
      auto v = value(depth + 1);
      if (!v) return std::nullopt;
      a.push_back(std::move(*v));
      if (eat(',')) continue;
      if (eat(']')) return Json(std::move(a));
      return std::nullopt;
    }
  }

  std::optional<unsigned> hex4() {
    if (i_ + 4 > t_.size()) return std::nullopt;
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) {
      char c = t_[i_++];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= c - '0';
      else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
      else return std::nullopt;
    }
    return v;
  }

  std::optional<std::string> string() {
    ++i_;  // opening quote
    std::string out;
    while (i_ < t_.size()) {
      unsigned char c = t_[i_];
      if (c == '"') {
        ++i_;
        return out;
      }
      if (c < 0x20) return std::nullopt;
      if (c != '\\') {
        // Raw bytes must be valid UTF-8; anything else becomes U+FFFD.
        size_t n = utf8_len(t_, i_);
        if (n == 0) {
          put_utf8(out, 0xFFFD);
          ++i_;
        } else {
          out.append(t_.substr(i_, n));
          i_ += n;
        }
        continue;
      }
      if (++i_ >= t_.size()) return std::nullopt;
      char e = t_[i_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          auto hi = hex4();
          if (!hi) return std::nullopt;
          unsigned cp = *hi;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            // A high surrogate needs its low half; a lone half is replaced.
            size_t save = i_;
            std::optional<unsigned> lo;
            if (t_.substr(i_, 2) == "\\u") {
              i_ += 2;
              lo = hex4();
            }
            if (lo && *lo >= 0xDC00 && *lo <= 0xDFFF) {
              cp = 0x10000 + ((cp - 0xD800) << 10) + (*lo - 0xDC00);
            } else {
              i_ = save;
              cp = 0xFFFD;
            }
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            cp = 0xFFFD;
          }
          put_utf8(out, cp);
          break;
        }
        default: return std::nullopt;
      }
    }
    return std::nullopt;  // unterminated
  }

  std::optional<Json> number() {
    size_t start = i_;
    if (i_ < t_.size() && t_[i_] == '-') ++i_;
    auto digits = [&] {
      size_t s = i_;
      while (i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9') ++i_;
      return i_ - s;
    };
    size_t intpart_start = i_;
    size_t nint = digits();
    if (nint == 0) return std::nullopt;
    if (nint > 1 && t_[intpart_start] == '0') return std::nullopt;
    if (i_ < t_.size() && t_[i_] == '.') {
      ++i_;
      if (digits() == 0) return std::nullopt;
    }
    if (i_ < t_.size() && (t_[i_] == 'e' || t_[i_] == 'E')) {
      ++i_;
      if (i_ < t_.size() && (t_[i_] == '+' || t_[i_] == '-')) ++i_;
      if (digits() == 0) return std::nullopt;
    }
    // Not strtod: a backend that sets a locale with a decimal comma would
    // read "1.5" as 1.
    std::string text(t_.substr(start, i_ - start));
    return Json(g_ascii_strtod(text.c_str(), nullptr));
  }
};

void dump_string(std::string& out, std::string_view s) {
  out += '"';
  for (size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    if (c >= 0x80) {
      size_t n = utf8_len(s, i);
      if (n == 0) {
        out += "\\ufffd";
        ++i;
        continue;
      }
      // U+2028 and U+2029 end lines in older script parsers; keep them escaped.
      if (n == 3 && c == 0xE2 && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
          (static_cast<unsigned char>(s[i + 2]) & 0xFE) == 0xA8) {
        out += (s[i + 2] & 1) ? "\\u2029" : "\\u2028";
      } else {
        out.append(s.substr(i, n));
      }
      i += n;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
}

void dump(std::string& out, const Json& j) {
  if (j.is_null()) {
    out += "null";
  } else if (j.is_bool()) {
    out += std::get<bool>(j.v) ? "true" : "false";
  } else if (j.is_number()) {
    double d = j.num();
    if (!std::isfinite(d)) {
      out += "null";
    } else if (d == std::floor(d) && std::fabs(d) < 9007199254740992.0) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.0f", d);
      out += buf;
    } else {
      // g_ascii_dtostr: the shortest text that reads back exactly, with a
      // decimal point in every locale.
      char buf[G_ASCII_DTOSTR_BUF_SIZE];
      out += g_ascii_dtostr(buf, sizeof buf, d);
    }
  } else if (j.is_string()) {
    dump_string(out, j.str());
  } else if (j.is_bytes()) {
    const Bytes& b = j.bytes();
    gchar* b64 = g_base64_encode(b.data(), b.size());
    out += '"';
    out += b64;
    out += '"';
    g_free(b64);
  } else if (j.is_array()) {
    out += '[';
    bool first = true;
    for (auto& e : j.arr()) {
      if (!first) out += ',';
      first = false;
      dump(out, e);
    }
    out += ']';
  } else {
    out += '{';
    bool first = true;
    for (auto& [k, val] : j.obj()) {
      if (!first) out += ',';
      first = false;
      dump_string(out, k);
      out += ':';
      dump(out, val);
    }
    out += '}';
  }
}

}  // namespace

void Json::set(std::string key, Json value) {
  if (!is_object()) v = JsonObject{};
  set_member(std::get<JsonObject>(v), std::move(key), std::move(value));
}

std::string Json::str_or(std::string_view key, std::string fallback) const {
  const Json* m = get(key);
  return m && m->is_string() ? m->str() : fallback;
}

double Json::num_or(std::string_view key, double fallback) const {
  const Json* m = get(key);
  return m && m->is_number() ? m->num() : fallback;
}

bool Json::bool_or(std::string_view key, bool fallback) const {
  const Json* m = get(key);
  return m && m->is_bool() ? std::get<bool>(m->v) : fallback;
}

std::optional<Json> json_parse(std::string_view text) { return Parser(text).document(); }

std::optional<Json> json_parse_document(std::string_view text, size_t* error_offset) {
  Parser p(text, true);
  auto v = p.document();
  if (!v && error_offset) *error_offset = p.stop();
  return v;
}

std::string json_dump(const Json& j) {
  std::string out;
  dump(out, j);
  return out;
}

std::string json_quote(std::string_view s) {
  std::string out;
  dump_string(out, s);
  return out;
}

}  // namespace ovalis
