#include "input/portal.h"

#include "core/gobj.h"

namespace {

struct PortalWait {
  GDBusConnection* bus = nullptr;
  guint id = 0;
  bool every = false;
  std::function<void(guint32, GVariant*)> callback;
};

void on_response(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                 GVariant* params, gpointer data) {
  auto* w = static_cast<PortalWait*>(data);
  if (!w->callback) return;
  guint32 code = 2;
  GVar results;
  if (g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})"))) {
    GVariant* r = nullptr;
    g_variant_get(params, "(u@a{sv})", &code, &r);
    results.reset(r);
  } else {
    results.reset(g_variant_ref_sink(g_variant_new("a{sv}", nullptr)));
  }
  // One response per request. The record itself is freed later by GDBus,
  // but the callback is taken out first so it runs at most once.
  auto callback = std::move(w->callback);
  w->callback = nullptr;
  bool every = w->every;
  g_dbus_connection_signal_unsubscribe(w->bus, w->id);
  if (every || code == 0) callback(code, results.get());
}

guint await(GDBusConnection* bus, const std::string& path, bool every,
            std::function<void(guint32, GVariant*)> callback) {
  auto* w = new PortalWait{bus, 0, every, std::move(callback)};
  w->id = g_dbus_connection_signal_subscribe(
      bus, kPortalBus, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, on_response, w,
      [](gpointer p) { delete static_cast<PortalWait*>(p); });
  return w->id;
}

struct PendingCall {
  GDBusConnection* bus;
  guint wait_id;
  std::function<void(const std::string&)> on_error;
};

void on_call_done(GObject* src, GAsyncResult* res, gpointer data) {
  std::unique_ptr<PendingCall> call(static_cast<PendingCall*>(data));
  GError* raw = nullptr;
  GVar reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(src), res, &raw));
  GErr err(raw);
  if (!err) return;
  if (call->wait_id) g_dbus_connection_signal_unsubscribe(call->bus, call->wait_id);
  if (call->on_error) call->on_error(err->message ? err->message : "portal call failed");
}

}  // namespace

std::string portal_sender_token(GDBusConnection* bus, const char* prefix, std::string* token) {
  *token = std::string(prefix) + std::to_string(g_get_monotonic_time() % 1000000);
  const char* unique = g_dbus_connection_get_unique_name(bus);
  std::string sender = unique ? unique : "";
  if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
  for (char& c : sender)
    if (c == '.') c = '_';
  return "/org/freedesktop/portal/desktop/request/" + sender + "/" + *token;
}

guint portal_await_response(GDBusConnection* bus, const std::string& path,
                            std::function<void(GVariant* results)> callback) {
  return await(bus, path, false,
               [cb = std::move(callback)](guint32, GVariant* results) { cb(results); });
}

guint portal_await_any(GDBusConnection* bus, const std::string& path,
                       std::function<void(guint32 code, GVariant* results)> callback) {
  return await(bus, path, true, std::move(callback));
}

void portal_call(GDBusConnection* bus, const char* iface, const char* method, GVariant* args,
                 int timeout_ms, guint wait_id, std::function<void(const std::string&)> on_error) {
  g_dbus_connection_call(bus, kPortalBus, kPortalPath, iface, method, args,
                         G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, timeout_ms, nullptr,
                         on_call_done, new PendingCall{bus, wait_id, std::move(on_error)});
}

void portal_add_token(GVariantBuilder* options, const std::string& token) {
  g_variant_builder_add(options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
}

std::string portal_session_handle(GVariant* results) {
  GVar v(g_variant_lookup_value(results, "session_handle", nullptr));
  if (!v) return "";
  if (g_variant_is_of_type(v.get(), G_VARIANT_TYPE_STRING) ||
      g_variant_is_of_type(v.get(), G_VARIANT_TYPE_OBJECT_PATH))
    return g_variant_get_string(v.get(), nullptr);
  return "";
}
