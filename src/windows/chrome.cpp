// Window chrome (decorations, controls, transparency, menu bar), stacking
// that survives re-mapping, click-through, the off-screen rescue and the
// presenting functions.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <climits>

#include "core/gobj.h"
#include "core/wire.h"
#include "windows/windows.h"

namespace {

// The stored chrome settings of one window: the main window's globals or a
// secondary window's record.
struct ChromeRefs {
  bool* frame;
  bool* transparent;
  std::string* vibrancy;
  bool* square;
  bool* first_mouse;
  bool* click_through;
};

bool chrome_refs(std::string_view id, ChromeRefs* r) {
  if (is_main_id(id)) {
    *r = {&g_chrome_frame, &g_chrome_transparent, &g_chrome_vibrancy,
          &g_chrome_square, &g_chrome_first_mouse, &g_click_through};
    return true;
  }
  SecWin* sw = secwin_for(id);
  if (!sw) return false;
  *r = {&sw->frame, &sw->transparent, &sw->vibrancy, &sw->square, &sw->first_mouse,
        &sw->click_through};
  return true;
}

void set_motif_hints(GtkWidget* window, const MotifHints& mh) {
  GdkWindow* native = gtk_widget_get_window(window);
  if (!native || !GDK_IS_X11_WINDOW(native)) return;
  GdkDisplay* display = gdk_window_get_display(native);
  Display* dpy = GDK_DISPLAY_XDISPLAY(display);
  Atom atom = gdk_x11_get_xatom_by_name_for_display(display, "_MOTIF_WM_HINTS");
  long values[5] = {3, mh.functions, mh.decorations, 0, 0};
  gdk_x11_display_error_trap_push(display);
  XChangeProperty(dpy, GDK_WINDOW_XID(native), atom, atom, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(values), 5);
  gdk_x11_display_error_trap_pop_ignored(display);
}

void on_realize_motif(GtkWidget* window, gpointer) {
  auto* controls = static_cast<const char*>(g_object_get_data(G_OBJECT(window), "ovalis-controls"));
  if (controls)
    set_motif_hints(window, motif_hints_for(controls, gtk_window_get_decorated(GTK_WINDOW(window))));
}

// Chrome given before the window exists on screen (OVALIS_CHROME, a window
// opened hidden) would otherwise lose its controls: apply them on realize.
void defer_motif_hints(GtkWidget* window, const std::string& controls) {
  g_object_set_data_full(G_OBJECT(window), "ovalis-controls", g_strdup(controls.c_str()), g_free);
  if (!g_object_get_data(G_OBJECT(window), "ovalis-motif-hooked")) {
    g_object_set_data(G_OBJECT(window), "ovalis-motif-hooked", GINT_TO_POINTER(1));
    g_signal_connect_after(window, "realize", G_CALLBACK(on_realize_motif), nullptr);
  }
}

// Shows the bar only when there is something to show; with menus built in,
// they re-apply the whole bar instead.
void reapply_menubar(std::string_view id) {
  if (g_window_parts.apply_menus) return g_window_parts.apply_menus(id);
  WinMenu* m = menu_for(id);
  if (!m || !m->menubar) return;
  if (m->show_menubar && m->has_menus) gtk_widget_show_all(m->menubar);
  else gtk_widget_hide(m->menubar);
}

void apply_menubar_switch(std::string_view id, GtkWidget* window, bool show) {
  WinMenu* m = menu_for(id);
  if (!m || m->show_menubar == show) return;
  int w = 0, h = 0;
  gtk_window_get_size(GTK_WINDOW(window), &w, &h);
  int content_h = h - menubar_height(id);
  m->show_menubar = show;
  reapply_menubar(id);
  // The page keeps its size; the window grows or shrinks by the bar.
  repay_page_box(id, w, content_h, false);
}

gboolean on_stacking_map(GtkWidget* window, GdkEvent*, gpointer) {
  // Window managers forget keep-above and keep-below on unmap.
  int s = stacking_of(window);
  gtk_window_set_keep_above(GTK_WINDOW(window), (s & 1) != 0);
  gtk_window_set_keep_below(GTK_WINDOW(window), (s & 2) != 0);
  return FALSE;
}

void set_empty_input_shape(GtkWidget* window) {
  GdkWindow* native = gtk_widget_get_window(window);
  if (!native) return;
  cairo_region_t* empty = cairo_region_create();
  gdk_window_input_shape_combine_region(native, empty, 0, 0);
  cairo_region_destroy(empty);
}

void on_ct_size_allocate(GtkWidget* window, GdkRectangle*, gpointer) {
  // A resize restores input on the whole window; take it away again.
  if (g_object_get_data(G_OBJECT(window), "ovalis-ct") && gtk_widget_get_realized(window))
    set_empty_input_shape(window);
}

}  // namespace

