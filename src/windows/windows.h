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
