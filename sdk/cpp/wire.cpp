#include "ovalis/wire.h"

namespace ovalis {

std::optional<PageCall> parse_call(std::string_view rest) {
  size_t sp = rest.find(' ');
  std::string_view id = rest.substr(0, sp);
  size_t colon = id.rfind(':');
  if (id.empty() || colon == std::string_view::npos || colon + 1 == id.size()) return std::nullopt;
  PageCall c;
  c.call_id = std::string(id);
  c.window = std::string(id.substr(0, colon));
  if (sp == std::string_view::npos) {
    c.error = "call without a payload";
    return c;
  }
  auto outer = json_parse(rest.substr(sp + 1));
  if (!outer || !outer->is_array() || outer->arr().empty() || !outer->arr()[0].is_string()) {
    c.error = "malformed call line";
    return c;
  }
  if (outer->arr().size() > 1 && outer->arr()[1].is_string()) c.origin = outer->arr()[1].str();
  // The payload travels as a JSON string holding the page's own JSON text.
  auto payload = json_parse(outer->arr()[0].str());
  if (!payload || !payload->is_object()) {
    c.error = "call payload is not a JSON object";
    return c;
  }
  if (const Json* m = payload->get("method"); m && m->is_string()) c.method = m->str();
  if (const Json* p = payload->get("params")) c.params = *p;
  if (c.method.empty()) c.error = "call without a method";
  return c;
}

std::string wire_escape(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 8);
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

std::string wire_unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char e = s[++i];
    out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
  }
  return out;
}

std::vector<std::string> split_tabs(std::string_view s) {
  std::vector<std::string> out;
  while (true) {
    size_t tab = s.find('\t');
    out.emplace_back(s.substr(0, tab));
    if (tab == std::string_view::npos) return out;
    s.remove_prefix(tab + 1);
  }
}

std::string escaped_fields(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += '\t';
    out += wire_escape(fields[i]);
  }
  return out;
}

std::string plain_fields(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += '\t';
    out += one_line(fields[i]);
  }
  return out;
}

std::optional<Got> parse_got(std::string_view rest) {
  size_t sp = rest.find(' ');
  if (sp == 0 || sp == std::string_view::npos) return std::nullopt;
  Got g;
  g.id = std::string(rest.substr(0, sp));
  if (auto v = json_parse(rest.substr(sp + 1))) {
    g.value = std::move(*v);
    g.parsed = true;
  }
  return g;
}

std::string one_line(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  return out;
}

std::optional<std::string> targeted(std::string_view keyword, std::string_view window) {
  if (window.empty() || window == "main") return std::string(keyword);
  for (char c : window) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F) return std::nullopt;
  }
  std::string out(keyword);
  out += '@';
  out += window;
  return out;
}

std::string ret_line(std::string_view call_id, bool ok, const Json& answer) {
  std::string line = "RET ";
  line += call_id;
  line += ok ? " 0 " : " 1 ";
  line += json_dump(answer);
  return line;
}

std::optional<std::string> emit_line(std::string_view window, std::string_view event,
                                     const Json& data) {
  auto kw = targeted("EVAL", window);
  if (!kw) return std::nullopt;
  std::string js = "window.__emit&&window.__emit({event:" + json_quote(event) +
                   ",data:" + json_dump(data) + "})";
  return *kw + " " + wire_escape(js);
}

}  // namespace ovalis
