// The backend's action list is scanned, never trusted: the scan ends on any
// input, always starts with the default action, and never yields an
// action without a key or a label, nor one longer than its input.
#include <cstdint>
#include <cstdlib>

#include "desktop/desktop_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::vector<NotifyAction> acts = parse_notify_actions(in);
  if (acts.empty() || acts[0].key != "default" || acts[0].label != "Open") std::abort();
  for (size_t i = 1; i < acts.size(); ++i)
    if (acts[i].key.empty() || acts[i].label.empty() || acts[i].key.size() > size ||
        acts[i].label.size() > size)
      std::abort();
  std::string bat = battery_fields_json(in, in);
  if (bat.rfind("{\"percent\":", 0) != 0 || bat.back() != '}') std::abort();
  return 0;
}
