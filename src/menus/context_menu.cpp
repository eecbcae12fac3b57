// The page context menu: the backend's own menu, the page's menu, or none.
#include "menus/menu_build.h"
#include "menus/menus.h"

namespace {

GtkWidget* g_ctx_menu = nullptr;

void on_ctx_menu_destroy(GtkWidget* m, gpointer) {
  if (g_ctx_menu != m) return;
  g_ctx_menu = nullptr;
  clear_registry_kind("ctx");
}

}  // namespace

void close_context_menu() {
  if (g_ctx_menu) gtk_widget_destroy(g_ctx_menu);
}

gboolean on_context_menu(WebKitWebView* view, WebKitContextMenu*, GdkEvent* event,
                         WebKitHitTestResult*, gpointer) {
  if (!g_ctx_custom) return g_ctx_suppress ? TRUE : FALSE;
  clear_registry_kind("ctx");
  close_context_menu();
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  GtkWidget* menu = build_gtk_menu(g_ctx_items, "ctx", top, nullptr);
  // Context entries belong to no window, so updates by window id skip them.
  for (auto& [id, r] : g_items)
    if (r.kind == "ctx") r.window = nullptr;
  g_ctx_menu = menu;
  g_signal_connect(menu, "destroy", G_CALLBACK(on_ctx_menu_destroy), nullptr);
  gtk_menu_attach_to_widget(GTK_MENU(menu), GTK_WIDGET(view), nullptr);
  // The menu must not outlive the page it was opened on.
  g_signal_connect_object(view, "destroy", G_CALLBACK(gtk_widget_destroy), menu,
                          G_CONNECT_SWAPPED);
  gtk_widget_show_all(menu);
  gtk_menu_popup_at_pointer(GTK_MENU(menu), event);
  return TRUE;
}

void do_ctx_begin() {
  build_ctx_begin();
  clear_registry_kind("ctx");
}

void do_ctx_clear() {
  build_ctx_clear();
  close_context_menu();
}

void do_ctx_suppress(std::string_view rest) { build_ctx_suppress(rest); }
