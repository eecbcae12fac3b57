// The C++ library's side of the library benchmark (sdk_bench.mjs runs it):
//   sdk_bench_cpp <launcher> <page> <mode> <n>
// Starts the launcher on the benchmark page, echoes its pings, prints
// "FIRST" once the first page call is answered and "RESULT <json>" with the
// page's own measurement, then quits.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ovalis/backend.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s <launcher> <page> <mode> <n>\n", argv[0]);
    return 2;
  }
  ovalis::Backend b;
  bool first = false;
  b.handle("client.hello", [&](const ovalis::Call& c) {
    c.resolve(ovalis::obj({{"ok", true}}));
    if (!first) {
      first = true;
      std::puts("FIRST");
      std::fflush(stdout);
    }
  });
  b.handle("bench.ping", [](const ovalis::Call& c) { c.resolve(c.params); });
  b.handle("bench.result", [&](const ovalis::Call& c) {
    std::printf("RESULT %s\n", ovalis::json_dump(c.params).c_str());
    std::fflush(stdout);
    c.resolve(ovalis::obj({}));
    b.quit();
  });
  ovalis::LaunchOptions o;
  o.launcher = argv[1];
  o.page = argv[2];
  o.title = "bench";
  o.env.emplace_back("OVALIS_INJECT", std::string("window.__bench={mode:'") + argv[3] + "',n:" + argv[4] + "};");
  std::string err;
  if (!b.start(o, &err)) {
    std::fprintf(stderr, "sdk_bench_cpp: %s\n", err.c_str());
    return 1;
  }
  return b.run();
}
