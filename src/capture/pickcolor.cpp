// Colour picking through the desktop portal's Screenshot interface, which
// works on X11 and Wayland alike. The portal answers later, on a request
// object of its own; each pick keeps its own subscription, so picks that
// overlap are each answered once.
#include <gio/gio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <list>
#include <string>

#include "capture/capture.h"
#include "core/dispatch.h"
#include "core/gobj.h"
#include "core/wire.h"

namespace {

const char kPortal[] = "org.freedesktop.portal.Desktop";
const char kPortalPath[] = "/org/freedesktop/portal/desktop";

struct PickPending {
  std::string reqid;
  std::string path;
  guint sub = 0;
};

std::list<PickPending> g_pick_pending;
// Watches the portal while picks are pending: should it go away, nobody
// would ever answer them.
guint g_pick_portal_watch = 0;

void on_response(GDBusConnection*, const char*, const char*, const char*, const char*,
                 GVariant*, gpointer);

// Answers and forgets one pending pick.
void pick_finish(std::list<PickPending>::iterator it, const std::string& json) {
  GDBusConnection* bus = session_bus();
  if (bus && it->sub) g_dbus_connection_signal_unsubscribe(bus, it->sub);
  std::string reqid = it->reqid;
  g_pick_pending.erase(it);
  if (g_pick_pending.empty() && g_pick_portal_watch) {
    g_bus_unwatch_name(g_pick_portal_watch);
    g_pick_portal_watch = 0;
  }
  send_got(reqid, json);
}

void on_portal_vanished(GDBusConnection*, const char*, gpointer) {
  while (!g_pick_pending.empty())
    pick_finish(g_pick_pending.begin(), "{\"ok\":true,\"color\":null}");
}

guint subscribe(GDBusConnection* bus, const std::string& path) {
  return g_dbus_connection_signal_subscribe(bus, kPortal, "org.freedesktop.portal.Request",
                                            "Response", path.c_str(), nullptr,
                                            G_DBUS_SIGNAL_FLAGS_NONE, on_response, nullptr, nullptr);
}

int color_byte(double c) {
  if (!(c > 0)) return 0;  // also NaN
  return static_cast<int>(std::min(c, 1.0) * 255 + 0.5);
}

std::string color_json(GVariant* results) {
  GVar color(g_variant_lookup_value(results, "color", G_VARIANT_TYPE("(ddd)")));
  if (!color) return "{\"ok\":true,\"color\":null}";
  double r = 0, g = 0, b = 0;
  g_variant_get(color.get(), "(ddd)", &r, &g, &b);
  char hex[8];
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x", color_byte(r), color_byte(g), color_byte(b));
  return std::string("{\"ok\":true,\"color\":\"") + hex + "\"}";
}

void on_response(GDBusConnection*, const char*, const char* path, const char*, const char*,
                 GVariant* params, gpointer) {
  auto it = std::find_if(g_pick_pending.begin(), g_pick_pending.end(),
                         [&](const PickPending& p) { return p.path == path; });
  if (it == g_pick_pending.end()) return;
  if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})"))) {
    pick_finish(it, "{\"ok\":true,\"color\":null}");
    return;
  }
  guint32 code = 0;
  GVariant* raw = nullptr;
  g_variant_get(params, "(u@a{sv})", &code, &raw);
  GVar results(raw);
  pick_finish(it, code == 0 ? color_json(results.get()) : "{\"ok\":true,\"color\":null}");
}

// The object path the portal gives the request with this token.
std::string request_path(GDBusConnection* bus, const std::string& token) {
  std::string sender = g_dbus_connection_get_unique_name(bus);
  if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
  std::replace(sender.begin(), sender.end(), '.', '_');
  return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

bool path_pending(const std::string& path) {
  return std::any_of(g_pick_pending.begin(), g_pick_pending.end(),
                     [&](const PickPending& p) { return p.path == path; });
}

}  // namespace

void do_pickcolor(std::string_view id) {
  GDBusConnection* bus = session_bus();
  if (!bus) {
    got_unsupported(id, "unsupported on linux");
    return;
  }
  // The token only has to be unique among our own pending requests.
  gint64 n = g_get_monotonic_time() % 1000000;
  std::string token, path;
  do {
    token = "ovalis" + std::to_string(n);
    path = request_path(bus, token);
    n = (n + 1) % 1000000;
  } while (path_pending(path));

  // Subscribed before the call, so a portal that answers at once is heard.
  g_pick_pending.push_back({std::string(id), path, subscribe(bus, path)});
  auto it = std::prev(g_pick_pending.end());

  GVariantBuilder opts;
  g_variant_builder_init(&opts, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&opts, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  GVar reply(bus_call_sync(bus, kPortal, kPortalPath,
                           "org.freedesktop.portal.Screenshot", "PickColor",
                           g_variant_new("(sa{sv})", "", &opts),
                           G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, 3000,
                           nullptr, nullptr));
  if (!reply) {
    pick_finish(it, "{\"ok\":false,\"error\":\"unsupported on linux\"}");
    return;
  }
  // Older portals choose the request path themselves.
  const char* handle = nullptr;
  g_variant_get(reply.get(), "(&o)", &handle);
  if (handle && path != handle) {
    g_dbus_connection_signal_unsubscribe(bus, it->sub);
    it->path = handle;
    it->sub = subscribe(bus, it->path);
  }
  if (!g_pick_portal_watch)
    g_pick_portal_watch = g_bus_watch_name_on_connection(
        bus, kPortal, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr, on_portal_vanished, nullptr,
        nullptr);
}
