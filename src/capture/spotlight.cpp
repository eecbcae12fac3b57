// File search by name: the locate database where the system has one, else
// a bounded walk of the home folder. The tool runs as a child whose output
// the main loop reads without blocking; 100 results or 4 s end a search.
#include <fcntl.h>
#include <glib-unix.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "core/dispatch.h"
#include "core/gobj.h"
#include "core/wire.h"

namespace {

const size_t kMaxResults = 100;
const guint kTimeLimitMs = 4000;
// Each search is a child process walking the disk; a page asking in a loop
// must not fill the machine with them.
const int kMaxRunning = 4;
int g_search_running = 0;

// One running search. Its finish and its child's exit both hold it; the
// child is only signalled while it has not been reaped, so a reused process
// id is never hit.
struct SpotlightCtx {
  std::string reqid;
  GPid pid = 0;
  int fd = -1;
  guint watch = 0;
  guint timer = 0;
  bool finished = false;
  bool reaped = false;
  int holds = 2;
  std::string out;
};

void release(SpotlightCtx* c) {
  if (--c->holds == 0) delete c;
}

std::vector<std::string> search_command(const std::string& query) {
  for (const char* tool : {"plocate", "locate"}) {
    GChars prog(g_find_program_in_path(tool));
    // "--" keeps a query such as "--database=..." from being read as an option.
    if (prog) return {prog.get(), "-i", "-l", "100", "--", query};
  }
  GChars find(g_find_program_in_path("find"));
  if (!find) return {};
  const char* home = std::getenv("HOME");
  return {find.get(), home && *home ? home : "/tmp", "-maxdepth", "6", "(", "-name", ".*", "-o",
          "-name", "node_modules", "-o", "-name", "__pycache__", ")", "-prune", "-o", "-iname",
          "*" + query + "*", "-print"};
}

std::string paths_json(const std::string& out) {
  std::string json = "{\"ok\":true,\"paths\":[";
  size_t count = 0, start = 0;
  // Only complete lines: a last line without its line break may be cut.
  for (size_t nl; count < kMaxResults && (nl = out.find('\n', start)) != std::string::npos;
       start = nl + 1) {
    if (nl == start) continue;
    if (count++) json += ',';
    json_escape_to(json, std::string_view(out).substr(start, nl - start));
  }
  return json + "]}";
}

size_t line_breaks(const std::string& s) {
  size_t n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

void spotlight_finish(SpotlightCtx* c) {
  if (c->finished) return;
  c->finished = true;
  if (c->watch) g_source_remove(c->watch);
  if (c->timer) g_source_remove(c->timer);
  c->watch = c->timer = 0;
  if (c->fd >= 0) close(c->fd);
  c->fd = -1;
  if (!c->reaped) kill(c->pid, SIGTERM);
  send_got(c->reqid, paths_json(c->out));
  release(c);
}

gboolean on_output(int fd, GIOCondition cond, gpointer data) {
  auto* c = static_cast<SpotlightCtx*>(data);
  bool ended = drain_pipe(fd, c->out);
  if (ended || (cond & (G_IO_HUP | G_IO_ERR)) || line_breaks(c->out) >= kMaxResults) {
    c->watch = 0;  // this source goes away as we return
    spotlight_finish(c);
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

gboolean on_time_limit(gpointer data) {
  auto* c = static_cast<SpotlightCtx*>(data);
  c->timer = 0;
  spotlight_finish(c);
  return G_SOURCE_REMOVE;
}

void on_child_exit(GPid pid, int, gpointer data) {
  auto* c = static_cast<SpotlightCtx*>(data);
  g_spawn_close_pid(pid);
  c->reaped = true;
  --g_search_running;
  release(c);
}

}  // namespace

void do_spotlight(std::string_view id, std::string_view rest) {
  std::string query = wire_unescape(rest);
  std::vector<std::string> cmd = query.empty() ? std::vector<std::string>{} : search_command(query);
  if (cmd.empty()) {
    send_got(id, "{\"ok\":true,\"paths\":[]}");
    return;
  }
  if (g_search_running >= kMaxRunning) {
    send_got(id, "{\"ok\":false,\"error\":\"too many file searches running at once\"}");
    return;
  }
  std::vector<char*> argv;
  for (std::string& a : cmd) argv.push_back(a.data());
  argv.push_back(nullptr);
  GPid pid = 0;
  int out = -1;
  if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr,
                                GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDERR_TO_DEV_NULL),
                                nullptr, nullptr, &pid, nullptr, &out, nullptr, nullptr)) {
    send_got(id, "{\"ok\":true,\"paths\":[]}");
    return;
  }
  fcntl(out, F_SETFL, fcntl(out, F_GETFL) | O_NONBLOCK);
  fcntl(out, F_SETFD, FD_CLOEXEC);
  ++g_search_running;
  auto* c = new SpotlightCtx;
  c->reqid = id;
  c->pid = pid;
  c->fd = out;
  c->watch = g_unix_fd_add(out, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), on_output, c);
  c->timer = g_timeout_add(kTimeLimitMs, on_time_limit, c);
  g_child_watch_add(pid, on_child_exit, c);
}
