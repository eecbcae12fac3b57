// Pointer tracking: the screen-cast portal dialogue that yields a PipeWire
// stream with the cursor as metadata, the replies to the queued requests,
// and the hooks through which the pointer query reads the tracked position.
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "core/dispatch.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "input/input.h"
#include "input/mousetrack.h"
#include "input/portal.h"
#include "windows/windows.h"

namespace {

constexpr const char* kScIface = "org.freedesktop.portal.ScreenCast";

struct MtCalib {
  int dx = 0, dy = 0;
  bool valid = false;
};

std::string g_mt_token;
std::string g_mt_session;
std::vector<std::string> g_mt_qids;
bool g_mt_starting = false;
// Bumped by every stop, so answers of a dialogue that was abandoned are dropped.
unsigned g_mt_generation = 0;
std::map<std::string, MtCalib, std::less<>> g_mt_calib;

bool plain_x11() { return on_x11() && !std::getenv("WAYLAND_DISPLAY"); }

std::string mt_success_json() {
  return "{\"ok\":true,\"restoreToken\":" +
         (g_mt_token.empty() ? std::string("null") : json_escape(g_mt_token)) + "}";
}

void close_portal_session(const std::string& path) {
  GDBusConnection* bus = session_bus();
  if (!bus || path.empty() || !g_variant_is_object_path(path.c_str())) return;
  g_dbus_connection_call(bus, kPortalBus, path.c_str(), "org.freedesktop.portal.Session", "Close",
                         nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr,
                         nullptr);
}

void mt_close_session() {
  close_portal_session(g_mt_session);
  g_mt_session.clear();
}

void mt_reply_all(const std::string& json) {
  g_mt_starting = false;
  std::vector<std::string> keys;
  keys.swap(g_mt_qids);
  for (const std::string& k : keys) send_got(k, json);
}

void mt_fail_all(const char* code, const std::string& message) {
  // A session the dialogue got part way through is of no use to anyone.
  mt_close_session();
  mt_reply_all(std::string("{\"ok\":false,\"code\":\"") + code +
               "\",\"message\":" + json_escape(message) + "}");
}

// Each step of the dialogue runs only while no stop came in between.
template <class F>
auto current(F step) {
  return [gen = g_mt_generation, step](guint32 code, GVariant* results) {
    if (gen == g_mt_generation) step(code, results);
  };
}

void on_call_failed(const std::string& msg) { mt_fail_all("failed", msg); }

std::function<void(const std::string&)> failure_of_this_start() {
  return [gen = g_mt_generation](const std::string& msg) {
    if (gen == g_mt_generation) on_call_failed(msg);
  };
}

GVariantBuilder* new_options(const std::string& token) {
  GVariantBuilder* b = g_variant_builder_new(G_VARIANT_TYPE_VARDICT);
  portal_add_token(b, token);
  return b;
}

bool read_pair(GVariant* props, const char* key, std::atomic<int>& a, std::atomic<int>& b) {
  GVar v(g_variant_lookup_value(props, key, G_VARIANT_TYPE("(ii)")));
  if (!v) return false;
  gint32 x = 0, y = 0;
  g_variant_get(v.get(), "(ii)", &x, &y);
  a.exchange(x);
  b.exchange(y);
  return true;
}

void on_started(guint32 code, GVariant* results) {
  if (code != 0) return mt_fail_all("denied", "screen share not granted");
  GVar streams(g_variant_lookup_value(results, "streams", G_VARIANT_TYPE("a(ua{sv})")));
  if (!streams || g_variant_n_children(streams.get()) == 0)
    return mt_fail_all("failed", "no stream in portal response");
  guint32 node = 0;
  GVariant* props_raw = nullptr;
  g_variant_get_child(streams.get(), 0, "(u@a{sv})", &node, &props_raw);
  GVar props(props_raw);
  g_mt_off_x.exchange(0);
  g_mt_off_y.exchange(0);
  g_mt_log_w.exchange(0);
  g_mt_log_h.exchange(0);
  read_pair(props.get(), "position", g_mt_off_x, g_mt_off_y);
  read_pair(props.get(), "size", g_mt_log_w, g_mt_log_h);
  const char* token = nullptr;
  if (g_variant_lookup(results, "restore_token", "&s", &token) && token) g_mt_token = token;

  GDBusConnection* bus = session_bus();
  GError* raw = nullptr;
  GUnixFDList* fds_raw = nullptr;
  wire_flush();  // the bus call below blocks
  GVar reply(g_dbus_connection_call_with_unix_fd_list_sync(
      bus, kPortalBus, kPortalPath, kScIface, "OpenPipeWireRemote",
      g_variant_new("(oa{sv})", g_mt_session.c_str(), nullptr), G_VARIANT_TYPE("(h)"),
      G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &fds_raw, nullptr, &raw));
  GErr err(raw);
  GObj<GUnixFDList> fds(fds_raw);
  if (!reply)
    return mt_fail_all("failed", err && err->message && *err->message ? err->message
                                                                       : "OpenPipeWireRemote failed");
  gint32 index = -1;
  g_variant_get(reply.get(), "(h)", &index);
  int fd = -1;
  if (fds && index >= 0 && index < g_unix_fd_list_get_length(fds.get()))
    fd = g_unix_fd_list_get(fds.get(), index, nullptr);
  if (fd < 0) return mt_fail_all("failed", "no PipeWire fd in portal reply");
  g_mt_buf_w.exchange(0);
  g_mt_buf_h.exchange(0);
  if (!mt_pw_connect(fd, node)) return mt_fail_all("failed", "PipeWire connect failed");
  g_mt_active.exchange(true);
  mt_reply_all(mt_success_json());
}

void on_sources_selected(guint32 code, GVariant*) {
  if (code != 0) return mt_fail_all("denied", "source selection refused");
  GDBusConnection* bus = session_bus();
  std::string token;
  std::string path = portal_sender_token(bus, "ovmtg", &token);
  guint wait = portal_await_any(bus, path, current(on_started));
  GVariantBuilder* options = new_options(token);
  // The user picks a monitor meanwhile, hence the long time-out.
  portal_call(bus, kScIface, "Start",
              g_variant_new("(osa{sv})", g_mt_session.c_str(), "", options), 120000, wait,
              failure_of_this_start());
  g_variant_builder_unref(options);
}

void on_created(const std::string& restore, guint32 code, GVariant* results) {
  if (code != 0) return mt_fail_all("denied", "screen-cast session refused");
  std::string handle = portal_session_handle(results);
  if (handle.empty() || !g_variant_is_object_path(handle.c_str()))
    return mt_fail_all("failed", "portal returned no session");
  g_mt_session = handle;
  GDBusConnection* bus = session_bus();
  std::string token;
  std::string path = portal_sender_token(bus, "ovmts", &token);
  guint wait = portal_await_any(bus, path, current(on_sources_selected));
  GVariantBuilder* options = new_options(token);
  g_variant_builder_add(options, "{sv}", "types", g_variant_new_uint32(1));
  g_variant_builder_add(options, "{sv}", "multiple", g_variant_new_boolean(FALSE));
  g_variant_builder_add(options, "{sv}", "cursor_mode", g_variant_new_uint32(4));
  g_variant_builder_add(options, "{sv}", "persist_mode", g_variant_new_uint32(2));
  if (!restore.empty())
    g_variant_builder_add(options, "{sv}", "restore_token", g_variant_new_string(restore.c_str()));
  portal_call(bus, kScIface, "SelectSources",
              g_variant_new("(oa{sv})", g_mt_session.c_str(), options), 30000, wait,
              failure_of_this_start());
  g_variant_builder_unref(options);
}

// ---- the pointer query's view of tracking ----

bool tracked_position(int* x, int* y) {
  if (!g_mt_active.load() || !g_mt_have.load()) return false;
  *x = g_mt_px.load();
  *y = g_mt_py.load();
  return true;
}

void calibrate(const std::string& window, int dx, int dy) { g_mt_calib[window] = {dx, dy, true}; }

bool calibration(const std::string& window, int* dx, int* dy) {
  auto it = g_mt_calib.find(window);
  if (it == g_mt_calib.end() || !it->second.valid) return false;
  *dx = it->second.dx;
  *dy = it->second.dy;
  return true;
}

void forget_window(const std::string& id, GtkWidget*) { g_mt_calib.erase(id); }

}  // namespace

