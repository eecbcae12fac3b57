// Key-combination grammar: any text reads without a crash, a valid result
// has exactly one non-empty key, and the X form agrees with the reading.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "input/combo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  Combo c = read_combo(in);
  if (c.valid == c.key.empty()) std::abort();
  ComboX x = parse_combo(in);
  if (x.ok && !c.valid) std::abort();
  if (x.ok != (x.keysym != 0)) std::abort();
  if (x.mask & ~0x4du) std::abort();
  std::string t = portal_trigger(in);
  if (c.valid && t.empty()) std::abort();
  return 0;
}
