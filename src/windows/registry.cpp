#include <cstdio>
#include <cstdlib>

#include "core/gobj.h"
#include "core/wire.h"
#include "windows/windows.h"

GtkWidget* g_win = nullptr;
WebKitWebView* g_wv = nullptr;
GtkWidget* g_vbox = nullptr;
GtkWidget* g_menubar = nullptr;
GtkAccelGroup* g_accel = nullptr;
WinMenu g_main_menu;
WindowParts g_window_parts;
bool g_fixed_main = false;
std::string g_icon_path;
std::string g_level = "normal";
bool g_click_through = false, g_all_spaces = false, g_chrome_frame = true;
bool g_chrome_transparent = false, g_chrome_square = false, g_chrome_first_mouse = false;
std::string g_chrome_vibrancy;
std::map<std::string, std::unique_ptr<SecWin>, std::less<>> g_secwins;

bool is_main_id(std::string_view id) { return id.empty() || id == "main"; }

SecWin* secwin_for(std::string_view id) {
  auto it = g_secwins.find(id);
  return it == g_secwins.end() ? nullptr : it->second.get();
}

GtkWidget* win_for(std::string_view id) {
  if (is_main_id(id)) return g_win;
  SecWin* sw = secwin_for(id);
  return sw ? sw->window : nullptr;
}

WebKitWebView* wv_for(std::string_view window_id) {
  if (is_main_id(window_id)) return g_wv;
  SecWin* sw = secwin_for(window_id);
  return sw ? sw->webview : nullptr;
}

std::string ovalis_winid_for_wv(WebKitWebView* view) {
  if (view && view == g_wv) return "main";
  for (auto& [id, sw] : g_secwins)
    if (sw->webview == view) return id;
  return "main";
}

std::string id_for_gtkwin(GtkWidget* window) {
  if (window && window == g_win) return "main";
  for (auto& [id, sw] : g_secwins)
    if (sw->window == window) return id;
  return "";
}

WebKitWebView* wv_in(GtkWidget* window) {
  if (!window) {
    for (auto& [id, sw] : g_secwins)
      if (sw->window && gtk_window_is_active(GTK_WINDOW(sw->window))) return sw->webview;
    return g_wv;
  }
  if (window == g_win) return g_wv;
  for (auto& [id, sw] : g_secwins)
    if (sw->window == window) return sw->webview;
  return nullptr;
}

std::string windows_json() {
  std::string out = g_win ? "[\"main\"" : "[";
  for (auto& [id, sw] : g_secwins) {
    if (out.size() > 1) out += ',';
    json_escape_to(out, id);
  }
  out += ']';
  return out;
}

void do_title(std::string_view win, std::string_view rest) {
  GtkWidget* w = win_for(win);
  if (!w) return;
  std::string title(rest);
  gtk_window_set_title(GTK_WINDOW(w), title.c_str());
}

void do_size(std::string_view win, std::string_view rest) {
  std::string s(rest);
  int w = 0, h = 0;
  if (std::sscanf(s.c_str(), "%d %d", &w, &h) != 2) return;
  set_content_size(win, w, h);
}

WinMenu* menu_for(std::string_view id) {
  if (is_main_id(id)) return &g_main_menu;
  SecWin* sw = secwin_for(id);
  return sw ? &sw->menu : nullptr;
}

bool win_fixed(std::string_view id) {
  if (is_main_id(id)) return g_fixed_main;
  SecWin* sw = secwin_for(id);
  return sw && sw->fixed;
}

void apply_fixed(std::string_view id) {
  GtkWidget* w = win_for(id);
  if (!w) return;
  // A fixed window without decorations stays resizable so that an
  // edge resize started by the page can still work.
  bool resizable = win_fixed(id) ? !gtk_window_get_decorated(GTK_WINDOW(w)) : true;
  gtk_window_set_resizable(GTK_WINDOW(w), resizable);
}

int menubar_height(std::string_view id) {
  WinMenu* m = menu_for(id);
  if (!m || !m->menubar || !gtk_widget_get_visible(m->menubar)) return 0;
  int h = gtk_widget_get_allocated_height(m->menubar);
  return h > 1 ? h : 0;
}

void set_content_size(std::string_view id, int w, int h) {
  GtkWidget* win = win_for(id);
  if (!win || w <= 0 || h <= 0) return;
  WinMenu* m = menu_for(id);
  if (m && !m->repaid) {
    m->content_width = w;
    m->content_height = h;
  }
  gtk_window_resize(GTK_WINDOW(win), w, h + menubar_height(id));
}

namespace {

struct RepayJob {
  std::string id;
  int w, h;
  bool flag;
  int tries = 0;
};

gboolean repay_tick(gpointer data) {
  RepayJob* job = static_cast<RepayJob*>(data);
  GtkWidget* win = win_for(job->id);
  WinMenu* m = menu_for(job->id);
  if (!win || !m) return G_SOURCE_REMOVE;
  if (m->has_menus && m->show_menubar && menubar_height(job->id) == 0) {
    // Wait for GTK to allocate the menu bar, about two seconds at most.
    if (job->tries++ <= 119) return G_SOURCE_CONTINUE;
  }
  if (job->flag) {
    int cw = 0, ch = 0;
    gtk_window_get_size(GTK_WINDOW(win), &cw, &ch);
    if (cw == job->w && ch == job->h) set_content_size(job->id, job->w, job->h);
  } else {
    set_content_size(job->id, job->w, job->h);
  }
  return G_SOURCE_REMOVE;
}

}  // namespace

void repay_page_box(std::string_view id, int w, int h, bool flag) {
  if (w <= 0 || h <= 0) return;
  auto* job = new RepayJob{std::string(id), w, h, flag};
  g_timeout_add_full(G_PRIORITY_DEFAULT, 16, repay_tick, job,
                     [](gpointer p) { delete static_cast<RepayJob*>(p); });
}

std::string app_icon_path() {
  if (!g_icon_path.empty()) return g_icon_path;
  const char* env = std::getenv("OVALIS_ICON");
  return env ? env : "";
}

std::vector<IconSize> icon_sizes(int w, int h, bool* keep_original) {
  int m = std::max(w, h);
  *keep_original = m <= 256;
  std::vector<IconSize> out;
  if (m <= 0) return out;
  for (int s : {256, 128, 64, 48, 32}) {
    if (s >= m) continue;
    out.push_back({std::max(1, w * s / m), std::max(1, h * s / m)});
  }
  return out;
}

void set_window_icon(GtkWidget* window, const std::string& path) {
  if (!window || path.empty()) return;
  GObj<GdkPixbuf> img(gdk_pixbuf_new_from_file(path.c_str(), nullptr));
  if (!img) return;
  int w = gdk_pixbuf_get_width(img.get()), h = gdk_pixbuf_get_height(img.get());
  bool keep = false;
  std::vector<IconSize> sizes = icon_sizes(w, h, &keep);
  std::vector<GObj<GdkPixbuf>> owned;
  GList* list = nullptr;
  if (keep) list = g_list_append(list, img.get());
  for (IconSize s : sizes) {
    owned.emplace_back(gdk_pixbuf_scale_simple(img.get(), s.w, s.h, GDK_INTERP_BILINEAR));
    if (owned.back()) list = g_list_append(list, owned.back().get());
  }
  if (list) gtk_window_set_icon_list(GTK_WINDOW(window), list);
  g_list_free(list);
}
