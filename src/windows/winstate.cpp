// Window state reports: the "WINSTATE" and "WINGEOM" events and the full
// window-state object of "GET win".
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <map>

#include "core/wire.h"
#include "windows/windows.h"

bool g_geom_events = false;

namespace {

// Last desktop state bits the toolkit reported, per window object.
std::map<GtkWidget*, unsigned> g_winstate;
// Last "WINSTATE" text sent, per window id.
std::map<std::string, std::string, std::less<>> g_last_winstate;

const char* jbool(bool b) { return b ? "true" : "false"; }

void emit_winstate(GtkWidget* window) {
  std::string id = id_for_gtkwin(window);
  if (id.empty()) return;
  GdkDisplay* display = gtk_widget_get_display(window);
  int screen_id = monitor_index(display, monitor_for(display, gtk_widget_get_window(window)));
  std::string text = winstate_compact_json(winstate_flags(window), screen_id);
  auto it = g_last_winstate.find(id);
  if (it != g_last_winstate.end() && it->second == text) return;
  g_last_winstate[id] = text;
  pipe_write_line("WINSTATE " + id + " " + text);
}

gboolean on_window_state(GtkWidget* window, GdkEventWindowState* ev, gpointer) {
  g_winstate[window] = ev->new_window_state;
  emit_winstate(window);
  return FALSE;
}

gboolean on_configure(GtkWidget* window, GdkEventConfigure*, gpointer) {
  emit_winstate(window);
  if (g_geom_events) {
    std::string id = id_for_gtkwin(window);
    if (!id.empty()) pipe_write_line("WINGEOM " + id);
  }
  return FALSE;
}

// A later window may be allocated at the same address; it must not inherit
// the state bits of a dead one (the maximize and fullscreen toggles read them).
void on_state_window_destroy(GtkWidget* window, gpointer) { g_winstate.erase(window); }

// GDK 3 on X11 never reports keep-above, and reports sticky only when the
// window manager sets both the sticky state and the all-desktops number
// (openbox sets just the number). Read the window manager's own properties.
unsigned x11_wm_state_bits(GtkWidget* window) {
  GdkWindow* native = gtk_widget_get_window(window);
  if (!native || !GDK_IS_X11_WINDOW(native)) return 0;
  GdkDisplay* display = gdk_window_get_display(native);
  Display* dpy = GDK_DISPLAY_XDISPLAY(display);
  auto atom = [&](const char* name) { return gdk_x11_get_xatom_by_name_for_display(display, name); };
  unsigned bits = 0;
  Atom type = None;
  int format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  gdk_x11_display_error_trap_push(display);
  if (XGetWindowProperty(dpy, GDK_WINDOW_XID(native), atom("_NET_WM_STATE"), 0, 64, False,
                         XA_ATOM, &type, &format, &n, &after, &data) == Success &&
      data && type == XA_ATOM && format == 32) {
    const Atom* atoms = reinterpret_cast<const Atom*>(data);
    for (unsigned long i = 0; i < n; ++i) {
      if (atoms[i] == atom("_NET_WM_STATE_ABOVE")) bits |= kWsAbove;
      if (atoms[i] == atom("_NET_WM_STATE_STICKY")) bits |= kWsSticky;
    }
  }
  if (data) XFree(data);
  data = nullptr;
  if (XGetWindowProperty(dpy, GDK_WINDOW_XID(native), atom("_NET_WM_DESKTOP"), 0, 1, False,
                         XA_CARDINAL, &type, &format, &n, &after, &data) == Success &&
      data && type == XA_CARDINAL && format == 32 && n == 1 &&
      (*reinterpret_cast<const unsigned long*>(data) & 0xFFFFFFFFul) == 0xFFFFFFFFul)
    bits |= kWsSticky;
  if (data) XFree(data);
  gdk_x11_display_error_trap_pop_ignored(display);
  return bits;
}

// The stored chrome settings of a window, as the state object reports them.
struct ChromeView {
  bool frame = true, transparent = false, square = false, first_mouse = false;
  bool click_through = false;
  std::string vibrancy, level = "normal";
};

ChromeView chrome_view(std::string_view id) {
  ChromeView c;
  if (is_main_id(id)) {
    c.frame = g_chrome_frame, c.transparent = g_chrome_transparent, c.square = g_chrome_square;
    c.first_mouse = g_chrome_first_mouse, c.click_through = g_click_through;
    c.vibrancy = g_chrome_vibrancy, c.level = g_level;
  } else if (SecWin* sw = secwin_for(id)) {
    c.frame = sw->frame, c.transparent = sw->transparent, c.square = sw->square;
    c.first_mouse = sw->first_mouse, c.click_through = sw->click_through;
    c.vibrancy = sw->vibrancy, c.level = sw->level;
  }
  return c;
}

}  // namespace