bool on_x11() {
  GdkDisplay* d = gdk_display_get_default();
  return d && GDK_IS_X11_DISPLAY(d);
}

MotifHints motif_hints_for(std::string_view controls, bool decorated) {
  bool all = controls == "all", none = controls == "none";
  auto has = [&](std::string_view name) {
    return all || (!none && controls.find(name) != std::string_view::npos);
  };
  bool close = has("close"), mini = has("minimize"), maxi = has("maximize");
  MotifHints h{};
  h.functions = 2 + 4 + (mini ? 8 : 0) + (maxi ? 16 : 0) + (close ? 32 : 0);
  h.decorations = decorated ? 2 + 4 + 8 + 16 + (mini ? 32 : 0) + (maxi ? 64 : 0) : 0;
  return h;
}

void apply_chrome(std::string_view id, const std::vector<std::string>& fields) {
  GtkWidget* window = win_for(id);
  WebKitWebView* view = wv_for(id);
  ChromeRefs r{};
  if (!window || !view || !chrome_refs(id, &r)) return;
  GtkWindow* gw = GTK_WINDOW(window);
  auto field = [&](size_t i) { return tab_field(fields, i); };

  if (std::string f = field(6); !f.empty()) apply_menubar_switch(id, window, f == "1");

  if (std::string f = field(0); !f.empty()) {
    *r.frame = f == "1";
    gtk_window_set_decorated(gw, *r.frame);
    apply_fixed(id);
  }
  if (std::string f = field(1); !f.empty()) {
    MotifHints mh = motif_hints_for(f, gtk_window_get_decorated(gw));
    gtk_window_set_deletable(gw, (mh.functions & 32) != 0);
    if (on_x11()) {
      if (gtk_widget_get_realized(window)) set_motif_hints(window, mh);
      else defer_motif_hints(window, f);
    }
  }
  if (std::string f = field(2); !f.empty()) {
    *r.transparent = f == "1";
    GdkRGBA bg = *r.transparent ? GdkRGBA{0, 0, 0, 0} : GdkRGBA{1, 1, 1, 1};
    webkit_web_view_set_background_color(view, &bg);
    gtk_widget_set_app_paintable(window, *r.transparent);
  }
  if (std::string f = field(3); !f.empty()) *r.vibrancy = f == "none" ? "" : f;
  if (std::string f = field(4); !f.empty()) {
    *r.square = f == "1";
    gtk_window_set_decorated(gw, *r.square ? false : *r.frame);
    apply_fixed(id);
  }
  if (std::string f = field(5); !f.empty()) *r.first_mouse = f == "1";
}

int stacking_of(GtkWidget* window) {
  return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(window), "ovalis-stacking"));
}

void set_stacking(GtkWidget* window, bool above, bool below) {
  if (!window) return;
  g_object_set_data(G_OBJECT(window), "ovalis-stacking",
                    GINT_TO_POINTER((below ? 2 : 0) + (above ? 1 : 0)));
  if (!g_object_get_data(G_OBJECT(window), "ovalis-stacking-hooked")) {
    g_object_set_data(G_OBJECT(window), "ovalis-stacking-hooked", GINT_TO_POINTER(1));
    gtk_widget_add_events(window, GDK_STRUCTURE_MASK);
    g_signal_connect(window, "map-event", G_CALLBACK(on_stacking_map), nullptr);
  }
  gtk_window_set_keep_above(GTK_WINDOW(window), above);
  gtk_window_set_keep_below(GTK_WINDOW(window), below);
}

