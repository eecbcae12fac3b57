// Web views: construction, loading, the page bridge between page script and
// the backend, and the bridge's own commands.
#pragma once

#include <webkit2/webkit2.h>

#include <map>
#include <string>
#include <string_view>

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
};

extern std::map<std::string, CallToken, std::less<>> g_call_tokens;
extern std::map<std::string, std::string, std::less<>> g_win_token;
extern std::map<WebKitUserContentManager*, int> g_shared_ucms;

void assign_call_token(WebKitWebView* view, const std::string& window_id);
void reply_to_call(std::string_view call_id, long error, std::string_view json);
void eval_in(std::string_view window_id, const std::string& script);
void forget_window_token(std::string_view window_id);
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
