// Single instance: the fixed socket that `launcher --open` and
// forward_open() hand open requests to.
#include <glib-unix.h>
#include <glib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "open_listener.h"
#include "ovalis/backend.h"

namespace ovalis {
namespace {

// A request is one short line; anything longer is not a request.
constexpr size_t kMaxRequest = 1 << 20;

bool make_addr(const std::string& path, sockaddr_un& addr) {
  addr = {};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

int connect_to(const std::string& path) {
  sockaddr_un addr;
  if (!make_addr(path, addr)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

Backend::OpenListener::~OpenListener() {
  for (auto& [cfd, c] : clients) {
    if (c.watch) g_source_remove(c.watch);
    close(cfd);
  }
  if (watch) g_source_remove(watch);
  if (fd >= 0) close(fd);
  if (!path.empty()) unlink(path.c_str());
}

void Backend::OpenListener::finish(int cfd) {
  auto it = clients.find(cfd);
  if (it == clients.end()) return;
  std::string buf = std::move(it->second.buf);
  clients.erase(it);  // the watch is removed by returning G_SOURCE_REMOVE
  close(cfd);
  size_t nl = buf.find('\n');
  if (nl != std::string::npos) buf.resize(nl);
  auto j = json_parse(buf);
  if (j && j->is_object() && fn)
    fn(*j);
  else if (!buf.empty())
    g_printerr("ovalis: ignored a malformed open request\n");
}

bool Backend::OpenListener::read_client(int cfd) {
  auto& c = clients[cfd];
  char chunk[4096];
  ssize_t r = recv(cfd, chunk, sizeof chunk, MSG_DONTWAIT);
  if (r < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (r > 0) {
    c.buf.append(chunk, size_t(r));
    if (c.buf.find('\n') == std::string::npos && c.buf.size() < kMaxRequest) return true;
    if (c.buf.find('\n') == std::string::npos) c.buf.clear();
  }
  finish(cfd);
  return false;
}

bool Backend::listen_for_open(const std::string& path, std::function<void(const Json&)> fn,
                              std::string* error) {
  auto fail = [&](std::string m) {
    if (error) *error = std::move(m);
    return false;
  };
  sockaddr_un addr;
  if (!make_addr(path, addr)) return fail("open socket path is empty or too long: " + path);
  if (int fd = connect_to(path); fd >= 0) {
    close(fd);
    return fail("another instance is listening on " + path);
  }
  // Nobody answers there: whatever socket file is left belongs to an
  // instance that has died.
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(path.c_str());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return fail(std::string("socket: ") + std::strerror(errno));
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
    std::string m = std::strerror(errno);
    close(fd);
    return fail("cannot listen on " + path + ": " + m);
  }
  // Only this user may hand the instance files and URLs to open.
  chmod(path.c_str(), 0600);
  open_ = std::make_unique<OpenListener>();
  open_->path = path;
  open_->fd = fd;
  open_->fn = std::move(fn);
  open_->watch = g_unix_fd_add(
      fd, G_IO_IN,
      [](gint lfd, GIOCondition, gpointer data) -> gboolean {
        auto* l = static_cast<OpenListener*>(data);
        int cfd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (cfd < 0) return G_SOURCE_CONTINUE;
        // Requests from other users are not ours to take.
        ucred cred{};
        socklen_t len = sizeof cred;
        if (getsockopt(cfd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != getuid()) {
          close(cfd);
          return G_SOURCE_CONTINUE;
        }
        struct Ctx {
          OpenListener* l;
          int fd;
        };
        auto* ctx = new Ctx{l, cfd};
        l->clients[cfd].watch = g_unix_fd_add_full(
            G_PRIORITY_DEFAULT, cfd, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR),
            [](gint, GIOCondition, gpointer p) -> gboolean {
              auto* c = static_cast<Ctx*>(p);
              return c->l->read_client(c->fd) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
            },
            ctx, [](gpointer p) { delete static_cast<Ctx*>(p); });
        return G_SOURCE_CONTINUE;
      },
      open_.get());
  return true;
}

Json open_request(std::string_view arg) {
  std::string a(arg);
  if (a.empty()) return obj({{"activate", true}});
  bool is_file = a.rfind("file://", 0) == 0;
  if (!is_file && a.find("://") != std::string::npos && !g_file_test(a.c_str(), G_FILE_TEST_EXISTS))
    return obj({{"url", a}});
  if (is_file) {
    if (gchar* p = g_filename_from_uri(a.c_str(), nullptr, nullptr)) {
      a = p;
      g_free(p);
    }
  }
  return obj({{"paths", arr({Json(a)})}});
}

bool forward_open(const std::string& path, const Json& request) {
  int fd = connect_to(path);
  if (fd < 0) return false;
  std::string msg = json_dump(request) + "\n";
  size_t off = 0;
  while (off < msg.size()) {
    ssize_t w = ::send(fd, msg.data() + off, msg.size() - off, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    off += size_t(w);
  }
  close(fd);
  return off == msg.size();
}

}  // namespace ovalis
