// Framing, field escaping and splitting: framing never depends on where
// reads split the stream, and N tabs always give N + 1 fields.
#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

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

  return 0;
}
