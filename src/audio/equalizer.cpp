// The system-wide equalizer: a filter-chain module loaded by a long-lived
// "pw-cli -m load-module" child, with the application's streams moved onto
// its sink. All PipeWire work goes through the command-line tools.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <glib-unix.h>
#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "audio/audio.h"
#include "audio/eq_config.h"
#include "core/app.h"
#include "core/gobj.h"
#include "core/wire.h"

std::string g_eq_sink;

namespace {

std::vector<EqFilter> g_eq;
GPid g_eq_pid = 0;
bool g_eq_mono = true;
double g_eq_balance = 0;
guint g_eq_push_timer = 0;
guint g_eq_route_timer = 0;

// Runs a shell script without waiting for it; names reach it only through
// the environment.
void run_script(const std::string& script,
                std::initializer_list<std::pair<const char*, std::string>> env) {
  char** envp = g_get_environ();
  for (auto& [k, v] : env) envp = g_environ_setenv(envp, k, v.c_str(), TRUE);
  const char* argv[] = {"sh", "-c", script.c_str(), nullptr};
  g_spawn_async(nullptr, const_cast<char**>(argv), envp,
                GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                            G_SPAWN_STDERR_TO_DEV_NULL),
                nullptr, nullptr, nullptr, nullptr);
  g_strfreev(envp);
}

void eq_route(const std::string& target) {
  std::string names;
  if (!g_app_id.empty()) names = g_app_id;
  if (!g_smp_node.empty()) names += (names.empty() ? "" : "\n") + g_smp_node;
  if (names.empty()) return;
  run_script(eq_route_script(), {{kEqEnvNames, names}, {kEqEnvTarget, target}});
}

void eq_push_params(int index) {
  if (g_eq_sink.empty()) return;
  std::vector<std::string> entries = eq_param_entries(g_eq, index, g_eq_mono);
  if (entries.empty()) return;
  run_script(eq_push_script(entries), {{kEqEnvNode, g_eq_sink}});
}

void eq_apply_balance() {
  if (g_eq_sink.empty()) return;
  run_script(eq_balance_script(g_eq_balance), {{kEqEnvNode, g_eq_sink + "-out"}});
}

gboolean eq_push_soon(gpointer) {
  g_eq_push_timer = 0;
  eq_push_params(-1);
  return G_SOURCE_REMOVE;
}

gboolean eq_start(gpointer) {
  if (!g_eq_sink.empty()) {
    eq_route(g_eq_sink);
    eq_push_params(-1);
    eq_apply_balance();
  }
  return G_SOURCE_REMOVE;
}

gboolean eq_route_tick(gpointer) {
  if (!g_eq_sink.empty()) eq_route(g_eq_sink);
  return G_SOURCE_CONTINUE;
}

void eq_unroute_and_forget();

// The child is reaped when it ends, and a pid that has been reaped is never
// signalled again: by then it may belong to another process. A child that
// ends by itself took the chain with it (the server went away, say), so the
// streams go back to the default sink and the next list builds afresh.
void on_pw_cli_exit(GPid pid, gint, gpointer) {
  g_spawn_close_pid(pid);
  if (pid != g_eq_pid) return;
  g_eq_pid = 0;
  std::fputs("ovalis: the equalizer's filter chain ended\n", stderr);
  eq_unroute_and_forget();
}

void kill_child() {
  if (!g_eq_pid) return;
  kill(g_eq_pid, SIGTERM);
  g_eq_pid = 0;
}

void remove_timers() {
  if (g_eq_route_timer) g_source_remove(g_eq_route_timer);
  g_eq_route_timer = 0;
  if (g_eq_push_timer) g_source_remove(g_eq_push_timer);
  g_eq_push_timer = 0;
}

void eq_unroute_and_forget() {
  remove_timers();
  if (!g_eq_sink.empty()) {
    eq_route("");
    g_eq_sink.clear();
  }
}

// pw-cli does not exit when the server refuses the module (an unknown
// builtin label, a graph over the node ceiling): it prints an "Error:" line
// and stays. Its output is read so that a refused chain is dropped at once
// instead of leaving streams routed to a sink that never appears.
struct PwCliOutput {
  GPid pid;
  int fd;
  std::string pending;
};

