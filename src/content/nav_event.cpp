#include <glib.h>

#include <cstring>

#include "content/content.h"
#include "core/wire.h"
#include "windows/windows.h"

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

namespace {

void on_load_changed(WebKitWebView* view, WebKitLoadEvent ev, gpointer) {
  const char* uri = webkit_web_view_get_uri(view);
  switch (ev) {
    case WEBKIT_LOAD_STARTED:
      nav_event(view, "start", uri);
      break;
    case WEBKIT_LOAD_REDIRECTED:
      break;
    case WEBKIT_LOAD_COMMITTED:
      nav_event(view, "commit", uri);
      break;
    case WEBKIT_LOAD_FINISHED: {
      std::string id = ovalis_winid_for_wv(view);
      const char* title = webkit_web_view_get_title(view);
      GtkWidget* w = win_for(id);
      if (g_str_has_prefix(id.c_str(), "popup") && title && *title && w)
        gtk_window_set_title(GTK_WINDOW(w), title);
      nav_event(view, "finish", uri);
      break;
    }
  }
}

gboolean on_load_failed(WebKitWebView* view, WebKitLoadEvent, const char* failing_uri,
                        GError* error, gpointer) {
  // Side effects of our own policy decisions and downloads, not failures.
  if (error && ((error->domain == WEBKIT_NETWORK_ERROR &&
                 error->code == WEBKIT_NETWORK_ERROR_CANCELLED) ||
                (error->domain == WEBKIT_POLICY_ERROR &&
                 error->code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
                (error->domain == WEBKIT_PLUGIN_ERROR &&
                 error->code == WEBKIT_PLUGIN_ERROR_WILL_HANDLE_LOAD)))
    return TRUE;
  nav_event(view, "fail", failing_uri, error ? error->message : "");
  return FALSE;
}

void on_web_process_terminated(WebKitWebView* view, WebKitWebProcessTerminationReason,
                               gpointer) {
  nav_event(view, "crash", webkit_web_view_get_uri(view));
}

}  // namespace

void nav_setup_view(WebKitWebView* view) {
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), nullptr);
  g_signal_connect(view, "load-failed", G_CALLBACK(on_load_failed), nullptr);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(on_web_process_terminated),
                   nullptr);
}
