// The main window: built at start-up unless the program runs windowless.
#include <cstdlib>
#include <cstring>

#include "core/app.h"
#include "core/wire.h"
#include "windows/windows.h"

namespace {

gboolean on_main_delete(GtkWidget* w, GdkEvent*, gpointer) {
  if (!g_hide_on_close) return FALSE;
  if (g_accessory || (g_window_parts.tray_shown && g_window_parts.tray_shown())) {
    gtk_widget_hide(w);
    return TRUE;
  }
  for (auto& [id, sw] : g_secwins) {
    if (sw->window && gtk_widget_get_visible(sw->window)) {
      gtk_widget_hide(w);
      return TRUE;
    }
  }
  return FALSE;
}

void on_main_destroy(GtkWidget*, gpointer) {
  if (!g_quitting) app_quit();
}

gboolean on_main_focus_in(GtkWidget* w, GdkEvent*, gpointer) {
  gtk_window_set_urgency_hint(GTK_WINDOW(w), FALSE);
  return FALSE;
}

gboolean defer_show_fire(gpointer) {
  if (g_defer_show) {
    g_defer_show = false;
    gtk_widget_show(g_win);
    gtk_window_present(GTK_WINDOW(g_win));
  }
  return G_SOURCE_REMOVE;
}

}  // namespace

void build_main_window() {
  g_win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(g_win), g_app_name.c_str());
  gtk_window_set_default_size(GTK_WINDOW(g_win), g_width, g_height);
  gtk_window_set_position(GTK_WINDOW(g_win), GTK_WIN_POS_CENTER);
  GdkScreen* screen = gtk_widget_get_screen(g_win);
  if (GdkVisual* rgba = gdk_screen_get_rgba_visual(screen)) gtk_widget_set_visual(g_win, rgba);

  const char* icon = std::getenv("OVALIS_ICON");
  if (icon && *icon) set_window_icon(g_win, icon);

  g_accel = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(g_win), g_accel);
  g_vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(g_win), g_vbox);
  g_menubar = gtk_menu_bar_new();
  gtk_box_pack_start(GTK_BOX(g_vbox), g_menubar, FALSE, FALSE, 0);
  g_main_menu.menubar = g_menubar;
  g_main_menu.accel_group = g_accel;

  g_wv = g_window_parts.make_page("main");
  gtk_box_pack_start(GTK_BOX(g_vbox), GTK_WIDGET(g_wv), TRUE, TRUE, 0);
  // The page takes the keyboard from the start, not only after a click.
  gtk_widget_grab_focus(GTK_WIDGET(g_wv));

  connect_window_state_handlers(g_win);
  g_signal_connect(g_win, "delete-event", G_CALLBACK(on_main_delete), nullptr);
  g_signal_connect(g_win, "destroy", G_CALLBACK(on_main_destroy), nullptr);
  g_signal_connect(g_win, "focus-in-event", G_CALLBACK(on_main_focus_in), nullptr);

  g_window_parts.load_page(g_wv, g_target);

  const char* chrome = std::getenv("OVALIS_CHROME");
  if (chrome && *chrome) apply_chrome("", split_tabs(chrome));

  const char* defer = std::getenv("OVALIS_DEFER_SHOW");
  if (g_accessory) {
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(g_win), TRUE);
    gtk_widget_show_all(g_vbox);
    gtk_widget_hide(g_menubar);
  } else if (defer && *defer && std::strcmp(defer, "1") == 0) {
    g_defer_show = true;
    gtk_widget_show_all(g_vbox);
    gtk_widget_hide(g_menubar);
    g_timeout_add(3000, defer_show_fire, nullptr);
  } else {
    gtk_widget_show_all(g_win);
    gtk_widget_hide(g_menubar);
  }
}
