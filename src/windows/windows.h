// Windows: the registry of the main and secondary windows with the lookups
// every feature shares, window state reports, screens, chrome and stacking,
// drag and drop, and window operations.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A window's menu-bar slot. The menus themselves belong to the menus
// feature, which fills the bar and says whether it has anything to show.
struct WinMenu {
  bool has_menus = false;
  bool show_menubar = true;
  GtkWidget* menubar = nullptr;
  GtkAccelGroup* accel_group = nullptr;
  bool repaid = false;
  int content_width = 0;
  int content_height = 0;
};

struct SecWin {
  std::string id;
  GtkWidget* window = nullptr;
  WebKitWebView* webview = nullptr;
  bool frame = true;
  bool transparent = false;
  bool square = false;
  bool first_mouse = false;
  bool fixed = false;
  std::string vibrancy;
  std::string level = "normal";
  bool click_through = false;
  WinMenu menu;
  int width = 600;
  int height = 400;
  WebKitUserContentManager* shared_ucm = nullptr;
};

extern GtkWidget* g_win;
extern WebKitWebView* g_wv;
extern GtkWidget* g_vbox;
extern GtkWidget* g_menubar;
extern GtkAccelGroup* g_accel;
extern WinMenu g_main_menu;
extern bool g_fixed_main;
extern std::string g_icon_path;
extern std::string g_level;
extern bool g_click_through, g_all_spaces, g_chrome_frame, g_chrome_transparent;
extern bool g_chrome_square, g_chrome_first_mouse;
extern std::string g_chrome_vibrancy;

// Ordered by id (ascending bytes), which is also the order "windows" lists them.
extern std::map<std::string, std::unique_ptr<SecWin>, std::less<>> g_secwins;

bool is_main_id(std::string_view id);
SecWin* secwin_for(std::string_view id);
GtkWidget* win_for(std::string_view id);
WebKitWebView* wv_for(std::string_view window_id);
// The window id a web view or a toplevel belongs to: "main" for an unknown
// view, "" for an unknown toplevel.
std::string ovalis_winid_for_wv(WebKitWebView* view);
std::string id_for_gtkwin(GtkWidget* window);
// The web view of a window; with no window, that of the active secondary
// window, else the main one.
WebKitWebView* wv_in(GtkWidget* window);
WinMenu* menu_for(std::string_view id);
bool win_fixed(std::string_view id);
void apply_fixed(std::string_view id);
int menubar_height(std::string_view id);
void set_content_size(std::string_view id, int w, int h);
void repay_page_box(std::string_view id, int w, int h, bool flag);
std::string app_icon_path();
void set_window_icon(GtkWidget* window, const std::string& path);

// The sizes an icon list is made of, for an image whose sides are w by h.
// keep_original tells whether the loaded image itself belongs in the list.
struct IconSize { int w, h; };
std::vector<IconSize> icon_sizes(int w, int h, bool* keep_original);

// The "windows" query: the ids of every open window, main first.
std::string windows_json();

// "TITLE@<id> <text>" and "SIZE@<id> <w> <h>".
void do_title(std::string_view win, std::string_view rest);
void do_size(std::string_view win, std::string_view rest);

// What windows take from the features above them: their pages, menus and
// the tray. The composition root fills these in before the first window is
// built.
struct WindowParts {
  WebKitWebView* (*make_page)(const std::string& window_id) = nullptr;
  void (*load_page)(WebKitWebView* view, const std::string& target) = nullptr;
  void (*open_inspector)(WebKitWebView* view) = nullptr;
  // Rebuilds a window's menu bar from its effective menus.
  void (*apply_menus)(std::string_view id) = nullptr;
  bool (*tray_shown)() = nullptr;
};
extern WindowParts g_window_parts;

// Features that keep state per window register here; each hook runs when a
// secondary or popup window is destroyed, while its record still exists.
using WindowGoneHook = void (*)(const std::string& id, GtkWidget* window);
void add_window_gone_hook(WindowGoneHook fn);

// Builds the main window (start-up, unless windowless).
void build_main_window();

// ---- secondary windows ----

// Registers a fully built window record under its id and wires the handlers
// every registered window needs: state reports, the close request and the
// destruction clean-up that sends "WINCLOSED". A record's shared_ucm, when
// set, holds one reference and one count in g_shared_ucms; both are
// released when the window goes away.
SecWin* register_secwin(std::unique_ptr<SecWin> rec);

// "WINOPEN <fields>" and "WINCLOSE <id>".
void do_winopen(std::string_view rest);
void do_winclose(std::string_view id);

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

// Where the display server hides the pointer outside our windows (Wayland),
// a higher feature may track it; the pointer query then reads it here.
// Unset slots mean no tracking.
struct PointerTracking {
  // The tracked global position, when tracking is on and has one.
  bool (*position)(int* x, int* y) = nullptr;
  // Stores and reads a window's offset between tracked and local position.
  void (*calibrate)(const std::string& window, int dx, int dy) = nullptr;
  bool (*calibration)(const std::string& window, int* dx, int* dy) = nullptr;
};
extern PointerTracking g_pointer_tracking;
std::string fgscreen_json();
