// The page bridge: the shim each page gets, call tokens that attribute page
// calls to the window they really came from, "CALL" lines out and answers in.
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
  WebKitWebView* v = wv_for(window_id);
  if (!v) return;
  webkit_web_view_evaluate_javascript(v, script.data(), static_cast<gssize>(script.size()),
                                      nullptr, nullptr, nullptr, nullptr, nullptr);
}

void forget_window_token(std::string_view window_id) {
  auto it = g_win_token.find(window_id);
  if (it == g_win_token.end()) return;
  g_call_tokens.erase(it->second);
  g_win_token.erase(it);
}

void webview_window_gone(const std::string& id, GtkWidget*) {
  forget_window_token(id);
  SecWin* sw = secwin_for(id);
  if (!sw || !sw->shared_ucm) return;
  WebKitUserContentManager* ucm = sw->shared_ucm;
  auto share = g_shared_ucms.find(ucm);
  if (share != g_shared_ucms.end() && --share->second <= 0) g_shared_ucms.erase(share);
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

void assign_call_token(WebKitWebView* view, const std::string& window_id) {
  forget_window_token(window_id);
  GChars tok(g_uuid_string_random());
  if (!tok || !*tok) return;
  std::string token = tok.get();
  g_call_tokens[token] = CallToken{window_id, origin_from_uri(webkit_web_view_get_uri(view))};
  g_win_token[window_id] = token;
  std::string js = "window.__OVALIS_TOK=";
  json_escape_to(js, token);
  js += ";window.__OVALIS_WIN=";
  json_escape_to(js, window_id);
  js += ";window.__ovalisFlush&&window.__ovalisFlush()";
  webkit_web_view_evaluate_javascript(view, js.data(), static_cast<gssize>(js.size()), nullptr,
                                      nullptr, nullptr, nullptr, nullptr);
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
    win = it->second.window_id;
    origin = it->second.origin;
  } else {
    if (g_shared_ucms.count(manager)) {
      debug_note("ovalis: dropped an untokened call on a shared content manager\n");
      return;
    }
    if (g_win_token.count(std::string_view(bound_id))) {
      debug_note("ovalis: dropped an untokened call from a tokened window (a subframe)\n");
      return;
    }
    win = bound_id;
    WebKitWebView* v = wv_for(win);
    origin = origin_from_uri(v ? webkit_web_view_get_uri(v) : nullptr);
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
  pipe_write_line(line);
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
  // A leading zero would make the number a legacy octal literal in page script.
  while (seq.size() > 1 && seq[0] == '0') seq.remove_prefix(1);
  std::string js;
  js.reserve(json.size() + 48);
  js += "window.__ovalisResolve(";
  js += seq;
  js += error == 0 ? ",true," : ",false,";
  json_escape_to(js, json);
  js += ')';
  eval_in(win, js);
}
