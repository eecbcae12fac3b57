// Start at login: an XDG autostart entry that starts the application's
// backend, the process that started us.
#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/app.h"
#include "core/dispatch.h"
#include "core/gobj.h"
#include "desktop/desktop.h"
#include "desktop/login_entry.h"

namespace {

const char kUnsupported[] = "{\"status\":\"unsupported\",\"ok\":false,\"error\":null}";
const char kEnabled[] = "{\"status\":\"enabled\",\"ok\":true,\"error\":null}";
const char kDisabled[] = "{\"status\":\"disabled\",\"ok\":true,\"error\":null}";
const char kWriteFailed[] = "{\"status\":\"disabled\",\"ok\":false,\"error\":\"write failed\"}";

// The backend's executable; empty when it cannot be read. The development
// runner is a shared tool, not the application, so it never gets an entry.
std::string backend_executable() {
  std::string link = "/proc/" + std::to_string(getppid()) + "/exe";
  GChars target(g_file_read_link(link.c_str(), nullptr));
  if (!target) return "";
  GChars base(g_path_get_basename(target.get()));
  if (std::string(base.get()) == "ovx") return "";
  return target.get();
}

std::string config_dir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "/tmp") + "/.config";
}

}  // namespace

void do_login(std::string_view id, std::string_view rest) {
  std::string cmd(rest.substr(0, rest.find('\t')));
  std::string exe = backend_executable();
  if (exe.empty()) {
    send_got(id, kUnsupported);
    return;
  }
  std::string dir = config_dir() + "/autostart";
  std::string file = dir + "/" + autostart_file_name(g_app_id);

  if (cmd == "get") {
    // lstat: a link to nothing is an entry too, and "set 0" removes it.
    GStatBuf st;
    send_got(id, g_lstat(file.c_str(), &st) == 0 ? kEnabled : kDisabled);
    return;
  }
  if (cmd.rfind("set ", 0) != 0) {
    send_got(id, kUnsupported);
    return;
  }
  if (cmd.size() > 4 && cmd[4] == '1') {
    std::string text = autostart_entry_text(g_app_name, exe);
    bool ok = g_mkdir_with_parents(dir.c_str(), 0755) == 0 &&
              g_file_set_contents(file.c_str(), text.data(), static_cast<gssize>(text.size()),
                                  nullptr);
    send_got(id, ok ? kEnabled : kWriteFailed);
    return;
  }
  g_remove(file.c_str());
  send_got(id, kDisabled);
}
