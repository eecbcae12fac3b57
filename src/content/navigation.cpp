// Navigation policy: which responses and foreign-scheme navigations the
// backend is asked about, with a 400 ms deadline after which a fixed default
// applies, and hand-off to the desktop's default handler.
#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <map>
#include <string>

#include "content/content.h"
#include "content/content_text.h"
#include "content/nav_signals.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "windows/windows.h"

namespace {

struct NavPending {
  GObj<WebKitPolicyDecision> decision;
  std::string uri;
  bool foreign_scheme = false;
  // A response a frame would save as a download; only a yes saves it.
  bool frame_download = false;
};

std::map<std::string, NavPending> g_nav_pending;
long long g_nav_seq = 0;

constexpr guint kAnswerDeadlineMs = 400;

struct NavTimer {
  std::string id;
  int action;
};

gboolean on_nav_deadline(gpointer data) {
  auto* t = static_cast<NavTimer*>(data);
  nav_resolve(t->id, t->action);
  return G_SOURCE_REMOVE;
}

// Asks the backend and lets the deadline answer when it stays silent.
void ask(WebKitWebView* view, WebKitPolicyDecision* decision, const std::string& uri,
         bool foreign, int default_action, bool frame_download = false) {
  std::string id = "n" + std::to_string(++g_nav_seq);
  g_nav_pending[id] = NavPending{gobj_ref(decision), uri, foreign, frame_download};
  std::string line = "NAVQ " + id + " " + ovalis_winid_for_wv(view) + "\t" + uri + "\t" +
                     (frame_download ? "frame" : foreign ? "" : "main");
  pipe_write_line(line);
  g_timeout_add_full(G_PRIORITY_DEFAULT, kAnswerDeadlineMs, on_nav_deadline,
                     new NavTimer{id, default_action},
                     [](gpointer p) { delete static_cast<NavTimer*>(p); });
}

// Navigations the user started by a click, for a little while: a frame
// inside the page may start a download only that way.
std::map<std::string, gint64> g_gesture_uris;
constexpr gint64 kGestureUs = 10 * G_USEC_PER_SEC;
// Downloads frames may start: this many in this span.
std::deque<int64_t> g_frame_downloads;
constexpr size_t kFrameDownloadLimit = 3;
constexpr int64_t kFrameDownloadSpanUs = 10 * G_USEC_PER_SEC;

void note_gesture(WebKitNavigationAction* action) {
  if (!action || !webkit_navigation_action_is_user_gesture(action)) return;
  WebKitURIRequest* req = webkit_navigation_action_get_request(action);
  const char* u = req ? webkit_uri_request_get_uri(req) : nullptr;
  if (!u) return;
  gint64 now = g_get_monotonic_time();
  for (auto it = g_gesture_uris.begin(); it != g_gesture_uris.end();)
    it = it->second < now - kGestureUs ? g_gesture_uris.erase(it) : std::next(it);
  if (g_gesture_uris.size() < 64) g_gesture_uris[u] = now;
}

// Whether the user clicked what started this frame's navigation.
bool clicked(WebKitResponsePolicyDecision* rd) {
  WebKitURIRequest* req = webkit_response_policy_decision_get_request(rd);
  const char* u = req ? webkit_uri_request_get_uri(req) : nullptr;
  auto it = u ? g_gesture_uris.find(u) : g_gesture_uris.end();
  if (it == g_gesture_uris.end() || it->second < g_get_monotonic_time() - kGestureUs) return false;
  g_gesture_uris.erase(it);
  return true;
}

// Only a few frame downloads may start in a row, however they were allowed.
bool frame_download_fits() {
  bool ok = rate_allow(g_frame_downloads, g_get_monotonic_time(), kFrameDownloadLimit,
                       kFrameDownloadSpanUs);
  if (!ok && std::getenv("OVALIS_DEBUG"))
    std::fputs("ovalis: refused a download: too many from embedded frames\n", stderr);
  return ok;
}

bool decide_response(WebKitWebView* view, WebKitPolicyDecision* decision) {
  auto* rd = WEBKIT_RESPONSE_POLICY_DECISION(decision);
  // What the view cannot show is saved instead, in any frame.
  if (!webkit_response_policy_decision_is_mime_type_supported(rd)) {
    if (webkit_response_policy_decision_is_main_frame_main_resource(rd)) {
      webkit_policy_decision_download(decision);
      return true;
    }
    // A frame's download needs the user's click on what started it, or the
    // backend's yes to a "frame" question (silence refuses it).
    if (clicked(rd)) {
      if (frame_download_fits()) webkit_policy_decision_download(decision);
      else webkit_policy_decision_ignore(decision);
      return true;
    }
    WebKitURIResponse* resp = webkit_response_policy_decision_get_response(rd);
    const char* ru = resp ? webkit_uri_response_get_uri(resp) : nullptr;
    if (g_sock < 0 || !ru) webkit_policy_decision_ignore(decision);
    else ask(view, decision, ru, false, 1, true);
    return true;
  }
  if (!webkit_response_policy_decision_is_main_frame_main_resource(rd) || g_sock < 0)
    return false;
  WebKitURIResponse* resp = webkit_response_policy_decision_get_response(rd);
  const char* u = resp ? webkit_uri_response_get_uri(resp) : nullptr;
  std::string uri = u ? u : "";
  if (!g_str_has_prefix(uri.c_str(), "http://") && !g_str_has_prefix(uri.c_str(), "https://"))
    return false;
  ask(view, decision, uri, false, 0);
  return true;
}

bool decide_navigation(WebKitWebView* view, WebKitPolicyDecision* decision) {
  auto* nd = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(nd);
  note_gesture(action);
  WebKitURIRequest* req = action ? webkit_navigation_action_get_request(action) : nullptr;
  const char* u = req ? webkit_uri_request_get_uri(req) : nullptr;
  if (!u) return false;
  std::string scheme = uri_scheme(u);
  if (scheme.empty() || scheme_is_ours(scheme)) return false;
  // Without a backend nobody may allow a foreign scheme.
  if (g_sock < 0) {
    webkit_policy_decision_ignore(decision);
    return true;
  }
  ask(view, decision, u, true, 1);
  return true;
}

gboolean on_decide_policy(WebKitWebView* view, WebKitPolicyDecision* decision,
                          WebKitPolicyDecisionType type, gpointer) {
  switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: return FALSE;
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: return decide_response(view, decision);
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: return decide_navigation(view, decision);
    default: return FALSE;
  }
}

}  // namespace

