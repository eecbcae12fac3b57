// Find in page with match counting and wrap-around stepping, and the print
// dialog. Find answers the page's own call, whose id the backend hands over.
#include <map>

#include "content/content.h"
#include "core/app.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "webview/webview.h"
#include "windows/windows.h"

namespace {

struct FindState {
  std::string call;
  std::string text;
  bool match_case = false;
  bool fresh = false;
  bool forward = true;
  int count = 0;
  int active = 0;
  bool signals_connected = false;
};

std::map<WebKitWebView*, FindState> g_find_state;

constexpr const char* kNotFound = "{\"found\":false,\"matches\":0,\"activeMatch\":0}";

std::string_view window_of_call(std::string_view callid) {
  size_t colon = callid.find(':');
  return colon == std::string_view::npos ? std::string_view("main") : callid.substr(0, colon);
}

void find_reply(FindState& st, bool found) {
  if (st.call.empty()) return;
  std::string call = std::move(st.call);
  st.call.clear();
  if (!found) return reply_to_call(call, 0, kNotFound);
  std::string json = "{\"found\":true,\"matches\":" + std::to_string(st.count) +
                     ",\"activeMatch\":" + std::to_string(st.active) + "}";
  reply_to_call(call, 0, json);
}

void on_found_text(WebKitFindController*, guint match_count, gpointer view) {
  auto it = g_find_state.find(static_cast<WebKitWebView*>(view));
  if (it == g_find_state.end()) return;
  FindState& st = it->second;
  if (st.fresh) {
    st.count = static_cast<int>(match_count);
    st.fresh = false;
    st.active = st.forward ? 1 : st.count;
  } else {
    int next = st.forward ? st.active + 1 : st.active - 1;
    st.active = next > st.count ? 1 : next > 0 ? next : st.count;
  }
  find_reply(st, true);
}

void on_failed_to_find(WebKitFindController*, gpointer view) {
  auto it = g_find_state.find(static_cast<WebKitWebView*>(view));
  if (it == g_find_state.end()) return;
  FindState& st = it->second;
  st.text.clear();
  st.count = 0;
  st.active = 0;
  find_reply(st, false);
}

void on_load_changed(WebKitWebView* view, WebKitLoadEvent ev, gpointer) {
  if (ev != WEBKIT_LOAD_COMMITTED) return;
  auto it = g_find_state.find(view);
  if (it == g_find_state.end()) return;
  it->second.text.clear();
  it->second.count = 0;
  it->second.active = 0;
  it->second.fresh = false;
}

}  // namespace

void do_find(std::string_view callid, const std::string& text, bool forward, bool match_case) {
  WebKitWebView* view = wv_for(window_of_call(callid));
  if (!view || text.empty()) return reply_to_call(callid, 0, kNotFound);
  WebKitFindController* fc = webkit_web_view_get_find_controller(view);
  FindState& st = g_find_state[view];
  if (!st.signals_connected) {
    g_signal_connect(fc, "found-text", G_CALLBACK(on_found_text), view);
    g_signal_connect(fc, "failed-to-find-text", G_CALLBACK(on_failed_to_find), view);
    st.signals_connected = true;
  }
  find_reply(st, false);  // a newer search supersedes a waiting one
  st.call = std::string(callid);
  st.forward = forward;
  if (st.text != text || st.match_case != match_case || st.count < 1) {
    st.text = text;
    st.match_case = match_case;
    st.fresh = true;
    guint32 opts = WEBKIT_FIND_OPTIONS_WRAP_AROUND;
    if (!match_case) opts |= WEBKIT_FIND_OPTIONS_CASE_INSENSITIVE;
    if (!forward) opts |= WEBKIT_FIND_OPTIONS_BACKWARDS;
    webkit_find_controller_search(fc, text.c_str(), opts, G_MAXUINT);
    return;
  }
  st.fresh = false;
  if (forward)
    webkit_find_controller_search_next(fc);
  else
    webkit_find_controller_search_previous(fc);
}

void do_find_line(std::string_view rest) {
  size_t sp = rest.find(' ');
  if (sp == std::string_view::npos) return;
  std::vector<std::string> f = split_tabs(rest.substr(sp + 1));
  do_find(rest.substr(0, sp), tab_field(f, 0), tab_field(f, 1) != "0", tab_field(f, 2) == "1");
}

void do_stopfind(std::string_view callid) {
  WebKitWebView* view = wv_for(window_of_call(callid));
  if (view) {
    webkit_find_controller_search_finish(webkit_web_view_get_find_controller(view));
    auto it = g_find_state.find(view);
    if (it != g_find_state.end()) {
      it->second.text.clear();
      it->second.count = 0;
    }
  }
  reply_to_call(callid, 0, "true");
}

void find_setup_view(WebKitWebView* view) {
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), nullptr);
}

void find_window_gone(const std::string& id, GtkWidget*) {
  if (WebKitWebView* view = wv_for(id)) g_find_state.erase(view);
}

namespace {

// The print dialog runs a modal loop of its own, which a quit does not end;
// once quitting, every dialog still open is closed so the program can end.
gboolean close_dialogs_on_quit(gpointer) {
  if (!g_quitting) return G_SOURCE_CONTINUE;
  GList* tops = gtk_window_list_toplevels();
  for (GList* l = tops; l; l = l->next)
    if (GTK_IS_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
      gtk_dialog_response(GTK_DIALOG(l->data), GTK_RESPONSE_DELETE_EVENT);
  g_list_free(tops);
  return G_SOURCE_REMOVE;
}

}  // namespace

void do_print(std::string_view window) {
  WebKitWebView* view = wv_for(window);
  if (!view) return;
  GObj<WebKitPrintOperation> op(webkit_print_operation_new(view));
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  guint watch = g_timeout_add(100, close_dialogs_on_quit, nullptr);
  webkit_print_operation_run_dialog(op.get(),
                                    GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr);
  if (g_main_context_find_source_by_id(nullptr, watch)) g_source_remove(watch);
}
