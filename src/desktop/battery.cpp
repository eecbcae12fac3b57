// The battery state from the kernel's power-supply class.
#include <glib.h>

#include <cstdlib>
#include <cstring>

#include "core/gobj.h"
#include "desktop/desktop.h"
#include "desktop/desktop_text.h"

namespace {

// OVALIS_POWER_SUPPLY_ROOT points the reader at another tree (a fixture of
// a test, say); the kernel's own is the default.
std::string power_supply_root() {
  const char* env = std::getenv("OVALIS_POWER_SUPPLY_ROOT");
  return env && *env ? env : "/sys/class/power_supply";
}

std::string read_text(const std::string& path) {
  gchar* raw = nullptr;
  gsize len = 0;
  if (!g_file_get_contents(path.c_str(), &raw, &len, nullptr)) return "";
  GChars owned(raw);
  return std::string(raw, len);
}

}  // namespace

std::string battery_json() {
  std::string root = power_supply_root();
  GDir* dir = g_dir_open(root.c_str(), 0, nullptr);
  if (!dir) return "null";
  std::string entry;
  // The first battery in directory order; mains adapters and peripherals
  // (a mouse's "hid-..." supply) are not the machine's battery.
  while (const char* name = g_dir_read_name(dir)) {
    if (std::strncmp(name, "BAT", 3) == 0) {
      entry = name;
      break;
    }
  }
  g_dir_close(dir);
  if (entry.empty()) return "null";
  std::string base = root + "/" + entry + "/";
  return battery_fields_json(read_text(base + "capacity"), read_text(base + "status"));
}
