// Every web view is made here, so all of them carry the same scripts,
// settings and signal handlers.
#include "webview/webview.h"

#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "core/app.h"
#include "core/gobj.h"
#include "menus/menus.h"
#include "windows/windows.h"

namespace {

void add_script(WebKitUserContentManager* ucm, const char* source) {
  WebKitUserScript* s = webkit_user_script_new(source, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
                                               nullptr, nullptr);
  webkit_user_content_manager_add_script(ucm, s);
  webkit_user_script_unref(s);
}

WebKitSettings* make_settings() {
  WebKitSettings* st = webkit_settings_new();
  webkit_settings_set_enable_developer_extras(st, debug_mode() != 0);
  webkit_settings_set_enable_webgl(st, TRUE);
  webkit_settings_set_javascript_can_access_clipboard(st, TRUE);
  webkit_settings_set_allow_file_access_from_file_urls(st, TRUE);
  webkit_settings_set_allow_universal_access_from_file_urls(st, TRUE);
  webkit_settings_set_enable_media_stream(st, TRUE);
  webkit_settings_set_enable_mediasource(st, TRUE);
  webkit_settings_set_javascript_can_open_windows_automatically(st, TRUE);
  const char* ua = std::getenv("OVALIS_UA");
  if (ua && *ua) webkit_settings_set_user_agent(st, ua);
  WebKitFeatureList* feats = webkit_settings_get_experimental_features();
  for (gsize i = 0, n = webkit_feature_list_get_length(feats); i < n; ++i) {
    WebKitFeature* f = webkit_feature_list_get(feats, i);
    const char* fid = webkit_feature_get_identifier(f);
    if (fid && (std::strcmp(fid, "WebGPUEnabled") == 0 || std::strcmp(fid, "WebGPU") == 0))
      webkit_settings_set_feature_enabled(st, f, TRUE);
  }
  webkit_feature_list_unref(feats);
  return st;
}

// Origins of the pages the backend itself has the windows load.
std::set<std::string, std::less<>> g_own_origins{"file://"};

// Script access to the clipboard reads whatever the user copied last, a
// password say, without asking; only the application's own top document
// keeps it. Frames inside it need the user's click to paste (this runs in
// every frame, before the frame's own script), and a view showing another
// site, or a popup that a frame opened, gets none at all.
const char kFrameClipboardGuard[] = R"JS((function () {
  if (window === window.top) return;
  var ua = navigator.userActivation;
  var active = function () { return !!(ua && ua.isActive); };
  var exec = Document.prototype.execCommand;
  Document.prototype.execCommand = function (cmd) {
    if (String(cmd).toLowerCase() === 'paste' && !active()) return false;
    return exec.apply(this, arguments);
  };
  var cb = navigator.clipboard;
  if (cb) ['read', 'readText'].forEach(function (m) {
    var f = cb[m];
    if (typeof f === 'function') cb[m] = function () {
      if (!active()) return Promise.reject(new DOMException('Clipboard read needs a user gesture', 'NotAllowedError'));
      return f.apply(cb, arguments);
    };
  });
})();
)JS";

void on_load_changed(WebKitWebView* view, WebKitLoadEvent ev, gpointer) {
  // A new document gets a new call token before anything else hears of it.
  if (ev != WEBKIT_LOAD_COMMITTED) return;
  assign_call_token(view, ovalis_winid_for_wv(view));
  bool own = !is_bridgeless(view) && g_own_origins.count(committed_origin(view));
  WebKitSettings* st = webkit_web_view_get_settings(view);
  if (st && bool(webkit_settings_get_javascript_can_access_clipboard(st)) != own)
    webkit_settings_set_javascript_can_access_clipboard(st, own);
}

std::vector<ViewSetup>& view_setups() {
  static std::vector<ViewSetup> fns;
  return fns;
}

gboolean inspector_detach_idle(gpointer data) {
  GObj<WebKitWebInspector> insp(static_cast<WebKitWebInspector*>(data));
  webkit_web_inspector_detach(insp.get());
  return G_SOURCE_REMOVE;
}

