// demo_backend: a small but real ovalis backend.
//
// It owns the Unix socket, starts the launcher on the demo page, prints the
// whole conversation ("<- " for lines from the launcher, "-> " for lines it
// sends), answers the page's calls, keeps an in-memory store, and pushes a
// "tick" event every two seconds. With --screenshot it waits for the page to
// settle, captures the screen and quits, which is how the demo is shown on
// machines without a display.
//
//   demo_backend [--screenshot <png>]
//
// Environment: OVALIS_DEMO_SCREENSHOT works like --screenshot;
// OVALIS_DEMO_LAUNCHER overrides the launcher binary; OVALIS_DEMO_SETTLE_MS
// sets how long the drawn page is left before the capture (default 1500).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "demo_json.h"
#include "demo_wire.h"

#ifndef OVALIS_DEMO_LAUNCHER
#error "OVALIS_DEMO_LAUNCHER must name the launcher binary"
#endif
#ifndef OVALIS_DEMO_PAGE_DIR
#error "OVALIS_DEMO_PAGE_DIR must name the page folder"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr auto kTickEvery = milliseconds(2000);
constexpr auto kConnectTimeout = milliseconds(30000);
constexpr auto kQuitGrace = milliseconds(5000);
constexpr auto kShotSettle = milliseconds(1500);
constexpr auto kPaintWait = milliseconds(10000);
constexpr auto kShotGiveUp = milliseconds(45000);
constexpr auto kCaptureTimeout = milliseconds(20000);

// Calls this backend answers and events it pushes; the page's capability
// probe is told exactly these.
const std::set<std::string, std::less<>> kCalls = {
    "client.hello", "client.capabilities", "theme.get",    "store.get",   "store.set",
    "store.delete", "store.all",           "win.setTitle", "win.setSize", "win.getState",
    "log",          "quit",                "demo.echo",    "demo.time",   "demo.ready",
    "demo.painted", "demo.winop", "demo.screens", "system.requirements",
    // the sound panel
    "demo.toneFile", "sampler.load", "sampler.play", "sampler.stop", "sampler.stopAll",
    "sampler.master", "sampler.set", "sampler.unload", "audio.filters", "audio.filterSet",
    "audio.balance",
    // the speech and now-playing panel
    "sound.play", "app.say", "app.stopSpeaking", "app.voices", "nowplaying.set",
    "nowplaying.clear",
    // the tools panel
    "secrets.get", "secrets.set", "secrets.delete", "shell.open", "shell.reveal", "shell.trash",
    "login.get", "login.set", "app.captureScreen", "app.pickColor", "app.thumbnail",
    "app.spotlight",
    // the input panel
    "hotkey.register", "hotkey.unregister", "app.keystroke", "app.mouse",
    "app.mouseTracking.start", "app.mouseTracking.stop",
    // desktop services, carried out by the launcher
    "notify", "clip.read", "clip.write", "clip.changeCount", "clip.watch", "clip.unwatch",
    "app.badge", "app.progress", "app.attention", "system.battery", "system.idleTime",
    "power.prevent", "power.allow",
    // the page panel
    "win.find", "win.stopFind", "win.print", "win.printToPDF", "demo.cookies",
    // the web content panel
    "dialog.openFile", "dialog.saveFile", "dialog.confirm"};
const std::set<std::string, std::less<>> kEvents = {"tick", "windows", "theme", "winstate",
                                                    "screens", "menu", "hotkey", "download",
                                                    "popup", "clipboard-change", "notification-click",
                                                    "notification-action"};
// Window operations the demo page may ask for.
const std::set<std::string, std::less<>> kDemoWinops = {
    "zoom", "fullscreen", "minimize", "center", "onscreen", "ontop 1", "ontop 0"};

int g_sig_pipe[2] = {-1, -1};

void on_signal(int sig) {
  int saved = errno;
  unsigned char b = static_cast<unsigned char>(sig);
  // The pipe is non-blocking; a full pipe already holds a pending signal.
  ssize_t r = write(g_sig_pipe[1], &b, 1);
  (void)r;
  errno = saved;
}

std::string find_on_path(const char* name) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    if (dir.empty()) dir = ".";
    std::string full = dir + "/" + name;
    if (access(full.c_str(), X_OK) == 0) return full;
    if (colon == std::string_view::npos) return {};
    rest.remove_prefix(colon + 1);
  }
}

// Starts argv[0] (a full path) with the given arguments; no shell is
// involved, so paths with blanks or quotes are passed as they are.
pid_t spawn(const std::vector<std::string>& args, bool quiet_stdin) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  // Child: leave the demo's signal handling behind.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGHUP, SIG_DFL);
  if (quiet_stdin) {
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) {
      dup2(null, 0);
      close(null);
    }
  }
  execv(argv[0], argv.data());
  std::fprintf(stderr, "demo: cannot start %s: %s\n", argv[0], std::strerror(errno));
  _exit(127);
}

std::string describe_status(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
  return "status " + std::to_string(status);
}

long long now_ms_since_epoch() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

class Backend {
 public:
  Backend(std::string launcher, std::string page, std::string shot)
      : launcher_(std::move(launcher)), page_(std::move(page)), shot_path_(std::move(shot)) {}

  ~Backend() { cleanup(); }

  int run() {
    if (const char* e = std::getenv("OVALIS_DEMO_SETTLE_MS"); e && *e) {
      long v = std::strtol(e, nullptr, 10);
      if (v >= 0 && v <= 60000) settle_ = milliseconds(v);
    }
    if (!make_socket()) return 1;
    child_ = spawn({launcher_, page_, sock_path_, "ovalis demo", "960x640"}, false);
    if (child_ < 0) {
      std::perror("demo: fork");
      return 1;
    }
    std::printf("demo: started %s (pid %d), socket %s\n", launcher_.c_str(), static_cast<int>(child_),
                sock_path_.c_str());
    if (int rc = accept_launcher(); rc != 0) return rc;
    // The socket is connected; nobody else needs the listening end or its path.
    close(listen_fd_);
    listen_fd_ = -1;
    unlink(sock_path_.c_str());

    started_ = Clock::now();
    next_tick_ = started_ + kTickEvery;
    send("GET 1 windows");
    send_menus();
    loop();
    return finish();
  }

 private:
  std::string launcher_, page_, shot_path_;
  std::map<std::string, PageCall> smp_loads_;  // sampler loads waiting for their GOT
  std::map<std::string, PageCall> page_gets_;  // PDF and cookie requests waiting for theirs
  int page_seq_ = 0;
  std::map<std::string, PageCall> tool_calls_;  // tools panel requests waiting for their GOT
  int tool_seq_ = 0;
  int smp_seq_ = 0, smp_voice_ = 0;
  std::string dir_, sock_path_;
  int listen_fd_ = -1;
  int sock_ = -1;
  pid_t child_ = -1;
  std::optional<int> child_status_;
  std::string inbuf_;

