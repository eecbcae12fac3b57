#include "harness.h"

#include "json_string.h"
#include "ovalis/json.h"
#include "ovalis/wire.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
// Last: Xlib defines macros (None, Bool, Status) that clash with other headers.
#include <X11/Xlib.h>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

std::string make_temp_dir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/ovalis-e2e-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) std::abort();
  return buf.data();
}

}  // namespace

std::string page_path(const std::string& name) { return std::string(E2E_PAGES_DIR) + "/" + name; }
std::string launcher_bin() { return LAUNCHER_BIN; }

Backend::Backend() { dir_ = make_temp_dir(); }

Backend::~Backend() {
  if (pid_ > 0 && exit_status_ < 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (fd_ >= 0) close(fd_);
  if (listen_fd_ >= 0) close(listen_fd_);
  std::string cmd = "rm -rf '" + dir_ + "'";
  if (std::system(cmd.c_str()) != 0) {
  }
}

bool Backend::start(const Options& opts) {
  sock_path_ = dir_ + "/backend.sock";
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, sock_path_.c_str(), sizeof addr.sun_path - 1);
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
  listen(listen_fd_, 4);

  for (const char* sub : {"/home", "/home/.config", "/home/.local", "/home/.local/share",
                          "/home/.cache"})
    mkdir((dir_ + sub).c_str(), 0700);

  std::string target = opts.target.empty() ? page_path("blank.html") : opts.target;
  std::vector<std::string> args = {launcher_bin(), target, sock_path_};
  args.insert(args.end(), opts.extra_args.begin(), opts.extra_args.end());
  if (!opts.command.empty()) {
    args = opts.command;
    for (auto& a : args)
      if (a == "{sock}") a = sock_path_;
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> env = {
      {"HOME", dir_ + "/home"},
      {"XDG_CONFIG_HOME", dir_ + "/home/.config"},
      {"XDG_DATA_HOME", dir_ + "/home/.local/share"},
      {"XDG_CACHE_HOME", dir_ + "/home/.cache"},
  };
  env.insert(env.end(), opts.env.begin(), opts.env.end());

  std::string err_path = dir_ + "/stderr.txt";
  pid_ = fork();
  if (pid_ == 0) {
    for (auto& [k, v] : env) {
      if (v) setenv(k.c_str(), v->c_str(), 1);
      else unsetenv(k.c_str());
    }
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err >= 0) dup2(err, 2);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (!opts.expect_connect) return true;
  pollfd p{listen_fd_, POLLIN, 0};
  if (poll(&p, 1, 15000) <= 0) return false;
  fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  return fd_ >= 0;
}

void Backend::send_raw(const std::string& bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // The launcher's answers fill the other direction; keep reading them.
      read_some(10);
      continue;
    }
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

void Backend::send(const std::string& line) { send_raw(line + "\n"); }

void Backend::send_without_reading(const std::string& bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    pollfd p{fd_, POLLOUT, 0};
    if (poll(&p, 1, 30000) <= 0) return;
    ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

bool Backend::read_some(int timeout_ms) {
  if (fd_ < 0) return false;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return false;
  char tmp[65536];
  ssize_t n = read(fd_, tmp, sizeof tmp);
  if (n <= 0) return false;
  // Only the new bytes can hold a line end: a long line is scanned once.
  size_t scan = buf_.size();
  buf_.append(tmp, static_cast<size_t>(n));
  size_t start = 0, nl;
  while ((nl = buf_.find('\n', scan)) != std::string::npos) {
    lines_.push_back(buf_.substr(start, nl - start));
    start = scan = nl + 1;
  }
  buf_.erase(0, start);
  return true;
}

std::optional<std::string> Backend::expect(const std::function<bool(const std::string&)>& pred,
                                           int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  auto it = lines_.begin();
  for (;;) {
    for (; it != lines_.end(); ++it) {
      if (pred(*it)) {
        std::string text = std::move(*it);
        lines_.erase(it);
        return text;
      }
    }
    int left = ms_left(deadline);
    if (left == 0) return std::nullopt;
    // New lines are appended after the last one looked at; resume there.
    bool had = !lines_.empty();
    auto last = had ? std::prev(lines_.end()) : lines_.end();
    read_some(left);
    it = had ? std::next(last) : lines_.begin();
  }
}

std::optional<std::string> Backend::expect_prefix(const std::string& prefix, int timeout_ms) {
  return expect([&](const std::string& l) { return l.rfind(prefix, 0) == 0; }, timeout_ms);
}

std::vector<std::string> Backend::collect(int ms,
                                          const std::function<bool(const std::string&)>& pred) {
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (ms_left(deadline) > 0) read_some(ms_left(deadline));
  std::vector<std::string> out;
  for (auto it = lines_.begin(); it != lines_.end();) {
    if (pred && !pred(*it)) {
      ++it;
      continue;
    }
    out.push_back(std::move(*it));
    it = lines_.erase(it);
  }
  return out;
}

std::vector<std::string> Backend::unconsumed() {
  read_some(0);
  return {lines_.begin(), lines_.end()};
}

bool Backend::wait_page_ready(const std::string& window, int timeout_ms) {
  std::string want = "NAV {\"window\":\"" + window + "\",\"kind\":\"finish\"";
  if (!expect_prefix(want, timeout_ms)) return false;
  // A probe round trip proves the page has its token and its scripts.
  return page_eval("1", window).has_value();
}

std::optional<std::string> Backend::page_eval(const std::string& expr, const std::string& window,
                                              int timeout_ms) {
  size_t tag = ++probe_seq_;
  std::string js =
      "(async function(){try{return {v: await (" + expr +
      ")}}catch(e){return {err: String(e && e.message || e)}}})().then(function(r){"
      "r.tag=" + std::to_string(tag) +
      ";window.__invoke(JSON.stringify({method:'__probe',params:r}))})";
  std::string kw = window == "main" ? "EVAL " : "EVAL@" + window + " ";
  send(kw + ovalis::wire_escape(js));
  std::string marker = "\"tag\":" + std::to_string(tag) + "}";
  auto line = expect(
      [&](const std::string& l) {
        if (l.rfind("CALL ", 0) != 0) return false;
        auto c = parse_call(l);
        return c && c->payload.find("\"method\":\"__probe\"") != std::string::npos &&
               c->payload.size() >= marker.size() + 1 &&
               c->payload.compare(c->payload.size() - marker.size() - 1, marker.size(),
                                  marker) == 0;
      },
      timeout_ms);
  if (!line) return std::nullopt;
  auto c = parse_call(*line);
  // {"method":"__probe","params":{"v":VALUE,"tag":N}} or {"err":"..","tag":N}
  const std::string& p = c->payload;
  size_t at = p.find("\"params\":{") + 10;
  size_t end = p.size() - marker.size() - 2;  // the comma before "tag"
  std::string inner = p.substr(at, end - at);
  if (inner.rfind("\"v\":", 0) == 0) return inner.substr(4);
  if (inner.rfind("\"err\":", 0) == 0) return "ERR:" + json_string_value(inner.substr(6)).value_or("");
  return std::string("undefined");
}

std::optional<int> Backend::wait_exit(int timeout_ms) {
  if (exit_status_ >= 0) return exit_status_;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      exit_status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      return exit_status_;
    }
    if (ms_left(deadline) == 0) return std::nullopt;
    // Keep draining so a blocked writer on the other side can finish.
    if (!read_some(20)) usleep(20000);
  }
}

