// ovalis::Backend: the backend's end of the launcher link, on a GLib main
// loop. It makes a private socket, starts the launcher on a page, accepts
// its connection, and then
//   - routes page calls ("CALL") to handlers registered by method name;
//   - matches answers ("GOT <id>") to the requests and queries that asked
//     for them, as futures;
//   - hands every event line to handlers registered by keyword;
//   - offers one typed method per command family (ovalis/commands.h builds
//     the lines).
// Everything runs on the thread that runs the GLib default main context.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ovalis/commands.h"
#include "ovalis/config.h"
#include "ovalis/json.h"
#include "ovalis/wire.h"

namespace ovalis {

class Backend;
namespace blob {
class Inbox;
class Outbox;
}  // namespace blob

// The answer to one request: resolved once with the JSON value of its GOT
// line. then() runs at once when the answer is already there.
class Future {
 public:
  Future();
  bool ready() const;
  // True when the launcher went away before the answer came.
  bool gone() const;
  const Json& value() const;  // null until ready
  Future& then(std::function<void(const Json&)> fn);
  // Runs the default main context until the answer arrives or the time is
  // up; nullopt on time-out or when the launcher went away.
  std::optional<Json> wait(int timeout_ms = 10000) const;

 private:
  friend class Backend;
  struct State {
    bool ready = false;
    bool dead = false;
    Json value;
    std::vector<std::function<void(const Json&)>> then;
  };
  std::shared_ptr<State> s_;
  void resolve(Json v) const;
};

// One page call, with the means to answer it, now or later.
class Call {
 public:
  std::string id;      // "<window>:<seq>"
  std::string window;
  std::string origin;
  std::string method;
  Json params;

  const Json* param(std::string_view key) const { return params.get(key); }
  std::string str(std::string_view key, std::string fallback = {}) const {
    return params.str_or(key, std::move(fallback));
  }
  double num(std::string_view key, double fallback = 0) const { return params.num_or(key, fallback); }
  bool flag(std::string_view key, bool fallback = false) const { return params.bool_or(key, fallback); }
  // A parameter the page sent as bytes (ovalis.api.sendBytes puts them in
  // "bytes"); nullptr when the member is missing or holds no bytes.
  const Bytes* bytes(std::string_view key) const {
    const Json* p = params.get(key);
    return p && p->is_bytes() ? &p->bytes() : nullptr;
  }

  // Answers the call. A Bytes value reaches the page's fetchBytes: the
  // bytes go to a file the launcher takes over, and the answer names it.
  void resolve(const Json& value) const;
  // The same for bytes held elsewhere (a std::string, a mapped file).
  void resolve_bytes(const void* data, size_t size) const;
  // Answers with the bytes of a file the backend already has, without a
  // copy: the launcher opens it where it is when the answer goes out, and
  // the file stays the backend's. Rejects with {"message":"cannot offer
  // <path>: <reason>"} when it is not a readable regular file.
  void resolve_file(const std::string& path) const;
  void reject(const Json& value) const;
  // Rejects with {"message": text}.
  void fail(std::string_view message) const;
  // Resolves with whatever the future brings.
  void resolve_with(Future f) const;

 private:
  friend class Backend;
  Backend* b_ = nullptr;
};

struct LaunchOptions {
  std::string launcher = "launcher";  // a path, or a name looked up on PATH
  std::string page;                   // absolute file path or http(s) URL
  std::string title;                  // window title and program name
  int width = 0, height = 0;          // content size; 0: the launcher's default
  std::string version;
  // Extra environment for the launcher ("OVALIS_APP_ID", "OVALIS_DEBUG", ...).
  std::vector<std::pair<std::string, std::string>> env;
  int connect_timeout_ms = 30000;
};

// The launcher's command line and environment for an application's
// configuration; the launcher is OVALIS_LAUNCHER when set, else "launcher".
LaunchOptions launch_options(const AppConfig& c);

class Backend {
 public:
  using LineHandler = std::function<void(std::string_view rest)>;
  using CallHandler = std::function<void(const Call&)>;

  Backend();
  ~Backend();
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  // Makes the socket and starts the launcher; false (with a message) when
  // either fails. The connection comes in once the main loop runs.
  bool start(const LaunchOptions& opts, std::string* error);
  // Runs the main loop until the launcher has ended; returns its exit
  // status (128 + signal number when a signal ended it).
  int run();
  // Asks the launcher to quit; stops it with SIGTERM when it has not gone
  // after grace_ms.
  void quit(int grace_ms = 5000);
  bool connected() const { return sock_ >= 0; }
  pid_t launcher_pid() const { return pid_; }

  // ---- lines ------------------------------------------------------------
  // Sends one line; lines holding a raw line break are refused (they would
  // be two commands). Empty lines are not sent.
  void send(std::string_view line);
  void send(const std::vector<std::string>& lines);
  // Every line in both directions, for logging: dir is '<' or '>'.
  std::function<void(char dir, std::string_view line)> trace;
  // Event lines by keyword: the first word of the line ("MENU", "NAV",
  // "SYS", "DOWNLOAD", ...). The handler gets the text after the keyword
  // and its blank. Several handlers may share a keyword.
  void on(std::string keyword, LineHandler fn);
  // Runs once the launcher has connected (lines may be sent from then on).
  std::function<void()> on_connected;

