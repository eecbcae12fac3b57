#include "watch.h"

#include <glib-unix.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tool {

TreeWatch::TreeWatch(std::vector<std::string> roots, int quiet_ms, std::function<void(const std::string&)> fn)
    : quiet_ms_(quiet_ms), fn_(std::move(fn)) {
  for (auto& r : roots) add(r);
}

TreeWatch::~TreeWatch() {
  if (timer_) g_source_remove(timer_);
  for (auto* m : monitors_) {
    g_signal_handlers_disconnect_by_data(m, this);
    g_file_monitor_cancel(m);
    g_object_unref(m);
  }
}

void TreeWatch::add(const std::string& path) {
  for (auto& w : watched_)
    if (w == path) return;
  bool dir = g_file_test(path.c_str(), G_FILE_TEST_IS_DIR);
  GFile* f = g_file_new_for_path(path.c_str());
  GError* err = nullptr;
  GFileMonitor* m = dir ? g_file_monitor_directory(f, G_FILE_MONITOR_WATCH_MOVES, nullptr, &err)
                        : g_file_monitor_file(f, G_FILE_MONITOR_WATCH_MOVES, nullptr, &err);
  g_object_unref(f);
  if (!m) {
    if (err) g_error_free(err);
    return;
  }
  g_file_monitor_set_rate_limit(m, 100);
  g_signal_connect(m, "changed", G_CALLBACK(on_changed), this);
  monitors_.push_back(m);
  watched_.push_back(path);
  if (!dir) return;
  GDir* d = g_dir_open(path.c_str(), 0, nullptr);
  if (!d) return;
  while (const char* name = g_dir_read_name(d)) {
    std::string child = path + "/" + name;
    if (name[0] != '.' && g_file_test(child.c_str(), G_FILE_TEST_IS_DIR) &&
        !g_file_test(child.c_str(), G_FILE_TEST_IS_SYMLINK))
      add(child);
  }
  g_dir_close(d);
}

void TreeWatch::on_changed(GFileMonitor*, GFile* file, GFile* other, GFileMonitorEvent ev, gpointer self) {
  auto* w = static_cast<TreeWatch*>(self);
  if (ev == G_FILE_MONITOR_EVENT_ATTRIBUTE_CHANGED) return;
  // A file saved by renaming a temporary one is reported under its own name.
  if ((ev == G_FILE_MONITOR_EVENT_RENAMED || ev == G_FILE_MONITOR_EVENT_MOVED_IN) && other &&
      ev == G_FILE_MONITOR_EVENT_RENAMED)
    file = other;
  gchar* p = g_file_get_path(file);
  std::string path = p ? p : "";
  g_free(p);
  gchar* base = g_path_get_basename(path.c_str());
  // Editors' swap and backup files are not changes of the application.
  bool noise = base[0] == '.' || g_str_has_suffix(base, "~") || g_str_has_suffix(base, ".swp");
  g_free(base);
  if (noise) return;
  // A new folder is watched too.
  if (ev == G_FILE_MONITOR_EVENT_CREATED && g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) w->add(path);
  w->last_ = path;
  if (w->timer_) g_source_remove(w->timer_);
  w->timer_ = g_timeout_add(
      guint(w->quiet_ms_),
      [](gpointer data) -> gboolean {
        auto* self = static_cast<TreeWatch*>(data);
        self->timer_ = 0;
        self->fn_(self->last_);
        return G_SOURCE_REMOVE;
      },
      w);
}

LineReader::LineReader(int fd, std::function<void(const std::string&)> line, std::function<void()> closed)
    : fd_(fd), line_(std::move(line)), closed_(std::move(closed)) {
  watch_ = g_unix_fd_add(
      fd_, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR),
      [](gint, GIOCondition, gpointer self) -> gboolean {
        auto* r = static_cast<LineReader*>(self);
        if (r->ready()) return G_SOURCE_CONTINUE;
        r->watch_ = 0;
        if (r->closed_) r->closed_();  // may delete the reader
        return G_SOURCE_REMOVE;
      },
      this);
}

LineReader::~LineReader() {
  if (watch_) g_source_remove(watch_);
}

bool LineReader::ready() {
  char buf[16384];
  ssize_t n;
  do {
    n = read(fd_, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
  if (n <= 0) {
    if (!buf_.empty()) line_(std::exchange(buf_, {}));
    return false;
  }
  buf_.append(buf, size_t(n));
  size_t start = 0, nl;
  while ((nl = buf_.find('\n', start)) != std::string::npos) {
    std::string l = buf_.substr(start, nl - start);
    start = nl + 1;
    if (!l.empty() && l.back() == '\r') l.pop_back();
    line_(l);
  }
  buf_.erase(0, start);
  return true;
}

bool write_all(int fd, std::string_view data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t w = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (w < 0 && errno == ENOTSOCK) w = write(fd, data.data() + off, data.size() - off);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    off += size_t(w);
  }
  return true;
}

}  // namespace tool
