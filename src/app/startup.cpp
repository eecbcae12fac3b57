// The normal start, in its fixed order.
#include "app/root.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "audio/audio.h"
#include "content/content.h"
#include "core/app.h"
#include "core/wire.h"
#include "desktop/desktop.h"
#include "input/input.h"
#include "menus/menus.h"
#include "webview/webview.h"
#include "windows/windows.h"

namespace {

bool env_present(const char* name) { return std::getenv(name) != nullptr; }

std::string env_str(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

gboolean on_quit_signal(gpointer) {
  app_quit();
  return G_SOURCE_REMOVE;
}

int connect_backend(const char* path) {
  std::string error;
  g_sock = unix_connect(path, &error);
  if (g_sock < 0) {
    // System errors keep their perror form ("connect: ..."); our own
    // refusals say who refused.
    bool sys = error.rfind("connect: ", 0) == 0 || error.rfind("socket: ", 0) == 0;
    std::fprintf(stderr, "%s%s\n", sys ? "" : "ovalis: ", error.c_str());
    return 1;
  }
  return 0;
}

// Everything one feature takes from another is handed over here, before the
// first window or line exists.
void wire_features() {
  g_window_parts.make_page = [](const std::string& id) { return make_webview(id, nullptr); };
  g_window_parts.load_page = load_target_into;
  g_window_parts.open_inspector = inspector_open;
  g_window_parts.apply_menus = apply_menus;
  g_window_parts.tray_shown = tray_exists;
  add_window_gone_hook(webview_window_gone);
  add_window_gone_hook(menus_window_gone);
  add_view_setup(find_setup_view);
  add_view_setup(nav_setup_view);
  add_view_setup(nav_policy_setup_view);
  add_view_setup(permissions_setup_view);
  add_view_setup(blob_setup_view);
  add_window_gone_hook(blob_forget_window);
  add_window_gone_hook(find_window_gone);
  install_input_hooks();
  g_shutdown_hooks.remove_tray = remove_tray;
  g_shutdown_hooks.eq_stop = eq_stop;
  g_shutdown_hooks.smp_stop = smp_stop;
  g_shutdown_hooks.tap_stop = tap_stop;
  g_shutdown_hooks.blob_stop = blob_stop;
}

}  // namespace

void parse_size_arg(const char* s, int* w, int* h) {
  std::sscanf(s, "%dx%d", w, h);
}

int run_normal(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: launcher <html-file-or-url> <socket> [title] [WxH] [version]\n", stderr);
    return 1;
  }
  g_target = argv[1];
  const char* sock_path = argv[2];
  if (argc > 3) g_app_name = argv[3];
  if (argc > 4) parse_size_arg(argv[4], &g_width, &g_height);
  if (argc > 5) g_app_version = argv[5];

  g_app_id = env_str("OVALIS_APP_ID");
  g_accessory = env_str("OVALIS_ACTIVATION") == "accessory";
  g_windowless = env_str("OVALIS_NO_MAIN_WINDOW") == "1";
  g_set_prgname(!g_app_id.empty() ? g_app_id.c_str() : g_app_name.c_str());

  if (!env_present("DISPLAY") && !env_present("WAYLAND_DISPLAY")) {
    std::fputs(
        "ovalis: cannot create the webview window: no display (DISPLAY and WAYLAND_DISPLAY are "
        "both unset \u2014 headless environment?).\n"
        "ovalis: the app code is likely fine; run inside a desktop session or a virtual display "
        "(e.g. xvfb-run).\n",
        stderr);
    return 3;
  }
  // NVIDIA's driver and WebKit's Wayland compositing disagree about explicit
  // sync; the driver's switch must be set before any GL context exists.
  // Tests point the driver's version file elsewhere.
  const char* nv_version = std::getenv("OVALIS_TEST_NVIDIA_VERSION");
  if (!nv_version || !*nv_version) nv_version = "/proc/driver/nvidia/version";
  if (env_present("WAYLAND_DISPLAY") && access(nv_version, F_OK) == 0)
    setenv("__NV_DISABLE_EXPLICIT_SYNC", "1", 0);

  if (!gtk_init_check(&argc, &argv)) {
    const char* d = std::getenv("DISPLAY");
    if (!d) d = std::getenv("WAYLAND_DISPLAY");
    std::fprintf(stderr,
                 "ovalis: cannot create the webview window: GTK could not open display '%s'.\n"
                 "ovalis: the app code is likely fine; this environment cannot show windows.\n",
                 d ? d : "");
    return 3;
  }

  if (int rc = connect_backend(sock_path)) return rc;
  // The theme line leads the stream; lines written before it is known wait.
  wire_hold();
  automation_install(env_str("OVALIS_AUTOMATION") == "1");
  media_scheme_register();
  blob_scheme_register();
  web_extensions_install();
  wire_features();

  g_downloads_mode = env_str("OVALIS_DOWNLOADS");
  g_popup_mode = env_str("OVALIS_POPUPS");
  downloads_install();

  connect_monitor_signals();

  if (!g_windowless) build_main_window();

  install_clipboard_observer();
  install_system_observers();
  // The signal sources go in before the theme line: a backend may signal as
  // soon as it has seen that line, and must then get the clean quit path
  // rather than death by signal. They are dispatched only once the loop runs.
  g_unix_signal_add(SIGTERM, on_quit_signal, nullptr);
  g_unix_signal_add(SIGINT, on_quit_signal, nullptr);
  g_unix_signal_add(SIGHUP, on_quit_signal, nullptr);
  report_initial_theme();

  if (g_wv && debug_mode() == 2) inspector_open(g_wv);

  wire_set_batch_end(flush_page_batches);
  wire_start_reading(handle_line);

  gtk_main();
  app_shutdown();
}
