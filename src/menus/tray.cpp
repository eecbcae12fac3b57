// The tray indicator (Ayatana AppIndicator) and its menu.
#include <cstdlib>

#include "core/app.h"
#include "core/wire.h"
#include "menus/menu_build.h"
#include "menus/menus.h"

AppIndicator* g_tray = nullptr;

namespace {

// The indicator's menu; we hold our own reference.
GtkWidget* g_tray_menu = nullptr;
bool g_tray_active = false;

void on_tray_click(GtkMenuItem*, gpointer) { pipe_write_line("TRAYCLICK"); }

void set_tray_icon() {
  TrayIconName icon = tray_icon_name(g_build_tray.icon);
  std::string desc = g_build_tray.tooltip.empty() ? g_app_name : g_build_tray.tooltip;
  if (icon.name.empty()) {
    const char* env = std::getenv("OVALIS_ICON");
    if (env && *env) icon = tray_icon_name(env);
    desc = g_app_name;
  }
  if (icon.name.empty()) {
    app_indicator_set_icon_full(g_tray, "application-default-icon", desc.c_str());
    return;
  }
  app_indicator_set_icon_theme_path(g_tray, icon.theme_dir.c_str());
  app_indicator_set_icon_full(g_tray, icon.name.c_str(), desc.c_str());
}

}  // namespace

bool tray_exists() {
  // A tray that was taken down gives the user no way back to a hidden
  // window, so only a shown indicator counts.
  return g_tray && g_tray_active;
}

void show_tray() {
  clear_registry_kind("tray");
  if (!g_tray) {
    std::string id = g_app_id.empty() ? "ovalis-app" : g_app_id;
    g_tray = app_indicator_new(id.c_str(), "application-default-icon",
                               APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
  }
  set_tray_icon();
  app_indicator_set_label(g_tray, g_build_tray.title.c_str(), "");

  const std::vector<MenuItemSpec>& items = g_build_tray.items;
  GtkWidget* menu = build_gtk_menu(items, "tray", nullptr, nullptr);
  if (items.empty() || g_build_tray.click_item) {
    const std::string& label = !g_build_tray.title.empty()     ? g_build_tray.title
                               : !g_build_tray.tooltip.empty() ? g_build_tray.tooltip
                                                               : std::string("Open");
    if (!items.empty())
      gtk_menu_shell_prepend(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
    GtkWidget* click = gtk_menu_item_new_with_label(label.c_str());
    g_signal_connect(click, "activate", G_CALLBACK(on_tray_click), nullptr);
    gtk_menu_shell_prepend(GTK_MENU_SHELL(menu), click);
  }
  gtk_widget_show_all(menu);
  g_object_ref_sink(menu);
  app_indicator_set_menu(g_tray, GTK_MENU(menu));
  if (g_tray_menu) {
    gtk_widget_destroy(g_tray_menu);
    g_object_unref(g_tray_menu);
  }
  g_tray_menu = menu;
  app_indicator_set_status(g_tray, APP_INDICATOR_STATUS_ACTIVE);
  g_tray_active = true;
}

void do_tray_begin(std::string_view rest) { build_tray_begin(rest); }

void do_tray_remove() {
  clear_registry_kind("tray");
  if (!g_tray) return;
  // The indicator and its menu stay, so a later tray block reuses them.
  app_indicator_set_status(g_tray, APP_INDICATOR_STATUS_PASSIVE);
  g_tray_active = false;
}

void remove_tray() {
  if (!g_tray) return;
  app_indicator_set_status(g_tray, APP_INDICATOR_STATUS_PASSIVE);
  g_tray_active = false;
  g_object_unref(g_tray);
  g_tray = nullptr;
}
