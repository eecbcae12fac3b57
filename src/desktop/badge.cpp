// The application's presence on the desktop: the dock's count badge and
// progress bar (Unity launcher-entry signals), the urgency hint and the
// window icon.
#include <glib.h>

#include "core/app.h"
#include "core/wire.h"
#include "desktop/desktop.h"
#include "desktop/desktop_text.h"
#include "windows/windows.h"

namespace {

gint64 g_badge_count = 0;
bool g_badge_visible = false;
double g_launch_progress = -1.0;  // negative: no bar

// Docks keep only the latest state, so every update carries all of it.
void unity_launcher_update() {
  GDBusConnection* bus = session_bus();
  if (!bus || g_app_id.empty()) return;
  std::string uri = utf8_valid("application://" + g_app_id + ".desktop");
  std::string path =
      "/com/canonical/unity/launcherentry/" + std::to_string(g_str_hash(uri.c_str()));
  GVariantBuilder props;
  g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&props, "{sv}", "count", g_variant_new_int64(g_badge_count));
  g_variant_builder_add(&props, "{sv}", "count-visible", g_variant_new_boolean(g_badge_visible));
  g_variant_builder_add(&props, "{sv}", "progress",
                        g_variant_new_double(g_launch_progress < 0 ? 0.0 : g_launch_progress));
  g_variant_builder_add(&props, "{sv}", "progress-visible",
                        g_variant_new_boolean(g_launch_progress >= 0));
  g_dbus_connection_emit_signal(bus, nullptr, path.c_str(), "com.canonical.Unity.LauncherEntry",
                                "Update", g_variant_new("(sa{sv})", uri.c_str(), &props),
                                nullptr);
}

void apply_icon(GtkWidget* window, const std::string& icon) {
  if (!icon.empty())
    set_window_icon(window, icon);
  else
    gtk_window_set_icon_list(GTK_WINDOW(window), nullptr);  // the toolkit's default
}

}  // namespace

void do_badge(std::string_view rest) {
  std::string text = rest.empty() ? "" : wire_unescape(rest.substr(1));
  gint64 n = 0;
  g_badge_visible = parse_badge_count(text, &n);
  g_badge_count = g_badge_visible ? n : 0;
  unity_launcher_update();
}

void do_progress(std::string_view rest) {
  g_launch_progress = rest.empty() ? -1.0 : parse_progress(rest.substr(1));
  unity_launcher_update();
}

void do_attention() {
  // Cleared by the window manager when the user turns to the window.
  if (g_win) gtk_window_set_urgency_hint(GTK_WINDOW(g_win), TRUE);
}

void do_appicon(std::string_view rest) {
  std::string path = wire_unescape(rest);
  if (!path.empty() && !g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) return;
  g_icon_path = path;
  std::string icon = app_icon_path();
  if (g_win) return apply_icon(g_win, icon);
  for (auto& [id, sw] : g_secwins)
    if (sw->window) apply_icon(sw->window, icon);
}
