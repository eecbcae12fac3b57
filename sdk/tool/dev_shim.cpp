// The stand-in launcher of `ovalis dev`. The backend starts it as it would
// start launcher; it starts the real launcher on a socket of its own and
// passes every line through, so that it can
//   - show the wire exchange,
//   - reload the page when the page's files change (a RELOAD line of its
//     own, put between whole lines),
//   - take the page's console messages, which its injected script sends as
//     "dev.console" calls, without the backend ever seeing them,
//   - mark the launcher's own output.
// It lives as long as the real launcher and ends with its status.
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "ovalis/wire.h"
#include "tool.h"
#include "watch.h"

namespace tool {

namespace {

const char kConsoleHook[] = R"JS(
(function () {
  if (window.__ovalisDevConsole || typeof window.__invoke !== 'function') return;
  window.__ovalisDevConsole = true;
  var invoke = window.__invoke;
  function text(args) {
    return Array.prototype.map.call(args, function (a) {
      if (a instanceof Error) return a.stack ? String(a) + '\n' + a.stack : String(a);
      if (a !== null && typeof a === 'object') {
        try { return JSON.stringify(a); } catch (e) { return String(a); }
      }
      return String(a);
    }).join(' ');
  }
  function send(level, args) {
    try {
      var p = invoke(JSON.stringify({ method: 'dev.console', params: { level: level, text: text(args) } }));
      if (p && p.catch) p.catch(function () {});
    } catch (e) { /* never break the page */ }
  }
  ['log', 'info', 'warn', 'error', 'debug'].forEach(function (level) {
    var orig = console[level];
    console[level] = function () {
      send(level, arguments);
      return orig.apply(console, arguments);
    };
  });
  window.addEventListener('error', function (e) {
    send('error', ['uncaught ' + (e.message || 'error') +
                   (e.filename ? ' (' + e.filename + ':' + e.lineno + ':' + e.colno + ')' : '')]);
  });
  window.addEventListener('unhandledrejection', function (e) {
    var r = e.reason;
    send('error', ['unhandled rejection: ' + (r && (r.stack || r.message) || String(r))]);
  });
})();
)JS";

// One direction's outgoing bytes: written without blocking, the rest kept
// until the socket can take more, so neither side can stall the other.
struct Outbox {
  int fd = -1;
  std::string pending;
  guint watch = 0;
  bool broken = false;

