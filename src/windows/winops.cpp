// Window operations ("WINOP"), and the pointer-driven move and resize
// ("DRAGWIN", "RESIZEWIN"). None of them answers; their effects come back
// as window-state events.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/app.h"
#include "windows/windows.h"

namespace {

// Secondary windows hidden together with the application in windowless mode.
std::vector<std::string> g_app_hidden;

bool is_show(std::string_view op) { return op == "show" || op == "show 1" || op == "show 0"; }

void show_quietly(GtkWidget* w) {
  gtk_window_set_focus_on_map(GTK_WINDOW(w), FALSE);
  gtk_widget_show(w);
  gtk_window_set_focus_on_map(GTK_WINDOW(w), TRUE);
}

void group_op(std::string_view op) {
  if (op == "hide") {
    for (auto& [id, sw] : g_secwins) {
      if (sw->window && gtk_widget_get_visible(sw->window)) {
        gtk_widget_hide(sw->window);
        g_app_hidden.push_back(id);
      }
    }
  } else if (is_show(op)) {
    std::vector<std::string> ids = std::move(g_app_hidden);
    g_app_hidden.clear();
    for (const std::string& id : ids) {
      SecWin* sw = secwin_for(id);
      if (!sw || !sw->window) continue;
      if (op == "show 0") show_quietly(sw->window);
      else present_now(sw->window);
    }
  }
}

gboolean on_awaitmap_done(GtkWidget* w, GdkEvent*, gpointer) {
  g_object_set_data(G_OBJECT(w), "ovalis-awaitmap", nullptr);
  g_signal_handlers_disconnect_by_func(w, reinterpret_cast<gpointer>(on_awaitmap_done), nullptr);
  return FALSE;
}

struct DeferredOp {
  std::string id, op;
  gulong handler = 0;
};

gboolean on_deferred_map(GtkWidget* w, GdkEvent*, gpointer data) {
  auto* d = static_cast<DeferredOp*>(data);
  std::string id = d->id, op = d->op;
  // Disconnecting frees d through the closure's destroy notify.
  g_signal_handler_disconnect(w, d->handler);
  do_winop(id, op);
  return FALSE;
}

void defer_until_mapped(GtkWidget* w, std::string_view id, std::string_view op) {
  auto* d = new DeferredOp{std::string(id), std::string(op)};
  d->handler = g_signal_connect_data(w, "map-event", G_CALLBACK(on_deferred_map), d,
                                     [](gpointer p, GClosure*) { delete static_cast<DeferredOp*>(p); },
                                     GConnectFlags(0));
}

// Moves a window's top-left corner; a realized window is moved directly.
void move_window(GtkWidget* w, int x, int y) {
  GdkWindow* native = gtk_widget_get_window(w);
  if (native && gtk_widget_get_realized(w)) gdk_window_move(native, x, y);
  else gtk_window_move(GTK_WINDOW(w), x, y);
}

GdkMonitor* window_monitor(GtkWidget* w) {
  return monitor_for(gtk_widget_get_display(w), gtk_widget_get_window(w));
}

// Whole-text integer and decimal parses: "12abc" is not a number.
bool parse_int(const std::string& s, int* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (*end || v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}

bool parse_double(const std::string& s, double* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  double v = g_ascii_strtod(s.c_str(), &end);
  if (*end || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

std::vector<std::string> words(std::string_view s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i <= s.size()) {
    size_t sp = s.find(' ', i);
    if (sp == std::string_view::npos) sp = s.size();
    out.emplace_back(s.substr(i, sp - i));
    i = sp + 1;
  }
  return out;
}

void op_spos(GtkWidget* w, std::string_view args) {
  std::vector<std::string> a = words(args);
  int n = 0;
  double x = 0, y = 0;
  if (a.size() < 3 || !parse_int(a[0], &n) || !parse_double(a[1], &x) || !parse_double(a[2], &y))
    return;
  std::string unit = a.size() > 3 ? a[3].substr(0, 3) : "pt";
  GdkDisplay* display = gdk_display_get_default();
  if (!display || n < 0 || n >= gdk_display_get_n_monitors(display)) return;
  GdkMonitor* mon = gdk_display_get_monitor(display, n);
  if (unit == "px") {
    int s = gdk_monitor_get_scale_factor(mon);
    x /= s, y /= s;
  }
  GdkRectangle g;
  gdk_monitor_get_geometry(mon, &g);
  move_window(w, g.x + static_cast<int>(std::lround(x)), g.y + static_cast<int>(std::lround(y)));
}

void op_pxsize(std::string_view id, GtkWidget* w, std::string_view args) {
  std::vector<std::string> a = words(args);
  double pw = 0, ph = 0;
  if (a.size() < 2 || !parse_double(a[0], &pw) || !parse_double(a[1], &ph)) return;
  GdkMonitor* mon = window_monitor(w);
  double s = mon ? gdk_monitor_get_scale_factor(mon) : 1;
  set_content_size(id, static_cast<int>(std::lround(pw / s)), static_cast<int>(std::lround(ph / s)));
}

void op_center(GtkWidget* w) {
  GdkMonitor* mon = window_monitor(w);
  if (!mon) return;
  GdkRectangle a;
  gdk_monitor_get_workarea(mon, &a);
  int ww = 0, wh = 0;
  gtk_window_get_size(GTK_WINDOW(w), &ww, &wh);
  gtk_window_move(GTK_WINDOW(w), a.x + (a.width - ww) / 2, a.y + (a.height - wh) / 2);
}

void op_level(std::string_view id, GtkWidget* w, std::string_view name) {
  bool below = name == "desktop", above = name == "overlay" || name == "floating";
  set_stacking(w, above, below);
  if (is_main_id(id)) g_level = std::string(name);
  else if (SecWin* sw = secwin_for(id)) sw->level = std::string(name);
}

void set_fixed(std::string_view id, bool fixed) {
  if (is_main_id(id)) g_fixed_main = fixed;
  else if (SecWin* sw = secwin_for(id)) sw->fixed = fixed;
  apply_fixed(id);
}

// The operations proper, on a window that exists.
void run_op(std::string_view id, GtkWidget* w, std::string_view op) {
  GtkWindow* gw = GTK_WINDOW(w);
  const bool main = is_main_id(id);
  auto arg = [&](std::string_view prefix) { return op.substr(prefix.size()); };
  if (op == "hide" || op == "hidewin") gtk_widget_hide(w);
  else if (op == "show" || op == "show 1") present_now(w);
  else if (op == "show 0") show_quietly(w);
  else if (op == "onscreen") {
    gtk_widget_realize(w);
    rescue_offscreen(w);
  } else if (op == "rescue 1" || op == "rescue 0") g_rescue_on = op == "rescue 1";
  else if (op == "center") op_center(w);
  else if (op == "minimize") gtk_window_iconify(gw);
  else if (op == "restore") {
    gtk_window_deiconify(gw);
    present_now(w);
  } else if (op == "zoom") {
    if (winstate_flags(w) & kWsMaximized) gtk_window_unmaximize(gw);
    else gtk_window_maximize(gw);
  } else if (op == "fullscreen") {
    if (winstate_flags(w) & kWsFullscreen) gtk_window_unfullscreen(gw);
    else gtk_window_fullscreen(gw);
  } else if (op == "fullscreen 1") gtk_window_fullscreen(gw);
  else if (op == "fullscreen 0") gtk_window_unfullscreen(gw);
  else if (op == "ontop 1" || op == "ontop 0")
    set_stacking(w, op == "ontop 1", (stacking_of(w) & 2) != 0);
  else if (op.starts_with("zoomfactor ")) {
    double f = 0;
    WebKitWebView* view = wv_for(id);
    if (view && parse_double(std::string(arg("zoomfactor ")), &f) && f >= 0.25 && f <= 5.0)
      webkit_web_view_set_zoom_level(view, f);
  } else if (op.starts_with("minsize ")) {
    int mw = 0, mh = 0;
    std::string a(arg("minsize "));
    size_t x = a.find('x');
    if (x == std::string::npos || !parse_int(a.substr(0, x), &mw) ||
        !parse_int(a.substr(x + 1), &mh) || mw <= 0 || mh <= 0)
      return;
    GdkGeometry g{};
    g.min_width = mw;
    g.min_height = mh + menubar_height(id);
    gtk_window_set_geometry_hints(gw, nullptr, &g, GDK_HINT_MIN_SIZE);
  } else if (op == "resizable 1" || op == "resizable 0") set_fixed(id, op == "resizable 0");
  else if (op == "clickthrough 1" || op == "clickthrough 0")
    set_click_through(id, op == "clickthrough 1");
  else if (op.starts_with("level ")) op_level(id, w, arg("level "));
  else if (op.starts_with("pos ")) {
    std::vector<std::string> a = words(arg("pos "));
    int x = 0, y = 0;
    if (a.size() >= 2 && parse_int(a[0], &x) && parse_int(a[1], &y)) move_window(w, x, y);
  } else if (op.starts_with("spos ")) op_spos(w, arg("spos "));
  else if (op.starts_with("pxsize ")) op_pxsize(id, w, arg("pxsize "));
  else if (op.starts_with("fsscreen ")) {
    int n = 0;
    GdkScreen* screen = gtk_widget_get_screen(w);
    GdkDisplay* display = gtk_widget_get_display(w);
    if (parse_int(std::string(arg("fsscreen ")), &n) && n >= 0 &&
        n < gdk_display_get_n_monitors(display))
      gtk_window_fullscreen_on_monitor(gw, screen, n);
  } else if (op == "hideonclose 1" || op == "hideonclose 0") {
    if (main) g_hide_on_close = op == "hideonclose 1";
  } else if (op == "presence 1" || op == "presence 0") {
    if (main) gtk_window_set_skip_taskbar_hint(gw, op == "presence 0");
  } else if (op == "allspaces 1" || op == "allspaces 0") {
    if (op == "allspaces 1") gtk_window_stick(gw);
    else gtk_window_unstick(gw);
    if (main) g_all_spaces = op == "allspaces 1";
  }
}

}  // namespace

void do_winop(std::string_view id, std::string_view op) {
  if (op == "geom 1" || op == "geom 0") {
    g_geom_events = op == "geom 1";
    return;
  }
  if (is_main_id(id)) {
    if (is_show(op)) g_defer_show = false;
    if (!g_win) return group_op(op);
  }
  GtkWidget* w = win_for(id);
  if (!w) return;
  GObject* obj = G_OBJECT(w);
  if (is_show(op) && !gtk_widget_get_visible(w) && !g_object_get_data(obj, "ovalis-awaitmap")) {
    g_object_set_data(obj, "ovalis-awaitmap", GINT_TO_POINTER(1));
    gtk_widget_add_events(w, GDK_STRUCTURE_MASK);
    g_signal_connect(w, "map-event", G_CALLBACK(on_awaitmap_done), nullptr);
  }
  // A show the window manager has not carried out yet: maximizing or going
  // fullscreen now would be lost, so it waits for the map.
  if ((op == "zoom" || op.starts_with("fullscreen")) && g_object_get_data(obj, "ovalis-awaitmap"))
    return defer_until_mapped(w, id, op);
  run_op(id, w, op);
}

GdkWindowEdge resize_edge(std::string_view name) {
  if (name == "nw") return GDK_WINDOW_EDGE_NORTH_WEST;
  if (name == "n") return GDK_WINDOW_EDGE_NORTH;
  if (name == "ne") return GDK_WINDOW_EDGE_NORTH_EAST;
  if (name == "w") return GDK_WINDOW_EDGE_WEST;
  if (name == "e") return GDK_WINDOW_EDGE_EAST;
  if (name == "sw") return GDK_WINDOW_EDGE_SOUTH_WEST;
  if (name == "s") return GDK_WINDOW_EDGE_SOUTH;
  return GDK_WINDOW_EDGE_SOUTH_EAST;
}

namespace {

// Starts a window-manager move (edge null) or resize with the pointer.
void begin_pointer_drag(GtkWidget* w, const GdkWindowEdge* edge) {
  GdkDevice* device = g_last_press_device;
  if (!device) {
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(w));
    device = seat ? gdk_seat_get_pointer(seat) : nullptr;
  }
  GdkWindow* native = gtk_widget_get_window(w);
  if (!device || !native || !gtk_widget_get_realized(w)) return;
  int x = 0, y = 0;
  gdk_device_get_position(device, nullptr, &x, &y);
  guint32 t = g_last_press_time ? g_last_press_time : gtk_get_current_event_time();
  if (edge) gdk_window_begin_resize_drag_for_device(native, *edge, device, 1, x, y, t);
  else gdk_window_begin_move_drag_for_device(native, device, 1, x, y, t);
}

}  // namespace

void do_dragwin(std::string_view id) {
  if (GtkWidget* w = win_for(id)) begin_pointer_drag(w, nullptr);
}

void do_resizewin(std::string_view id, std::string_view edge) {
  GtkWidget* w = win_for(id);
  if (!w || !gtk_window_get_resizable(GTK_WINDOW(w))) return;
  GdkWindowEdge e = resize_edge(edge);
  begin_pointer_drag(w, &e);
}
