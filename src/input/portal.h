// Requests to the desktop portal: every portal method answers with a request
// object whose "Response" signal carries the outcome later.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>

inline constexpr const char* kPortalBus = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";

// Fills *token with prefix and clock digits; returns the request path the
// portal will answer on.
std::string portal_sender_token(GDBusConnection* bus, const char* prefix, std::string* token);

// Waits for one Response on a request path. The callback runs once, with
// the results, only for response code 0. Returns the subscription id.
guint portal_await_response(GDBusConnection* bus, const std::string& path,
                            std::function<void(GVariant* results)> callback);

// The same for every response code.
guint portal_await_any(GDBusConnection* bus, const std::string& path,
                       std::function<void(guint32 code, GVariant* results)> callback);

// Calls a portal method asynchronously. When the call itself fails no
// Response will ever come: the wait is dropped and on_error (if any) gets
// the message.
void portal_call(GDBusConnection* bus, const char* iface, const char* method, GVariant* args,
                 int timeout_ms, guint wait_id, std::function<void(const std::string&)> on_error);

// A request's "handle_token" option, ready for an a{sv} builder.
void portal_add_token(GVariantBuilder* options, const std::string& token);

// The session handle in a CreateSession response; "" when there is none.
// Portals have sent it as a string and as an object path.
std::string portal_session_handle(GVariant* results);