void launch_default_for_uri(const std::string& uri) {
  GError* err = nullptr;
  g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &err);
  GErr owned(err);
}

void nav_resolve(const std::string& id, int action) {
  auto it = g_nav_pending.find(id);
  if (it == g_nav_pending.end()) return;
  NavPending p = std::move(it->second);
  g_nav_pending.erase(it);
  if (action == 2) launch_default_for_uri(p.uri);
  if (p.frame_download) {
    if (action == 0 && frame_download_fits()) webkit_policy_decision_download(p.decision.get());
    else webkit_policy_decision_ignore(p.decision.get());
    return;
  }
  // A foreign scheme is never loaded by the view, whatever the answer.
  if (action != 0 || p.foreign_scheme)
    webkit_policy_decision_ignore(p.decision.get());
  else
    webkit_policy_decision_use(p.decision.get());
}

void do_navr(std::string_view rest) {
  std::string_view id, verdict;
  if (!split_answer(rest, &id, &verdict)) return;
  nav_resolve(std::string(id), nav_action_for(verdict));
}

void nav_policy_setup_view(WebKitWebView* view) {
  g_signal_connect(view, "decide-policy", G_CALLBACK(on_decide_policy), nullptr);
  g_signal_connect(view, "create", G_CALLBACK(on_create_webview), nullptr);
  g_signal_connect(view, "script-dialog", G_CALLBACK(on_script_dialog), nullptr);
}