void mt_start(std::string_view key, std::string_view payload) {
  if (plain_x11()) return send_got(key, "{\"ok\":true,\"restoreToken\":null}");
  if (g_mt_active.load()) return send_got(key, mt_success_json());
  g_mt_qids.emplace_back(key);
  if (g_mt_starting) return;
  g_mt_starting = true;
  GDBusConnection* bus = session_bus();
  if (!bus) return mt_fail_all("failed", "no session bus");
  std::string session_token = "ovmt" + std::to_string(g_get_monotonic_time() % 1000000);
  std::string token;
  std::string path = portal_sender_token(bus, "ovmtc", &token);
  guint wait = portal_await_any(
      bus, path,
      [gen = g_mt_generation, restore = std::string(payload)](guint32 code, GVariant* results) {
        // A session that arrives after a stop is closed at once.
        if (gen != g_mt_generation) {
          if (code == 0) close_portal_session(portal_session_handle(results));
          return;
        }
        on_created(restore, code, results);
      });
  GVariantBuilder* options = new_options(token);
  g_variant_builder_add(options, "{sv}", "session_handle_token",
                        g_variant_new_string(session_token.c_str()));
  portal_call(bus, kScIface, "CreateSession", g_variant_new("(a{sv})", options), 30000, wait,
              failure_of_this_start());
  g_variant_builder_unref(options);
}

void do_mousetrack_stop() {
  g_mt_active.exchange(false);
  g_mt_have.exchange(false);
  g_mt_calib.clear();
  mt_pw_teardown();
  // A dialogue still running is abandoned; whoever waits on it hears so.
  ++g_mt_generation;
  if (g_mt_starting) mt_fail_all("failed", "tracking stopped");
  mt_close_session();
}

void install_input_hooks() {
  g_pointer_tracking.position = tracked_position;
  g_pointer_tracking.calibrate = calibrate;
  g_pointer_tracking.calibration = calibration;
  add_window_gone_hook(forget_window);
}
