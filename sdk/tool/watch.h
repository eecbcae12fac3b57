// Recursive change watching for `ovalis dev`: every folder under the given
// paths is monitored; a burst of changes becomes one call after a quiet
// moment, so an editor's save (write, rename, chmod) reloads once.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>
#include <vector>

namespace tool {

class TreeWatch {
 public:
  TreeWatch(std::vector<std::string> roots, int quiet_ms, std::function<void(const std::string&)> fn);
  ~TreeWatch();
  TreeWatch(const TreeWatch&) = delete;
  TreeWatch& operator=(const TreeWatch&) = delete;

 private:
  std::vector<GFileMonitor*> monitors_;
  std::vector<std::string> watched_;
  int quiet_ms_;
  std::function<void(const std::string&)> fn_;
  guint timer_ = 0;
  std::string last_;

  void add(const std::string& path);
  static void on_changed(GFileMonitor*, GFile* file, GFile*, GFileMonitorEvent ev, gpointer self);
};

// Lines from a pipe or socket, handed over whole; the tail when it closes.
class LineReader {
 public:
  LineReader(int fd, std::function<void(const std::string&)> line, std::function<void()> closed = {});
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

 private:
  int fd_;
  guint watch_ = 0;
  std::string buf_;
  std::function<void(const std::string&)> line_;
  std::function<void()> closed_;
  bool ready();
};

// Writes every byte (blocking); false when the peer is gone.
bool write_all(int fd, std::string_view data);

}  // namespace tool
