// A fake backend for end-to-end tests: owns the socket, starts the real
// launcher binary, and sends and expects wire lines with time-outs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

struct Options {
  // First argument: page path or URL. Empty means the blank test page.
  std::string target;
  // Arguments after the socket path (title, WxH, version).
  std::vector<std::string> extra_args;
  // Environment additions; a value of nullopt removes the variable.
  std::vector<std::pair<std::string, std::optional<std::string>>> env;
  // Wait for the backend connection (false for runs expected to fail early).
  bool expect_connect = true;
  // Another program to start instead of launcher: its full argument list,
  // where "{sock}" stands for the socket path.
  std::vector<std::string> command;
};

std::string page_path(const std::string& name);  // absolute path of tests/e2e/pages/<name>
std::string launcher_bin();

class Backend {
 public:
  Backend();
  ~Backend();
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  // Starts launcher; returns false when it never connected.
  bool start(const Options& opts = {});

  void send(const std::string& line);
  void send_raw(const std::string& bytes);
  // Writes all of it and reads nothing until it is written, as a naive
  // backend with blocking writes does.
  void send_without_reading(const std::string& bytes);

  // The next unconsumed line for which pred is true, waiting up to timeout.
  std::optional<std::string> expect(const std::function<bool(const std::string&)>& pred,
                                    int timeout_ms = 8000);
  // The next unconsumed line starting with prefix.
  std::optional<std::string> expect_prefix(const std::string& prefix, int timeout_ms = 8000);
  // Lines that arrive within ms and match pred (default: any); consumed.
  std::vector<std::string> collect(int ms, const std::function<bool(const std::string&)>& pred =
                                               nullptr);
  // Every line received so far that nobody consumed.
  std::vector<std::string> unconsumed();

  // Waits for the main page's first load to finish (NAV finish) and its token.
  bool wait_page_ready(const std::string& window = "main", int timeout_ms = 15000);

  // Evaluates a script expression in a window's page and returns its JSON
  // value, as the page sees it (carried back through a page call).
  std::optional<std::string> page_eval(const std::string& expr, const std::string& window = "main",
                                       int timeout_ms = 8000);

  // Exit status (0..255), 128+signal for a signal, nullopt on time-out.
  std::optional<int> wait_exit(int timeout_ms = 8000);
  void close_socket();
  void kill_signal(int sig);
  pid_t pid() const { return pid_; }
  std::string stderr_text() const;
  const std::string& dir() const { return dir_; }
  bool running();

 private:
  bool read_some(int timeout_ms);

  std::string dir_;
  std::string sock_path_;
  int listen_fd_ = -1;
  int fd_ = -1;
  pid_t pid_ = -1;
  int exit_status_ = -1;
  std::string buf_;
  // Lines received and not yet consumed, oldest first. Consumed lines are
  // removed, so a few stale lines never make later searches slow.
  std::list<std::string> lines_;
  size_t probe_seq_ = 0;
};

// Decodes a JSON string literal (with its quotes) into its text.
std::optional<std::string> json_string_value(const std::string& lit, size_t* end = nullptr);

// The payload text and origin of a "CALL <id> [payload,origin]" line.
struct CallLine {
  std::string id;
  std::string payload;
  std::string origin;
};
std::optional<CallLine> parse_call(const std::string& line);

}  // namespace e2e

namespace e2e {

// The "method" member of a call's payload.
std::string call_method(const CallLine& c);

// Answers the calls every page makes while it loads: "client.hello",
// "client.capabilities" (every name working, unless verdicts is given) and
// "win.getState" (with the given state object). Returns false on time-out.
bool serve_load_calls(Backend& b, const std::string& state = R"({"chrome":{"frame":true},"resizable":true})",
                      const std::string& verdicts = "", int timeout_ms = 10000);

// Escapes a script for a wire field (backslash, line breaks, tabs).
std::string wire_escape(const std::string& s);

}  // namespace e2e

namespace e2e {

// Asks the window manager to close a window, as a title-bar close button
// does (_NET_CLOSE_WINDOW from a pager); the window gets a delete request.
void wm_close_window(unsigned long xid);

// Runs a shell command and returns its standard output.
std::string sh(const std::string& cmd);

// True when the suite runs in the Wayland session (`make test-wayland`):
// launcher talks to a Wayland compositor and no X server is reachable.
// Tests of X11-only paths (window lookups with find_window, xdotool, key
// grabs, XTest, root-window capture) branch on this and check what the
// program answers on Wayland instead: "unavailable"/unsupported answers,
// the portal path, canPosition false, fgscreen null.
bool on_wayland();
// Ends a test (or, in SetUpTestSuite, a suite) that checks an X11-only
// path when the session is Wayland. Its Wayland answer must be checked
// elsewhere: session_test.cpp (both sessions) or wayland_test.cpp.
#define E2E_X11_ONLY(why) \
  if (::e2e::on_wayland()) GTEST_SKIP() << "X11 only: " << (why)

// Which top-level windows to find. Empty fields match anything.
struct WindowQuery {
  pid_t pid = 0;              // _NET_WM_PID
  std::string name;           // whole-title regular expression
  std::string res_name;       // WM_CLASS instance name, exactly
  bool only_visible = true;   // mapped and viewable
  bool popups = false;        // also override-redirect windows (open menus)
  size_t at_least = 1;        // keep searching until this many match
  bool report = true;         // on giving up, print every window seen
};
// The client windows that match, retried until at_least of them match or
// the deadline passes (0: look once). Windows that vanish mid-search are
// skipped, never fatal.
std::vector<unsigned long> find_windows(const WindowQuery& q, int timeout_ms = 10000);
// The first match, 0 when none turned up in time.
unsigned long find_window(const WindowQuery& q, int timeout_ms = 10000);

// Polls pred until it holds or the deadline passes.
bool eventually(const std::function<bool()>& pred, int timeout_ms = 3000);
// True when pred holds at every poll for ms: for things that must not happen.
bool holds_for(const std::function<bool()>& pred, int ms = 300);

}  // namespace e2e

namespace e2e {

// Starts launcher on a page for a suite that shares it: answers the page's
// load calls and waits until the page can be probed. nullptr on failure.
Backend* start_page(const Options& opts = {});

// Starts launcher for a suite that needs no page (say, without a main
// window). nullptr when it never connected.
Backend* start_backend(const Options& opts = {});

// Quits a shared launcher, checks it ended with status 0, and frees it.
void stop_page(Backend*& b);

}  // namespace e2e
