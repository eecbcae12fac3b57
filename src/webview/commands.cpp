// The bridge's commands: answers to page calls, script evaluation, reload.
#include <cstdlib>
#include <string>

#include "core/wire.h"
#include "webview/webview.h"
#include "windows/windows.h"

void do_ret(std::string_view rest) {
  size_t a = rest.find(' ');
  if (a == std::string_view::npos) return;
  size_t b = rest.find(' ', a + 1);
  if (b == std::string_view::npos) return;
  std::string flag(rest.substr(a + 1, b - a - 1));
  long error = std::strtol(flag.c_str(), nullptr, 10);
  reply_to_call(rest.substr(0, a), error, rest.substr(b + 1));
}

void do_eval_all(std::string_view rest) {
  std::string js = wire_unescape(rest);
  auto one = [&js](std::string_view id) {
    if (!batch_event(id, js)) eval_in(id, js);
  };
  if (g_wv) one("main");
  for (auto& [id, sw] : g_secwins) one(id);
}

void do_eval(std::string_view win, std::string_view rest) {
  if (!wv_for(win)) return;
  std::string js = wire_unescape(rest);
  if (!batch_event(win, js)) eval_in(win, js);
}

void do_reload() {
  if (g_wv) {
    webkit_web_view_reload_bypass_cache(g_wv);
    return;
  }
  for (auto& [id, sw] : g_secwins)
    if (sw->webview) webkit_web_view_reload_bypass_cache(sw->webview);
}
