// Idle time, from the desktop's idle monitor.
#include "core/gobj.h"
#include "core/wire.h"
#include "desktop/desktop.h"

std::string idle_json() {
  double secs = 0;
  if (GDBusConnection* bus = session_bus()) {
    GVar r(bus_call_sync(bus, "org.gnome.Mutter.IdleMonitor",
                         "/org/gnome/Mutter/IdleMonitor/Core",
                         "org.gnome.Mutter.IdleMonitor", "GetIdletime", nullptr,
                         G_VARIANT_TYPE("(t)"), G_DBUS_CALL_FLAGS_NONE, 500,
                         nullptr, nullptr));
    if (r) {
      guint64 ms = 0;
      g_variant_get(r.get(), "(t)", &ms);
      secs = static_cast<double>(ms) / 1000.0;
    }
  }
  // Locale-independent: the wire always uses a decimal point.
  char num[G_ASCII_DTOSTR_BUF_SIZE];
  g_ascii_formatd(num, sizeof num, "%.1f", secs);
  return std::string("{\"seconds\":") + num + "}";
}