  // ---- open requests ----------------------------------------------------
  // Single instance: listens on `path` (a fixed socket, usually under
  // $XDG_RUNTIME_DIR, named in the desktop entry's `launcher --open` line)
  // for the requests that `launcher --open` and forward_open() send:
  // {"activate":true}, {"url":"..."} or {"paths":["..."]}. False (with a
  // message) when another instance already listens there; a stale socket
  // file left by a dead instance is replaced.
  bool listen_for_open(const std::string& path, std::function<void(const Json&)> fn,
                       std::string* error);

  // ---- page calls -------------------------------------------------------
  void handle(std::string method, CallHandler fn);
  // Who may call. The launcher reports each call's origin truthfully (the
  // origin of the document that made it), but a followed link or a popup
  // can put a page from anywhere in a window. So page calls reach handlers
  // only from trusted origins: the application's own pages (file://, and
  // the origin of a page given as an http(s) URL), the patterns given here
  // ("*" matches any run of characters, e.g. "http://127.0.0.1:*"), and,
  // for applications started from ovalis.json, the origins it grants
  // "calls". Any other origin's call is rejected with
  // {"message":"origin <origin> may not call the backend"} and a diagnostic
  // on standard error, and never reaches a handler.
  void trust_origin(std::string pattern);
  // Trusts every origin: only for applications whose windows never show
  // anything but their own pages.
  void trust_all_origins() { trust_all_ = true; }
  bool origin_trusted(std::string_view origin) const;
  // Events the pages may listen to, for the capability probe.
  void declare_events(std::initializer_list<const char*> names);
  // Delivers {event, data} to the page of a window ("main" or an id).
  void emit(std::string_view window, std::string_view event, const Json& data);
  void emit_all(std::string_view event, const Json& data);

  // ---- requests ---------------------------------------------------------
  // A request with a fresh id: make_line receives the id. The future
  // resolves with the GOT answer.
  Future ask(const std::function<std::string(std::string_view id)>& make_line);
  Future get(std::string_view key);  // "windows", "win:<id>", "screens", ...

  // Windows.
  void title(std::string_view window, std::string_view text) { send(line::title(window, text)); }
  void size(std::string_view window, int w, int h) { send(line::size(window, w, h)); }
  void winop(std::string_view window, std::string_view op) { send(line::winop(window, op)); }
  void open_window(const line::WindowSpec& w) { send(line::winopen(w)); }
  void close_window(std::string_view id) { send(line::winclose(id)); }
  void chrome(std::string_view window, const line::Chrome& c) { send(line::chrome(window, c)); }
  void eval(std::string_view window, std::string_view script) { send(line::eval(window, script)); }
  void reload() { send(line::reload()); }

  // Menus and tray.
  void set_menus(std::string_view window, const std::vector<line::Menu>& m) { send(line::menubar(window, m)); }
  void set_tray(const line::Tray& t) { send(line::tray(t)); }
  void remove_tray() { send(line::tray_remove()); }
  void set_context_menu(const std::vector<line::MenuItem>& items) { send(line::context_menu(items)); }
  void update_menu(std::string_view window, std::string_view id, std::optional<std::string> label,
                   std::optional<bool> checked, std::optional<bool> enabled) {
    send(line::menu_update(window, id, std::move(label), checked, enabled));
  }

  // Dialogs run by the backend itself (pages answer theirs with dialog()).
  Future dialog(std::string_view op, const std::vector<std::string>& fields);
  // Answers a page call with a dialog; the page's promise gets the result.
  void dialog_for(const Call& c, std::string_view op, const std::vector<std::string>& fields) {
    send(line::dlg(c.id, op, fields));
  }

  // Web content.
  void nav_reply(std::string_view nav_id, std::string_view verdict) { send(line::navr(nav_id, verdict)); }
  void popup_reply(std::string_view q_id, std::string_view verdict) { send(line::popupr(q_id, verdict)); }
  void find_for(const Call& c, std::string_view text, bool fwd, bool mc) { send(line::find(c.id, text, fwd, mc)); }
  void print(std::string_view window) { send(line::print(window)); }
  Future pdf(std::string_view window, std::string_view path);
  Future cookies(std::string_view op, const std::vector<std::string>& fields = {});
  Future permission(bool request, std::string_view name);

