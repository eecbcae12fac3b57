#include "core/app.h"

#include "core/wire.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string g_target;
std::string g_app_name = "ovalis";
int g_width = 960, g_height = 640;
std::string g_app_version = "0.0.0";
std::string g_app_id;
bool g_accessory = false;
bool g_windowless = false;
std::string g_downloads_mode;
std::string g_popup_mode;
bool g_defer_show = false;
bool g_quitting = false;
bool g_hide_on_close = false;
bool g_rescue_on = true;
ShutdownHooks g_shutdown_hooks;

int debug_mode() {
  static int mode = -1;
  if (mode < 0) {
    const char* v = std::getenv("OVALIS_DEBUG");
    if (!v || !*v) mode = 0;
    else if (std::strcmp(v, "open") == 0) mode = 2;
    else mode = 1;
  }
  return mode;
}

void app_quit() {
  g_quitting = true;
  if (gtk_main_level() > 0) gtk_main_quit();
}

void app_shutdown() {
  for (void (*stop)() : {g_shutdown_hooks.eq_stop, g_shutdown_hooks.tap_stop,
                         g_shutdown_hooks.smp_stop, g_shutdown_hooks.remove_tray,
                         g_shutdown_hooks.blob_stop}) {
    if (stop) stop();
  }
  wire_flush();
  std::fflush(stdout);
  std::fflush(stderr);
  // No static destructors, no join of the reader thread that is still
  // blocked on the socket.
  _exit(0);
}
