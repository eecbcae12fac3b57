#include <glib.h>

#include <cstring>

#include "content/content.h"
#include "core/wire.h"
#include "webview/webview.h"

void nav_event(WebKitWebView* view, const char* kind, const char* url, const char* error) {
  if (!url) url = "";
  // Only page loads the backend can act on are reported; internal schemes stay quiet.
  if (*url && !g_str_has_prefix(url, "http://") && !g_str_has_prefix(url, "https://") &&
      !g_str_has_prefix(url, "file://") && std::strcmp(url, "about:blank") != 0)
    return;
  std::string line = "NAV {\"window\":";
  json_escape_to(line, ovalis_winid_for_wv(view));
  line += ",\"kind\":";
  json_escape_to(line, kind);
  line += ",\"url\":";
  json_escape_to(line, url);
  if (error && *error) {
    line += ",\"error\":";
    json_escape_to(line, error);
  }
  line += '}';
  pipe_write_line(line);
}

std::string origin_from_uri(const char* uri) {
  if (!uri || !*uri) return "null";
  if (g_str_has_prefix(uri, "file://")) return "file://";
  GUri* u = g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr);
  if (!u) return "null";
  std::string out = "null";
  const char* scheme = g_uri_get_scheme(u);
  const char* host = g_uri_get_host(u);
  if (scheme && host && *host) {
    out = std::string(scheme) + "://" + host;
    int port = g_uri_get_port(u);
    bool dflt = (port == 80 && std::strcmp(scheme, "http") == 0) ||
                (port == 443 && std::strcmp(scheme, "https") == 0);
    if (port > 0 && !dflt) out += ":" + std::to_string(port);
  }
  g_uri_unref(u);
  return out;
}
