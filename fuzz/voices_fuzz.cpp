// Voice listings as spd-say prints them: any output reads without a crash
// into a JSON array whose names and languages are valid JSON strings, with
// no entry from a line that is not complete.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "audio/tool_text.h"
#include "json_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string out = voices_json(in);
  if (out.front() != '[' || out.back() != ']') std::abort();
  // Every element is {"id":S,"name":S,"lang":S,"quality":"default"}.
  size_t at = 1, count = 0;
  while (at < out.size() - 1) {
    for (const char* key : {"{\"id\":", ",\"name\":", ",\"lang\":"}) {
      std::string_view k = key;
      if (out.compare(at, k.size(), k) != 0) std::abort();
      at += k.size();
      size_t end = 0;
      auto s = json_string_at(std::string_view(out).substr(at), &end);
      if (!s || s->empty()) std::abort();
      at += end;
    }
    std::string_view tail = ",\"quality\":\"default\"}";
    if (out.compare(at, tail.size(), tail) != 0) std::abort();
    at += tail.size();
    if (at < out.size() - 1 && out[at++] != ',') std::abort();
    ++count;
  }
  // The header and any unterminated last line never count.
  size_t lines = 0;
  for (char c : in) lines += c == '\n';
  if (count + (lines > 0 ? 1 : 0) > lines) std::abort();
  return 0;
}
