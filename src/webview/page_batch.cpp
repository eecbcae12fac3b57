// Answers and events for a page, gathered while the main loop works through
// a batch of backend lines and sent as one script per window when the batch
// ends. Each script evaluation crosses to the web process and is compiled
// there on its own; a burst of answers or events would otherwise pay that
// once for every line.
//
// Only what is known to be a plain call is gathered: an answer is a call of
// the page's resolver under the guard that the window still shows the
// calling document, and an event is gathered only when its line is exactly
// the event hub's call with JSON data, as the libraries write it. Any other
// script goes alone, after everything gathered before it.
#include <map>
#include <string>

#include "core/wire.h"
#include "webview/webview.h"
#include "windows/windows.h"

namespace {

struct PageBatch {
  std::string body;
  std::string open_guard;    // the guard whose block is still open, if any
  bool open_events = false;  // a list of events is still open

  // Closes whatever is open, so the next part can begin.
  void close() {
    if (!open_guard.empty()) body += '}';
    open_guard.clear();
    if (open_events) body += "]);";
    open_events = false;
  }
};
std::map<std::string, PageBatch, std::less<>> g_batches;
constexpr size_t kBatchBytes = 1 << 20;

void flush_window(const std::string& window_id) {
  auto it = g_batches.find(window_id);
  if (it == g_batches.end()) return;
  PageBatch b = std::move(it->second);
  g_batches.erase(it);
  WebKitWebView* v = wv_for(window_id);
  if (!v || b.body.empty()) return;
  b.close();
  // A function keeps the helpers' names out of the page's globals. Events
  // go to the hub one by one, and one that fails keeps no later one from it.
  std::string js;
  js.reserve(b.body.size() + 256);
  js += "(function(r,E){";
  js += b.body;
  js +=
      "})(window.__ovalisResolve,function(a){for(var i=0;i<a.length;i++){try{window.__emit&&"
      "window.__emit(a[i])}catch(x){(function(x){setTimeout(function(){throw x})})(x)}}})";
  webkit_web_view_evaluate_javascript(v, js.data(), static_cast<gssize>(js.size()), nullptr,
                                      nullptr, nullptr, nullptr, nullptr);
}

void settle(const std::string& window_id, PageBatch& b) {
  if (!wire_batching() || b.body.size() >= kBatchBytes) flush_window(window_id);
}

// The libraries' event line: window.__emit&&window.__emit({event:<JSON
// string>,data:<JSON>}). Strictly valid JSON makes the whole line one call
// expression, so it can run inside another script unchanged.
bool is_plain_event(std::string_view js) {
  constexpr std::string_view head = "window.__emit&&window.__emit({event:";
  constexpr std::string_view mid = ",data:";
  constexpr std::string_view tail = "})";
  if (js.substr(0, head.size()) != head || js.size() < head.size() + tail.size()) return false;
  size_t i = head.size();
  if (js[i] != '"') return false;
  i = json_value_end(js, i);
  if (i == std::string_view::npos || js.substr(i, mid.size()) != mid) return false;
  i = json_value_end(js, i + mid.size());
  if (i == std::string_view::npos || js.substr(i) != tail) return false;
  // Bytes that are not UTF-8 would spoil the whole joined script.
  return g_utf8_validate(js.data(), static_cast<gssize>(js.size()), nullptr);
}

}  // namespace

void batch_resolve(std::string_view window_id, const std::string& guard, const std::string& call) {
  std::string w(window_id);
  PageBatch& b = g_batches[w];
  if (b.open_guard != guard) {
    b.close();
    b.body += "if(";
    b.body += guard;
    b.body += "){";
    b.open_guard = guard;
  }
  b.body += call;
  settle(w, b);
}

bool batch_event(std::string_view window_id, const std::string& script) {
  if (!wire_batching() || !is_plain_event(script) || !wv_for(window_id)) return false;
  std::string w(window_id);
  PageBatch& b = g_batches[w];
  if (b.open_events) {
    b.body += ',';
  } else {
    b.close();
    b.body += "E([";
    b.open_events = true;
  }
  // The hub's argument: the line without the call around it.
  constexpr size_t head = sizeof("window.__emit&&window.__emit(") - 1;
  b.body.append(script, head, script.size() - head - 1);
  settle(w, b);
  return true;
}

void flush_page_batches() {
  while (!g_batches.empty()) flush_window(g_batches.begin()->first);
}
