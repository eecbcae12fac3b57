// "launcher --open": hand an open request to the running instance, starting
// the application first when nobody answers.
#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <glib.h>

#include "app/root.h"
#include "core/gobj.h"
#include "core/wire.h"

std::string open_request_message(const std::string& arg) {
  if (arg.empty()) return "{\"activate\":true}";
  if (arg.find("://") != std::string::npos && !g_str_has_prefix(arg.c_str(), "file://") &&
      !g_file_test(arg.c_str(), G_FILE_TEST_EXISTS))
    return "{\"url\":" + json_escape(arg) + "}";
  std::string path = arg;
  if (g_str_has_prefix(arg.c_str(), "file://")) {
    GChars local(g_filename_from_uri(arg.c_str(), nullptr, nullptr));
    if (local) path = local.get();
  }
  return "{\"paths\":[" + json_escape(path) + "]}";
}

static bool send_once(const char* sock_path, const std::string& msg) {
  std::string error;
  int fd = unix_connect(sock_path, &error);
  if (fd < 0) return false;
  std::string line = msg + "\n";
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = send(fd, p, left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  close(fd);
  return true;
}

int run_forward(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: launcher --open <socket> <app-exe> [arg]\n", stderr);
    return 1;
  }
  const char* sock = argv[2];
  const char* exe = argv[3];
  if (std::strlen(sock) >= sizeof(sockaddr_un::sun_path)) {
    std::fprintf(stderr, "ovalis: socket path too long: %s\n", sock);
    return 1;
  }
  std::string msg = open_request_message(argc > 4 ? argv[4] : "");
  if (send_once(sock, msg)) return 0;

  // Nobody listens: start the application itself, then keep knocking.
  char* child_argv[] = {const_cast<char*>(exe), nullptr};
  g_spawn_async(nullptr, child_argv, nullptr,
                GSpawnFlags(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                nullptr, nullptr, nullptr);
  for (int i = 0; i < 100; ++i) {
    g_usleep(100 * 1000);
    if (send_once(sock, msg)) return 0;
  }
  return 1;
}
