// Hotkeys through the global-shortcuts portal (Wayland): one session for the
// process, and every change binds the whole current set again.
#include <cstdio>
#include <map>

#include "core/app.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "input/combo.h"
#include "input/hotkeys_internal.h"
#include "input/portal.h"

namespace {

constexpr const char* kGsIface = "org.freedesktop.portal.GlobalShortcuts";

std::map<std::string, std::string> g_portal_shortcuts;
std::string g_gs_session;
bool g_gs_creating = false;
bool g_gs_activated_wired = false;

void gs_bind_shortcuts() {
  GDBusConnection* bus = session_bus();
  if (!bus || g_gs_session.empty() || !g_variant_is_object_path(g_gs_session.c_str())) return;
  GVariantBuilder shortcuts;
  g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
  for (const auto& [id, combo] : g_portal_shortcuts) {
    GVariantBuilder props;
    g_variant_builder_init(&props, G_VARIANT_TYPE_VARDICT);
    std::string description = g_app_name + ": " + id;
    g_variant_builder_add(&props, "{sv}", "description",
                          g_variant_new_string(description.c_str()));
    std::string trigger = portal_trigger(combo);
    if (!trigger.empty())
      g_variant_builder_add(&props, "{sv}", "preferred_trigger",
                            g_variant_new_string(trigger.c_str()));
    g_variant_builder_add(&shortcuts, "(sa{sv})", id.c_str(), &props);
  }
  std::string token;
  portal_sender_token(bus, "ovbind", &token);
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  portal_add_token(&options, token);
  portal_call(bus, kGsIface, "BindShortcuts",
              g_variant_new("(oa(sa{sv})sa{sv})", g_gs_session.c_str(), &shortcuts, "", &options),
              30000, 0, [](const std::string& msg) {
                std::fprintf(stderr, "ovalis: global shortcuts not bound: %s\n", msg.c_str());
              });
}

void gs_on_activated(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                     GVariant* params, gpointer) {
  if (!g_variant_is_of_type(params, G_VARIANT_TYPE_TUPLE) || g_variant_n_children(params) < 2)
    return;
  GVar session(g_variant_get_child_value(params, 0));
  GVar shortcut(g_variant_get_child_value(params, 1));
  if (!g_variant_is_of_type(shortcut.get(), G_VARIANT_TYPE_STRING)) return;
  // Activations of a session that is not ours are not our hotkeys.
  if (!g_gs_session.empty() && g_variant_is_of_type(session.get(), G_VARIANT_TYPE_OBJECT_PATH) &&
      g_gs_session != g_variant_get_string(session.get(), nullptr))
    return;
  const char* id = g_variant_get_string(shortcut.get(), nullptr);
  if (*id) pipe_write_line(std::string("HOTKEY ") + id);
}

void on_session(GVariant* results) {
  std::string handle = portal_session_handle(results);
  if (!handle.empty()) g_gs_session = handle;
  g_gs_creating = false;
  if (!g_gs_session.empty()) gs_bind_shortcuts();
}

void gs_create_session(GDBusConnection* bus) {
  g_gs_creating = true;
  if (!g_gs_activated_wired) {
    g_dbus_connection_signal_subscribe(bus, kPortalBus, kGsIface, "Activated", kPortalPath,
                                       nullptr, G_DBUS_SIGNAL_FLAGS_NONE, gs_on_activated,
                                       nullptr, nullptr);
    g_gs_activated_wired = true;
  }
  std::string session_token = "ovgs" + std::to_string(g_get_monotonic_time() % 1000000);
  std::string token;
  std::string path = portal_sender_token(bus, "ovgscreate", &token);
  guint wait = portal_await_response(bus, path, on_session);
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  portal_add_token(&options, token);
  g_variant_builder_add(&options, "{sv}", "session_handle_token",
                        g_variant_new_string(session_token.c_str()));
  // A refused session is final, but a portal that was not reachable may be
  // there for a later registration.
  portal_call(bus, kGsIface, "CreateSession", g_variant_new("(a{sv})", &options), 30000, wait,
              [](const std::string& msg) {
                std::fprintf(stderr, "ovalis: global shortcuts session not created: %s\n",
                             msg.c_str());
                g_gs_creating = false;
              });
}

}  // namespace

void gs_register(const std::string& id, const std::string& combo) {
  g_portal_shortcuts[id] = combo;
  if (!g_gs_session.empty()) {
    gs_bind_shortcuts();
    return;
  }
  if (g_gs_creating) return;
  if (GDBusConnection* bus = session_bus()) gs_create_session(bus);
}

void gs_unregister(const std::string& id) {
  g_portal_shortcuts.erase(id);
  if (!g_gs_session.empty()) gs_bind_shortcuts();
}
