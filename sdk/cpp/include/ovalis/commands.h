// Line builders for every command the launcher understands. Each function
// returns the wire line (without its line feed); free text is escaped where
// the launcher unescapes it and flattened to one line where it takes the text
// as it stands, so no argument can split a line or add a field.
//
// Requests take the request id the answer will carry ("GOT <id> <json>");
// `ovalis::Backend` picks ids and matches answers, so most code calls its
// methods instead of these.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ovalis/json.h"

namespace ovalis::line {

// ---- core ---------------------------------------------------------------
std::string eval(std::string_view window, std::string_view script);
std::string eval_all(std::string_view script);
std::string title(std::string_view window, std::string_view text);
std::string size(std::string_view window, int width, int height);
std::string get(std::string_view id, std::string_view key);
inline std::string quit() { return "QUIT"; }
inline std::string reload() { return "RELOAD"; }
// Offers a file to the page: "BLOB <id> <mode> <path>", mode "move" (the
// launcher takes the file and removes it) or "keep" (it only reads it).
// Empty when the id is not 1 to 64 of A-Z a-z 0-9 _ -, the mode is neither,
// or the path is not absolute.
std::string blob(std::string_view id, std::string_view mode, std::string_view path);

// ---- windows --------------------------------------------------------------
// Chrome fields; an unset field leaves the setting as it is.
struct Chrome {
  std::optional<bool> frame;
  std::string controls;  // "all", "none", or names: "close minimize maximize"
  std::optional<bool> transparent;
  std::string vibrancy;
  std::optional<bool> square;
  std::optional<bool> first_mouse;
  std::optional<bool> menubar;
};
struct WindowSpec {
  std::string id;  // not empty, not "main"; no blank, quote, backslash, '@' or ':'
  std::string target;  // URL or file path
  std::string title;
  int width = 0, height = 0;  // 0: the launcher's default
  Chrome chrome;
  std::optional<int> x, y;  // both or neither
  std::string parent;  // "main" or another window id
  bool show = true;
};
std::string winopen(const WindowSpec& w);
std::string winclose(std::string_view id);
std::string winop(std::string_view window, std::string_view op);
std::string chrome(std::string_view window, const Chrome& c);
std::string dragwin(std::string_view window);
std::string resizewin(std::string_view window, std::string_view edge);

// ---- menus ----------------------------------------------------------------
struct MenuItem {
  enum class Kind { Item, Submenu, Separator, Role } kind = Kind::Item;
  std::string id, label, accel, icon;
  bool checked = false, disabled = false;
  std::string role;  // Kind::Role: "standard", "undo", "copy", ...
  std::vector<MenuItem> children;  // Kind::Submenu

