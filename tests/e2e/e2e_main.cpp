// Test entry point. The same binary doubles as a stand-in application for
// the "--open" tests: started without arguments and with OVALIS_TEST_FAKE_APP
// set, it listens on the given socket and records the first line it receives.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

static int fake_app(const std::string& spec) {
  size_t semi = spec.find(';');
  std::string sock = spec.substr(0, semi), out = spec.substr(semi + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, sock.c_str(), sizeof addr.sun_path - 1);
  unlink(sock.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 1;
  listen(fd, 1);
  int c = accept(fd, nullptr, nullptr);
  std::string got;
  char ch;
  while (read(c, &ch, 1) == 1) got += ch;
  std::ofstream(out) << got;
  return 0;
}

int main(int argc, char** argv) {
  if (const char* spec = std::getenv("OVALIS_TEST_FAKE_APP"); spec && argc == 1)
    return fake_app(spec);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
