// Secondary windows: opened and closed by the backend; popups share the
// registration.
#include <cstdio>

#include "core/app.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "windows/windows.h"

namespace {

std::vector<WindowGoneHook>& gone_hooks() {
  static std::vector<WindowGoneHook> hooks;
  return hooks;
}

gboolean on_secwin_delete(GtkWidget*, GdkEvent*, gpointer) { return FALSE; }

void on_secwin_destroy(GtkWidget* window, gpointer data) {
  std::string id = static_cast<const char*>(data);
  auto it = g_secwins.find(id);
  // The id may already name a newer window; only this window's record goes.
  if (it == g_secwins.end() || it->second->window != window) return;
  pipe_write_line("WINCLOSED " + id);
  forget_last_winstate(id);
  for (WindowGoneHook fn : gone_hooks()) fn(id, window);
  g_secwins.erase(it);
}

// "WxH" with decimal integers; a side that does not parse keeps its default.
void parse_size(const std::string& s, int* w, int* h) {
  int pw = 0, ph = 0;
  int n = std::sscanf(s.c_str(), "%dx%d", &pw, &ph);
  // A zero or negative side would make a window nobody can see.
  if (n >= 1 && pw > 0) *w = pw;
  if (n >= 2 && ph > 0) *h = ph;
}

}  // namespace

void add_window_gone_hook(WindowGoneHook fn) { gone_hooks().push_back(fn); }

SecWin* register_secwin(std::unique_ptr<SecWin> rec) {
  SecWin* sw = rec.get();
  connect_window_state_handlers(sw->window);
  g_signal_connect(sw->window, "delete-event", G_CALLBACK(on_secwin_delete), nullptr);
  g_signal_connect_data(sw->window, "destroy", G_CALLBACK(on_secwin_destroy),
                        g_strdup(sw->id.c_str()), [](gpointer p, GClosure*) { g_free(p); },
                        GConnectFlags(0));
  g_secwins[sw->id] = std::move(rec);
  return sw;
}

void do_winopen(std::string_view rest) {
  std::vector<std::string> f = split_tabs(rest);
  std::string id = tab_field(f, 0);
  if (is_main_id(id)) return;
  if (SecWin* open = secwin_for(id)) {
    present_now(open->window);
    return;
  }
  std::string target = tab_field(f, 1);
  std::string title = tab_field(f, 2);
  if (title.empty()) title = id;
  int w = 600, h = 400;
  parse_size(tab_field(f, 3), &w, &h);

  auto rec = std::make_unique<SecWin>();
  rec->id = id;
  GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(win), title.c_str());
  gtk_window_set_default_size(GTK_WINDOW(win), w, h);
  if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(win)))
    gtk_widget_set_visual(win, rgba);
  if (std::string icon = app_icon_path(); !icon.empty()) set_window_icon(win, icon);
  rec->width = w;
  rec->height = h;

  GObj<GtkAccelGroup> owned_accel(gtk_accel_group_new());
  GtkAccelGroup* accel = owned_accel.get();  // the window keeps its own reference
  gtk_window_add_accel_group(GTK_WINDOW(win), accel);
  GtkWidget* vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(win), vbox);
  GtkWidget* menubar = gtk_menu_bar_new();
  gtk_box_pack_start(GTK_BOX(vbox), menubar, FALSE, FALSE, 0);
  WebKitWebView* view = g_window_parts.make_page(id);
  gtk_box_pack_start(GTK_BOX(vbox), GTK_WIDGET(view), TRUE, TRUE, 0);
  gtk_widget_grab_focus(GTK_WIDGET(view));  // keys reach the page at once
  rec->window = win;
  rec->webview = view;
  rec->menu.menubar = menubar;
  rec->menu.accel_group = accel;

  register_secwin(std::move(rec));

  std::vector<std::string> chrome;
  for (size_t i : {4, 5, 6, 7, 8, 9, 12}) chrome.push_back(tab_field(f, i));
  apply_chrome(id, chrome);

  std::string x = tab_field(f, 10), y = tab_field(f, 11);
  if (!x.empty() && !y.empty())
    gtk_window_move(GTK_WINDOW(win), std::atoi(x.c_str()), std::atoi(y.c_str()));
  else
    gtk_window_set_position(GTK_WINDOW(win), GTK_WIN_POS_CENTER);

  std::string parent_id = tab_field(f, 14);
  if (!parent_id.empty()) {
    GtkWidget* parent = win_for(parent_id);
    if (parent && parent != win) {
      gtk_window_set_transient_for(GTK_WINDOW(win), GTK_WINDOW(parent));
      gtk_window_set_destroy_with_parent(GTK_WINDOW(win), TRUE);
    }
  }

  g_window_parts.load_page(view, target);

  if (tab_field(f, 16) != "0") {
    gtk_widget_show_all(win);
    present_now(win);
  } else {
    gtk_widget_show_all(vbox);
  }
  if (g_window_parts.apply_menus) g_window_parts.apply_menus(id);
  if (debug_mode() == 2 && g_window_parts.open_inspector) g_window_parts.open_inspector(view);
}

void do_winclose(std::string_view id) {
  if (is_main_id(id)) return;
  if (SecWin* sw = secwin_for(id)) gtk_widget_destroy(sw->window);
}