void set_click_through(std::string_view id, bool on) {
  GtkWidget* window = win_for(id);
  if (!window) return;
  GObject* obj = G_OBJECT(window);
  if (!g_object_get_data(obj, "ovalis-ct-hooked")) {
    g_object_set_data(obj, "ovalis-ct-hooked", GINT_TO_POINTER(1));
    g_signal_connect_after(window, "size-allocate", G_CALLBACK(on_ct_size_allocate), nullptr);
  }
  g_object_set_data(obj, "ovalis-ct", on ? GINT_TO_POINTER(1) : nullptr);
  if (gtk_widget_get_realized(window)) {
    if (on) set_empty_input_shape(window);
    else gdk_window_input_shape_combine_region(gtk_widget_get_window(window), nullptr, 0, 0);
  }
  gtk_widget_queue_resize(window);
  if (is_main_id(id)) g_click_through = on;
  else if (SecWin* sw = secwin_for(id)) sw->click_through = on;
}

bool rescue_target(const std::vector<Rect>& work_areas, int x, int y, int w, int h, int* nx,
                   int* ny) {
  if (work_areas.empty()) return false;
  for (const Rect& a : work_areas) {
    int ox = std::min(a.x + a.w, x + w) - std::max(a.x, x);
    int oy = std::min(a.y + a.h, y + h) - std::max(a.y, y);
    if (ox > 23 && oy > 23) return false;
  }
  const long cx = x + w / 2, cy = y + h / 2;
  size_t best = 0;
  long best_d = LONG_MAX;
  for (size_t i = 0; i < work_areas.size(); ++i) {
    const Rect& a = work_areas[i];
    long dx = a.x + a.w / 2 - cx, dy = a.y + a.h / 2 - cy;
    long d = dx * dx + dy * dy;
    if (d < best_d) best_d = d, best = i;
  }
  const Rect& a = work_areas[best];
  *nx = std::max(a.x, std::min(x, a.x + a.w - w));
  *ny = std::max(a.y, std::min(y, a.y + a.h - h));
  return *nx != x || *ny != y;
}

void rescue_offscreen(GtkWidget* window) {
  if (!window || !gtk_widget_get_realized(window)) return;
  GdkWindow* native = gtk_widget_get_window(window);
  GdkDisplay* display = gtk_widget_get_display(window);
  int n = gdk_display_get_n_monitors(display);
  if (!native || n < 1) return;
  std::vector<Rect> areas;
  for (int i = 0; i < n; ++i) {
    GdkRectangle a;
    gdk_monitor_get_workarea(gdk_display_get_monitor(display, i), &a);
    areas.push_back({a.x, a.y, a.width, a.height});
  }
  int x = 0, y = 0, nx = 0, ny = 0;
  gdk_window_get_root_origin(native, &x, &y);
  int w = gdk_window_get_width(native), h = gdk_window_get_height(native);
  if (rescue_target(areas, x, y, w, h, &nx, &ny)) gdk_window_move(native, nx, ny);
}

void present_now(GtkWidget* window) {
  if (!window) return;
  gtk_widget_show(window);
  GdkWindow* native = gtk_widget_get_window(window);
  // Focus-stealing prevention lets a present through only with a real
  // timestamp; the X server's current time is one.
  if (native && GDK_IS_X11_WINDOW(native))
    gtk_window_present_with_time(GTK_WINDOW(window), gdk_x11_get_server_time(native));
  else
    gtk_window_present(GTK_WINDOW(window));
}

void present_dialog_x11(GtkWidget* window) {
  if (on_x11()) present_now(window);
}

gboolean present_file_chooser_x11(gpointer) {
  GList* tops = gtk_window_list_toplevels();
  for (GList* l = tops; l; l = l->next) {
    GtkWidget* w = GTK_WIDGET(l->data);
    if (GTK_IS_FILE_CHOOSER_DIALOG(w) && gtk_widget_get_visible(w) &&
        !gtk_window_is_active(GTK_WINDOW(w)))
      present_dialog_x11(w);
  }
  g_list_free(tops);
  return G_SOURCE_REMOVE;
}
