// Opening files and addresses with the desktop's default applications,
// showing a file in the file manager, and moving files to the trash.
#include <gdk/gdk.h>
#include <gio/gio.h>

#include <string>

#include "core/dispatch.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "desktop/desktop.h"

namespace {

std::string shell_result(bool ok, const std::string& error) {
  if (ok) return "{\"ok\":true,\"error\":null}";
  return "{\"ok\":false,\"error\":" + json_escape(error) + "}";
}

bool path_exists(const std::string& path) {
  return !path.empty() && g_file_test(path.c_str(), G_FILE_TEST_EXISTS);
}

// The default application for a URI, started with the display's launch
// context so the desktop can show startup feedback and focus it.
bool launch_uri(const std::string& uri, std::string* error) {
  GObj<GAppLaunchContext> ctx;
  if (GdkDisplay* d = gdk_display_get_default())
    ctx.reset(G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(d)));
  GError* raw = nullptr;
  bool ok = g_app_info_launch_default_for_uri(uri.c_str(), ctx.get(), &raw);
  GErr err(raw);
  if (!ok && error)
    *error = err && err->message && *err->message ? err->message
                                                  : "no application registered for URL";
  return ok;
}

std::string file_uri(const std::string& path) {
  GChars uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
  return uri ? uri.get() : "";
}

std::string shell_open(const std::string& target) {
  std::string uri = target;
  if (!target.empty() && target[0] == '/') {
    if (!path_exists(target)) return shell_result(false, "no such file");
    uri = file_uri(target);
    if (uri.empty()) return shell_result(false, "bad path");
  }
  std::string error;
  bool ok = launch_uri(uri, &error);
  return shell_result(ok, error);
}

bool show_items(const std::string& uri) {
  GDBusConnection* bus = session_bus();
  if (!bus || uri.empty()) return false;
  const char* uris[] = {uri.c_str(), nullptr};
  GVar r(bus_call_sync(bus, "org.freedesktop.FileManager1",
                       "/org/freedesktop/FileManager1",
                       "org.freedesktop.FileManager1", "ShowItems",
                       g_variant_new("(^ass)", uris, ""), nullptr,
                       G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr));
  return r != nullptr;
}

std::string shell_reveal(const std::string& path) {
  if (!path_exists(path)) return shell_result(false, "no such file");
  if (show_items(file_uri(path))) return shell_result(true, "");
  // No file manager service: its folder, opened the ordinary way, is the
  // next best thing.
  GChars dir(g_path_get_dirname(path.c_str()));
  std::string dir_uri = file_uri(dir.get());
  bool ok = !dir_uri.empty() && launch_uri(dir_uri, nullptr);
  return shell_result(ok, "could not reveal");
}

std::string shell_trash(const std::string& path) {
  // GIO reads an empty path as the working folder; that is never what a
  // caller meant to throw away.
  if (path.empty()) return shell_result(false, "no such file");
  GObj<GFile> file(g_file_new_for_path(path.c_str()));
  GError* raw = nullptr;
  bool ok = g_file_trash(file.get(), nullptr, &raw);
  GErr err(raw);
  return shell_result(ok, err && err->message && *err->message ? err->message : "could not trash");
}

}  // namespace

void do_shell(std::string_view id, std::string_view rest) {
  std::vector<std::string> f = split_tabs(rest);
  std::string op = tab_field(f, 0);
  std::string target = wire_unescape(tab_field(f, 1));
  if (op == "open") send_got(id, shell_open(target));
  else if (op == "reveal") send_got(id, shell_reveal(target));
  else if (op == "trash") send_got(id, shell_trash(target));
  else send_got(id, shell_result(false, "unknown shell op"));
}
