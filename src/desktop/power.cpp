// Keeping the machine awake: the login manager's sleep lock and, on
// request, the screen saver's inhibition that keeps the display on.
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include "core/app.h"
#include "core/dispatch.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "desktop/desktop.h"
#include "desktop/desktop_text.h"

namespace {

// The lock is held for as long as this descriptor stays open.
int g_inhibit_fd = -1;
guint32 g_screensaver_cookie = 0;

const char kSaver[] = "org.freedesktop.ScreenSaver";
const char kSaverPath[] = "/org/freedesktop/ScreenSaver";

void release_all() {
  if (g_inhibit_fd >= 0) {
    close(g_inhibit_fd);
    g_inhibit_fd = -1;
  }
  if (g_screensaver_cookie != 0) {
    if (GDBusConnection* bus = session_bus())
      GVar(bus_call_sync(bus, kSaver, kSaverPath, kSaver, "UnInhibit",
                         g_variant_new("(u)", g_screensaver_cookie), nullptr,
                         G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr));
    g_screensaver_cookie = 0;
  }
}

// Takes the login manager's "sleep:idle" block lock; true when it is held.
bool take_sleep_lock(GDBusConnection* bus, const std::string& who, const std::string& why) {
  GUnixFDList* raw_fds = nullptr;
  wire_flush();  // the bus call below blocks
  GVar reply(g_dbus_connection_call_with_unix_fd_list_sync(
      bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
      "Inhibit", g_variant_new("(ssss)", "sleep:idle", who.c_str(), why.c_str(), "block"),
      G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &raw_fds, nullptr, nullptr));
  GObj<GUnixFDList> fds(raw_fds);
  if (!reply || !fds) return false;
  gint32 index = -1;
  g_variant_get(reply.get(), "(h)", &index);
  if (index < 0 || index >= g_unix_fd_list_get_length(fds.get())) return false;
  // A duplicate of our own; the list closes its copies when it goes.
  g_inhibit_fd = g_unix_fd_list_get(fds.get(), index, nullptr);
  return g_inhibit_fd >= 0;
}

bool inhibit_screensaver(GDBusConnection* bus, const std::string& who, const std::string& why) {
  GVar reply(bus_call_sync(bus, kSaver, kSaverPath, kSaver, "Inhibit",
                           g_variant_new("(ss)", who.c_str(), why.c_str()),
                           G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 1000,
                           nullptr, nullptr));
  if (!reply) return false;
  g_variant_get(reply.get(), "(u)", &g_screensaver_cookie);
  return true;
}

}  // namespace

void do_power(std::string_view id, std::string_view args) {
  std::vector<std::string> f = split_tabs(args);
  std::string state = tab_field(f, 0);
  bool display = tab_field(f, 1) == "1";
  std::string who = utf8_valid(g_app_name);
  std::string why = utf8_valid(wire_unescape(tab_field(f, 2)));
  if (why.empty()) why = who;

  // Every request starts from nothing held, so a new one replaces the old.
  release_all();
  if (!state.starts_with("on")) return send_got(id, "{\"ok\":true,\"active\":false}");

  bool locked = false;
  if (GDBusConnection* sys = system_bus()) locked = take_sleep_lock(sys, who, why);
  bool active = locked;
  if (display) {
    GDBusConnection* bus = session_bus();
    if (bus && inhibit_screensaver(bus, who, why)) active = true;
  }
  send_got(id, active ? "{\"ok\":true,\"active\":true}" : "{\"ok\":false,\"active\":false}");
}