bool Backend::running() { return pid_ > 0 && exit_status_ < 0 && !wait_exit(0); }

void Backend::close_socket() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void Backend::kill_signal(int sig) { kill(pid_, sig); }

std::string Backend::stderr_text() const {
  std::ifstream f(dir_ + "/stderr.txt");
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::optional<std::string> json_string_value(const std::string& lit, size_t* end) {
  return json_string_at(lit, end);
}

std::optional<CallLine> parse_call(const std::string& line) {
  if (line.rfind("CALL ", 0) != 0) return std::nullopt;
  size_t sp = line.find(' ', 5);
  if (sp == std::string::npos || line.compare(sp, 2, " [") != 0) return std::nullopt;
  CallLine c;
  c.id = line.substr(5, sp - 5);
  size_t end = 0;
  auto payload = json_string_value(line.substr(sp + 2), &end);
  if (!payload) return std::nullopt;
  c.payload = *payload;
  size_t comma = sp + 2 + end;
  if (comma >= line.size() || line[comma] != ',') return std::nullopt;
  auto origin = json_string_value(line.substr(comma + 1));
  if (!origin) return std::nullopt;
  c.origin = *origin;
  return c;
}

}  // namespace e2e

namespace e2e {

std::string call_method(const CallLine& c) {
  auto payload = ovalis::json_parse(c.payload);
  return payload ? payload->str_or("method") : std::string();
}

bool serve_load_calls(Backend& b, const std::string& state, const std::string& verdicts,
                      int timeout_ms) {
  bool hello = false, caps = false, st = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!(hello && caps && st)) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    if (left <= 0) return false;
    auto line = b.expect(
        [](const std::string& l) {
          auto c = parse_call(l);
          if (!c) return false;
          std::string m = call_method(*c);
          return m == "client.hello" || m == "client.capabilities" || m == "win.getState";
        },
        left);
    if (!line) return false;
    auto c = parse_call(*line);
    std::string m = call_method(*c);
    if (m == "client.hello") {
      hello = true;
      b.send("RET " + c->id + " 0 {\"ok\":true}");
    } else if (m == "client.capabilities") {
      caps = true;
      std::string answer = verdicts;
      if (answer.empty()) {
        // Every name the page asked about works.
        auto payload = ovalis::json_parse(c->payload).value_or(ovalis::Json());
        const ovalis::Json* params = payload.get("params");
        auto all = [&](const char* key) {
          ovalis::Json out = ovalis::JsonObject{};
          const ovalis::Json* names = params ? params->get(key) : nullptr;
          if (names && names->is_array())
            for (auto& n : names->arr())
              if (n.is_string()) out.set(n.str(), true);
          return out;
        };
        answer = ovalis::json_dump(ovalis::obj({{"calls", all("calls")}, {"events", all("events")}}));
      }
      b.send("RET " + c->id + " 0 " + answer);
    } else {
      st = true;
      b.send("RET " + c->id + " 0 " + state);
    }
  }
  return true;
}