  bool dark_ = false;
  bool show_ticks_ = true;
  // Page calls waiting for the launcher's "GOT" to a request sent for them.
  std::map<std::string, PageCall, std::less<>> via_launcher_;
  long long via_seq_ = 0;
  Json windows_;  // the answer to "GET 1 windows", null until it arrives
  Json screens_;  // the answer to "GET 2 screens"
  std::set<std::string, std::less<>> ready_windows_;  // pages whose handlers are in place
  Json store_ = JsonObject{};
  long long tick_n_ = 0;
  Clock::time_point started_, next_tick_;
  // Requests sent to the launcher on a page's behalf: request id -> call id.
  std::map<std::string, std::string, std::less<>> pending_;
  long long request_seq_ = 0;

  // Shutdown: when QUIT went out, and whether the launcher was told by signal.
  std::optional<Clock::time_point> quit_sent_;
  bool terminated_ = false;

  // Screenshot mode.
  bool nav_finished_ = false;
  bool hello_seen_ = false;
  bool painted_ = false;
  std::optional<Clock::time_point> loaded_at_;
  std::optional<Clock::time_point> shot_at_;
  pid_t capture_pid_ = -1;
  Clock::time_point capture_started_;
  std::string capture_out_;
  bool shot_done_ = false;
  bool shot_failed_ = false;

  // How long the page gets to paint after it is ready; OVALIS_DEMO_SETTLE_MS
  // stretches it for slow software rendering.
  milliseconds settle_ = kShotSettle;

  bool screenshot_mode() const { return !shot_path_.empty(); }