unsigned winstate_flags(GtkWidget* window) {
  auto it = g_winstate.find(window);
  return it == g_winstate.end() ? 0 : it->second;
}

std::string winstate_compact_json(unsigned flags, int screen_id) {
  bool fs = flags & kWsFullscreen;
  std::string o = "{\"fullscreen\":";
  o += jbool(fs);
  o += ",\"maximized\":";
  o += jbool((flags & kWsMaximized) && !fs);
  o += ",\"minimized\":";
  o += jbool(flags & kWsIconified);
  o += ",\"focused\":";
  o += jbool(flags & kWsFocused);
  o += ",\"screenId\":" + std::to_string(screen_id) + "}";
  return o;
}

void connect_window_state_handlers(GtkWidget* window) {
  g_signal_connect(window, "window-state-event", G_CALLBACK(on_window_state), nullptr);
  g_signal_connect(window, "configure-event", G_CALLBACK(on_configure), nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(on_state_window_destroy), nullptr);
}

void forget_last_winstate(std::string_view id) {
  auto it = g_last_winstate.find(id);
  if (it != g_last_winstate.end()) g_last_winstate.erase(it);
}

std::string win_state_json(std::string_view id) {
  GtkWidget* window = win_for(id);
  if (!window) return "null";
  GtkWindow* gw = GTK_WINDOW(window);
  GdkWindow* native = gtk_widget_get_window(window);
  GdkDisplay* display = gtk_widget_get_display(window);

  int x = 0, y = 0, w = 0, h = 0;
  gtk_window_get_position(gw, &x, &y);
  if (native && gtk_widget_get_realized(window)) gdk_window_get_root_origin(native, &x, &y);
  gtk_window_get_size(gw, &w, &h);
  int content_h = h - menubar_height(id);

  int ow = w, oh = h;
  if (native) {
    GdkRectangle ext{};
    gdk_window_get_frame_extents(native, &ext);
    if (ext.width > 0 && ext.height > 0) ow = ext.width, oh = ext.height;
  }

  unsigned flags = winstate_flags(window) | x11_wm_state_bits(window);
  GdkMonitor* mon = monitor_for(display, native);
  GdkRectangle mg{};
  int scale = 1;
  if (mon) {
    gdk_monitor_get_geometry(mon, &mg);
    scale = gdk_monitor_get_scale_factor(mon);
  }
  ChromeView c = chrome_view(id);
  bool all_spaces = is_main_id(id) ? g_all_spaces : (flags & kWsSticky) != 0;

  std::string o = "{\"x\":" + std::to_string(x) + ",\"y\":" + std::to_string(y) +
                  ",\"width\":" + std::to_string(w) + ",\"height\":" + std::to_string(content_h) +
                  ",\"outer\":{\"width\":" + std::to_string(ow) +
                  ",\"height\":" + std::to_string(oh) + "}";
  o += ",\"fullscreen\":";
  o += jbool(flags & kWsFullscreen);
  o += ",\"minimized\":";
  o += jbool(flags & kWsIconified);
  o += ",\"visible\":";
  o += jbool(gtk_widget_get_visible(window));
  o += ",\"focused\":";
  o += jbool(gtk_window_is_active(gw));
  o += ",\"alwaysOnTop\":";
  o += jbool(flags & kWsAbove);
  o += ",\"resizable\":";
  o += jbool(!win_fixed(id));
  o += ",\"clickThrough\":";
  o += jbool(c.click_through);
  o += ",\"level\":";
  json_escape_to(o, c.level);
  o += ",\"allSpaces\":";
  o += jbool(all_spaces);
  o += ",\"chrome\":{\"frame\":";
  o += jbool(c.frame);
  o += ",\"windowControls\":null,\"transparent\":";
  o += jbool(c.transparent);
  o += ",\"vibrancy\":";
  if (c.vibrancy.empty()) o += "null";
  else json_escape_to(o, c.vibrancy);
  o += ",\"squareCorners\":";
  o += jbool(c.square);
  o += ",\"acceptsFirstMouse\":";
  o += jbool(c.first_mouse);
  o += "},\"canPosition\":";
  o += jbool(on_x11());
  o += ",\"screen\":{\"width\":" + std::to_string(mg.width) +
       ",\"height\":" + std::to_string(mg.height) + ",\"scale\":" + std::to_string(scale) + "},";
  o += window_screen_fields(display, mon, x, y, w, content_h);
  o += '}';
  return o;
}