gboolean on_inspector_attach(WebKitWebInspector* insp, gpointer) {
  // The inspector always lives in a window of its own; undo a dock.
  g_idle_add(inspector_detach_idle, g_object_ref(insp));
  return FALSE;
}

gboolean on_debug_key(GtkWidget* w, GdkEventKey* ev, gpointer) {
  if (ev->keyval != GDK_KEY_F12) return FALSE;
  inspector_open(WEBKIT_WEB_VIEW(w));
  return TRUE;
}

}  // namespace

void inspector_open(WebKitWebView* view) {
  if (!view) return;
  WebKitWebInspector* insp = webkit_web_view_get_inspector(view);
  if (!g_object_get_data(G_OBJECT(insp), "ovalis-detach-wired")) {
    g_object_set_data(G_OBJECT(insp), "ovalis-detach-wired", GINT_TO_POINTER(1));
    g_signal_connect(insp, "attach", G_CALLBACK(on_inspector_attach), nullptr);
  }
  webkit_web_inspector_show(insp);
  webkit_web_inspector_detach(insp);
}

WebKitWebView* make_webview(const std::string& window_id, WebKitWebView* related_view) {
  GObj<WebKitUserContentManager> ucm(webkit_user_content_manager_new());

  GtkWidget* existing = win_for(window_id);
  bool frameless = existing && !gtk_window_get_decorated(GTK_WINDOW(existing));

  std::string shim = shim_source(window_id, frameless);
  add_script(ucm.get(), shim.c_str());
  add_script(ucm.get(), OVALIS_CLIENT_JS);
  WebKitUserScript* guard = webkit_user_script_new(
      kFrameClipboardGuard, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(ucm.get(), guard);
  webkit_user_script_unref(guard);
  const char* inject = std::getenv("OVALIS_INJECT");
  if (inject && *inject) add_script(ucm.get(), inject);

  g_signal_connect_data(ucm.get(), "script-message-received::ovalis",
                        G_CALLBACK(on_script_message), g_strdup(window_id.c_str()),
                        [](gpointer p, GClosure*) { g_free(p); }, GConnectFlags(0));
  webkit_user_content_manager_register_script_message_handler(ucm.get(), "ovalis");

  GObj<WebKitSettings> settings(make_settings());
  GObj<WebKitWebsitePolicies> policies(
      webkit_website_policies_new_with_policies("autoplay", WEBKIT_AUTOPLAY_ALLOW, nullptr));

  // Under automation every view is one the driver may see and drive.
  gboolean automated = automation_on() ? TRUE : FALSE;
  GtkWidget* w;
  if (related_view) {
    w = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", ucm.get(),
                                "settings", settings.get(), "website-policies", policies.get(),
                                "is-controlled-by-automation", automated,
                                "related-view", related_view, nullptr));
  } else {
    w = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", ucm.get(),
                                "settings", settings.get(), "website-policies", policies.get(),
                                "is-controlled-by-automation", automated, nullptr));
  }
  WebKitWebView* view = WEBKIT_WEB_VIEW(w);

  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), nullptr);
  g_signal_connect(view, "context-menu", G_CALLBACK(on_context_menu), nullptr);
  gtk_widget_add_events(w, GDK_BUTTON_PRESS_MASK);
  connect_drop_handlers(view);
  automation_watch_view(view, related_view != nullptr);
  if (debug_mode() != 0) {
    gtk_widget_add_events(w, GDK_KEY_PRESS_MASK);
    g_signal_connect(view, "key-press-event", G_CALLBACK(on_debug_key), nullptr);
  }
  for (ViewSetup fn : view_setups()) fn(view);
  return view;
}

void add_view_setup(ViewSetup fn) { view_setups().push_back(fn); }

void load_target_into(WebKitWebView* view, const std::string& target) {
  if (g_str_has_prefix(target.c_str(), "http://") || g_str_has_prefix(target.c_str(), "https://")) {
    g_own_origins.insert(origin_from_uri(target.c_str()));
    webkit_web_view_load_uri(view, target.c_str());
    return;
  }
  // Anything else must be an absolute file path; otherwise the view stays empty.
  GChars uri(g_filename_to_uri(target.c_str(), nullptr, nullptr));
  if (uri) webkit_web_view_load_uri(view, uri.get());
}
