// Monitors: the screens array, the monitor identifier, the monitor a window
// is on, and the reactions to monitor changes.
#include <gdk/gdkx.h>
#include <X11/extensions/Xrandr.h>

#include <cstring>

#include "core/app.h"
#include "core/wire.h"
#include "windows/windows.h"

namespace {

guint g_screens_timer = 0;

void append_int(std::string& out, const char* key, long v) {
  out += '"';
  out += key;
  out += "\":";
  out += std::to_string(v);
}

// The RandR output name ("eDP-1", "HDMI-1") of an X11 monitor; GDK 3 does
// not expose connector names itself.
std::string x11_connector(GdkDisplay* display, GdkMonitor* monitor) {
  if (!GDK_IS_X11_MONITOR(monitor)) return "";
  XID output = gdk_x11_monitor_get_output(monitor);
  if (!output) return "";
  Display* dpy = GDK_DISPLAY_XDISPLAY(display);
  std::string name;
  gdk_x11_display_error_trap_push(display);
  if (XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, DefaultRootWindow(dpy))) {
    if (XRROutputInfo* info = XRRGetOutputInfo(dpy, res, output)) {
      if (info->name) name.assign(info->name, info->nameLen);
      XRRFreeOutputInfo(info);
    }
    XRRFreeScreenResources(res);
  }
  gdk_x11_display_error_trap_pop_ignored(display);
  return name;
}

gboolean screens_timer_fire(gpointer) {
  g_screens_timer = 0;
  pipe_write_line("SYS screens");
  return G_SOURCE_REMOVE;
}

// A burst of layout changes (a monitor plugged in changes size, work area
// and list at once) gives one event after half a second of quiet.
void on_monitors_changed(GdkScreen*, gpointer) {
  if (g_screens_timer) g_source_remove(g_screens_timer);
  g_screens_timer = g_timeout_add(500, screens_timer_fire, nullptr);
}

void rescue_all_windows() {
  if (!g_rescue_on) return;
  if (g_win && gtk_widget_get_visible(g_win)) rescue_offscreen(g_win);
  for (auto& [id, sw] : g_secwins)
    if (sw->window && gtk_widget_get_visible(sw->window)) rescue_offscreen(sw->window);
}

void on_monitor_added(GdkDisplay*, GdkMonitor*, gpointer) { rescue_all_windows(); }
void on_monitor_removed(GdkDisplay*, GdkMonitor*, gpointer) { rescue_all_windows(); }

}  // namespace

MonitorInfo monitor_info(GdkDisplay* display, int index) {
  MonitorInfo m;
  GdkMonitor* mon = display ? gdk_display_get_monitor(display, index) : nullptr;
  if (!mon) return m;
  GdkRectangle g, a;
  gdk_monitor_get_geometry(mon, &g);
  gdk_monitor_get_workarea(mon, &a);
  m.x = g.x, m.y = g.y, m.width = g.width, m.height = g.height;
  m.ax = a.x, m.ay = a.y, m.aw = a.width, m.ah = a.height;
  m.scale = gdk_monitor_get_scale_factor(mon);
  m.primary = gdk_monitor_is_primary(mon);
  if (GDK_IS_X11_DISPLAY(display)) m.connector = x11_connector(display, mon);
  if (const char* s = gdk_monitor_get_manufacturer(mon)) m.has_manufacturer = true, m.manufacturer = s;
  if (const char* s = gdk_monitor_get_model(mon)) m.has_model = true, m.model = s;
  return m;
}

std::string monitor_uid_of(const MonitorInfo& m, int index) {
  if (m.connector.empty() && !m.has_manufacturer && !m.has_model) return std::to_string(index);
  return m.connector + "/" + m.manufacturer + "/" + m.model;
}

std::string monitor_uid(GdkDisplay* display, int index) {
  return monitor_uid_of(monitor_info(display, index), index);
}

