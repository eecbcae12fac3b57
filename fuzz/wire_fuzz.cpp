// Fuzz target for the pure wire layer: framing, field escaping and
// splitting, the JSON helpers and the dispatcher's keyword matching.
#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/dispatch.h"
#include "core/wire.h"

static void check(bool ok) {
  if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);

  // Framing must not depend on where reads split the stream.
  std::string whole_lines, split_lines;
  {
    LineFramer f;
    f.feed(in.data(), in.size(), [&](std::string&& l) { whole_lines += l + '\n'; });
  }
  {
    LineFramer f;
    size_t cut = size ? data[0] % (size + 1) : 0;
    f.feed(in.data(), cut, [&](std::string&& l) { split_lines += l + '\n'; });
    f.feed(in.data() + cut, in.size() - cut, [&](std::string&& l) { split_lines += l + '\n'; });
  }
  check(whole_lines == split_lines);

  std::vector<std::string> fields = split_tabs(in);
  size_t tabs = 0;
  for (char c : in) tabs += c == '\t';
  check(fields.size() == tabs + 1);
  check(tab_field(fields, fields.size()).empty());
  for (auto& f : fields) check(wire_unescape(f).size() <= f.size());

  // json_escape: always one valid UTF-8 JSON string without raw line breaks.
  std::string lit = json_escape(in);
  check(lit.size() >= 2 && lit.front() == '"' && lit.back() == '"');
  check(g_utf8_validate(lit.data(), static_cast<gssize>(lit.size()), nullptr));
  check(lit.find('\n') == std::string::npos && lit.find('\r') == std::string::npos);
  // Reading it back as a value gives the valid form of the input.
  std::string obj = "{\"k\":" + lit + "}";
  std::string back = json_find_str(obj, "k");
  if (in.find('\\') == std::string_view::npos && in.find('"') == std::string_view::npos &&
      g_utf8_validate(in.data(), static_cast<gssize>(in.size()), nullptr)) {
    bool plain = true;
    for (unsigned char c : in) plain &= c >= 32;
    if (plain) check(back == in);
  }

  (void)json_find_str(in, "title");
  (void)json_find_num(in, "w");

  CmdMatch m = match_command(in);
  // Every view the matcher hands out lies inside the line (or is the
  // implied "main").
  auto inside = [&](std::string_view v) {
    return v.empty() || (v.data() >= in.data() && v.data() + v.size() <= in.data() + in.size());
  };
  check(inside(m.id) && inside(m.rest) && (inside(m.win) || m.win == "main"));
  return 0;
}