  bool make_socket() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/ovalis-demo-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    // mkdtemp makes the folder 0700, so only this user can reach the socket.
    if (!mkdtemp(buf.data())) {
      std::perror("demo: mkdtemp");
      return false;
    }
    dir_ = buf.data();
    sock_path_ = dir_ + "/backend.sock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (sock_path_.size() >= sizeof addr.sun_path) {
      std::fprintf(stderr, "demo: socket path too long: %s\n", sock_path_.c_str());
      return false;
    }
    std::memcpy(addr.sun_path, sock_path_.c_str(), sock_path_.size() + 1);
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) {
      std::perror("demo: socket");
      return false;
    }
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_fd_, 1) != 0) {
      std::perror("demo: bind/listen");
      return false;
    }
    return true;
  }

  void cleanup() {
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
    if (!sock_path_.empty()) unlink(sock_path_.c_str());
    if (!dir_.empty()) rmdir(dir_.c_str());
    dir_.clear();
  }

  // Reaps the launcher if it has ended; true when it has.
  bool child_gone() {
    if (child_status_) return true;
    int st = 0;
    pid_t r = waitpid(child_, &st, WNOHANG);
    if (r == child_) child_status_ = st;
    return child_status_.has_value();
  }

  int accept_launcher() {
    auto deadline = Clock::now() + kConnectTimeout;
    while (true) {
      if (child_gone()) {
        std::fprintf(stderr, "demo: launcher ended before connecting (%s)\n",
                     describe_status(*child_status_).c_str());
        int code = WIFEXITED(*child_status_) ? WEXITSTATUS(*child_status_) : 1;
        return code != 0 ? code : 1;
      }
      if (int sig = take_signal()) {
        std::printf("demo: %s before the launcher connected; stopping it\n", strsignal(sig));
        kill(child_, SIGTERM);
        reap_blocking();
        return 1;
      }
      if (Clock::now() > deadline) {
        std::fprintf(stderr, "demo: launcher did not connect within %lld s\n",
                     static_cast<long long>(kConnectTimeout.count() / 1000));
        kill(child_, SIGTERM);
        reap_blocking();
        return 1;
      }
      pollfd p[2] = {{listen_fd_, POLLIN, 0}, {g_sig_pipe[0], POLLIN, 0}};
      int n = poll(p, 2, 200);
      if (n <= 0 || !(p[0].revents & POLLIN)) continue;
      sock_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (sock_ >= 0) return 0;
      if (errno != EINTR && errno != EAGAIN) {
        std::perror("demo: accept");
        return 1;
      }
    }
  }

  int take_signal() {
    unsigned char b = 0;
    if (read(g_sig_pipe[0], &b, 1) == 1) return b;
    return 0;
  }

  void reap_blocking() {
    // Waits up to the grace period, then makes sure the launcher is gone.
    auto deadline = Clock::now() + kQuitGrace;
    while (!child_gone() && Clock::now() < deadline) usleep(50 * 1000);
    if (!child_gone()) {
      kill(child_, SIGKILL);
      int st = 0;
      if (waitpid(child_, &st, 0) == child_) child_status_ = st;
    }
  }

  // ---- wire ----------------------------------------------------------

  void send(const std::string& line) {
    if (sock_ < 0) return;
    // A line must never carry a raw break: it would split into two commands.
    if (line.find_first_of("\r\n") != std::string::npos) {
      std::fprintf(stderr, "demo: refusing to send a line with a raw line break\n");
      return;
    }
    std::printf("-> %s\n", line.c_str());
    std::string data = line + "\n";
    size_t off = 0;
    while (off < data.size()) {
      ssize_t w = ::send(sock_, data.data() + off, data.size() - off, MSG_NOSIGNAL);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        std::fprintf(stderr, "demo: write to launcher failed: %s\n", std::strerror(errno));
        return;
      }
      off += static_cast<size_t>(w);
    }
  }

  void emit(std::string_view window, std::string_view event, const Json& data) {
    if (auto line = emit_line(window, event, data)) send(*line);
  }

  void emit_to_ready(std::string_view event, const Json& data) {
    for (auto& w : ready_windows_) emit(w, event, data);
  }

  void send_quit() {
    if (quit_sent_) return;
    send("QUIT");
    quit_sent_ = Clock::now();
  }

  // ---- main loop -------------------------------------------------------

  void loop() {
    char buf[4096];
    while (true) {
      auto now = Clock::now();
      run_timers(now);
      if (child_gone()) break;  // its end of the socket is gone too

      auto wake = next_tick_;
      if (shot_at_ && *shot_at_ < wake) wake = *shot_at_;
      if (quit_sent_ && *quit_sent_ + kQuitGrace < wake) wake = *quit_sent_ + kQuitGrace;
      // Short naps also notice the launcher or the capture ending.
      long long ms = std::chrono::duration_cast<milliseconds>(wake - Clock::now()).count();
      int timeout = static_cast<int>(std::clamp<long long>(ms, 0, capture_pid_ > 0 ? 50 : 200));

      pollfd p[2] = {{sock_, POLLIN, 0}, {g_sig_pipe[0], POLLIN, 0}};
      int n = poll(p, 2, timeout);
      if (n < 0 && errno != EINTR) {
        std::perror("demo: poll");
        break;
      }
      if (n <= 0) continue;
      if (p[1].revents & POLLIN) {
        if (int sig = take_signal()) on_stop_signal(sig);
      }
      if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        ssize_t r = read(sock_, buf, sizeof buf);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
          std::printf("demo: the launcher closed the connection\n");
          break;
        }
        inbuf_.append(buf, static_cast<size_t>(r));
        size_t start = 0, nl;
        while ((nl = inbuf_.find('\n', start)) != std::string::npos) {
          std::string line = inbuf_.substr(start, nl - start);
          start = nl + 1;
          if (!line.empty()) on_line(line);
        }
        inbuf_.erase(0, start);
      }
    }
  }

  void on_stop_signal(int sig) {
    if (!quit_sent_) {
      std::printf("demo: %s, asking the launcher to quit\n", strsignal(sig));
      send_quit();
    } else if (!terminated_) {
      std::printf("demo: %s again, terminating the launcher\n", strsignal(sig));
      kill(child_, SIGTERM);
      terminated_ = true;
    }
  }

  void run_timers(Clock::time_point now) {
    if (now >= next_tick_) {
      ++tick_n_;
      Json data = JsonObject{{"n", Json(tick_n_)}};
      if (show_ticks_) emit_to_ready("tick", data);
      while (next_tick_ <= now) next_tick_ += kTickEvery;
    }
    if (quit_sent_ && !terminated_ && now > *quit_sent_ + kQuitGrace) {
      std::fprintf(stderr, "demo: the launcher did not quit in time; terminating it\n");
      kill(child_, SIGTERM);
      terminated_ = true;
    }
    if (screenshot_mode()) screenshot_step(now);
  }

  // ---- screenshot mode -------------------------------------------------

  void screenshot_step(Clock::time_point now) {
    if (shot_done_) return;
    if (!shot_at_ && capture_pid_ < 0) {
      if (nav_finished_ && hello_seen_ && !loaded_at_) loaded_at_ = now;
      // Software rendering can take seconds to put the first frame on the
      // screen; the page says when it has drawn. A page that never says so
      // is still captured, a while after it loaded.
      if (loaded_at_ && (painted_ || now > *loaded_at_ + kPaintWait)) {
        shot_at_ = now + settle_;
      } else if (now > started_ + kShotGiveUp) {
        std::fprintf(stderr, "demo: the page never became ready; no screenshot\n");
        fail_shot();
      }
      return;
    }
    if (shot_at_ && now >= *shot_at_) {
      shot_at_.reset();
      start_capture(now);
      return;
    }
    if (capture_pid_ > 0) {
      int st = 0;
      pid_t r = waitpid(capture_pid_, &st, WNOHANG);
      if (r == capture_pid_) {
        capture_pid_ = -1;
        struct stat sb{};
        if (WIFEXITED(st) && WEXITSTATUS(st) == 0 && stat(capture_out_.c_str(), &sb) == 0 &&
            sb.st_size > 0) {
          std::printf("screenshot: %s\n", capture_out_.c_str());
          shot_done_ = true;
          send_quit();
        } else {
          std::fprintf(stderr, "demo: screen capture failed (%s)\n", describe_status(st).c_str());
          fail_shot();
        }
      } else if (now > capture_started_ + kCaptureTimeout) {
        std::fprintf(stderr, "demo: screen capture timed out\n");
        kill(capture_pid_, SIGKILL);
        waitpid(capture_pid_, nullptr, 0);
        capture_pid_ = -1;
        fail_shot();
      }
    }
  }

  void fail_shot() {
    shot_done_ = true;
    shot_failed_ = true;
    send_quit();
  }

  void start_capture(Clock::time_point now) {
    std::vector<std::string> args;
    if (std::string imp = find_on_path("import"); !imp.empty()) {
      capture_out_ = shot_path_;
      args = {imp, "-window", "root", capture_out_};
    } else if (std::string xwd = find_on_path("xwd"); !xwd.empty()) {
      // Without ImageMagick there is nothing to make a PNG with; keep the
      // X dump and say so through its name.
      capture_out_ = shot_path_ + ".xwd";
      args = {xwd, "-root", "-silent", "-out", capture_out_};
    } else {
      std::fprintf(stderr, "demo: neither import nor xwd is installed; no screenshot\n");
      fail_shot();
      return;
    }
    std::fflush(stdout);
    capture_pid_ = spawn(args, true);
    capture_started_ = now;
    if (capture_pid_ < 0) {
      std::perror("demo: fork");
      fail_shot();
    }
  }

  // ---- incoming lines ----------------------------------------------------

  // ---- menus, tray, context menu, second window -------------------------

  void send_menus() {
    for (const char* l : {
             "MENUBEGIN", "MENU File", "ITEM new-window\tNew Window\tShift+N",
             "ITEM close-window\tClose Window\tW", "SEP", "ITEM quit\tQuit\tQ",
             "MENUROLE edit", "ROLEITEM standard", "MENU View",
             "ITEM ticks\tShow Ticks\t\tc", "ITEM reload\tReload\tR", "MENUEND",
             "TRAYBEGIN ovalis demo\t\t1\tovalis demo\t1", "ITEM new-window\tNew Window",
             "ITEM quit\tQuit", "TRAYEND",
             "CTXBEGIN", "ROLEITEM copy", "SEP", "ITEM hello\tSay Hello", "ITEM reload\tReload",
             "CTXEND"})
      send(l);
  }

  void on_activation(std::string_view from, std::string_view id) {
    if (id == "quit") return send_quit();
    if (id == "new-window") {
      // Present it again if it is already open.
      return send("WINOPEN second\t" + page_ + "\tSecond window\t720x520\t\t\t\t\t\t\t\t\t\t\tmain");
    }
    if (id == "close-window") return send("WINCLOSE second");
    if (id == "reload") return send("RELOAD");
    if (id == "ticks") {
      show_ticks_ = !show_ticks_;
      send(std::string("MENUUPD ticks\t\t") + (show_ticks_ ? "1" : "0") + "\t");
    }
    emit_to_ready("menu", Json(JsonObject{{"from", Json(std::string(from))},
                                          {"id", Json(std::string(id))}}));
  }

  void on_line(const std::string& line) {
    std::printf("<- %s\n", line.c_str());
    std::string_view l = line;
    if (l.starts_with("MENU ")) return on_activation("menu", l.substr(5));
    if (l.starts_with("TRAY ")) return on_activation("tray", l.substr(5));
    if (l.starts_with("CTX ")) return on_activation("context menu", l.substr(4));
    if (l == "TRAYCLICK") return send("WINOP show");
    if (l.starts_with("MEDIAKEY ")) return on_media_key(l.substr(9));
    if (l.starts_with("HOTKEY "))
      return emit_to_ready("hotkey", Json(JsonObject{{"id", Json(std::string(l.substr(7)))}}));
    if (l.starts_with("WINCLOSED ")) return send("GET 1 windows");
    if (l.starts_with("CALL ")) return on_call(l.substr(5));
    if (l.starts_with("GOT ")) return on_got(l.substr(4));
    if (l.starts_with("NAV ")) return on_nav(l.substr(4));
    if (l.starts_with("NAVQ ") || l.starts_with("POPUPQ ")) return on_question(l);
    if (l.starts_with("DOWNLOAD ")) return forward_event("download", l.substr(9));
    if (l.starts_with("POPUP ")) return forward_event("popup", l.substr(6));
    if (l.starts_with("WINSTATE ")) return on_winstate(l.substr(9));
    if (l.starts_with("CLIPCHANGE ")) return on_clipchange(l.substr(11));
    if (l.starts_with("NOTIFYCLICK "))
      return emit_to_ready("notification-click",
                           Json(JsonObject{{"id", Json(std::string(l.substr(12)))}}));
    if (l.starts_with("NOTIFYACTION ")) {
      // "NOTIFYACTION <id>\t<action>\t<reply>"
      std::string_view rest = l.substr(13);
      size_t t1 = rest.find('\t');
      std::string_view action = t1 == std::string_view::npos ? "" : rest.substr(t1 + 1);
      return emit_to_ready("notification-action",
                           Json(JsonObject{{"id", Json(std::string(rest.substr(0, t1)))},
                                           {"action", Json(std::string(action.substr(0, action.find('\t'))))}}));
    }
    if (l == "SYS screens") return send("GET 2 screens");
    if (l == "SYS theme dark" || l == "SYS theme light") {
      bool dark = l == "SYS theme dark";
      if (dark != dark_) {
        dark_ = dark;
        emit_to_ready("theme", Json(JsonObject{{"dark", Json(dark_)}}));
      }
    }
  }

  // Find answers the page's call itself; PDF and cookies answer with GOT.
  void on_page_tool(const PageCall& c) {
    const std::string& m = c.method;
    auto str = [&](const char* k) {
      const Json* v = param(c, k);
      return v && v->is_string() ? one_line(v->str()) : std::string();
    };
    auto flag = [&](const char* k, bool dflt) {
      const Json* v = param(c, k);
      return v && v->is_bool() ? std::get<bool>(v->v) : dflt;
    };
    if (m == "win.find") {
      std::string term = str("term");
      for (char& ch : term)
        if (ch == '\t') ch = ' ';
      return send("FIND " + c.call_id + " " + term + "\t" + (flag("forward", true) ? "1" : "0") +
                  "\t" + (flag("matchCase", false) ? "1" : "0"));
    }
    if (m == "win.stopFind") return send("STOPFIND " + c.call_id);
    if (m == "win.print") {
      auto kw = targeted("PRINT", c.window);
      if (kw) send(*kw);
      return reply(c, true, Json(JsonObject{{"ok", Json(kw.has_value())}}));
    }
    std::string id = "pg" + std::to_string(++page_seq_);
    page_gets_[id] = c;
    if (m == "win.printToPDF") {
      std::string path = str("path");
      if (path.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/ovalis-demo.pdf";
      }
      std::string esc;
      for (char ch : path) esc += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
      std::string kw = c.window == "main" ? "PDF " : "PDF@" + c.window + " ";
      return send(kw + id + " " + esc);
    }
    send("COOKIES " + id + " get");
  }

  void on_got(std::string_view rest) {
    size_t sp = rest.find(' ');
    if (sp == std::string_view::npos) return;
    if (auto it = page_gets_.find(std::string(rest.substr(0, sp))); it != page_gets_.end()) {
      PageCall c = it->second;
      page_gets_.erase(it);
      auto v = json_parse(rest.substr(sp + 1));
      return v ? reply(c, true, *v) : reject(c, "unreadable answer");
    }
    if (auto it = smp_loads_.find(std::string(rest.substr(0, sp))); it != smp_loads_.end()) {
      PageCall c = it->second;
      smp_loads_.erase(it);
      auto v = json_parse(rest.substr(sp + 1));
      const Json* ok = v ? v->get("ok") : nullptr;
      if (ok && ok->is_bool() && std::get<bool>(ok->v)) return reply(c, true, *v);
      const Json* err = v ? v->get("error") : nullptr;
      return reject(c, err && err->is_string() ? err->str() : "the sound did not load");
    }
    if (auto it = tool_calls_.find(std::string(rest.substr(0, sp))); it != tool_calls_.end()) {
      PageCall c = it->second;
      tool_calls_.erase(it);
      return on_tool_answer(c, json_parse(rest.substr(sp + 1)));
    }
    auto v = json_parse(rest.substr(sp + 1));
    if (!v) return;
    if (auto it = via_launcher_.find(rest.substr(0, sp)); it != via_launcher_.end()) {
      PageCall c = std::move(it->second);
      via_launcher_.erase(it);
      return reply(c, true, *v);
    }
    if (auto it = pending_.find(rest.substr(0, sp)); it != pending_.end()) {
      send(ret_line(it->second, true, *v));
      pending_.erase(it);
      return;
    }
    if (rest.substr(0, sp) == "2") {
      screens_ = *v;
      return emit_to_ready("screens", Json(JsonObject{{"screens", screens_}}));
    }
    if (rest.substr(0, sp) != "1") return;
    windows_ = *v;
    emit_to_ready("windows", windows_event());
  }

  // "WINSTATE <id> <json>": passed on to the pages as the "winstate" event.
  void on_winstate(std::string_view rest) {
    size_t sp = rest.find(' ');
    if (sp == std::string_view::npos) return;
    auto v = json_parse(rest.substr(sp + 1));
    if (!v) return;
    emit_to_ready("winstate", Json(JsonObject{{"window", Json(std::string(rest.substr(0, sp)))},
                                              {"state", *v}}));
  }

  Json windows_event() const { return Json(JsonObject{{"windows", windows_}}); }

  // "CLIPCHANGE <count> <self>": the page API's "clipboard-change" event.
  void on_clipchange(std::string_view rest) {
    size_t sp = rest.find(' ');
    long long count = std::atoll(std::string(rest.substr(0, sp)).c_str());
    bool self = sp != std::string_view::npos && rest.substr(sp + 1) == "1";
    emit_to_ready("clipboard-change",
                  Json(JsonObject{{"changeCount", Json(count)}, {"self", Json(self)}}));
  }

  // Sends "<kw> <id> <rest>" (or "GET <id> <rest>") and answers the call
  // when the launcher's "GOT <id>" arrives.
  void request(const PageCall& c, const std::string& kw, const std::string& rest) {
    std::string id = "d" + std::to_string(++request_seq_);
    pending_[id] = c.call_id;
    send(kw + " " + id + " " + rest);
  }

  static std::string text_param(const PageCall& c, std::string_view key) {
    const Json* v = c.params.get(key);
    return v && v->is_string() ? v->str() : "";
  }

  // The desktop services of the launcher, reached through the page API.
  bool on_desktop_call(const PageCall& c) {
    const std::string& m = c.method;
    Json ok = JsonObject{{"ok", Json(true)}};
    if (m == "notify") {
      // Every demo notification offers one action besides the click.
      std::string id = "n" + std::to_string(++request_seq_);
      send("NOTIFY " + id + "\t" + one_line(text_param(c, "title")) + "\t" +
           one_line(text_param(c, "body")) + "\t\t1\t" +
           wire_escape(R"([{"id":"again","title":"Again"}])"));
      reply(c, true, Json(JsonObject{{"ok", Json(true)}, {"id", Json(id)}}));
    } else if (m == "clip.read") {
      request(c, "GET", "clipboard");
    } else if (m == "clip.changeCount") {
      request(c, "GET", "clipboard:count");
    } else if (m == "clip.write") {
      std::string text = text_param(c, "text");
      if (text.empty()) text = text_param(c, "color");
      send("CLIPWRITE " + wire_escape(text) + "\t" + wire_escape(text_param(c, "html")) + "\t" +
           wire_escape(text_param(c, "image")) + "\t\t");
      reply(c, true, ok);
    } else if (m == "clip.watch" || m == "clip.unwatch") {
      send(m == "clip.watch" ? "CLIPWATCH 1" : "CLIPWATCH 0");
      reply(c, true, ok);
    } else if (m == "app.badge") {
      send("BADGE " + wire_escape(text_param(c, "text")));
      reply(c, true, ok);
    } else if (m == "app.progress") {
      const Json* v = c.params.get("value");
      send(v && v->is_number() ? "PROGRESS " + std::to_string(v->num()) : "PROGRESS");
      reply(c, true, ok);
    } else if (m == "app.attention") {
      send("ATTENTION");
      reply(c, true, ok);
    } else if (m == "system.battery") {
      request(c, "GET", "battery");
    } else if (m == "system.idleTime") {
      request(c, "GET", "idle");
    } else if (m == "power.prevent") {
      const Json* d = c.params.get("display");
      bool display = d && d->is_bool() && std::get<bool>(d->v);
      request(c, "POWER", std::string("on\t") + (display ? "1" : "") + "\t" +
                              wire_escape(text_param(c, "reason")));
    } else if (m == "power.allow") {
      request(c, "POWER", "off");
    } else {
      return false;
    }
    return true;
  }

  // Every page may go anywhere and every popup opens in a window of its own.
  void on_question(std::string_view l) {
    bool nav = l.starts_with("NAVQ ");
    std::string_view rest = l.substr(nav ? 5 : 7);
    std::string_view id = rest.substr(0, rest.find(' '));
    send(std::string(nav ? "NAVR " : "POPUPR ") + std::string(id) + (nav ? " allow" : " window"));
  }

  void forward_event(std::string_view event, std::string_view json) {
    if (auto v = json_parse(json)) emit_to_ready(event, *v);
  }

  // "dialog.*": the launcher shows the dialog and answers the page itself.
  void on_dialog(const PageCall& c) {
    auto text = [&](std::string_view key) {
      const Json* v = param(c, key);
      return v && v->is_string() ? one_line(v->str()) : std::string();
    };
    std::string types;
    if (const Json* t = param(c, "types"); t && t->is_array())
      for (auto& e : t->arr())
        if (e.is_string()) types += (types.empty() ? "" : ",") + one_line(e.str());
    std::string op;
    if (c.method == "dialog.openFile") op = "open\t" + types;
    else if (c.method == "dialog.saveFile") op = "save\t" + types + "\t" + text("name") + "\tdownloads";
    else op = "confirm\t" + text("message") + "\t" + text("detail");
    send("DLG " + c.call_id + " " + op);
  }

  void on_nav(std::string_view rest) {
    auto v = json_parse(rest);
    if (!v) return;
    const Json* kind = v->get("kind");
    const Json* win = v->get("window");
    if (!kind || !kind->is_string()) return;
    std::string w = win && win->is_string() ? win->str() : "main";
    // A new document has no handlers until it says it is ready again.
    if (kind->str() == "commit") ready_windows_.erase(w);
    if (kind->str() == "finish" && w == "main") nav_finished_ = true;
  }

  // ---- page calls --------------------------------------------------------

  void reply(const PageCall& c, bool ok, const Json& answer) { send(ret_line(c.call_id, ok, answer)); }

  void reject(const PageCall& c, std::string message) {
    reply(c, false, Json(JsonObject{{"message", Json(std::move(message))}}));
  }

  static const Json* param(const PageCall& c, std::string_view key) { return c.params.get(key); }

  void on_call(std::string_view rest) {
    auto parsed = parse_call(rest);
    if (!parsed) return;
    const PageCall& c = *parsed;
    if (!c.error.empty()) return reject(c, c.error);
    const std::string& m = c.method;

    if (m == "client.hello") {
      if (c.window == "main") hello_seen_ = true;
      return reply(c, true, Json(JsonObject{{"ok", Json(true)}}));
    }
    if (m == "client.capabilities") return reply(c, true, capabilities(c));
    if (m == "demo.ready") {
      ready_windows_.insert(c.window);
      // A window the backend opened: every page's window list changes.
      if (c.window != "main") send("GET 1 windows");
      reply(c, true, Json(JsonObject{{"ok", Json(true)}}));
      // Bring the new page up to date at once instead of at the next event.
      if (!windows_.is_null()) emit(c.window, "windows", windows_event());
      if (tick_n_ > 0) emit(c.window, "tick", Json(JsonObject{{"n", Json(tick_n_)}}));
      send("GET 2 screens");
      return;
    }
    if (m == "demo.painted") {
      if (c.window == "main") painted_ = true;
      return reply(c, true, Json(JsonObject{{"ok", Json(true)}}));
    }
    if (m == "theme.get") return reply(c, true, Json(JsonObject{{"dark", Json(dark_)}}));
    if (m.starts_with("store.")) return on_store(c);
    if (m == "win.setTitle") {
      const Json* t = param(c, "title");
      if (!t || !t->is_string()) return reject(c, "title must be a string");
      auto kw = targeted("TITLE", c.window);
      if (!kw) return reject(c, "this window cannot be addressed");
      std::string title = one_line(t->str());
      send(*kw + " " + title);
      return reply(c, true, Json(JsonObject{{"ok", Json(true)}, {"title", Json(title)}}));
    }
    if (m == "win.setSize") {
      const Json* w = param(c, "width");
      const Json* h = param(c, "height");
      auto dim = [](const Json* v) -> int {
        if (!v || !v->is_number() || !(v->num() >= 100 && v->num() <= 10000)) return -1;
        return static_cast<int>(v->num() + 0.5);
      };
      int wi = dim(w), hi = dim(h);
      if (wi < 0 || hi < 0) return reject(c, "width and height must be numbers from 100 to 10000");
      auto kw = targeted("SIZE", c.window);
      if (!kw) return reject(c, "this window cannot be addressed");
      send(*kw + " " + std::to_string(wi) + " " + std::to_string(hi));
      return reply(c, true, Json(JsonObject{{"ok", Json(true)}}));
    }
    if (m == "demo.winop") {
      const Json* op = param(c, "op");
      if (!op || !op->is_string() || !kDemoWinops.count(op->str()))
        return reject(c, "unknown window operation");
      auto kw = targeted("WINOP", c.window);
      if (!kw) return reject(c, "this window cannot be addressed");
      send(*kw + " " + op->str());
      return reply(c, true, Json(JsonObject{{"ok", Json(true)}}));
    }
    if (m == "demo.screens") {
      send("GET 2 screens");  // the list comes back as the "screens" event
      return reply(c, true, Json(JsonObject{{"ok", Json(true)}}));
    }
    if (m == "win.getState") {
      return reply(c, true,
                   Json(JsonObject{{"chrome", Json(JsonObject{{"frame", Json(true)}})},
                                   {"resizable", Json(true)}}));
    }
    if (m == "log") {
      const Json* msg = param(c, "msg");
      // Dumped as JSON so that control characters from the page stay inert
      // in the terminal.
      std::printf("page log [%s]: %s\n", c.window.c_str(), json_dump(msg ? *msg : Json()).c_str());
      return reply(c, true, Json(JsonObject{{"ok", Json(true)}}));
    }
    if (m == "quit") {
      reply(c, true, Json(JsonObject{{"ok", Json(true)}}));
      return send_quit();
    }
    if (m == "system.requirements") return reply(c, true, requirements());
    if (on_desktop_call(c)) return;
    if (m.starts_with("dialog.")) return on_dialog(c);
    if (m == "demo.toneFile" || m.starts_with("sampler.") || m.starts_with("audio."))
      return on_sound(c);
    if (m.starts_with("win.find") || m == "win.stopFind" || m == "win.print" ||
        m == "win.printToPDF" || m == "demo.cookies")
      return on_page_tool(c);
    if (m.starts_with("secrets.") || m.starts_with("shell.") || m.starts_with("login.") ||
        m == "app.captureScreen" || m == "app.pickColor" || m == "app.thumbnail" ||
        m == "app.spotlight")
      return on_tool(c);
    if (m == "sound.play" || m == "app.say" || m == "app.stopSpeaking" || m == "app.voices" ||
        m.starts_with("nowplaying."))
      return on_speech(c);
    if (m.starts_with("hotkey.") || m.starts_with("app.")) return on_input(c);
    if (m == "demo.echo") return reply(c, true, c.params);
    if (m == "demo.time") return reply(c, true, Json(JsonObject{{"now", Json(now_ms_since_epoch())}}));
    reject(c, "unknown method " + m);
  }

  static bool on_path(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/bin:/bin";
    while (!rest.empty()) {
      size_t colon = rest.find(':');
      std::string dir(rest.substr(0, colon));
      rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
      if (!dir.empty() && access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
    }
    return false;
  }

  // The system tools the desktop features lean on, checked on PATH now.
  static Json requirements() {
    struct Need {
      const char* id;
      const char* feature;
      const char* tool;
      const char* package;
    };
    static const Need needs[] = {
        {"audio.eq", "Equalizer", "pw-cli", "pipewire-bin"},
        {"speech", "Speech", "spd-say", "speech-dispatcher"},
        {"search", "File search", "plocate", "plocate"},
        {"clipboard.images", "Clipboard images", "xclip", "xclip"},
    };
    JsonArray list;
    for (const Need& n : needs) {
      bool found = on_path(n.tool);
      JsonObject e{{"id", Json(n.id)},
                   {"feature", Json(n.feature)},
                   {"ok", Json(found)},
                   {"detail", Json(std::string(found ? "found " : "needs ") + n.tool)}};
      if (!found)
        e.emplace_back("install", Json(JsonObject{{"manager", Json("apt")},
                                                  {"packages", Json(JsonArray{Json(n.package)})}}));
      list.push_back(Json(std::move(e)));
    }
    return Json(JsonObject{{"requirements", Json(std::move(list))}});
  }

  Json capabilities(const PageCall& c) {
    auto verdicts = [](const Json* names, const std::set<std::string, std::less<>>& known) {
      Json out = JsonObject{};
      if (!names || !names->is_array()) return out;
      for (auto& n : names->arr()) {
        if (!n.is_string()) continue;
        if (known.count(n.str()))
          out.set(n.str(), Json(true));
        else
          out.set(n.str(), Json(JsonObject{{"why", Json("unsupported")}, {"feature", n}}));
      }
      return out;
    };
    return Json(JsonObject{{"calls", verdicts(param(c, "calls"), kCalls)},
                           {"events", verdicts(param(c, "events"), kEvents)}});
  }

  // ---- sound panel: the sampler and the equalizer -------------------------

  // A short plucked tone, written once as a 16-bit mono WAV in the run's folder.
  std::string tone_file() {
    std::string path = dir_ + "/tone.wav";
    if (access(path.c_str(), R_OK) == 0) return path;
    const uint32_t rate = 48000, n = rate / 3;
    std::string d;
    auto u32 = [&d](uint32_t v) { for (int i = 0; i < 4; ++i) d += char(v >> (8 * i)); };
    auto u16 = [&d](uint16_t v) { d += char(v); d += char(v >> 8); };
    d += "RIFF"; u32(36 + n * 2); d += "WAVEfmt "; u32(16); u16(1); u16(1); u32(rate);
    u32(rate * 2); u16(2); u16(16); d += "data"; u32(n * 2);
    for (uint32_t i = 0; i < n; ++i) {
      double t = double(i) / rate;
      double x = std::sin(2 * M_PI * 660 * t) * std::exp(-t * 9) * 0.6;
      u16(static_cast<uint16_t>(static_cast<int16_t>(x * 32767)));
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "";
    std::fwrite(d.data(), 1, d.size(), f);
    std::fclose(f);
    return path;
  }

  static double num_param(const PageCall& c, std::string_view key, double fallback) {
    const Json* v = param(c, key);
    return v && v->is_number() ? v->num() : fallback;
  }

  static std::string num_text(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.6g", v);
    return b;
  }

  // ---- speech and now-playing panel --------------------------------------

  void on_speech(const PageCall& c) {
    const std::string& m = c.method;
    const Json ok = Json(JsonObject{{"ok", Json(true)}});
    if (m == "app.stopSpeaking") {
      send("SAYSTOP");
      return reply(c, true, ok);
    }
    if (m == "nowplaying.clear" || m == "nowplaying.set") {
      send(m == "nowplaying.clear" ? "NOWPLAYING clear" : "NOWPLAYING " + wire_field(json_dump(c.params)));
      return reply(c, true, ok);
    }
    std::string key = "tool" + std::to_string(++tool_seq_);
    std::string line;
    if (m == "sound.play") line = "SOUND " + key + " " + str_param(c, "target");
    else if (m == "app.voices") line = "VOICES " + key;
    else {
      const Json* rate = param(c, "rate");
      line = "SAY " + key + " " + str_param(c, "text") + "\t" + str_param(c, "voice") + "\t" +
             (rate && rate->is_number() ? num_text(rate->num()) : "");
    }
    tool_calls_[key] = c;
    send(line);
  }

  // "MEDIAKEY <key>[\t<seconds>]" from the desktop's media controls.
  void on_media_key(std::string_view rest) {
    size_t tab = rest.find('\t');
    JsonObject o{{"key", Json(std::string(rest.substr(0, tab)))}};
    if (tab != std::string_view::npos)
      o.emplace_back("position", Json(std::atof(std::string(rest.substr(tab + 1)).c_str())));
    emit_to_ready("media-key", Json(std::move(o)));
  }

  // ---- tools panel: secrets, shell, login item, capture, search ----------

  std::string str_param(const PageCall& c, std::string_view key) {
    const Json* v = param(c, key);
    return v && v->is_string() ? wire_field(v->str()) : "";
  }

  void on_tool(const PageCall& c) {
    const std::string& m = c.method;
    std::string key = "tool" + std::to_string(++tool_seq_);
    std::string line;
    // The demo keeps its secrets under its own service name.
    if (m == "secrets.get") line = "SECRET " + key + " get\tovalis-demo\t" + str_param(c, "key");
    else if (m == "secrets.set")
      line = "SECRET " + key + " set\tovalis-demo\t" + str_param(c, "key") + "\t" +
             str_param(c, "value");
    else if (m == "secrets.delete") line = "SECRET " + key + " del\tovalis-demo\t" + str_param(c, "key");
    else if (m == "shell.open") line = "SHELL " + key + " open\t" + str_param(c, "target");
    else if (m == "shell.reveal") line = "SHELL " + key + " reveal\t" + str_param(c, "path");
    else if (m == "shell.trash") line = "SHELL " + key + " trash\t" + str_param(c, "path");
    else if (m == "login.get") line = "LOGIN " + key + " get";
    else if (m == "login.set") {
      const Json* on = param(c, "enabled");
      line = "LOGIN " + key + " set " + (on && on->is_bool() && std::get<bool>(on->v) ? "1" : "0");
    } else if (m == "app.captureScreen") line = "CAPTURE " + key;
    else if (m == "app.pickColor") line = "PICKCOLOR " + key;
    else if (m == "app.thumbnail") {
      const Json* size = param(c, "size");
      line = "THUMB " + key + " " + str_param(c, "path") +
             (size && size->is_number() ? "\t" + std::to_string(static_cast<int>(size->num())) : "");
    } else if (m == "app.spotlight") line = "SPOTLIGHT " + key + " " + str_param(c, "query");
    else return reject(c, "unknown method " + m);
    tool_calls_[key] = c;
    send(line);
  }

  // The launcher's answer, shaped the way the page API promises it.
  void on_tool_answer(const PageCall& c, const std::optional<Json>& v) {
    if (!v) return reject(c, "no answer");
    const Json* ok = v->get("ok");
    if (!ok || !ok->is_bool() || !std::get<bool>(ok->v)) {
      const Json* err = v->get("error");
      return reject(c, err && err->is_string() ? err->str() : "unsupported here");
    }
    const std::string& m = c.method;
    const Json* field = m == "secrets.get"     ? v->get("value")
                        : m == "app.pickColor"  ? v->get("color")
                        : m == "app.spotlight"  ? v->get("paths")
                        : m == "app.voices"     ? v->get("voices")
                        : m.starts_with("login.") ? v->get("status")
                                                  : nullptr;
    if (field) return reply(c, true, *field);
    reply(c, true, *v);
  }

  void on_sound(const PageCall& c) {
    const std::string& m = c.method;
    const Json ok = Json(JsonObject{{"ok", Json(true)}});
    if (m == "demo.toneFile") {
      std::string p = tone_file();
      if (p.empty()) return reject(c, "could not write the tone file");
      return reply(c, true, Json(JsonObject{{"path", Json(p)}}));
    }
    if (m == "sampler.load") {
      const Json* name = param(c, "name");
      const Json* path = param(c, "path");
      if (!name || !name->is_string() || !path || !path->is_string())
        return reject(c, "sampler.load needs a name and a path");
      std::string key = "smp" + std::to_string(++smp_seq_);
      smp_loads_[key] = c;
      return send("SAMPLER " + key + " LOAD\t" + wire_field(name->str()) + "\t" +
                  wire_field(path->str()));
    }
    if (m == "sampler.play") {
      const Json* name = param(c, "name");
      if (!name || !name->is_string()) return reject(c, "sampler.play needs a name");
      const Json* loop = param(c, "loop");
      int id = ++smp_voice_;
      send("SAMPLER PLAY " + std::to_string(id) + "\t" + wire_field(name->str()) + "\t" +
           num_text(num_param(c, "gain", 1)) + "\t" + num_text(num_param(c, "pan", 0)) + "\t" +
           num_text(num_param(c, "rate", 1)) + "\t" +
           (loop && loop->is_bool() && std::get<bool>(loop->v) ? "1" : "0"));
      return reply(c, true, Json(JsonObject{{"id", Json(id)}}));
    }
    if (m == "sampler.stop") {
      send("SAMPLER STOP " + std::to_string(static_cast<int>(num_param(c, "id", 0))));
      return reply(c, true, ok);
    }
    if (m == "sampler.set") {
      auto field = [&c](const char* k) {
        const Json* v = param(c, k);
        return v && v->is_number() ? num_text(v->num()) : std::string("_");
      };
      send("SAMPLER SET " + std::to_string(static_cast<int>(num_param(c, "id", 0))) + "\t" +
           field("gain") + "\t" + field("pan") + "\t" + field("rate"));
      return reply(c, true, ok);
    }
    if (m == "sampler.unload") {
      const Json* name = param(c, "name");
      if (!name || !name->is_string()) return reject(c, "sampler.unload needs a name");
      send("SAMPLER UNLOAD " + wire_field(name->str()));
      return reply(c, true, ok);
    }
    if (m == "audio.filterSet") {
      const Json* f = param(c, "filter");
      auto n = [f](const char* k, double d) {
        const Json* v = f ? f->get(k) : nullptr;
        return v && v->is_number() ? v->num() : d;
      };
      send("AUDIOFILTERSET " + std::to_string(static_cast<int>(num_param(c, "index", -1))) + "\t" +
           num_text(n("freq", 1000)) + "\t" + num_text(n("q", 1)) + "\t" + num_text(n("gain", 0)));
      return reply(c, true, ok);
    }
    if (m == "sampler.stopAll") {
      send("SAMPLER STOPALL");
      return reply(c, true, ok);
    }
    if (m == "sampler.master") {
      send("SAMPLER MASTER " + num_text(num_param(c, "value", 1)));
      return reply(c, true, ok);
    }
    if (m == "audio.balance") {
      send("AUDIOBALANCE " + num_text(num_param(c, "value", 0)));
      return reply(c, true, ok);
    }
    if (m == "audio.filters") {
      // The page's filter types as filter-chain builtin labels.
      static const std::set<std::string, std::less<>> kBiquads = {
          "peaking", "lowshelf", "highshelf", "lowpass", "highpass", "bandpass", "notch", "allpass"};
      std::string line = "AUDIOFILTERS ";
      const Json* list = param(c, "filters");
      bool first = true;
      static const JsonArray kNone;
      for (const Json& f : list && list->is_array() ? list->arr() : kNone) {
        const Json* type = f.get("type");
        if (!type || !type->is_string()) continue;
        bool gain_only = type->str() == "gain";
        if (!gain_only && !kBiquads.count(type->str())) continue;
        auto n = [&f](const char* k, double d) {
          const Json* v = f.get(k);
          return v && v->is_number() ? v->num() : d;
        };
        if (!first) line += '\t';
        first = false;
        line += (gain_only ? std::string("linear") : "bq_" + type->str()) + "," +
                num_text(n("freq", 1000)) + "," + num_text(n("q", 1)) + "," +
                num_text(n("gain", gain_only ? 1 : 0));
        if (f.get("gainR")) line += "," + num_text(n("gainR", 0));
      }
      send(line);
      return reply(c, true, ok);
    }
    reject(c, "unknown method " + m);
  }

  // Hotkeys, keystrokes and the pointer: each becomes a launcher request
  // whose answer goes back to the page as it is.
  void ask_launcher(const PageCall& c, const std::string& kw, const std::string& rest) {
    std::string key = "in" + std::to_string(++via_seq_);
    via_launcher_.emplace(key, c);
    send(kw + " " + key + " " + rest);
  }

  void on_input(const PageCall& c) {
    auto text = [&](std::string_view key) {
      const Json* v = param(c, key);
      return v && v->is_string() ? v->str() : std::string();
    };
    const std::string& m = c.method;
    auto flat = [](std::string s) {
      for (char& ch : s)
        if (ch == '\t' || ch == '\n' || ch == '\r') ch = ' ';
      return s;
    };
    if (m == "hotkey.register") return ask_launcher(c, "HKREG", flat(text("id")) + "\t" + flat(text("combo")));
    if (m == "hotkey.unregister") {
      send("HKUNREG " + flat(text("id")));
      return reply(c, true, Json());
    }
    if (m == "app.keystroke") return ask_launcher(c, "KEYSTROKE", flat(text("combo")));
    if (m == "app.mouse") return ask_launcher(c, "GET", "mouse");
    if (m == "app.mouseTracking.start") return ask_launcher(c, "MOUSETRACK", "");
    if (m == "app.mouseTracking.stop") {
      send("MOUSETRACK STOP");
      return reply(c, true, Json());
    }
    reject(c, "unknown method " + m);
  }

  // Tabs, line breaks and backslashes escaped for one wire field.
  static std::string wire_field(const std::string& s) {
    std::string out;
    for (char ch : s) {
      if (ch == '\\') out += "\\\\";
      else if (ch == '\t') out += "\\t";
      else if (ch == '\n') out += "\\n";
      else if (ch == '\r') out += "\\r";
      else out += ch;
    }
    return out;
  }

  void on_store(const PageCall& c) {
    const std::string& m = c.method;
    if (m == "store.all") return reply(c, true, store_);
    const Json* key = param(c, "key");
    if (!key || !key->is_string()) return reject(c, "store key must be a string");
    if (m == "store.get") {
      const Json* v = store_.get(key->str());
      return reply(c, true, v ? *v : Json());
    }
    if (m == "store.set") {
      const Json* v = param(c, "value");
      // An undefined value does not survive JSON; it is stored as null.
      store_.set(key->str(), v ? *v : Json());
      return reply(c, true, Json(JsonObject{{"ok", Json(true)}}));
    }
    if (m == "store.delete") {
      bool existed = store_.erase(key->str());
      return reply(c, true, Json(JsonObject{{"ok", Json(true)}, {"existed", Json(existed)}}));
    }
    reject(c, "unknown method " + m);
  }

  int finish() {
    if (sock_ >= 0) close(sock_);
    sock_ = -1;
    if (capture_pid_ > 0) {
      kill(capture_pid_, SIGKILL);
      waitpid(capture_pid_, nullptr, 0);
      capture_pid_ = -1;
    }
    reap_blocking();
    int st = *child_status_;
    std::printf("demo: launcher ended (%s)\n", describe_status(st).c_str());
    if (screenshot_mode() && (!shot_done_ || shot_failed_)) return 1;
    // A launcher that crashed or failed is not a clean end of the demo;
    // one this program had to terminate after asking it to quit is.
    if (WIFSIGNALED(st) && !terminated_) return 1;
    if (WIFEXITED(st) && WEXITSTATUS(st) != 0) return WEXITSTATUS(st);
    return 0;
  }
};

void usage(const char* argv0) {
  std::fprintf(stderr, "usage: %s [--screenshot <png>]\n", argv0);
}

}  // namespace

