#include "audio/child_proc.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/gobj.h"
#include "core/wire.h"

namespace {

std::vector<char*> c_argv(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  for (const std::string& a : argv) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

// Every start searches PATH: a bare name such as "sh" must run, and a full
// path is taken as it is anyway.
constexpr auto kQuiet = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDIN_FROM_DEV_NULL |
                                                 G_SPAWN_STDOUT_TO_DEV_NULL |
                                                 G_SPAWN_STDERR_TO_DEV_NULL);

// Runs argv to its end, but never waits past limit_ms: a tool stuck on a
// hung server is killed rather than hanging the main loop with it. True
// when it ran to the end with status 0; its standard output goes to *out
// when out is given, else to /dev/null.
bool run_bounded(const std::vector<std::string>& argv, int limit_ms, std::string* out) {
  wire_flush();
  auto args = c_argv(argv);
  int flags = G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDIN_FROM_DEV_NULL |
              G_SPAWN_STDERR_TO_DEV_NULL;
  if (!out) flags |= G_SPAWN_STDOUT_TO_DEV_NULL;
  GPid pid = 0;
  int fd = -1;
  if (!g_spawn_async_with_pipes(nullptr, args.data(), nullptr, static_cast<GSpawnFlags>(flags),
                                nullptr, nullptr, &pid, nullptr, out ? &fd : nullptr, nullptr,
                                nullptr))
    return false;
  gint64 deadline = g_get_monotonic_time() + gint64(limit_ms) * 1000;
  int status = 0;
  bool exited = false, gone = false;
  for (;;) {
    gint64 left_ms = (deadline - g_get_monotonic_time()) / 1000;
    if (left_ms <= 0) break;
    // Output is read to its end first, so the child never blocks on a full pipe.
    if (fd >= 0) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left_ms)) <= 0) continue;
      char buf[4096];
      ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) {
        out->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fd);
        fd = -1;
      }
      continue;
    }
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) exited = true;
    else if (r < 0 && errno != EINTR) gone = true;  // reaped elsewhere: its id is not ours
    if (exited || gone) break;
    g_usleep(2000);
  }
  if (fd >= 0) close(fd);
  if (!exited && !gone) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  g_spawn_close_pid(pid);
  return exited && g_spawn_check_wait_status(status, nullptr);
}

}  // namespace

std::string tool_path(const char* name) {
  GChars p(g_find_program_in_path(name));
  return p ? p.get() : "";
}

bool spawn_quiet(const std::vector<std::string>& argv) {
  auto args = c_argv(argv);
  // Without DO_NOT_REAP_CHILD GLib reaps the child itself.
  return g_spawn_async(nullptr, args.data(), nullptr, kQuiet, nullptr, nullptr, nullptr, nullptr);
}

GPid spawn_watched(const std::vector<std::string>& argv, int* out_fd) {
  auto args = c_argv(argv);
  int flags = G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDIN_FROM_DEV_NULL |
              G_SPAWN_STDERR_TO_DEV_NULL;
  if (!out_fd) flags |= G_SPAWN_STDOUT_TO_DEV_NULL;
  GPid pid = 0;
  if (!g_spawn_async_with_pipes(nullptr, args.data(), nullptr, static_cast<GSpawnFlags>(flags),
                                nullptr, nullptr, &pid, nullptr, out_fd, nullptr, nullptr))
    return 0;
  return pid;
}

bool run_and_wait(const std::vector<std::string>& argv, int limit_ms) {
  return run_bounded(argv, limit_ms, nullptr);
}

std::string run_output(const std::vector<std::string>& argv, int limit_ms) {
  std::string out;
  return run_bounded(argv, limit_ms, &out) ? out : "";
}

void run_sh(const char* script, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"sh", "-c", script, "sh"};
  argv.insert(argv.end(), args.begin(), args.end());
  spawn_quiet(argv);
}
