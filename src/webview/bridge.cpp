// The page bridge: the shim each page gets, call tokens that attribute page
// calls to the window they really came from, "CALL" lines out and answers in.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "core/gobj.h"
#include "core/wire.h"
#include "webview/webview.h"
#include "windows/windows.h"

std::map<std::string, CallToken, std::less<>> g_call_tokens;
std::map<std::string, std::string, std::less<>> g_win_token;
std::map<WebKitUserContentManager*, int> g_shared_ucms;

static const char kShimHead[] = R"JS((function () {
  if (window.__ovalisShim) return;
  window.__ovalisShim = true;
)JS";

static const char kShimBody[] = R"JS(
  var seq = 0, giveUp = false, queue = [], pending = new Map();
  // The native side reads messages as UTF-8, and a lone surrogate would cut
  // the text short there; make such text well-formed before it leaves.
  function wellFormed(t) {
    if (typeof t.isWellFormed === 'function') return t.isWellFormed() ? t : t.toWellFormed();
    return t.replace(/\p{Cs}/gu, '\uFFFD');
  }
  function post(s, payload) {
    var tok = window.__OVALIS_TOK || '';
    window.webkit.messageHandlers.ovalis.postMessage(tok + '|' + s + ':' + wellFormed(String(payload)));
  }
  window.__invoke = function (payload) {
    return new Promise(function (resolve, reject) {
      var s = ++seq;
      pending.set(s, { resolve: resolve, reject: reject });
      if (window.__OVALIS_TOK || giveUp) post(s, payload);
      else queue.push([s, payload]);
    });
  };
  window.__ovalisFlush = function () {
    var q = queue;
    queue = [];
    for (var i = 0; i < q.length; i++) post(q[i][0], q[i][1]);
  };
  window.__ovalisResolve = function (s, ok, text) {
    var p = pending.get(s);
    if (!p) return;
    pending.delete(s);
    var v = null;
    try { v = JSON.parse(text); } catch (e) { v = null; }
    (ok ? p.resolve : p.reject)(v);
  };
  setTimeout(function () { giveUp = true; window.__ovalisFlush(); }, 1500);
  // The key this document's proxied media addresses carry: the proxy serves
  // an address only for the document that made it, never for a frame that
  // the page embeds.
  var kb = new Uint8Array(16);
  crypto.getRandomValues(kb);
  Object.defineProperty(window, '__OVALIS_PKEY', {
    value: Array.from(kb, function (b) { return (b + 256).toString(16).slice(1); }).join('')
  });
  // Windows this document opens itself may have the bridge; windows that
  // an embedded frame opens may not. Seq 0 marks such notes, never a call.
  function note(word) {
    if (window.__OVALIS_TOK) window.webkit.messageHandlers.ovalis.postMessage(window.__OVALIS_TOK + '|0:' + word);
  }
  // Script dialogs name the page that shows them; those of embedded frames
  // must not borrow this document's name.
  ['alert', 'confirm', 'prompt'].forEach(function (m) {
    var real = window[m];
    window[m] = function () { note('dialog'); return real.apply(window, arguments); };
  });
  var realOpen = window.open;
  window.open = function () {
    note('open');
    try { return realOpen.apply(window, arguments); } finally { note('opened'); }
  };
  window.addEventListener('click', function (e) {
    if (e.defaultPrevented || !e.target || !e.target.closest) return;
    var a = e.target.closest('a[target],area[target]');
    if (a && !/^_(self|parent|top)$/i.test(a.target)) note('open');
  });
})();
)JS";

std::string shim_source(std::string_view window_id, bool frameless) {
  std::string s = kShimHead;
  // The id is the backend's choice; it goes in as a string literal so that
  // quotes, backslashes or line breaks in it can never end the literal.
  s += "  if (window.__OVALIS_WIN === undefined) window.__OVALIS_WIN = ";
  json_escape_to(s, window_id);
  s += ";\n  window.__OVALIS_FRAMELESS = ";
  s += frameless ? "true" : "false";
  s += ";";
  s += kShimBody;
  return s;
}

