// The single-instance listener behind Backend::listen_for_open (internal).
#pragma once

#include <glib.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>

#include "ovalis/backend.h"

namespace ovalis {

struct Backend::OpenListener {
  std::string path;
  int fd = -1;
  guint watch = 0;
  std::function<void(const Json&)> fn;
  struct Client {
    guint watch = 0;
    std::string buf;
  };
  std::map<int, Client> clients;

  ~OpenListener();
  void finish(int cfd);
  // True while the client has more to say.
  bool read_client(int cfd);
};

}  // namespace ovalis
