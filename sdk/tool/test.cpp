// ovalis test: runs the user's end-to-end tests against the application
// through the engine's WebDriver server. The driver starts the application
// itself (`ovalis run <dir>`) for every session the tests open, with
// automation allowed; the tests learn where the driver listens and what to
// ask for from two environment variables.
#include <gio/gio.h>
#include <glib.h>
#include <signal.h>

#include <string>

#include "ovalis/json.h"
#include "tool.h"

namespace tool {

const char* const kHelpTest =
    "Usage: ovalis test [dir] -- command [arguments...]\n"
    "\n"
    "Starts the engine's WebDriver server (WebKitWebDriver) and runs the test\n"
    "command against the application in dir (default: the current folder).\n"
    "Each WebDriver session the command opens starts the application with\n"
    "automation allowed; its first window is the application's main window,\n"
    "with the page API and the backend live. The driver stops when the\n"
    "command ends.\n"
    "\n"
    "The command finds, in its environment:\n"
    "  OVALIS_WEBDRIVER_URL           the driver's address, such as\n"
    "                                 http://127.0.0.1:4444\n"
    "  OVALIS_WEBDRIVER_CAPABILITIES  the capabilities to ask for, as JSON:\n"
    "                                 {\"webkitgtk:browserOptions\":{\"binary\":...,\"args\":[...]}}\n"
    "Send them as they are, without browserName: the driver reports the\n"
    "application's id as the browser name.\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this help and exit\n"
    "\n"
    "Environment:\n"
    "  OVALIS_WEBDRIVER  the driver program (default: WebKitWebDriver on PATH)\n"
    "\n"
    "Run it inside a desktop session; on a machine without one:\n"
    "  xvfb-run -a dbus-run-session -- ovalis test . -- python3 tests/ui.py\n"
    "\n"
    "Exit status: the command's own status; 1 when the driver cannot be\n"
    "started; 2 for bad usage or a bad ovalis.json.\n";

namespace {

// A port nobody listens on right now, for the driver to take.
guint16 free_port() {
  GSocket* s = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_DEFAULT, nullptr);
  if (!s) return 0;
  GInetAddress* lo = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  GSocketAddress* any = g_inet_socket_address_new(lo, 0);
  guint16 port = 0;
  if (g_socket_bind(s, any, FALSE, nullptr)) {
    if (GSocketAddress* bound = g_socket_get_local_address(s, nullptr)) {
      port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
      g_object_unref(bound);
    }
  }
  g_object_unref(any);
  g_object_unref(lo);
  g_socket_close(s, nullptr);
  g_object_unref(s);
  return port;
}

// Waits until the driver accepts connections, or gives up after 20 s or
// when it has exited.
bool wait_listening(GSubprocess* driver, guint16 port) {
  GSocketClient* client = g_socket_client_new();
  bool up = false;
  for (int i = 0; i < 200 && !up; ++i) {
    if (g_subprocess_get_if_exited(driver) || g_subprocess_get_if_signaled(driver)) break;
    GSocketConnection* c = g_socket_client_connect_to_host(client, "127.0.0.1", port, nullptr, nullptr);
    if (c) {
      up = true;
      g_object_unref(c);
    } else {
      g_usleep(100 * 1000);
    }
  }
  g_object_unref(client);
  return up;
}

void stop(GSubprocess* driver) {
  g_subprocess_send_signal(driver, SIGTERM);
  g_subprocess_wait(driver, nullptr, nullptr);
  g_object_unref(driver);
}

}  // namespace

int cmd_test(const Args& args) {
  std::string dir;
  Args command;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      command.assign(args.begin() + long(i) + 1, args.end());
      break;
    }
    if (a == "-h" || a == "--help") return g_print("%s", kHelpTest), kOk;
    if (a.starts_with("-")) return usage_error("test", "unknown option " + a);
    if (!dir.empty()) return usage_error("test", "more than one folder given");
    dir = a;
  }
  if (command.empty()) return usage_error("test", "no test command given (ovalis test [dir] -- command)");
  auto c = load("test", dir);
  if (!c) return kUsage;

  const char* env_driver = g_getenv("OVALIS_WEBDRIVER");
  std::string driver_prog = env_driver && *env_driver ? env_driver : "WebKitWebDriver";
  gchar* found = g_find_program_in_path(driver_prog.c_str());
  if (!found)
    return fail("test", driver_prog + " not found; install webkit2gtk-driver (Debian) or set OVALIS_WEBDRIVER");
  driver_prog = found;
  g_free(found);

  guint16 port = free_port();
  if (port == 0) return fail("test", "no free port for the WebDriver server");
  std::string port_arg = "--port=" + std::to_string(port);

  // The driver passes its environment on to the application it starts.
  GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE);
  for (auto& [k, v] : sdk_env()) g_subprocess_launcher_setenv(launcher, k.c_str(), v.c_str(), TRUE);
  g_subprocess_launcher_setenv(launcher, "OVALIS_AUTOMATION", "1", TRUE);
  GError* err = nullptr;
  GSubprocess* driver = g_subprocess_launcher_spawn(launcher, &err, driver_prog.c_str(), port_arg.c_str(),
                                                    nullptr);
  g_object_unref(launcher);
  if (!driver) {
    int st = fail("test", "cannot start " + driver_prog + ": " + err->message);
    g_error_free(err);
    return st;
  }
  if (!wait_listening(driver, port)) {
    stop(driver);
    return fail("test", driver_prog + " did not start listening on port " + std::to_string(port));
  }

  using ovalis::arr, ovalis::obj, ovalis::Json;
  std::string caps = ovalis::json_dump(obj({{"webkitgtk:browserOptions",
      obj({{"binary", self_exe()}, {"args", arr({Json("run"), Json(c->dir)})}})}}));
  Env env{{"OVALIS_WEBDRIVER_URL", "http://127.0.0.1:" + std::to_string(port)},
          {"OVALIS_WEBDRIVER_CAPABILITIES", caps}};
  int st = run_command("test", command, "", env);
  stop(driver);
  return st < 0 ? kFailed : st;
}

}  // namespace tool