void eval_in(std::string_view window_id, const std::string& script) {
  // Answers and events made before this script reach the page before it.
  flush_page_batches();
  WebKitWebView* v = wv_for(window_id);
  if (!v) return;
  webkit_web_view_evaluate_javascript(v, script.data(), static_cast<gssize>(script.size()),
                                      nullptr, nullptr, nullptr, nullptr, nullptr);
}

namespace {

// Media-proxy keys of live documents, to their token.
std::unordered_map<std::string, std::string> g_proxy_keys;
// Calls that went out untokened, per window, from a document that had no
// token yet; they are answered only while the window still has none.
std::map<std::string, std::unordered_set<uint64_t>, std::less<>> g_untokened_pending;

// A document that never gets its answers cannot grow this without bound.
constexpr size_t kMaxPendingPerDocument = 65536;
// How long a document's "I am opening a window" note stays good.
constexpr gint64 kOpenMarkUs = 1000 * 1000;

uint64_t seq_value(std::string_view seq) {
  uint64_t v = 0;
  for (char c : seq) v = v * 10 + uint64_t(c - '0');
  return v;
}

void drop_token(const std::string& token) {
  auto it = g_call_tokens.find(token);
  if (it == g_call_tokens.end()) return;
  if (!it->second.proxy_key.empty()) g_proxy_keys.erase(it->second.proxy_key);
  g_call_tokens.erase(it);
}

}  // namespace

void forget_window_token(std::string_view window_id) {
  g_untokened_pending.erase(std::string(window_id));
  auto it = g_win_token.find(window_id);
  if (it == g_win_token.end()) return;
  drop_token(it->second);
  g_win_token.erase(it);
}

void mark_bridgeless(WebKitWebView* view) {
  g_object_set_data(G_OBJECT(view), "ovalis-no-bridge", GINT_TO_POINTER(1));
  // Nor does it read the clipboard from script.
  if (WebKitSettings* st = webkit_web_view_get_settings(view))
    webkit_settings_set_javascript_can_access_clipboard(st, FALSE);
}

bool is_bridgeless(WebKitWebView* view) {
  return view && g_object_get_data(G_OBJECT(view), "ovalis-no-bridge");
}

std::string committed_origin(WebKitWebView* view) {
  auto* o = view ? static_cast<const char*>(g_object_get_data(G_OBJECT(view), "ovalis-committed-origin"))
                 : nullptr;
  return o ? o : "null";
}

namespace {

// Takes one of the short-lived notes of the document a view shows: true
// when it was still good, and it is gone either way.
CallToken* take_mark(WebKitWebView* view, gint64 CallToken::*mark) {
  auto wt = g_win_token.find(ovalis_winid_for_wv(view));
  if (wt == g_win_token.end()) return nullptr;
  auto it = g_call_tokens.find(wt->second);
  if (it == g_call_tokens.end() || it->second.*mark <= g_get_monotonic_time()) return nullptr;
  it->second.*mark = 0;
  return &it->second;
}

}  // namespace

bool take_open_mark(WebKitWebView* opener, std::string* origin) {
  if (!opener || is_bridgeless(opener)) return false;
  CallToken* doc = take_mark(opener, &CallToken::open_mark_until);
  if (doc && origin) *origin = doc->origin;
  return doc != nullptr;
}

bool take_dialog_mark(WebKitWebView* view) {
  return take_mark(view, &CallToken::dialog_mark_until) != nullptr;
}

bool proxy_key_origin(std::string_view key, std::string* origin, std::string* window) {
  auto k = g_proxy_keys.find(std::string(key));
  if (k == g_proxy_keys.end()) return false;
  auto it = g_call_tokens.find(k->second);
  if (it == g_call_tokens.end()) return false;
  if (origin) *origin = it->second.origin;
  if (window) *window = it->second.window_id;
  return true;
}

void share_popup_ucm(WebKitWebView* popup) {
  WebKitUserContentManager* own = webkit_web_view_get_user_content_manager(popup);
  if (!own || g_object_get_data(G_OBJECT(popup), "ovalis-own-ucm")) return;
  ++g_shared_ucms[own];
  g_object_set_data_full(G_OBJECT(popup), "ovalis-own-ucm", g_object_ref(own), g_object_unref);
}

namespace {
void unshare(WebKitUserContentManager* ucm) {
  auto share = g_shared_ucms.find(ucm);
  if (share != g_shared_ucms.end() && --share->second <= 0) g_shared_ucms.erase(share);
}
}  // namespace

