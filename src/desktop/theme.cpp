// The desktop's colour scheme and sleep, reported as "SYS" lines.
#include <gtk/gtk.h>

#include <cstring>

#include "core/gobj.h"
#include "desktop/desktop.h"
#include "core/wire.h"

namespace {

const char kPortal[] = "org.freedesktop.portal.Desktop";
const char kPortalPath[] = "/org/freedesktop/portal/desktop";
const char kSettingsIface[] = "org.freedesktop.portal.Settings";

void write_theme(bool dark) { pipe_write_line(dark ? "SYS theme dark" : "SYS theme light"); }

// Dark exactly when the value is a uint32 equal to 1; unwraps one variant layer.
bool scheme_is_dark(GVariant* v) {
  GVar inner;
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
    inner.reset(g_variant_get_variant(v));
    v = inner.get();
  }
  return g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32) && g_variant_get_uint32(v) == 1;
}

void on_setting_changed(GDBusConnection*, const char*, const char*, const char*, const char*,
                        GVariant* params, gpointer) {
  if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(ssv)"))) return;
  const char *ns = nullptr, *key = nullptr;
  GVariant* raw = nullptr;
  g_variant_get(params, "(&s&sv)", &ns, &key, &raw);
  GVar value(raw);
  if (std::strcmp(ns, "org.freedesktop.appearance") != 0 || std::strcmp(key, "color-scheme") != 0)
    return;
  if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT32)) return;
  write_theme(g_variant_get_uint32(value.get()) == 1);
}

void on_prepare_for_sleep(GDBusConnection*, const char*, const char*, const char*, const char*,
                          GVariant* params, gpointer) {
  if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(b)"))) return;
  gboolean going = FALSE;
  g_variant_get(params, "(b)", &going);
  pipe_write_line(going ? "SYS sleep" : "SYS wake");
}

}  // namespace

void install_system_observers() {
  if (GDBusConnection* bus = session_bus())
    g_dbus_connection_signal_subscribe(bus, kPortal, kSettingsIface, "SettingChanged",
                                       kPortalPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                       on_setting_changed, nullptr, nullptr);
  if (GDBusConnection* bus = system_bus())
    g_dbus_connection_signal_subscribe(bus, "org.freedesktop.login1",
                                       "org.freedesktop.login1.Manager", "PrepareForSleep",
                                       "/org/freedesktop/login1", nullptr,
                                       G_DBUS_SIGNAL_FLAGS_NONE, on_prepare_for_sleep, nullptr,
                                       nullptr);
}

namespace {

const char* theme_line(bool dark) { return dark ? "SYS theme dark" : "SYS theme light"; }

void on_theme_read(GObject* bus, GAsyncResult* res, gpointer) {
  GVar reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), res, nullptr));
  bool dark = false;
  if (reply) {
    GVar v(g_variant_get_child_value(reply.get(), 0));  // the "v" itself
    GVar payload(g_variant_get_variant(v.get()));
    dark = scheme_is_dark(payload.get());
  }
  wire_release(theme_line(dark));
}

}  // namespace

// The portal may have to be started by the bus first, which can take longer
// than loading the page; so the question goes out now and its answer is read
// on the main loop, while everything written meanwhile waits behind it.
void report_initial_theme() {
  GDBusConnection* bus = session_bus();
  if (!bus) {
    gboolean dark = FALSE;
    g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
    wire_release(theme_line(dark));
    return;
  }
  g_dbus_connection_call(bus, kPortal, kPortalPath, kSettingsIface, "Read",
                         g_variant_new("(ss)", "org.freedesktop.appearance", "color-scheme"),
                         G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr,
                         on_theme_read, nullptr);
}
