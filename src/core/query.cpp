// Answers to the backend's "GET" queries.
#include <cstdio>

#include "core/commands.h"
#include "core/dispatch.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "menus/menus.h"
#include "windows/registry.h"
#include "windows/windows.h"

namespace {

std::string windows_json() {
  std::string out = g_win ? "[\"main\"" : "[";
  for (auto& [id, sw] : g_secwins) {
    if (out.size() > 1) out += ',';
    json_escape_to(out, id);
  }
  out += ']';
  return out;
}

std::string idle_json() {
  double secs = 0;
  if (GDBusConnection* bus = session_bus()) {
    GVar r(g_dbus_connection_call_sync(bus, "org.gnome.Mutter.IdleMonitor",
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

}  // namespace

void do_get(std::string_view rest) {
  size_t sp = rest.find(' ');
  if (sp == std::string_view::npos) return;
  std::string_view id = rest.substr(0, sp);
  std::string_view key = rest.substr(sp + 1);
  if (key == "windows") return send_got(id, windows_json());
  if (key == "win") return send_got(id, win_state_json("main"));
  if (key.starts_with("win:")) return send_got(id, win_state_json(key.substr(4)));
  if (key == "mouse") return send_got(id, mouse_json("main"));
  if (key.starts_with("mouse:")) return send_got(id, mouse_json(key.substr(6)));
  if (key == "fgscreen") return send_got(id, fgscreen_json());
  if (key == "screens") return send_got(id, screens_json());
  if (key == "idle") return send_got(id, idle_json());
  if (key.starts_with("item:")) return send_got(id, item_json(key.substr(5), false));
  if (key.starts_with("item@")) return send_got(id, item_json(key.substr(5), true));
  // Keys this build has no data for answer null, so the backend never waits.
  send_got(id, "null");
}
