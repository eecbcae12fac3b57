// The pointer ("GET mouse") and the monitor of the desktop's active window
// ("GET fgscreen").
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <cstdlib>

#include "core/gobj.h"
#include "windows/windows.h"

PointerTracking g_pointer_tracking;

namespace {

struct Tracked {
  bool have = false;
  int x = 0, y = 0;
};

Tracked tracked_pointer() {
  Tracked t;
  if (g_pointer_tracking.position) t.have = g_pointer_tracking.position(&t.x, &t.y);
  return t;
}

// The window part of the pointer object, or "null" when the window's web
// view is not on screen.
std::string pointer_window_part(GdkDevice* pointer, const std::string& id, int X, int Y,
                                const Tracked& t) {
  WebKitWebView* view = wv_for(id);
  GdkWindow* gw = view ? gtk_widget_get_window(GTK_WIDGET(view)) : nullptr;
  if (!gw) return "null";
  int ox = 0, oy = 0;
  gdk_window_get_origin(gw, &ox, &oy);
  int w = gdk_window_get_width(gw), h = gdk_window_get_height(gw);
  int x = X - ox, y = Y - oy;
  auto in_rect = [&] { return x >= 0 && y >= 0 && x < w && y < h; };
  bool inside = false;
  if (on_x11()) {
    inside = in_rect() && gdk_window_is_viewable(gw);
    // An X11 client inside a Wayland session sees the pointer only over
    // its own windows; the tracked position is the better one.
    if (t.have && std::getenv("WAYLAND_DISPLAY")) {
      x = t.x - ox;
      y = t.y - oy;
      inside = in_rect() && gdk_window_is_viewable(gw);
    }
  } else {
    // Wayland gives no global position; trust the rectangle only when the
    // pointer is over this very toplevel.
    bool over_us = false;
    if (pointer) {
      GdkWindow* under = gdk_device_get_window_at_position(pointer, nullptr, nullptr);
      over_us = under && gdk_window_get_toplevel(under) == gdk_window_get_toplevel(gw);
      if (over_us) inside = in_rect() && gdk_window_is_viewable(gw);
    }
    // The compositor never says where our windows are: while the pointer is
    // over this one, learn the offset between tracked and local position,
    // and use it to place the pointer once it has left.
    if (t.have) {
      int dx = 0, dy = 0;
      if (over_us) {
        if (g_pointer_tracking.calibrate) g_pointer_tracking.calibrate(id, t.x - x, t.y - y);
      } else if (g_pointer_tracking.calibration &&
                 g_pointer_tracking.calibration(id, &dx, &dy)) {
        x = t.x - dx;
        y = t.y - dy;
      }
    }
  }
  return "{\"x\":" + std::to_string(x) + ",\"y\":" + std::to_string(y) +
         ",\"inside\":" + (inside ? "true" : "false") + "}";
}

}  // namespace

std::string mouse_json(std::string_view id) {
  GdkDisplay* display = gdk_display_get_default();
  GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  int X = 0, Y = 0;
  if (pointer) gdk_device_get_position(pointer, nullptr, &X, &Y);
  Tracked t = tracked_pointer();
  std::string window = pointer_window_part(pointer, id.empty() ? "main" : std::string(id), X, Y, t);
  bool plain_x11 = on_x11() && !std::getenv("WAYLAND_DISPLAY");
  if (t.have && !plain_x11) {
    X = t.x;
    Y = t.y;
  }

  GdkMonitor* mon = nullptr;
  if (display) {
    mon = gdk_display_get_monitor_at_point(display, X, Y);
    if (!mon) mon = gdk_display_get_primary_monitor(display);
    if (!mon && gdk_display_get_n_monitors(display) > 0) mon = gdk_display_get_monitor(display, 0);
  }
  GdkRectangle g{};
  int index = 0, scale = 1;
  if (mon) {
    gdk_monitor_get_geometry(mon, &g);
    index = monitor_index(display, mon);
    scale = gdk_monitor_get_scale_factor(mon);
  }
  return "{\"x\":" + std::to_string(X) + ",\"y\":" + std::to_string(Y) + ",\"window\":" + window +
         ",\"screen\":{\"id\":" + std::to_string(index) + ",\"x\":" + std::to_string(g.x) +
         ",\"y\":" + std::to_string(g.y) + ",\"width\":" + std::to_string(g.width) +
         ",\"height\":" + std::to_string(g.height) + ",\"scale\":" + std::to_string(scale) + "}}";
}

std::string fgscreen_json() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display)) return "null";
  Display* dpy = GDK_DISPLAY_XDISPLAY(display);
  Atom prop = gdk_x11_get_xatom_by_name_for_display(display, "_NET_ACTIVE_WINDOW");
  Atom type = None;
  int format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  Window active = None;
  gdk_x11_display_error_trap_push(display);
  if (XGetWindowProperty(dpy, DefaultRootWindow(dpy), prop, 0, 1, False, XA_WINDOW, &type,
                         &format, &n, &after, &data) == Success &&
      data && type == XA_WINDOW && format == 32 && n == 1)
    active = *reinterpret_cast<Window*>(data);
  if (data) XFree(data);
  gdk_x11_display_error_trap_pop_ignored(display);
  if (active == None) return "null";
  // A foreign wrapper asks the server for the window; a window that is gone
  // by now gives none.
  GObj<GdkWindow> foreign(gdk_x11_window_foreign_new_for_display(display, active));
  if (!foreign) return "null";
  GdkMonitor* mon = gdk_display_get_monitor_at_window(display, foreign.get());
  if (!mon) return "null";
  return std::to_string(monitor_index(display, mon));
}
