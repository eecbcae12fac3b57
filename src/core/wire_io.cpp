#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>

#include "core/app.h"
#include "core/wire.h"

int g_sock = -1;
std::mutex g_write_mutex;

namespace {

// Lines written by handlers while the main loop drains a batch of backend
// lines are collected and sent together when the batch ends, so a burst of
// queries costs one system call per batch rather than one per answer. Any
// other write first sends what is collected, so the order is kept.
std::string g_out_buf;           // guarded by g_write_mutex
bool g_held = false;             // guarded by g_write_mutex
thread_local bool t_batching = false;

bool read_available(size_t cap);

// Sends everything. While the backend is not taking more, whatever it sends
// meanwhile is read and queued, so a backend that is itself blocked writing
// to us can never deadlock the two.
void send_all_locked(const char* p, size_t left) {
  while (left > 0) {
    // MSG_NOSIGNAL: a backend that has gone away must not kill us with SIGPIPE;
    // the reader sees the end of the stream and quits cleanly instead.
    ssize_t n = send(g_sock, p, left, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd pf{g_sock, POLLOUT | POLLIN, 0};
      if (poll(&pf, 1, -1) < 0 && errno != EINTR) return;
      if (pf.revents & (POLLERR | POLLNVAL)) return;
      if ((pf.revents & (POLLIN | POLLHUP)) && !read_available(SIZE_MAX)) return;
      continue;
    }
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void send_line_locked(std::string_view line) {
  if (line.size() < 4096) {
    char buf[4096];
    std::memcpy(buf, line.data(), line.size());
    buf[line.size()] = '\n';
    send_all_locked(buf, line.size() + 1);
    return;
  }
  // A long line goes out as it is, its terminator after it.
  send_all_locked(line.data(), line.size());
  send_all_locked("\n", 1);
}

void flush_locked() {
  if (g_out_buf.empty() || g_held) return;
  if (g_sock >= 0) send_all_locked(g_out_buf.data(), g_out_buf.size());
  g_out_buf.clear();
}

}  // namespace

void wire_flush() {
  std::lock_guard<std::mutex> lock(g_write_mutex);
  flush_locked();
}

void wire_hold() {
  std::lock_guard<std::mutex> lock(g_write_mutex);
  g_held = true;
}

void wire_release(std::string_view first) {
  std::lock_guard<std::mutex> lock(g_write_mutex);
  std::string held = std::move(g_out_buf);
  g_out_buf.clear();
  g_held = false;
  if (g_sock < 0) return;
  std::string out;
  out.reserve(first.size() + 1 + held.size());
  out.append(first);
  out += '\n';
  out += held;
  send_all_locked(out.data(), out.size());
}

void pipe_write_line(std::string_view line) {
  if (line.find_first_of("\n\r") != std::string_view::npos) {
    std::fputs("ovalis: dropped a wire line with a raw line break\n", stderr);
    return;
  }
  std::lock_guard<std::mutex> lock(g_write_mutex);
  if (g_sock < 0) return;
  if (t_batching || g_held) {
    g_out_buf.append(line);
    g_out_buf += '\n';
    if (g_out_buf.size() >= 64 * 1024) flush_locked();
    return;
  }
  flush_locked();
  send_line_locked(line);
}

// ---- main-loop queue ------------------------------------------------------
//
// One GSource drains a FIFO of callables. It may recurse, so a handler that
// spins a nested main loop (a modal dialog) still lets later lines through,
// in order. It runs at idle priority so drawing and input stay ahead of it.

namespace {

struct UiQueue {
  std::mutex mu;
  std::deque<std::function<void()>> items;
};

UiQueue& ui_queue() {
  static UiQueue* q = new UiQueue;  // never destroyed: the process ends with _exit
  return *q;
}

void (*g_batch_end)() = nullptr;

size_t ui_queue_size() {
  UiQueue& q = ui_queue();
  std::lock_guard<std::mutex> lock(q.mu);
  return q.items.size();
}

// Lines waiting to run beyond which no more are read for now, and the bytes
// one turn of the loop reads at most.
constexpr size_t kReadBacklog = 4096;
constexpr size_t kReadBudget = 1 << 20;

bool ui_queue_ready() {
  UiQueue& q = ui_queue();
  std::lock_guard<std::mutex> lock(q.mu);
  return !q.items.empty();
}

gboolean ui_prepare(GSource*, gint* timeout) {
  *timeout = -1;
  // Every loop iteration, nested ones included, sends what a batch left.
  if (g_batch_end) g_batch_end();
  wire_flush();
  return ui_queue_ready();
}

GSource* g_ui_source = nullptr;
gpointer g_sock_tag = nullptr;

bool sock_ready() {
  return g_sock_tag &&
         (g_source_query_unix_fd(g_ui_source, g_sock_tag) & (G_IO_IN | G_IO_HUP | G_IO_ERR));
}

gboolean ui_check(GSource*) { return ui_queue_ready() || sock_ready(); }

gboolean ui_run(GSource*, GSourceFunc, gpointer) {
  UiQueue& q = ui_queue();
  // Lines are read here, on the main thread, as the loop finds them: an
  // answer reaches its handler without a hand-over between threads. A
  // backend flooding us waits in the socket while a backlog is worked off.
  if (sock_ready() && ui_queue_size() < kReadBacklog) read_available(kReadBudget);
  // Work for a bounded time, then give the loop a turn. A nested dispatch
  // (a handler running a modal loop) batches on its own and flushes on return.
  bool outer = !t_batching;
  t_batching = true;
  gint64 deadline = g_get_monotonic_time() + 8000;
  while (!g_quitting) {
    std::function<void()> fn;
    {
      std::lock_guard<std::mutex> lock(q.mu);
      if (q.items.empty()) break;
      fn = std::move(q.items.front());
      q.items.pop_front();
    }
    fn();
    if (g_get_monotonic_time() > deadline) break;
  }
  if (outer) t_batching = false;
  if (g_batch_end) g_batch_end();
  wire_flush();
  return G_SOURCE_CONTINUE;
}

GSourceFuncs ui_funcs = {ui_prepare, ui_check, ui_run, nullptr, nullptr, nullptr};

void ui_source_install() {
  static std::once_flag once;
  std::call_once(once, [] {
    GSource* src = g_source_new(&ui_funcs, sizeof(GSource));
    g_source_set_priority(src, G_PRIORITY_DEFAULT_IDLE);
    g_source_set_can_recurse(src, TRUE);
    g_source_set_name(src, "ovalis-ui-queue");
    g_source_attach(src, nullptr);
    g_ui_source = src;  // lives as long as the program
  });
}

}  // namespace

void ui_dispatch(std::function<void()> fn) {
  ui_source_install();
  UiQueue& q = ui_queue();
  bool was_empty;
  {
    std::lock_guard<std::mutex> lock(q.mu);
    was_empty = q.items.empty();
    q.items.push_back(std::move(fn));
  }
  if (was_empty) g_main_context_wakeup(nullptr);
}

namespace {

std::mutex g_read_mutex;
LineFramer g_framer;           // guarded by g_read_mutex
LineHandler g_on_line = nullptr;
bool g_read_ended = false;     // guarded by g_read_mutex

// Reads what the socket holds now, up to about `cap` bytes, and queues its
// lines. False once the stream has ended.
bool read_available(size_t cap) {
  std::lock_guard<std::mutex> lock(g_read_mutex);
  if (g_read_ended || g_sock < 0) return false;
  static char buf[256 * 1024];
  size_t total = 0;
  while (total < cap) {
    ssize_t n = recv(g_sock, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      total += static_cast<size_t>(n);
      g_framer.feed(buf, static_cast<size_t>(n), [](std::string&& line) {
        ui_dispatch([l = std::move(line)]() { g_on_line(l); });
      });
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    g_read_ended = true;
    ui_dispatch([] { app_quit(); });
    if (g_sock_tag) g_source_remove_unix_fd(g_ui_source, g_sock_tag);
    g_sock_tag = nullptr;
    return false;
  }
  return true;
}

}  // namespace

bool wire_batching() { return t_batching; }

void wire_set_batch_end(void (*fn)()) { g_batch_end = fn; }

void wire_defer_line(std::string_view line) {
  // Written as soon as the main loop is done with what it is dispatching now,
  // ahead of anything else: a burst of page calls costs a few writes, not
  // one each, and a lone call waits for nothing.
  static bool flush_queued = false;
  std::lock_guard<std::mutex> lock(g_write_mutex);
  if (g_sock < 0) return;
  bool alone = !flush_queued && g_out_buf.empty() && !g_held && !t_batching;
  if (alone) {
    // The first line of a turn goes at once; the ones after it wait for the
    // flush below.
    send_line_locked(line);
  } else {
    g_out_buf.append(line);
    g_out_buf += '\n';
  }
  if (g_out_buf.size() >= 64 * 1024) flush_locked();
  if (flush_queued) return;
  flush_queued = true;
  g_idle_add_full(G_PRIORITY_HIGH, [](gpointer) -> gboolean {
    flush_queued = false;
    wire_flush();
    return G_SOURCE_REMOVE;
  }, nullptr, nullptr);
}

void wire_start_reading(LineHandler on_line) {
  g_on_line = on_line;
  ui_source_install();
  g_sock_tag = g_source_add_unix_fd(g_ui_source, g_sock, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR));
}

bool drain_pipe(int fd, std::string& buf) {
  char tmp[8192];
  for (;;) {
    ssize_t n = read(fd, tmp, sizeof tmp);
    if (n > 0) {
      buf.append(tmp, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) return true;
    if (errno == EINTR) continue;
    return errno != EAGAIN && errno != EWOULDBLOCK;
  }
}

static GDBusConnection* bus_once(GBusType type) {
  wire_flush();  // connecting to a stuck bus daemon can take a while
  return g_bus_get_sync(type, nullptr, nullptr);
}

GVariant* bus_call_sync(GDBusConnection* bus, const char* name, const char* path,
                        const char* iface, const char* method, GVariant* params,
                        const GVariantType* reply_type, GDBusCallFlags flags, int timeout_ms,
                        GCancellable* cancellable, GError** error) {
  wire_flush();
  return g_dbus_connection_call_sync(bus, name, path, iface, method, params, reply_type, flags,
                                     timeout_ms, cancellable, error);
}

GDBusConnection* session_bus() {
  static GDBusConnection* bus = bus_once(G_BUS_TYPE_SESSION);
  return bus;
}

GDBusConnection* system_bus() {
  static GDBusConnection* bus = bus_once(G_BUS_TYPE_SYSTEM);
  return bus;
}

int unix_connect(const char* path, std::string* error) {
  sockaddr_un addr{};
  if (std::strlen(path) >= sizeof addr.sun_path) {
    *error = std::string("socket path too long (a Unix socket address holds at most ") +
             std::to_string(sizeof addr.sun_path - 1) + " bytes): " + path;
    return -1;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path, std::strlen(path) + 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    *error = std::string("connect: ") + std::strerror(errno);
    close(fd);
    return -1;
  }
  // Everything the program does, it does for whoever is at the other end.
  ucred peer{};
  socklen_t len = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || peer.uid != getuid()) {
    *error = "the socket " + std::string(path) + " belongs to another user (uid " +
             std::to_string(peer.uid) + "); refusing it";
    close(fd);
    return -1;
  }
  return fd;
}