void webview_window_gone(const std::string& id, GtkWidget*) {
  forget_window_token(id);
  SecWin* sw = secwin_for(id);
  if (sw && sw->webview) {
    if (auto* own = static_cast<WebKitUserContentManager*>(
            g_object_get_data(G_OBJECT(sw->webview), "ovalis-own-ucm"))) {
      unshare(own);
      g_object_set_data(G_OBJECT(sw->webview), "ovalis-own-ucm", nullptr);
    }
  }
  if (!sw || !sw->shared_ucm) return;
  WebKitUserContentManager* ucm = sw->shared_ucm;
  unshare(ucm);
  GObj<WebKitUserContentManager> release(ucm);  // the record's share
  sw->shared_ucm = nullptr;
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

namespace {

// The token script's value is the document's proxy key; it belongs to the
// token only while that token is still the window's.
void on_token_delivered(GObject* source, GAsyncResult* res, gpointer data) {
  GChars token(static_cast<char*>(data));
  GError* raw = nullptr;
  JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &raw);
  GErr err(raw);
  if (!v) return;
  GObj<JSCValue> value(v);
  if (!jsc_value_is_string(v)) return;
  GChars key(jsc_value_to_string(v));
  auto it = g_call_tokens.find(token.get());
  if (!key || std::strlen(key.get()) != 32 || it == g_call_tokens.end()) return;
  for (const char* p = key.get(); *p; ++p)
    if (!g_ascii_isxdigit(*p)) return;
  if (!it->second.proxy_key.empty() || g_proxy_keys.count(key.get())) return;
  it->second.proxy_key = key.get();
  g_proxy_keys.emplace(key.get(), token.get());
}

}  // namespace

void assign_call_token(WebKitWebView* view, const std::string& window_id,
                       const std::string& origin) {
  forget_window_token(window_id);
  if (is_bridgeless(view)) return;
  GChars tok(g_uuid_string_random());
  if (!tok || !*tok) return;
  std::string token = tok.get();
  g_call_tokens[token] = CallToken{window_id, origin, {}, {}, 0, 0};
  g_win_token[window_id] = token;
  std::string js = "window.__OVALIS_TOK=";
  json_escape_to(js, token);
  js += ";window.__OVALIS_WIN=";
  json_escape_to(js, window_id);
  js += ";window.__ovalisFlush&&window.__ovalisFlush();window.__OVALIS_PKEY||null";
  webkit_web_view_evaluate_javascript(view, js.data(), static_cast<gssize>(js.size()), nullptr,
                                      nullptr, nullptr, on_token_delivered,
                                      g_strdup(token.c_str()));
}

void assign_call_token(WebKitWebView* view, const std::string& window_id) {
  // Called when a load commits: the view's address is now the document's own.
  const char* uri = webkit_web_view_get_uri(view);
  std::string origin = origin_from_uri(uri);
  // A popup's first blank page is its opener's document's, origin included;
  // any later blank page may have been made by anyone, so it gets "null".
  if (auto* inherited = static_cast<char*>(g_object_steal_data(G_OBJECT(view), "ovalis-opener-origin"))) {
    if (!uri || !*uri || std::strcmp(uri, "about:blank") == 0) origin = inherited;
    g_free(inherited);
  }
  g_object_set_data_full(G_OBJECT(view), "ovalis-committed-origin", g_strdup(origin.c_str()),
                         g_free);
  assign_call_token(view, window_id, origin);
}

bool parse_posted_call(std::string_view msg, PostedCall& out) {
  size_t bar = msg.find('|');
  if (bar == std::string_view::npos) return false;
  size_t colon = msg.find(':', bar + 1);
  if (colon == std::string_view::npos) return false;
  out.token = msg.substr(0, bar);
  out.seq = msg.substr(bar + 1, colon - bar - 1);
  out.payload = msg.substr(colon + 1);
  if (out.seq.empty() || out.seq.size() > 15) return false;
  for (char c : out.seq)
    if (c < '0' || c > '9') return false;
  return true;
}

static void debug_note(const char* msg) {
  if (std::getenv("OVALIS_DEBUG")) std::fputs(msg, stderr);
}

