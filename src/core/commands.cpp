#include "core/commands.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/dispatch.h"
#include "core/wire.h"
#include "webview/webview.h"
#include "windows/registry.h"

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
  if (g_wv) eval_in("main", js);
  for (auto& [id, sw] : g_secwins) eval_in(id, js);
}

void do_eval(std::string_view win, std::string_view rest) {
  if (!wv_for(win)) return;
  eval_in(win, wire_unescape(rest));
}

void do_title(std::string_view win, std::string_view rest) {
  GtkWidget* w = win_for(win);
  if (!w) return;
  std::string title(rest);
  gtk_window_set_title(GTK_WINDOW(w), title.c_str());
}

void do_size(std::string_view win, std::string_view rest) {
  std::string s(rest);
  int w = 0, h = 0;
  if (std::sscanf(s.c_str(), "%d %d", &w, &h) != 2) return;
  set_content_size(win, w, h);
}

void do_reload() {
  if (g_wv) {
    webkit_web_view_reload_bypass_cache(g_wv);
    return;
  }
  for (auto& [id, sw] : g_secwins)
    if (sw->webview) webkit_web_view_reload_bypass_cache(sw->webview);
}

void do_perm(std::string_view id, std::string_view name) {
  bool known = name == "accessibility" || name == "screen" || name == "notifications" ||
               name == "microphone" || name == "camera";
  send_got(id, known ? "{\"status\":\"granted\"}" : "{\"status\":\"unsupported\"}");
}
