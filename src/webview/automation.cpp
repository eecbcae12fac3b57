// Automation: lets the engine's WebDriver server (WebKitWebDriver) drive the
// application itself. The driver starts the application with
// WEBKIT_INSPECTOR_SERVER set, connects to the engine's remote-inspector
// server and asks for an automation session; the engine emits
// "automation-started" on the web context only when automation is allowed.
//
// The session's first browsing context is the main window as the backend
// built it, bridge and backend live, so a test drives the real application
// rather than a blank view. Every web view is marked as controlled by
// automation, which makes secondary windows and popups WebDriver windows.
#include <cstdlib>
#include <cstring>

#include "core/app.h"
#include "core/gobj.h"
#include "webview/webview.h"
#include "windows/windows.h"

namespace {

bool g_automation_on = false;
bool g_automation_handed_main = false;

// The web view a new browsing context gets: the main window's the first
// time (or the first secondary window's in a windowless application).
// Later requests would need a window the backend never asked for, and with
// automation off every request is refused: the driver then reports that the
// session could not be created instead of waiting for ever.
WebKitWebView* on_create_web_view(WebKitAutomationSession*, gpointer) {
  if (!g_automation_on) {
    std::fputs("ovalis: automation is off; a WebDriver session was refused "
               "(OVALIS_AUTOMATION=1 allows it)\n", stderr);
    return nullptr;
  }
  if (g_automation_handed_main) {
    std::fputs("ovalis: automation: new windows come from the application; request refused\n",
               stderr);
    return nullptr;
  }
  WebKitWebView* view = g_wv;
  if (!view && !g_secwins.empty()) view = g_secwins.begin()->second->webview;
  if (!view) return nullptr;
  g_automation_handed_main = true;
  return view;
}

void on_automation_started(WebKitWebContext*, WebKitAutomationSession* session, gpointer) {
  // The driver reports this name and version as the session's browserName
  // and browserVersion.
  const char* name = g_get_prgname();
  WebKitApplicationInfo* info = webkit_application_info_new();
  webkit_application_info_set_name(info, name && *name ? name : "ovalis");
  guint64 v[3] = {0, 0, 0};
  const char* p = g_app_version.c_str();
  for (int i = 0; i < 3 && *p; ++i) {
    char* end = nullptr;
    v[i] = g_ascii_strtoull(p, &end, 10);
    if (end == p) break;
    p = *end == '.' ? end + 1 : end;
  }
  webkit_application_info_set_version(info, v[0], v[1], v[2]);
  webkit_automation_session_set_application_info(session, info);
  webkit_application_info_unref(info);
  g_automation_handed_main = false;
  g_signal_connect(session, "create-web-view", G_CALLBACK(on_create_web_view), nullptr);
}

// A driver closing a window's browsing context: the window goes as it goes
// when destroyed by the window manager. Popups close through their own
// handler already.
void on_driver_close(WebKitWebView* view, gpointer) {
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  if (GTK_IS_WINDOW(top)) gtk_widget_destroy(top);
}

}  // namespace

void automation_watch_view(WebKitWebView* view, bool popup) {
  if (g_automation_on && !popup) g_signal_connect(view, "close", G_CALLBACK(on_driver_close), nullptr);
}

bool automation_on() { return g_automation_on; }

void automation_install(bool enabled) {
  g_automation_on = enabled;
  // A driver that started the application sets WEBKIT_INSPECTOR_SERVER. Its
  // session request is only answered when the engine allows automation, so
  // with automation off the engine allows it all the same and the session
  // is refused above; no web view is ever controlled by it.
  const char* server = std::getenv("WEBKIT_INSPECTOR_SERVER");
  bool driven = server && *server;
  if (!enabled && !driven) return;
  WebKitWebContext* ctx = webkit_web_context_get_default();
  webkit_web_context_set_automation_allowed(ctx, TRUE);
  g_signal_connect(ctx, "automation-started", G_CALLBACK(on_automation_started), nullptr);
}