void on_script_message(WebKitUserContentManager* manager, WebKitJavascriptResult* result,
                       gpointer user_data) {
  const char* bound_id = static_cast<const char*>(user_data);
  GChars text(jsc_value_to_string(webkit_javascript_result_get_js_value(result)));
  if (!text) return;
  PostedCall pc;
  if (!parse_posted_call(text.get(), pc)) return;

  std::string win, origin;
  if (!pc.token.empty()) {
    auto it = g_call_tokens.find(pc.token);
    if (it == g_call_tokens.end()) return;
    if (pc.seq == "0") {
      // A note from the document itself, not a call.
      if (pc.payload == "open")
        it->second.open_mark_until = g_get_monotonic_time() + kOpenMarkUs;
      else if (pc.payload == "opened")
        it->second.open_mark_until = 0;
      else if (pc.payload == "dialog")
        it->second.dialog_mark_until = g_get_monotonic_time() + kOpenMarkUs;
      return;
    }
    win = it->second.window_id;
    origin = it->second.origin;
    if (it->second.pending.size() < kMaxPendingPerDocument)
      it->second.pending.insert(seq_value(pc.seq));
  } else {
    if (g_shared_ucms.count(manager)) {
      debug_note("ovalis: dropped an untokened call on a shared content manager\n");
      return;
    }
    if (g_win_token.count(std::string_view(bound_id))) {
      debug_note("ovalis: dropped an untokened call from a tokened window (a subframe)\n");
      return;
    }
    if (pc.seq == "0") return;
    win = bound_id;
    WebKitWebView* v = wv_for(win);
    if (is_bridgeless(v)) return;
    origin = committed_origin(v);
    auto& pend = g_untokened_pending[win];
    if (pend.size() < kMaxPendingPerDocument) pend.insert(seq_value(pc.seq));
  }

  std::string line;
  line.reserve(pc.payload.size() + win.size() + origin.size() + 32);
  line += "CALL ";
  line += win;
  line += ':';
  line += pc.seq;
  line += " [";
  json_escape_to(line, pc.payload);
  line += ',';
  json_escape_to(line, origin);
  line += ']';
  wire_defer_line(line);
}

bool is_backend_call_id(std::string_view id) {
  if (id.size() < 2 || id[0] != 'q') return false;
  for (char c : id.substr(1))
    if (c < '0' || c > '9') return false;
  return true;
}

void reply_to_call(std::string_view call_id, long error, std::string_view json) {
  if (is_backend_call_id(call_id)) {
    std::string line = "GOT ";
    line += call_id.substr(1);
    line += ' ';
    line += json;
    pipe_write_line(line);
    return;
  }
  size_t colon = call_id.find(':');
  if (colon == std::string_view::npos) return;
  std::string_view win = call_id.substr(0, colon);
  std::string_view seq = call_id.substr(colon + 1);
  if (seq.empty()) return;
  for (char c : seq)
    if (c < '0' || c > '9') return;
  // Only the document that made the call hears its answer: an answer for a
  // document that has gone, or for a call nobody made, is dropped.
  if (seq.size() > 15) return;
  uint64_t n = seq_value(seq);
  std::string guard;
  auto wt = g_win_token.find(win);
  if (wt != g_win_token.end()) {
    auto it = g_call_tokens.find(wt->second);
    if (it == g_call_tokens.end() || it->second.pending.erase(n) == 0) return;
    // The window may already show a newer document that the engine has not
    // reported yet; the answer then finds a different token there.
    guard = "window.__OVALIS_TOK===";
    json_escape_to(guard, wt->second);
  } else {
    auto up = g_untokened_pending.find(win);
    if (up == g_untokened_pending.end() || up->second.erase(n) == 0) return;
    guard = "window.__OVALIS_TOK===undefined";
  }
  // A leading zero would make the number a legacy octal literal in page script.
  while (seq.size() > 1 && seq[0] == '0') seq.remove_prefix(1);
  std::string call;
  call.reserve(json.size() + 48);
  call += "r(";
  call += seq;
  call += error == 0 ? ",true," : ",false,";
  json_escape_to(call, json);
  call += ");";
  batch_resolve(win, guard, call);
}

