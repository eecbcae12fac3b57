// Any ovalis.json text is either accepted or refused with one line naming
// the file; nothing crashes, and an accepted file gives a launcher
// environment without a raw line break in a value that cannot hold one.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ovalis/backend.h"
#include "ovalis/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string err;
  // "/nonexistent": page and icon checks fail cleanly instead of reading files.
  auto c = ovalis::parse_app_config(text, "ovalis.json", "/nonexistent", &err);
  if (!c) {
    if (err.rfind("ovalis.json: ", 0) != 0 || err.find('\n') != std::string::npos) std::abort();
    return 0;
  }
  if (!c->page_is_url()) std::abort();  // a file page cannot exist under /nonexistent
  for (auto& [k, v] : c->launcher_env())
    if (k != "OVALIS_MEDIA_ORIGINS" && v.find('\n') != std::string::npos) std::abort();
  (void)c->calls_allowed("http://127.0.0.1:5173");
  return 0;
}
