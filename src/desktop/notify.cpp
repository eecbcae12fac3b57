// Desktop notifications over org.freedesktop.Notifications, with clicks
// and action buttons reported back under the application's own ids.
#include <cstdlib>
#include <map>

#include "core/app.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "desktop/desktop.h"
#include "desktop/desktop_text.h"

namespace {

const char kNotif[] = "org.freedesktop.Notifications";
const char kNotifPath[] = "/org/freedesktop/Notifications";

// The service's id of each shown notification -> the application's id.
// Only notifications sent with an id are here, and only until closed.
std::map<guint32, std::string> g_notif_ids;
bool g_notif_signals_wired = false;

void on_action_invoked(GDBusConnection*, const char*, const char*, const char*, const char*,
                       GVariant* params, gpointer) {
  if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(us)"))) return;
  guint32 nid = 0;
  const char* key = nullptr;
  g_variant_get(params, "(u&s)", &nid, &key);
  auto it = g_notif_ids.find(nid);
  // Other applications' notifications, and late signals for closed ones.
  if (it == g_notif_ids.end() || !key) return;
  std::string k = key;
  if (k == "default")
    pipe_write_line("NOTIFYCLICK " + it->second);
  else
    pipe_write_line("NOTIFYACTION " + it->second + "\t" + k + "\t");
}

void on_notification_closed(GDBusConnection*, const char*, const char*, const char*,
                            const char*, GVariant* params, gpointer) {
  if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(uu)"))) return;
  guint32 nid = 0, reason = 0;
  g_variant_get(params, "(uu)", &nid, &reason);
  g_notif_ids.erase(nid);
}

void wire_signals(GDBusConnection* bus) {
  if (g_notif_signals_wired) return;
  g_notif_signals_wired = true;
  g_dbus_connection_signal_subscribe(bus, kNotif, kNotif, "ActionInvoked", kNotifPath, nullptr,
                                     G_DBUS_SIGNAL_FLAGS_NONE, on_action_invoked, nullptr,
                                     nullptr);
  g_dbus_connection_signal_subscribe(bus, kNotif, kNotif, "NotificationClosed", kNotifPath,
                                     nullptr, G_DBUS_SIGNAL_FLAGS_NONE, on_notification_closed,
                                     nullptr, nullptr);
}

}  // namespace

void do_notify(std::string_view rest) {
  GDBusConnection* bus = session_bus();
  if (bus) wire_signals(bus);
  std::vector<std::string> f = split_tabs(rest);
  std::string app_nid = tab_field(f, 0);
  std::string title = utf8_valid(tab_field(f, 1));
  std::string body = tab_field(f, 2);
  std::string subtitle = tab_field(f, 3);
  bool sound = tab_field(f, 4) == "1";
  std::vector<NotifyAction> actions = parse_notify_actions(wire_unescape(tab_field(f, 5)));
  if (!subtitle.empty()) body = subtitle + "\n" + body;
  body = utf8_valid(body);
  if (!bus) return;

  GVariantBuilder acts;
  g_variant_builder_init(&acts, G_VARIANT_TYPE("as"));
  for (const NotifyAction& a : actions) {
    g_variant_builder_add(&acts, "s", utf8_valid(a.key).c_str());
    g_variant_builder_add(&acts, "s", utf8_valid(a.label).c_str());
  }
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  if (!g_app_id.empty())
    g_variant_builder_add(&hints, "{sv}", "desktop-entry",
                          g_variant_new_string(utf8_valid(g_app_id).c_str()));
  if (!sound) g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
  const char* icon = std::getenv("OVALIS_ICON");
  std::string icon_s = utf8_valid(icon ? icon : "");

  GVar reply(bus_call_sync(
      bus, kNotif, kNotifPath, kNotif, "Notify",
      g_variant_new("(susssasa{sv}i)", utf8_valid(g_app_name).c_str(), 0u, icon_s.c_str(),
                    title.c_str(), body.c_str(), &acts, &hints, -1),
      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr));
  if (!reply) return;
  guint32 nid = 0;
  g_variant_get(reply.get(), "(u)", &nid);
  if (!app_nid.empty()) g_notif_ids[nid] = app_nid;
}