std::string screen_json(const MonitorInfo& m, int index) {
  const int s = m.scale;
  std::string o = "{";
  append_int(o, "id", index);
  o += ",\"uid\":";
  json_escape_to(o, monitor_uid_of(m, index));
  o += ",\"name\":";
  if (m.has_model) json_escape_to(o, m.model);
  else o += "null";
  o += ',', append_int(o, "x", m.x);
  o += ',', append_int(o, "y", m.y);
  o += ',', append_int(o, "width", m.width);
  o += ',', append_int(o, "height", m.height);
  o += ",\"visible\":{";
  append_int(o, "x", m.ax);
  o += ',', append_int(o, "y", m.ay);
  o += ',', append_int(o, "width", m.aw);
  o += ',', append_int(o, "height", m.ah);
  o += "},";
  append_int(o, "scale", s);
  o += ",\"primary\":";
  o += m.primary ? "true" : "false";
  bool internal = m.connector.starts_with("eDP") || m.connector.starts_with("LVDS") ||
                  m.connector.starts_with("DSI");
  o += ",\"internal\":";
  o += internal ? "true" : "false";
  // Device pixels: the work area is relative to the monitor's own corner.
  o += ",\"pixels\":{";
  append_int(o, "width", long(s) * m.width);
  o += ',', append_int(o, "height", long(s) * m.height);
  o += ",\"visible\":{";
  append_int(o, "x", long(s) * (m.ax - m.x));
  o += ',', append_int(o, "y", long(s) * (m.ay - m.y));
  o += ',', append_int(o, "width", long(s) * m.aw);
  o += ',', append_int(o, "height", long(s) * m.ah);
  o += "}}}";
  return o;
}

std::string screens_json_of(const std::vector<MonitorInfo>& monitors) {
  std::string out = "[";
  for (size_t i = 0; i < monitors.size(); ++i) {
    if (i) out += ',';
    out += screen_json(monitors[i], static_cast<int>(i));
  }
  out += ']';
  return out;
}

std::string screens_json() {
  GdkDisplay* display = gdk_display_get_default();
  std::vector<MonitorInfo> list;
  int n = display ? gdk_display_get_n_monitors(display) : 0;
  for (int i = 0; i < n; ++i) list.push_back(monitor_info(display, i));
  return screens_json_of(list);
}

GdkMonitor* monitor_for(GdkDisplay* display, GdkWindow* window) {
  if (!display) return nullptr;
  if (window)
    if (GdkMonitor* m = gdk_display_get_monitor_at_window(display, window)) return m;
  if (GdkMonitor* m = gdk_display_get_primary_monitor(display)) return m;
  return gdk_display_get_n_monitors(display) > 0 ? gdk_display_get_monitor(display, 0) : nullptr;
}

int monitor_index(GdkDisplay* display, GdkMonitor* monitor) {
  if (!display || !monitor) return 0;
  int n = gdk_display_get_n_monitors(display);
  for (int i = 0; i < n; ++i)
    if (gdk_display_get_monitor(display, i) == monitor) return i;
  return 0;
}

std::string screen_fields_json(int screen_id, int mx, int my, int scale, int x, int y, int w,
                               int h) {
  const long s = scale;
  const long lx = x - mx, ly = y - my;
  std::string o;
  append_int(o, "screenId", screen_id);
  o += ",\"local\":{";
  append_int(o, "x", lx);
  o += ',', append_int(o, "y", ly);
  o += "},\"pixels\":{";
  append_int(o, "x", s * lx);
  o += ',', append_int(o, "y", s * ly);
  o += ',', append_int(o, "width", s * w);
  o += ',', append_int(o, "height", s * h);
  o += '}';
  return o;
}

std::string window_screen_fields(GdkDisplay* display, GdkMonitor* monitor, int x, int y, int w,
                                 int h) {
  if (!monitor) return screen_fields_json(0, 0, 0, 1, x, y, w, h);
  GdkRectangle g;
  gdk_monitor_get_geometry(monitor, &g);
  return screen_fields_json(monitor_index(display, monitor), g.x, g.y,
                            gdk_monitor_get_scale_factor(monitor), x, y, w, h);
}

void connect_monitor_signals() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return;
  g_signal_connect(display, "monitor-added", G_CALLBACK(on_monitor_added), nullptr);
  g_signal_connect(display, "monitor-removed", G_CALLBACK(on_monitor_removed), nullptr);
  GdkScreen* screen = gdk_display_get_default_screen(display);
  g_signal_connect(screen, "monitors-changed", G_CALLBACK(on_monitors_changed), nullptr);
  g_signal_connect(screen, "size-changed", G_CALLBACK(on_monitors_changed), nullptr);
}