int main(int argc, char** argv) {
  // Line-buffered even into a pipe, so the conversation reads in order.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  std::string shot;
  if (const char* e = std::getenv("OVALIS_DEMO_SCREENSHOT"); e && *e) shot = e;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--screenshot" && i + 1 < argc) {
      shot = argv[++i];
    } else if (a.starts_with("--screenshot=")) {
      shot = std::string(a.substr(13));
    } else if (a == "-h" || a == "--help") {
      usage(argv[0]);
      return 0;
    } else {
      usage(argv[0]);
      return 2;
    }
  }
  if (!shot.empty() && shot[0] != '/') {
    // import runs with our working folder, but the path is printed for the
    // user: make it absolute so it can be found from anywhere.
    if (char* cwd = getcwd(nullptr, 0)) {
      shot = std::string(cwd) + "/" + shot;
      std::free(cwd);
    }
  }

  if (pipe2(g_sig_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("demo: pipe");
    return 1;
  }
  struct sigaction sa{};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);

  std::string launcher = OVALIS_DEMO_LAUNCHER;
  if (const char* e = std::getenv("OVALIS_DEMO_LAUNCHER"); e && *e) launcher = e;
  std::string page = std::string(OVALIS_DEMO_PAGE_DIR) + "/index.html";
  // Popups open in windows of their own, which the demo then allows.
  setenv("OVALIS_POPUPS", "window", 0);

  Backend backend(launcher, page, shot);
  return backend.run();
}