  void put(std::string_view line) {
    if (fd < 0 || broken) return;
    pending.append(line);
    pending += '\n';
    flush();
  }
  void flush() {
    while (!pending.empty()) {
      ssize_t w = send(fd, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (w <= 0) {
        broken = true;
        pending.clear();
        return;
      }
      pending.erase(0, size_t(w));
    }
    if (!pending.empty() && !watch) {
      watch = g_unix_fd_add(
          fd, G_IO_OUT,
          [](gint, GIOCondition, gpointer self) -> gboolean {
            auto* o = static_cast<Outbox*>(self);
            o->watch = 0;
            o->flush();
            return G_SOURCE_REMOVE;
          },
          this);
    }
  }
};

struct Shim {
  GMainLoop* loop = nullptr;
  int log_fd = 2;
  bool wire = false;
  GPid pid = 0;
  int status = 1;
  bool launcher_done = false;
  int listen_fd = -1;
  Outbox to_backend, to_launcher;
  std::unique_ptr<LineReader> from_backend, from_launcher, out, err;
  std::unique_ptr<TreeWatch> page_watch;
  std::string dir;
};

void note(Shim& s, std::string_view mark, std::string_view text) {
  // Very long lines (big answers) are cut for the terminal, never on the wire.
  std::string line;
  line.reserve(mark.size() + text.size() + 2);
  line.append(mark).append(" ");
  if (text.size() > 2000) {
    line.append(text.substr(0, 2000)).append("...");
  } else {
    line.append(text);
  }
  line += '\n';
  write_all(s.log_fd, line);
}

void from_launcher_line(Shim& s, const std::string& l) {
  if (l.starts_with("CALL ")) {
    auto call = ovalis::parse_call(std::string_view(l).substr(5));
    if (call && call->method == "dev.console") {
      std::string level = call->params.str_or("level", "log");
      std::string text = call->params.str_or("text");
      // A multi-line message (a stack) keeps its mark on every line.
      gchar** lines = g_strsplit(text.c_str(), "\n", -1);
      for (gchar** p = lines; *p; ++p) note(s, "[page]", (p == lines ? level + ": " : "  ") + *p);
      g_strfreev(lines);
      s.to_launcher.put(ovalis::ret_line(call->call_id, true, nullptr));
      return;
    }
  }
  if (s.wire) note(s, "[wire] <", l);
  s.to_backend.put(l);
}

void from_backend_line(Shim& s, const std::string& l) {
  if (s.wire) note(s, "[wire] >", l);
  s.to_launcher.put(l);
}

int connect_unix(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (path.size() >= sizeof a.sun_path) return -1;
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int dev_shim(int argc, char** argv) {
  Shim s;
  s.loop = g_main_loop_new(nullptr, FALSE);
  std::string real = g_getenv("OVALIS_DEV_REAL_LAUNCHER");
  s.wire = g_getenv("OVALIS_DEV_WIRE") != nullptr;
  if (const char* log = g_getenv("OVALIS_DEV_LOG")) {
    int fd = open(log, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) s.log_fd = fd;
  }
  std::string page_dir = g_getenv("OVALIS_DEV_PAGE_DIR") ? g_getenv("OVALIS_DEV_PAGE_DIR") : "";
  // Nothing below this program is a stand-in.
  for (const char* v : {"OVALIS_DEV_REAL_LAUNCHER", "OVALIS_DEV_WIRE", "OVALIS_DEV_LOG",
                        "OVALIS_DEV_PAGE_DIR", "OVALIS_LAUNCHER"})
    g_unsetenv(v);

  // The backend's end, as launcher would reach it.
  int up = connect_unix(argv[2]);
  if (up < 0) {
    note(s, "[ovalis]", std::string("cannot reach the backend's socket: ") + g_strerror(errno));
    return 1;
  }

  // The real launcher's end.
  gchar* tmp = g_dir_make_tmp("ovalis-shim-XXXXXX", nullptr);
  s.dir = tmp ? tmp : "/tmp";
  g_free(tmp);
  std::string sock = s.dir + "/launcher.sock";
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, sock.c_str(), std::min(sock.size() + 1, sizeof a.sun_path - 1));
  s.listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s.listen_fd < 0 || bind(s.listen_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(s.listen_fd, 1) != 0) {
    note(s, "[ovalis]", std::string("cannot listen for launcher: ") + g_strerror(errno));
    return 1;
  }

  std::vector<char*> av{const_cast<char*>(real.c_str())};
  for (int i = 1; i < argc; ++i) av.push_back(i == 2 ? const_cast<char*>(sock.c_str()) : argv[i]);
  av.push_back(nullptr);
  const char* inject = g_getenv("OVALIS_INJECT");
  // The semicolon keeps "f()\n(function..." from becoming one call.
  std::string script = std::string(inject ? inject : "") + "\n;" + kConsoleHook;
  g_setenv("OVALIS_INJECT", script.c_str(), TRUE);
  int out = -1, err = -1;
  GError* e = nullptr;
  if (!g_spawn_async_with_pipes(nullptr, av.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                                &s.pid, nullptr, &out, &err, &e)) {
    note(s, "[ovalis]", std::string("cannot start launcher: ") + e->message);
    g_error_free(e);
    return 1;
  }
  s.out = std::make_unique<LineReader>(out, [&s](const std::string& l) { note(s, "[launcher]", l); });
  s.err = std::make_unique<LineReader>(err, [&s](const std::string& l) { note(s, "[launcher]", l); });
  g_child_watch_add(
      s.pid,
      [](GPid pid, gint status, gpointer data) {
        auto& sh = *static_cast<Shim*>(data);
        g_spawn_close_pid(pid);
        sh.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        sh.launcher_done = true;
        g_main_loop_quit(sh.loop);
      },
      &s);

  // The backend asks us to stop as it would ask launcher: pass it on.
  auto forward = [](gpointer data) -> gboolean {
    auto& sh = *static_cast<Shim*>(data);
    if (sh.pid > 0 && !sh.launcher_done) kill(sh.pid, SIGTERM);
    return G_SOURCE_CONTINUE;
  };
  g_unix_signal_add(SIGTERM, forward, &s);
  g_unix_signal_add(SIGINT, forward, &s);
  g_unix_signal_add(SIGHUP, forward, &s);

  s.to_backend.fd = up;
  s.from_backend = std::make_unique<LineReader>(
      up, [&s](const std::string& l) { from_backend_line(s, l); },
      [&s] {
        // The backend is gone: launcher hears the end of its stream and quits.
        if (s.to_launcher.fd >= 0) shutdown(s.to_launcher.fd, SHUT_WR);
        else if (s.pid > 0) kill(s.pid, SIGTERM);
      });

  guint accept_watch = g_unix_fd_add(
      s.listen_fd, G_IO_IN,
      [](gint fd, GIOCondition, gpointer data) -> gboolean {
        auto& sh = *static_cast<Shim*>(data);
        int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return G_SOURCE_CONTINUE;
        sh.to_launcher.fd = c;
        sh.from_launcher = std::make_unique<LineReader>(
            c, [&sh](const std::string& l) { from_launcher_line(sh, l); },
            [&sh] { shutdown(sh.to_backend.fd, SHUT_WR); });
        return G_SOURCE_REMOVE;
      },
      &s);

  if (!page_dir.empty()) {
    s.page_watch = std::make_unique<TreeWatch>(std::vector<std::string>{page_dir}, 150, [&s](const std::string& p) {
      note(s, "[ovalis]", "changed: " + p + "; reloading the page");
      s.to_launcher.put("RELOAD");
    });
  }

  g_main_loop_run(s.loop);
  if (g_main_context_find_source_by_id(nullptr, accept_watch)) g_source_remove(accept_watch);
  // What launcher wrote last still goes to the backend, its output to the terminal.
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  s.page_watch.reset();
  s.from_launcher.reset();
  s.to_backend.flush();
  close(s.listen_fd);
  g_unlink(sock.c_str());
  g_rmdir(s.dir.c_str());
  return s.status;
}

}  // namespace tool