  static MenuItem item(std::string id, std::string label, std::string accel = {});
  static MenuItem sub(std::string id, std::string label, std::vector<MenuItem> children);
  static MenuItem separator();
  static MenuItem stock(std::string role);
};
struct Menu {
  std::string title;
  std::vector<MenuItem> items;
  // "edit": the stock Edit menu (title ignored). Its items are the stock
  // entries it shows (MenuItem::stock); without any it shows all of them.
  std::string role;
};
struct Tray {
  std::string title, icon, tooltip;
  bool click_item = false;  // adds an entry that reports "TRAYCLICK"
  std::vector<MenuItem> items;
};
// A menu bar for one window ("" for the application menu of every window).
std::vector<std::string> menubar(std::string_view window, const std::vector<Menu>& menus);
std::vector<std::string> tray(const Tray& t);
inline std::string tray_remove() { return "TRAYREMOVE"; }
std::vector<std::string> context_menu(const std::vector<MenuItem>& items);
inline std::string context_clear() { return "CTXCLEAR"; }
std::string context_suppress(bool on);
std::string menu_reset(std::string_view window);
// Unset parts stay as they are; window "" updates every window.
std::string menu_update(std::string_view window, std::string_view id,
                        std::optional<std::string> label, std::optional<bool> checked,
                        std::optional<bool> enabled);

// ---- web content ----------------------------------------------------------
// Dialogs answer the call id: a page's "<window>:<seq>" or "q<digits>" for
// the backend's own request.
std::string dlg(std::string_view call_id, std::string_view op,
                const std::vector<std::string>& fields);
std::string navr(std::string_view nav_id, std::string_view verdict);  // allow|deny|external
std::string popupr(std::string_view q_id, std::string_view verdict);
std::string find(std::string_view call_id, std::string_view text, bool forward, bool match_case);
std::string stopfind(std::string_view call_id);
std::string print(std::string_view window);
std::string pdf(std::string_view window, std::string_view id, std::string_view path);
std::string cookies(std::string_view id, std::string_view op, const std::vector<std::string>& fields);
std::string permission(std::string_view id, bool request, std::string_view name);

// ---- desktop --------------------------------------------------------------
struct ClipData {
  std::string text, html, image, fallback_text;  // image: path, ~/path, data: URL or base64
  std::vector<std::string> paths;
};
std::string clipwrite(const ClipData& d);
std::string clipwatch(int interval_ms);  // 0 stops watching
struct NotifyAction {
  std::string id, title;
};
std::string notify(std::string_view id, std::string_view title, std::string_view body,
                   std::string_view subtitle, bool sound, const std::vector<NotifyAction>& actions);
std::string power(std::string_view id, bool on, bool display, std::string_view reason);
std::string secret(std::string_view id, std::string_view op, std::string_view service,
                   std::string_view account, std::string_view value = {});
std::string shell(std::string_view id, std::string_view op, std::string_view target);
std::string login_get(std::string_view id);
std::string login_set(std::string_view id, bool enabled);
std::string badge(std::optional<long long> count);  // nullopt hides it
std::string progress(std::optional<double> value);  // nullopt clears it
inline std::string attention() { return "ATTENTION"; }
std::string appicon(std::string_view path);

// ---- audio ----------------------------------------------------------------
struct Filter {
  std::string type;  // "peaking", "lowshelf", ... or "linear"
  double freq = 0, q = 0, gain = 0;
  std::optional<double> gain_r;
};
std::string audio_filters(const std::vector<Filter>& chain);
std::string audio_filter_set(int index, double freq, double q, double gain);
std::string audio_balance(double v);
std::string sampler_load(std::string_view id, std::string_view name, std::string_view path);
std::string sampler_play(int voice, std::string_view name, double gain, double pan, double rate,
                         bool loop);
// Unset parts of a voice stay as they are.
std::string sampler_set(int voice, std::optional<double> gain, std::optional<double> pan,
                        std::optional<double> rate);
std::string sampler_stop(int voice);
inline std::string sampler_stop_all() { return "SAMPLER STOPALL"; }
std::string sampler_master(double v);
std::string sampler_unload(std::string_view name);
std::string audiotap(std::string_view id, bool app_scope, int interval_ms);
inline std::string audiotap_stop() { return "AUDIOTAP STOP"; }
std::string sound(std::string_view id, std::string_view name_or_path);
std::string say(std::string_view id, std::string_view text, std::string_view voice, double rate);
inline std::string saystop() { return "SAYSTOP"; }
std::string voices(std::string_view id);
struct NowPlaying {
  std::string title, artist, album;
  double duration = 0, elapsed = 0;
  bool playing = false;
};
std::string nowplaying(const NowPlaying& np);
inline std::string nowplaying_clear() { return "NOWPLAYING clear"; }

// ---- input ----------------------------------------------------------------
std::string hkreg(std::string_view id, std::string_view hotkey, std::string_view combo);
std::string hkunreg(std::string_view hotkey);
std::string keystroke(std::string_view id, std::string_view combo);
std::string mousetrack(std::string_view id, std::string_view restore_token);
inline std::string mousetrack_stop() { return "MOUSETRACK STOP"; }

// ---- capture and files ----------------------------------------------------
std::string capture(std::string_view id);
std::string pickcolor(std::string_view id);
std::string thumb(std::string_view id, std::string_view path, int size);
std::string spotlight(std::string_view id, std::string_view query);

// ---- requests this platform answers as unavailable -----------------------
// Portable backends may still send them; each gets its one answer.
std::string ocr(std::string_view id, std::string_view path);
std::string osa(std::string_view id, std::string_view script);
std::string record(std::string_view id, std::string_view op);
std::string winctrl(std::string_view id, std::string_view op);
std::string auth(std::string_view id, std::string_view reason);
std::string ai_available(std::string_view id);
std::string ai_generate(std::string_view id, const Json& request);

}  // namespace ovalis::line
