// Small application secrets in the desktop's Secret Service: one item per
// service and account in the default collection, sent over the bus as plain
// bytes (the "plain" algorithm: the session bus is the user's own).
#include <string>
#include <vector>

#include "core/dispatch.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "desktop/desktop.h"

namespace {

const char kSecrets[] = "org.freedesktop.secrets";
const char kServicePath[] = "/org/freedesktop/secrets";
const char kServiceIface[] = "org.freedesktop.Secret.Service";
const char kDefaultCollection[] = "/org/freedesktop/secrets/aliases/default";
const int kTimeoutMs = 3000;

// Opened on first use and kept: every item call names it.
std::string g_secret_session;

GVariant* secret_attrs(const std::string& service, const std::string& account) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a{ss}"));
  g_variant_builder_add(&b, "{ss}", "service", service.c_str());
  g_variant_builder_add(&b, "{ss}", "account", account.c_str());
  return g_variant_builder_end(&b);
}

bool open_session(GDBusConnection* bus) {
  if (!g_secret_session.empty()) return true;
  GVar r(bus_call_sync(bus, kSecrets, kServicePath, kServiceIface, "OpenSession",
                       g_variant_new("(sv)", "plain", g_variant_new_string("")),
                       G_VARIANT_TYPE("(vo)"), G_DBUS_CALL_FLAGS_NONE, kTimeoutMs,
                       nullptr, nullptr));
  if (!r) return false;
  GVar path(g_variant_get_child_value(r.get(), 1));
  g_secret_session = g_variant_get_string(path.get(), nullptr);
  return !g_secret_session.empty();
}

// Unlocked items only: locked ones would need an unlock prompt.
std::vector<std::string> secret_search(GDBusConnection* bus, const std::string& service,
                                       const std::string& account) {
  std::vector<std::string> found;
  GVar r(bus_call_sync(
      bus, kSecrets, kServicePath, kServiceIface, "SearchItems",
      g_variant_new("(@a{ss})", secret_attrs(service, account)), G_VARIANT_TYPE("(aoao)"),
      G_DBUS_CALL_FLAGS_NONE, kTimeoutMs, nullptr, nullptr));
  if (!r) return found;
  GVar unlocked(g_variant_get_child_value(r.get(), 0));
  GVariantIter it;
  g_variant_iter_init(&it, unlocked.get());
  const char* path = nullptr;
  while (g_variant_iter_next(&it, "&o", &path)) found.emplace_back(path);
  return found;
}

// The service's own words, without the D-Bus error name GIO puts in front.
std::string error_json(const GError* err) {
  std::string msg;
  if (err) {
    GErr copy(g_error_copy(err));
    g_dbus_error_strip_remote_error(copy.get());
    if (copy->message) msg = copy->message;
  }
  if (msg.empty()) msg = "keychain error";
  return "{\"ok\":false,\"error\":" + json_escape(msg) + "}";
}

std::string secret_get(GDBusConnection* bus, const std::string& service,
                       const std::string& account) {
  std::vector<std::string> items = secret_search(bus, service, account);
  if (items.empty()) return "{\"ok\":true,\"value\":null}";
  const char* one[] = {items.front().c_str(), nullptr};
  GError* raw = nullptr;
  GVar r(bus_call_sync(
      bus, kSecrets, kServicePath, kServiceIface, "GetSecrets",
      g_variant_new("(^aoo)", one, g_secret_session.c_str()),
      G_VARIANT_TYPE("(a{o(oayays)})"), G_DBUS_CALL_FLAGS_NONE, kTimeoutMs, nullptr, &raw));
  GErr err(raw);
  if (!r) return error_json(err.get());
  GVar map(g_variant_get_child_value(r.get(), 0));
  if (g_variant_n_children(map.get()) == 0) return error_json(nullptr);
  GVar entry(g_variant_get_child_value(map.get(), 0));      // {o(oayays)}
  GVar secret(g_variant_get_child_value(entry.get(), 1));   // (oayays)
  GVar value(g_variant_get_child_value(secret.get(), 2));   // ay
  gsize n = 0;
  const void* bytes = g_variant_get_fixed_array(value.get(), &n, 1);
  std::string text(static_cast<const char*>(bytes), n);
  return "{\"ok\":true,\"value\":" + json_escape(text) + "}";
}

std::string secret_set(GDBusConnection* bus, const std::string& service,
                       const std::string& account, const std::string& value) {
  std::string label = service + "/" + account;
  GVariantBuilder props;
  g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&props, "{sv}", "org.freedesktop.Secret.Item.Label",
                        g_variant_new_string(label.c_str()));
  g_variant_builder_add(&props, "{sv}", "org.freedesktop.Secret.Item.Attributes",
                        secret_attrs(service, account));
  GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, value.data(), value.size(), 1);
  GVariant* secret = g_variant_new("(o@ay@ays)", g_secret_session.c_str(),
                                   g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
                                   bytes, "text/plain");
  GError* raw = nullptr;
  GVar r(bus_call_sync(
      bus, kSecrets, kDefaultCollection, "org.freedesktop.Secret.Collection", "CreateItem",
      g_variant_new("(a{sv}@(oayays)b)", &props, secret, TRUE), G_VARIANT_TYPE("(oo)"),
      G_DBUS_CALL_FLAGS_NONE, kTimeoutMs, nullptr, &raw));
  GErr err(raw);
  if (!r) return error_json(err.get());
  // A locked collection answers with no item and a prompt instead: nothing
  // was stored, so saying so beats a success the next "get" contradicts.
  const char* item = nullptr;
  g_variant_get(r.get(), "(&o&o)", &item, nullptr);
  if (g_strcmp0(item, "/") == 0) return error_json(nullptr);
  return "{\"ok\":true}";
}

std::string secret_delete(GDBusConnection* bus, const std::string& service,
                          const std::string& account) {
  for (const std::string& path : secret_search(bus, service, account)) {
    GVar r(bus_call_sync(bus, kSecrets, path.c_str(), "org.freedesktop.Secret.Item",
                         "Delete", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE,
                         kTimeoutMs, nullptr, nullptr));
  }
  return "{\"ok\":true}";
}

}  // namespace

void do_secret(std::string_view id, std::string_view rest) {
  std::vector<std::string> f = split_tabs(rest);
  std::string op = tab_field(f, 0);
  std::string service = wire_unescape(tab_field(f, 1));
  std::string account = wire_unescape(tab_field(f, 2));
  std::string value = wire_unescape(tab_field(f, 3));

  GDBusConnection* bus = session_bus();
  if (!bus || !open_session(bus)) {
    send_got(id, "{\"ok\":false,\"error\":\"no secret service\"}");
    return;
  }
  if (op == "get") send_got(id, secret_get(bus, service, account));
  else if (op == "set") send_got(id, secret_set(bus, service, account, value));
  else if (op == "del") send_got(id, secret_delete(bus, service, account));
  else send_got(id, "{\"ok\":false,\"error\":\"bad secret op\"}");
}
