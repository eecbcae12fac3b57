// Window features shared across the program: state reports, screens, chrome
// and stacking, drag and drop, and window operations.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>
#include <string_view>
#include <vector>

// Connects "window-state-event" and "configure-event" of a toplevel to the
// state reporters ("WINSTATE", "WINGEOM").
void connect_window_state_handlers(GtkWidget* window);

// Forgets the last state reported for a window that went away.
void forget_last_winstate(std::string_view id);

// The window-state object of a window ("" or "main" for the main window).
std::string win_state_json(std::string_view id);

// The screens array.
std::string screens_json();

// Applies chrome fields (frame, controls, transparent, vibrancy, square,
// first mouse, menubar, ...) to a window.
void apply_chrome(std::string_view id, const std::vector<std::string>& fields);

// Shows, raises and focuses a window with a proper X11 timestamp.
void present_now(GtkWidget* window);

// Connects the drag-and-drop and button-press handlers of a web view.
void connect_drop_handlers(WebKitWebView* view);

// ---- window state ----

// GDK window-state bits the reports read.
constexpr unsigned kWsIconified = 2, kWsMaximized = 4, kWsSticky = 8, kWsFullscreen = 16,
                   kWsAbove = 32, kWsFocused = 128;

// Geometry events ("WINGEOM") on or off; off by default.
extern bool g_geom_events;

// The last desktop state bits reported for a window (0 when none was).
unsigned winstate_flags(GtkWidget* window);

// The compact state object of "WINSTATE" lines.
std::string winstate_compact_json(unsigned flags, int screen_id);

// ---- screens ----

// What the screens array says about one monitor, read from the toolkit or
// given directly.
struct MonitorInfo {
  int x = 0, y = 0, width = 0, height = 0;     // geometry, logical pixels
  int ax = 0, ay = 0, aw = 0, ah = 0;          // work area, same coordinates
  int scale = 1;
  bool primary = false;
  std::string connector;                       // "" when unknown
  bool has_manufacturer = false, has_model = false;
  std::string manufacturer, model;
};

MonitorInfo monitor_info(GdkDisplay* display, int index);
// A monitor identifier that survives re-plugging: connector/manufacturer/model,
// or the index when the monitor tells nothing about itself.
std::string monitor_uid_of(const MonitorInfo& m, int index);
std::string monitor_uid(GdkDisplay* display, int index);
// One object of the screens array, and the array of a given monitor list.
std::string screen_json(const MonitorInfo& m, int index);
std::string screens_json_of(const std::vector<MonitorInfo>& monitors);

// The monitor holding a native window; else the primary; else the first.
GdkMonitor* monitor_for(GdkDisplay* display, GdkWindow* window);
// The position of a monitor in the display's list; 0 when absent.
int monitor_index(GdkDisplay* display, GdkMonitor* monitor);

// JSON members (no braces) placing a window of content size w by h with its
// top-left at x, y on a monitor whose origin is mx, my and scale is scale.
std::string screen_fields_json(int screen_id, int mx, int my, int scale, int x, int y, int w,
                               int h);
std::string window_screen_fields(GdkDisplay* display, GdkMonitor* monitor, int x, int y, int w,
                                 int h);

// Start-up: monitor changes trigger the off-screen rescue and a debounced
// "SYS screens".
void connect_monitor_signals();

// ---- chrome, stacking, click-through, presenting ----

bool on_x11();

// The two Motif hint values a window-controls text gives.
struct MotifHints {
  long functions;
  long decorations;
};
MotifHints motif_hints_for(std::string_view controls, bool decorated);

void set_stacking(GtkWidget* window, bool above, bool below);
// Bit 0 keep-above, bit 1 keep-below, as last set with set_stacking.
int stacking_of(GtkWidget* window);
void set_click_through(std::string_view id, bool on);

// Where a window at x, y of size w by h must go so that it shows on one of
// the work areas; false when it already shows enough (nothing to do).
struct Rect {
  int x, y, w, h;
};
bool rescue_target(const std::vector<Rect>& work_areas, int x, int y, int w, int h, int* nx,
                   int* ny);
void rescue_offscreen(GtkWidget* window);

void present_dialog_x11(GtkWidget* window);
gboolean present_file_chooser_x11(gpointer);

// Re-applies a window's menus (the menus feature installs it); without it
// the chrome menu-bar switch shows or hides the bar itself.
extern void (*g_reapply_menus)(std::string_view id);

// ---- drag and drop ----

// The "DROP" array of the URIs that are local files; "" when none is.
std::string drop_json(const std::vector<std::string>& uris);
extern guint32 g_last_press_time;
extern GdkDevice* g_last_press_device;

// ---- window operations ----

void do_winop(std::string_view id, std::string_view op);
void do_dragwin(std::string_view id);
void do_resizewin(std::string_view id, std::string_view edge);
// The edge a "RESIZEWIN" name selects (south-east for any unknown name).
GdkWindowEdge resize_edge(std::string_view name);

// ---- pointer and foreground queries ----

std::string mouse_json(std::string_view id);
std::string fgscreen_json();
