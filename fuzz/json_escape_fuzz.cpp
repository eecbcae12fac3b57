// json_escape always yields one JSON string literal whose value is the
// valid-UTF-8 form of its input, with no raw line break in it.
#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/wire.h"
#include "json_string.h"

static std::string valid_form(std::string_view in) {
  // Invalid sequences become U+FFFD by the GLib rule; NUL bytes are text too.
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t nul = in.find('\0', pos);
    size_t len = (nul == std::string_view::npos ? in.size() : nul) - pos;
    if (len > 0) {
      char* fixed = g_utf8_make_valid(in.data() + pos, static_cast<gssize>(len));
      out += fixed;
      g_free(fixed);
    }
    if (nul == std::string_view::npos) return out;
    out += '\0';
    pos = nul + 1;
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string lit = json_escape(in);
  if (lit.find('\n') != std::string::npos || lit.find('\r') != std::string::npos) std::abort();
  if (!g_utf8_validate(lit.data(), static_cast<gssize>(lit.size()), nullptr)) std::abort();
  auto value = strict_json_string(lit);
  if (!value || *value != valid_form(in)) std::abort();
  std::string appended = "x";
  json_escape_to(appended, in);
  if (appended != "x" + lit) std::abort();
  return 0;
}