  // Desktop.
  void clip_write(const line::ClipData& d) { send(line::clipwrite(d)); }
  void clip_watch(int interval_ms) { send(line::clipwatch(interval_ms)); }
  void notify(std::string_view id, std::string_view title, std::string_view body,
              std::string_view subtitle = {}, bool sound = false,
              const std::vector<line::NotifyAction>& actions = {}) {
    send(line::notify(id, title, body, subtitle, sound, actions));
  }
  Future power(bool on, bool display, std::string_view reason);
  Future secret(std::string_view op, std::string_view service, std::string_view account,
                std::string_view value = {});
  Future shell(std::string_view op, std::string_view target);
  Future login_get();
  Future login_set(bool enabled);
  void badge(std::optional<long long> n) { send(line::badge(n)); }
  void progress(std::optional<double> v) { send(line::progress(v)); }
  void attention() { send(line::attention()); }
  void app_icon(std::string_view path) { send(line::appicon(path)); }

  // Audio.
  void audio_filters(const std::vector<line::Filter>& chain) { send(line::audio_filters(chain)); }
  void audio_balance(double v) { send(line::audio_balance(v)); }
  Future sampler_load(std::string_view name, std::string_view path);
  void sampler_play(int voice, std::string_view name, double gain = 1, double pan = 0,
                    double rate = 1, bool loop = false) {
    send(line::sampler_play(voice, name, gain, pan, rate, loop));
  }
  void sampler_stop_all() { send(line::sampler_stop_all()); }
  Future audio_tap(bool app_scope, int interval_ms);
  void audio_tap_stop() { send(line::audiotap_stop()); }
  Future sound(std::string_view name_or_path);
  Future say(std::string_view text, std::string_view voice = {}, double rate = 0);
  void stop_speaking() { send(line::saystop()); }
  Future voices();
  void now_playing(const line::NowPlaying& np) { send(line::nowplaying(np)); }
  void now_playing_clear() { send(line::nowplaying_clear()); }

  // Input.
  Future hotkey(std::string_view id, std::string_view combo);
  void hotkey_remove(std::string_view id) { send(line::hkunreg(id)); }
  Future keystroke(std::string_view combo);
  Future mouse_track(std::string_view restore_token = {});
  void mouse_track_stop() { send(line::mousetrack_stop()); }

  // Capture and files.
  Future capture();
  Future pick_color();
  Future thumbnail(std::string_view path, int size = 256);
  Future search(std::string_view query);

  // ---- applications described by ovalis.json ----------------------------
  enum class AppStart { started, handed_over, failed };
  // Starts the launcher as the configuration says and listens on the
  // application's open socket (AppConfig::socket_path). When another
  // instance already listens there it is asked to come to the front and
  // handed_over is returned: this process should then end with status 0.
  AppStart start_app(const AppConfig& config, std::string* error);
  // The whole life of an application in one call: reads ovalis.json (from
  // dir, else OVALIS_APP_DIR, else the current folder), starts the launcher
  // and runs until it ends. Errors go to standard error; returns the exit
  // status for main (2 for a bad configuration).
  int run_app(const std::string& dir = {});
  const std::optional<AppConfig>& config() const { return config_; }
  // Open requests ({"activate":true}, {"url":...}, {"paths":[...]}) of an
  // application started by start_app: the main window has been shown and
  // the page has had its "open-url" or "open-files" event when this runs.
  std::function<void(const Json& request)> on_open;

 private:
  friend class Call;
  struct Glib;
  std::unique_ptr<Glib> g_;
  int listen_fd_ = -1;
  int sock_ = -1;
  pid_t pid_ = -1;
  std::optional<int> exit_status_;
  std::string dir_, sock_path_;
  LineFramer framer_;
  unsigned long long next_id_ = 0;
  std::map<std::string, Future, std::less<>> pending_;
  std::map<std::string, std::vector<LineHandler>, std::less<>> line_handlers_;
  std::map<std::string, CallHandler, std::less<>> call_handlers_;
  std::set<std::string, std::less<>> events_;
  std::vector<std::string> trusted_;  // patterns, and the page's own origin
  bool trust_all_ = false;
  std::set<std::string, std::less<>> refused_origins_;  // each told once
  bool quit_sent_ = false;

  bool accept_one();
  void read_ready();
  void dispatch(std::string_view line);
  void on_call_line(std::string_view rest);
  // Page calls name uploads the launcher announced; answers offer files.
  std::unique_ptr<blob::Inbox> inbox_;
  std::unique_ptr<blob::Outbox> outbox_;
  void answer_bytes(const std::string& call_id, const void* data, size_t size);
  void answer_file(const std::string& call_id, const std::string& path);
  Json capabilities(const Call& c) const;
  void launcher_gone(int status);
  struct OpenListener;
  std::unique_ptr<OpenListener> open_;
  void close_socket();
  void cleanup_files();
  std::optional<AppConfig> config_;
  bool page_ready_ = false;
  std::vector<Json> queued_opens_;
  void open_app_request(const Json& request);
  void deliver_open(const Json& request);
};

// The open request `launcher --open <socket> <exe> [arg]` sends for arg:
// {"activate":true} for none, {"url":...} for a URL that is not a file, and
// {"paths":[...]} for a path or a file:// URI (made a path).
Json open_request(std::string_view arg);
// Hands an open request to the instance listening on path; true when it
// took the whole request (this process can then end).
bool forward_open(const std::string& path, const Json& request);

}  // namespace ovalis
