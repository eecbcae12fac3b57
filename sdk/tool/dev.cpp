// ovalis dev: runs the application, restarts the backend when its sources
// change, and has the page reloaded when the page's files change (the
// reload itself is done by the stand-in launcher, dev_shim.cpp). Every line
// on the terminal is marked with where it came from.
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "tool.h"
#include "watch.h"

namespace tool {

const char* const kHelpDev =
    "Usage: ovalis dev [--wire] [--inspect] [--no-watch] [dir]\n"
    "\n"
    "Runs the application in dir (default: the current folder) for\n"
    "development:\n"
    "  - the build command (backend.build) runs first, and again before\n"
    "    every restart;\n"
    "  - a change under the page's folder reloads the page;\n"
    "  - a change under backend.watch (default: backend/) restarts the\n"
    "    backend, which restarts launcher cleanly;\n"
    "  - the web inspector is available (F12 or the context menu);\n"
    "  - output is marked with its source: [backend] for the backend's\n"
    "    output, [launcher] for launcher's, [page] for the page's console and\n"
    "    uncaught errors, [wire] for the wire exchange, [ovalis] for this\n"
    "    command.\n"
    "When the window is closed and the backend ends normally, so does\n"
    "'ovalis dev'. When the backend fails, it waits for a change and\n"
    "tries again. Ctrl-C stops the application.\n"
    "\n"
    "Options:\n"
    "  --wire        show every line between backend and launcher: '[wire] >'\n"
    "                for lines the backend sends, '[wire] <' for lines it gets\n"
    "  --inspect     open the web inspector at start\n"
    "  --no-watch    do not watch files (run once, still marked and inspectable)\n"
    "  -h, --help    show this help and exit\n"
    "\n"
    "Environment:\n"
    "  OVALIS_LAUNCHER   the launcher program (default: the one installed\n"
    "                    beside ovalis, else launcher on PATH)\n"
    "\n"
    "Exit status: 0 when the application ended normally, 1 when it could not\n"
    "be started, 2 for bad usage or a bad ovalis.json.\n";

namespace {

struct Dev {
  ovalis::AppConfig cfg;
  Env env;
  GMainLoop* loop = nullptr;
  GPid pid = 0;
  bool restart = false;
  bool stopping = false;
  int exit_status = 0;
  std::unique_ptr<LineReader> out, err, log;
  int out_fd = -1, err_fd = -1, log_fd = -1;
  std::string tmp;
};

void say(const std::string& text) { g_printerr("[ovalis] %s\n", text.c_str()); }

void start_backend(Dev& d);

void on_backend_exit(GPid pid, gint status, gpointer data) {
  auto& d = *static_cast<Dev*>(data);
  g_spawn_close_pid(pid);
  d.pid = 0;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  if (d.stopping) {
    g_main_loop_quit(d.loop);
    return;
  }
  if (d.restart) {
    d.restart = false;
    say("restarting the backend");
    start_backend(d);
    return;
  }
  if (code == 0) {
    say("the application ended");
    g_main_loop_quit(d.loop);
    return;
  }
  d.exit_status = 1;
  say("the backend ended with status " + std::to_string(code) + "; waiting for a change to restart it");
}

// The build's output, marked like everything else (printed when it ends).
bool build_marked(const Dev& d) {
  if (d.cfg.backend.build.empty()) return true;
  std::vector<char*> av;
  for (auto& a : d.cfg.backend.build) av.push_back(const_cast<char*>(a.c_str()));
  av.push_back(nullptr);
  gchar** envp = g_get_environ();
  for (auto& [k, v] : sdk_env()) envp = g_environ_setenv(envp, k.c_str(), v.c_str(), TRUE);
  gchar *out = nullptr, *err_text = nullptr;
  gint status = 0;
  GError* err = nullptr;
  gboolean ok = g_spawn_sync(d.cfg.dir.c_str(), av.data(), envp, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out,
                             &err_text, &status, &err);
  g_strfreev(envp);
  if (!ok) {
    say(std::string("cannot run the build command: ") + err->message);
    g_error_free(err);
    return false;
  }
  for (gchar* text : {out, err_text}) {
    gchar** lines = g_strsplit(text ? text : "", "\n", -1);
    for (gchar** l = lines; *l; ++l)
      if (**l) g_printerr("[build] %s\n", *l);
    g_strfreev(lines);
  }
  g_free(out);
  g_free(err_text);
  if (g_spawn_check_wait_status(status, nullptr)) return true;
  say("the build command (backend.build) failed");
  return false;
}

void start_backend(Dev& d) {
  if (!build_marked(d)) {
    say("the build failed; waiting for a change to try again");
    return;
  }
  Args argv = backend_argv(d.cfg);
  std::vector<char*> av;
  for (auto& a : argv) av.push_back(const_cast<char*>(a.c_str()));
  av.push_back(nullptr);
  gchar** envp = g_get_environ();
  for (auto& [k, v] : d.env) envp = g_environ_setenv(envp, k.c_str(), v.c_str(), TRUE);
  GError* err = nullptr;
  int out = -1, errfd = -1;
  gboolean ok = g_spawn_async_with_pipes(d.cfg.dir.c_str(), av.data(), envp,
                                         GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
                                         nullptr, nullptr, &d.pid, nullptr, &out, &errfd, &err);
  g_strfreev(envp);
  if (!ok) {
    say(std::string("cannot start the backend: ") + err->message);
    g_error_free(err);
    d.exit_status = 1;
    return;
  }
  d.exit_status = 0;
  g_child_watch_add(d.pid, on_backend_exit, &d);
  // Old readers go once their pipes have drained; these are the new ones.
  auto prefix = [](FILE* to) {
    return [to](const std::string& l) {
      g_fprintf(to, "[backend] %s\n", l.c_str());
      fflush(to);
    };
  };
  d.out = std::make_unique<LineReader>(out, prefix(stdout), [out] { close(out); });
  d.err = std::make_unique<LineReader>(errfd, prefix(stderr), [errfd] { close(errfd); });
}

void stop_backend(Dev& d, int sig) {
  if (d.pid > 0) kill(d.pid, sig);
}

}  // namespace

int cmd_dev(const Args& args) {
  std::string dir;
  bool wire = false, inspect = false, watch = true;
  for (auto& a : args) {
    if (a == "-h" || a == "--help") return g_print("%s", kHelpDev), kOk;
    if (a == "--wire") wire = true;
    else if (a == "--inspect") inspect = true;
    else if (a == "--no-watch") watch = false;
    else if (a.starts_with("-")) return usage_error("dev", "unknown option " + a);
    else if (!dir.empty()) return usage_error("dev", "more than one folder given");
    else dir = a;
  }
  auto cfg = load("dev", dir);
  if (!cfg) return kUsage;

  Dev d;
  d.cfg = *cfg;
  d.loop = g_main_loop_new(nullptr, FALSE);
  gchar* tmp = g_dir_make_tmp("ovalis-dev-XXXXXX", nullptr);
  if (!tmp) return fail("dev", "cannot make a temporary folder");
  d.tmp = tmp;
  g_free(tmp);
  // The stand-in launcher writes its marked lines into this pipe.
  std::string fifo = d.tmp + "/log";
  if (mkfifo(fifo.c_str(), 0600) != 0) return fail("dev", "cannot make " + fifo);
  d.log_fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  d.log = std::make_unique<LineReader>(d.log_fd, [](const std::string& l) { g_printerr("%s\n", l.c_str()); });

  d.env = backend_env(d.cfg);
  std::string real = launcher_path();
  d.env.emplace_back("OVALIS_DEV_REAL_LAUNCHER", real);
  d.env.emplace_back("OVALIS_LAUNCHER", self_exe());
  d.env.emplace_back("OVALIS_DEV_LOG", fifo);
  d.env.emplace_back("OVALIS_DEBUG", inspect ? "open" : "1");
  if (wire) d.env.emplace_back("OVALIS_DEV_WIRE", "1");
  std::string page_dir;
  if (!d.cfg.page_is_url()) {
    gchar* pd = g_path_get_dirname(d.cfg.page_target().c_str());
    page_dir = pd;
    g_free(pd);
    if (watch) d.env.emplace_back("OVALIS_DEV_PAGE_DIR", page_dir);
  }

  std::unique_ptr<TreeWatch> sources;
  if (watch) {
    std::vector<std::string> roots;
    for (auto& w : d.cfg.backend.watch) roots.push_back(d.cfg.dir + "/" + w);
    sources = std::make_unique<TreeWatch>(roots, 300, [&d](const std::string& path) {
      say("changed: " + path);
      if (d.pid > 0) {
        d.restart = true;
        stop_backend(d, SIGTERM);
      } else {
        start_backend(d);
      }
    });
  }

  auto on_signal = [](gpointer data) -> gboolean {
    auto& dd = *static_cast<Dev*>(data);
    if (dd.pid <= 0) {
      g_main_loop_quit(dd.loop);
    } else if (dd.stopping) {
      stop_backend(dd, SIGKILL);  // asked twice: no more waiting
    } else {
      dd.stopping = true;
      stop_backend(dd, SIGTERM);
    }
    return G_SOURCE_CONTINUE;
  };
  guint s1 = g_unix_signal_add(SIGINT, on_signal, &d);
  guint s2 = g_unix_signal_add(SIGTERM, on_signal, &d);

  say("running " + d.cfg.name + " from " + d.cfg.dir + (watch ? " (watching for changes)" : ""));
  start_backend(d);
  if (d.pid > 0 || watch) g_main_loop_run(d.loop);

  g_source_remove(s1);
  g_source_remove(s2);
  sources.reset();
  // Whatever the pipes still hold is printed before leaving.
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  d.log.reset();
  close(d.log_fd);
  g_unlink(fifo.c_str());
  g_rmdir(d.tmp.c_str());
  g_main_loop_unref(d.loop);
  return d.exit_status;
}

}  // namespace tool