std::string wire_escape(const std::string& s) { return ovalis::wire_escape(s); }

}  // namespace e2e

namespace e2e {

std::string sh(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[512];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  pclose(p);
  return out;
}

bool on_wayland() {
  const char* wl = std::getenv("WAYLAND_DISPLAY");
  const char* x = std::getenv("DISPLAY");
  return wl && *wl && !(x && *x);
}

void wm_close_window(unsigned long xid) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return;
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = xid;
  ev.xclient.message_type = XInternAtom(d, "_NET_CLOSE_WINDOW", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = CurrentTime;
  ev.xclient.data.l[1] = 2;  // source: a pager
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask,
             &ev);
  XCloseDisplay(d);
}

}  // namespace e2e


namespace e2e {

Backend* start_page(const Options& opts) {
  auto* b = new Backend;
  if (b->start(opts) && serve_load_calls(*b) && b->wait_page_ready()) return b;
  delete b;
  return nullptr;
}

Backend* start_backend(const Options& opts) {
  auto* b = new Backend;
  if (b->start(opts)) return b;
  delete b;
  return nullptr;
}

void stop_page(Backend*& b) {
  if (!b) return;
  b->send("QUIT");
  EXPECT_EQ(b->wait_exit(), 0);
  delete b;
  b = nullptr;
}

}  // namespace e2e
