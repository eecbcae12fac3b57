// Web views: construction, loading, the page bridge between page script and
// the backend, and the bridge's own commands.
#pragma once

#include <webkit2/webkit2.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>

// ---- construction and loading ----

WebKitWebView* make_webview(const std::string& window_id, WebKitWebView* related_view);
void load_target_into(WebKitWebView* view, const std::string& target);
void inspector_open(WebKitWebView* view);

// Features above this one connect their signals to every new web view here;
// each function runs at the end of make_webview, in the order added.
using ViewSetup = void (*)(WebKitWebView* view);
void add_view_setup(ViewSetup fn);

// The shim text for a window; the id is embedded as a JSON string literal.
std::string shim_source(std::string_view window_id, bool frameless);

// Automation through the engine's WebDriver server: allowed or refused for
// the whole run, decided once before the first web view exists.
void automation_install(bool enabled);
bool automation_on();
// Lets the driver close the window of a view that is not a popup.
void automation_watch_view(WebKitWebView* view, bool popup);

// The embedded client script.
extern const char OVALIS_CLIENT_JS[];

// ---- bridge ----

struct CallToken {
  std::string window_id;
  std::string origin;
  // Seqs of this document's calls that still wait for an answer; answers
  // for any other seq, or after the document has gone, are dropped.
  std::unordered_set<uint64_t> pending;
  // The document's media-proxy key, once the document has told it.
  std::string proxy_key;
  // Until when (monotonic µs) the next new window counts as opened by this
  // document itself rather than by a frame inside it.
  gint64 open_mark_until = 0;
  // Likewise for the next script dialog.
  gint64 dialog_mark_until = 0;
};

extern std::map<std::string, CallToken, std::less<>> g_call_tokens;
extern std::map<std::string, std::string, std::less<>> g_win_token;
extern std::map<WebKitUserContentManager*, int> g_shared_ucms;

void assign_call_token(WebKitWebView* view, const std::string& window_id);
// Issues a token for a document that never committed a load of its own (a
// popup's first blank page), with the origin it inherited from its opener.
void assign_call_token(WebKitWebView* view, const std::string& window_id,
                       const std::string& origin);

// The origin of the document last committed in a view ("null" before any).
// A load that has started but not committed never counts.
std::string committed_origin(WebKitWebView* view);

// A view that must never get the bridge (a popup opened by an embedded
// frame): no token, and its untokened calls are dropped.
void mark_bridgeless(WebKitWebView* view);
bool is_bridgeless(WebKitWebView* view);

// True when the current document of the opener's window has just asked to
// open a window itself (window.open, or a link with a target, in its top
// frame); consumes the mark and gives that document's origin.
bool take_open_mark(WebKitWebView* opener, std::string* origin);

// True when the current document of the view's window has just opened a
// script dialog itself, not a frame inside it; consumes the mark.
bool take_dialog_mark(WebKitWebView* view);

// Points the web processes at launcher's extension, before the first view.
void web_extensions_install();

// The origin of the live document whose media-proxy key this is, and the
// window that shows it.
bool proxy_key_origin(std::string_view key, std::string* origin, std::string* window = nullptr);
void reply_to_call(std::string_view call_id, long error, std::string_view json);
// Answers and events gathered per window during a batch of backend lines,
// sent as one script each when the batch ends or before any other script.
void batch_resolve(std::string_view window_id, const std::string& guard, const std::string& call);
// False when the script is not a plain event or no batch is running; the
// caller then evaluates it itself.
bool batch_event(std::string_view window_id, const std::string& script);
void flush_page_batches();
void eval_in(std::string_view window_id, const std::string& script);
void forget_window_token(std::string_view window_id);
// Counts a popup's own content manager as shared for as long as the popup
// lives, so that untokened calls from it are dropped.
void share_popup_ucm(WebKitWebView* popup);
// Drops the token and the shared content manager of a window that went away.
void webview_window_gone(const std::string& id, GtkWidget* window);

// "scheme://host[:port]", "file://" or "null".
std::string origin_from_uri(const char* uri);

// Parses a posted message "<token>|<seq>:<payload>"; false when malformed.
struct PostedCall {
  std::string_view token, seq, payload;
};
bool parse_posted_call(std::string_view msg, PostedCall& out);

// "q<digits>" call ids answer the backend instead of a page.
bool is_backend_call_id(std::string_view call_id);

void on_script_message(WebKitUserContentManager* manager, WebKitJavascriptResult* result,
                       gpointer window_id);

// ---- commands ----

void do_ret(std::string_view rest);
void do_eval_all(std::string_view rest);
void do_eval(std::string_view win, std::string_view rest);
void do_reload();
