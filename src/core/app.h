// Program-wide settings and the quit path.
#pragma once

#include <gtk/gtk.h>

#include <string>

extern std::string g_target;
extern std::string g_app_name;
extern int g_width, g_height;
extern std::string g_app_version;
extern std::string g_app_id;
extern bool g_accessory;
extern bool g_windowless;
extern std::string g_downloads_mode;
extern std::string g_popup_mode;
extern bool g_defer_show;
extern bool g_quitting;
extern bool g_hide_on_close;
extern bool g_rescue_on;

// 0 off, 1 developer extras, 2 developer extras and the inspector at start.
// Read from OVALIS_DEBUG once and cached.
int debug_mode();

// Sets g_quitting and leaves the main loop; shutdown follows.
void app_quit();

// Stop functions of features that hold desktop resources; each feature fills
// in its own slot when it is built in. Called once at shutdown, in this order.
struct ShutdownHooks {
  void (*eq_stop)() = nullptr;
  void (*tap_stop)() = nullptr;
  void (*smp_stop)() = nullptr;
  void (*remove_tray)() = nullptr;
  void (*blob_stop)() = nullptr;
};
extern ShutdownHooks g_shutdown_hooks;

// Runs the shutdown steps and ends the process with status 0.
[[noreturn]] void app_shutdown();