gboolean on_pw_cli_output(gint fd, GIOCondition, gpointer data) {
  auto* out = static_cast<PwCliOutput*>(data);
  char buf[1024];
  ssize_t n = read(fd, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return G_SOURCE_CONTINUE;
  if (n <= 0) return G_SOURCE_REMOVE;
  out->pending.append(buf, n);
  size_t nl;
  while ((nl = out->pending.find('\n')) != std::string::npos) {
    std::string line = out->pending.substr(0, nl);
    out->pending.erase(0, nl + 1);
    if (line.rfind("Error:", 0) == 0 && out->pid == g_eq_pid) {
      std::fprintf(stderr, "ovalis: the equalizer's filter chain was refused: %s\n", line.c_str() + 7);
      kill_child();
      eq_unroute_and_forget();
    }
  }
  if (out->pending.size() > 4096) out->pending.clear();
  return G_SOURCE_CONTINUE;
}

void close_pw_cli_output(gpointer data) {
  auto* out = static_cast<PwCliOutput*>(data);
  close(out->fd);
  delete out;
}

// Starts "pw-cli -m load-module" with its output on a pipe that
// on_pw_cli_output reads; 0 when it could not start.
GPid spawn_pw_cli(const char* pw_cli, const std::string& config) {
  const char* argv[] = {pw_cli, "-m", "load-module", "libpipewire-module-filter-chain",
                        config.c_str(), nullptr};
  int fds[2];
  if (!g_unix_open_pipe(fds, FD_CLOEXEC, nullptr)) return 0;
  GPid pid = 0;
  bool ok = g_spawn_async_with_fds(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
                                   nullptr, nullptr, &pid, -1, fds[1], fds[1], nullptr);
  close(fds[1]);
  if (!ok) {
    close(fds[0]);
    return 0;
  }
  g_unix_set_fd_nonblocking(fds[0], TRUE, nullptr);
  g_unix_fd_add_full(G_PRIORITY_DEFAULT, fds[0], GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR),
                     on_pw_cli_output, new PwCliOutput{pid, fds[0], {}}, close_pw_cli_output);
  return pid;
}

}  // namespace

void do_audio_filters(std::string_view rest) {
  std::string_view payload = rest.size() > 1 ? rest.substr(1) : std::string_view{};
  std::vector<EqFilter> old = std::move(g_eq);
  g_eq = eq_parse_filters(payload);
  if (g_eq.empty()) {
    eq_stop();
    return;
  }
  bool mono = eq_is_mono(g_eq);
  if (!g_eq_sink.empty() && mono == g_eq_mono && eq_same_shape(old, g_eq)) {
    // Only values changed; a burst of such lines is pushed once.
    if (!g_eq_push_timer) g_eq_push_timer = g_timeout_add(30, eq_push_soon, nullptr);
    return;
  }
  GChars pw_cli(g_find_program_in_path("pw-cli"));
  if (!pw_cli) return;
  if (g_eq_pid) {
    if (g_eq_route_timer) g_source_remove(g_eq_route_timer);
    g_eq_route_timer = 0;
    kill_child();
  }
  g_eq_mono = mono;
  g_eq_sink = "ovalis-eq-" + std::to_string(getpid());
  std::string config = eq_config(g_eq, g_eq_sink);
  GPid pid = spawn_pw_cli(pw_cli.get(), config);
  if (!pid) {
    g_eq_sink.clear();
    return;
  }
  g_eq_pid = pid;
  g_child_watch_add(pid, on_pw_cli_exit, nullptr);
  g_timeout_add(600, eq_start, nullptr);
  if (!g_eq_route_timer) g_eq_route_timer = g_timeout_add(1500, eq_route_tick, nullptr);
}

void do_audio_filter_set(std::string_view rest) {
  EqSet s;
  if (!eq_parse_set(rest, s)) return;
  if (s.index < 0 || static_cast<size_t>(s.index) >= g_eq.size()) return;
  EqFilter& f = g_eq[s.index];
  f.freq = s.freq;
  f.q = s.q;
  f.gain = s.gain;
  eq_push_params(static_cast<int>(s.index));
}

void do_audio_balance(std::string_view rest) {
  g_eq_balance = rest.size() > 1 ? ascii_num(rest.substr(1)) : 0;
  eq_apply_balance();
}

void eq_stop() {
  eq_unroute_and_forget();
  kill_child();
  g_eq.clear();
}
