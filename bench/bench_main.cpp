// Benchmarks launcher against the bare engine in the same run: start-up,
// page-call round trips one at a time and in a burst, a 4 MiB text each way,
// 20,000 events pushed into the page, 64 MiB of bytes each way (launcher's
// bytes path against the engine's own custom scheme), resident memory and
// wire throughput. Rounds alternate between the two programs; medians,
// ratios and whether each goal is met are printed as a table and written as
// JSON.
//
//   bench_main [--rounds N] [--json out.json] [--only idle|seq|burst|data]
#include <fcntl.h>
#include <sys/mman.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;
using Clock = std::chrono::steady_clock;

namespace {

std::string page_url() { return std::string("file://") + BENCH_PAGE; }

double since_ms(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

long rss_kb(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return 0;
}

std::string inject(const std::string& mode, int n) {
  return "window.__bench={mode:'" + mode + "',n:" + std::to_string(n) + "};";
}

// ---- one run of each program ----

struct Run {
  double connect_ms = 0;  // exec to the backend socket's connection
  double commit_ms = 0;   // exec to the page's load commit
  double first_ms = 0;   // exec to the page's first message
  double result_ms = 0;  // the page's own measurement
  bool ok = true;
  long rss = 0;
  int answered = 0;
  // The data run's figures, ms each: up4, down4, events, bulkup, bulkdown.
  std::map<std::string, double> data;
};

const char* const kDataKeys[] = {"up4", "down4", "events", "bulkup", "bulkdown"};

double num_after(const std::string& text, const std::string& key) {
  size_t at = text.find("\"" + key + "\":");
  return at == std::string::npos ? 0 : std::strtod(text.c_str() + at + key.size() + 3, nullptr);
}

void read_result(const std::string& text, Run& r) {
  r.result_ms = num_after(text, "ms");
  r.ok = text.find("\"ok\":false") == std::string::npos;
  for (const char* k : kDataKeys) r.data[k] = num_after(text, k);
}

// What a native backend does with an upload: maps the file, its pages
// already in memory, and has the bytes without a copy.
size_t map_file_size(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) return 0;
  size_t n = static_cast<size_t>(st.st_size);
  void* p = n ? mmap(nullptr, n, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0) : MAP_FAILED;
  close(fd);
  if (p == MAP_FAILED) return 0;
  volatile char last = static_cast<const char*>(p)[n - 1];
  (void)last;
  munmap(p, n);
  return n;
}

// The bytes a backend has in memory to hand over: made once, as the bare
// engine's are.
const std::string& bulk_bytes(size_t n) {
  static std::string bytes;
  if (bytes.size() != n) bytes.assign(n, '\x07');
  return bytes;
}

// A number member of a call's params, inside the escaped payload.
long num_in_call(const std::string& line, const std::string& key) {
  std::string pat = "\\\"" + key + "\\\":";
  size_t at = line.find(pat);
  return at == std::string::npos ? 0 : std::strtol(line.c_str() + at + pat.size(), nullptr, 10);
}

// The backend's side of the data run: a big text each way, a burst of
// events, and bytes each way as files. Returns false for other calls.
bool serve_data_call(Backend& b, const std::string& line, const std::string& id) {
  auto is = [&](const char* m) {
    return line.find(std::string("\\\"method\\\":\\\"") + m + "\\\"") != std::string::npos;
  };
  if (is("bench.up")) {
    b.send("RET " + id + " 0 {}");
  } else if (is("bench.down")) {
    static std::string answer;
    if (answer.empty()) {
      std::string data(4 << 20, 'x');
      for (size_t i = 0; i < data.size(); ++i) data[i] = "abcdefghijklmnopqrstuvwxyz0123456789"[i % 36];
      answer = "{\"data\":\"" + data + "\"}";
    }
    b.send("RET " + id + " 0 " + answer);
  } else if (is("bench.events")) {
    long n = num_in_call(line, "n");
    std::string burst;
    for (long i = 0; i < n; ++i)
      burst += "EVAL window.__emit({event:\"bench\",data:{\"i\":" + std::to_string(i) + "}})\n";
    b.send_raw(burst);
    b.send("RET " + id + " 0 {}");
  } else if (is("bench.sink")) {
    // The upload's file: read it whole, as a backend would, and remove it.
    auto ann = b.expect_prefix("BLOB {", 0);
    std::string path = ann ? json_string_value(ann->substr(ann->find("\"path\":") + 7)).value_or("") : "";
    size_t n = map_file_size(path);
    unlink(path.c_str());
    b.send("RET " + id + " 0 {\"n\":" + std::to_string(n) + "}");
  } else if (is("bench.blob")) {
    long n = num_in_call(line, "n");
    static int seq = 0;
    std::string bid = "bench" + std::to_string(++seq);
    // In memory, as the libraries put such files.
    std::string path = "/dev/shm/ovalis-bench-" + bid;
    {
      const std::string& bytes = bulk_bytes(static_cast<size_t>(n));
      int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return false;
      close(fd);
    }
    b.send("BLOB " + bid + " move " + path);
    b.send("RET " + id + " 0 {\"$blob\":\"" + bid + "\",\"size\":" + std::to_string(n) + "}");
  } else {
    return false;
  }
  return true;
}

// Answers launcher's page calls until the page reports its result.
bool serve_launcher(Backend& b, Run& r) {
  for (;;) {
    auto line = b.expect_prefix("CALL ", 60000);
    if (!line) return false;
    // CALL main:5 ["{\"method\":\"bench.ping\",\"params\":{\"i\":3}}","file://"]
    size_t sp = line->find(' ', 5);
    std::string id = line->substr(5, sp - 5);
    if (serve_data_call(b, *line, id)) continue;
    const std::string pk = "\\\"params\\\":";
    size_t at = line->find(pk);
    std::string params;
    if (at != std::string::npos) {
      size_t end = line->rfind("}\",");
      params = line->substr(at + pk.size(), end - at - pk.size());
      params.erase(std::remove(params.begin(), params.end(), '\\'), params.end());
    }
    if (line->find("\\\"method\\\":\\\"bench.ping\\\"") != std::string::npos) {
      b.send("RET " + id + " 0 " + params);
      ++r.answered;
    } else if (line->find("\\\"method\\\":\\\"bench.result\\\"") != std::string::npos) {
      read_result(params, r);
      b.send("RET " + id + " 0 {}");
      return true;
    } else {
      b.send("RET " + id + " 0 {}");  // hello, capabilities, window state
    }
  }
}

Run run_launcher(const std::string& mode, int n) {
  Run r;
  Backend b;
  auto t0 = Clock::now();
  if (!b.start({.target = BENCH_PAGE, .env = {{"OVALIS_INJECT", inject(mode, n)}}})) return r;
  r.connect_ms = since_ms(t0);
  if (b.expect_prefix("NAV {\"window\":\"main\",\"kind\":\"commit\"", 30000))
    r.commit_ms = since_ms(t0);
  auto first = b.expect_prefix("CALL ", 30000);
  if (!first) return r;
  r.first_ms = since_ms(t0);
  b.send("RET " + first->substr(5, first->find(' ', 5) - 5) + " 0 {}");
  if (!serve_launcher(b, r)) r.ok = false;
  if (mode == "idle") {
    usleep(500 * 1000);
    r.rss = rss_kb(b.pid());
  }
  b.send("QUIT");
  b.wait_exit(10000);
  return r;
}

Run run_bare(const std::string& mode, int n) {
  Run r;
  Backend b;
  auto t0 = Clock::now();
  if (!b.start({.command = {BARE_BIN, page_url(), "{sock}", inject(mode, n)}})) return r;
  r.connect_ms = since_ms(t0);
  if (b.expect_prefix("COMMIT", 30000)) r.commit_ms = since_ms(t0);
  if (!b.expect_prefix("FIRST", 30000)) return r;
  r.first_ms = since_ms(t0);
  auto res = b.expect_prefix("RESULT ", 60000);
  if (!res) {
    r.ok = false;
    return r;
  }
  read_result(*res, r);
  if (mode == "idle") {
    usleep(500 * 1000);
    r.rss = rss_kb(b.pid());
  }
  b.close_socket();
  b.wait_exit(10000);
  return r;
}

// ---- wire throughput (launcher only) ----

struct Wire {
  double ignored_lps = 0;
  double get_qps = 0;
};

Wire run_wire() {
  Wire w;
  Backend b;
  if (!b.start({.target = BENCH_PAGE})) return w;
  Run dummy;
  serve_launcher(b, dummy);
  const int ignored = 200000;
  std::string burst;
  burst.reserve(ignored * 16);
  for (int i = 0; i < ignored; ++i) burst += "EVAL@nosuch x\n";
  burst += "GET fence windows\n";
  auto t0 = Clock::now();
  b.send_raw(burst);
  if (b.expect_prefix("GOT fence ", 60000)) w.ignored_lps = ignored / (since_ms(t0) / 1000);

  const int gets = 100000;
  burst.clear();
  for (int i = 0; i < gets; ++i) burst += "GET " + std::to_string(i) + " windows\n";
  t0 = Clock::now();
  b.send_raw(burst);
  std::string last = "GOT " + std::to_string(gets - 1) + " ";
  int seen = 0;
  for (;;) {
    auto l = b.expect_prefix("GOT ", 60000);
    if (!l) break;
    ++seen;
    if (l->rfind(last, 0) == 0) break;
  }
  if (seen == gets) w.get_qps = gets / (since_ms(t0) / 1000);
  b.send("QUIT");
  b.wait_exit(10000);
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  std::string json_out = "bench.json";
  std::string only;  // one mode alone, while working on it
  for (int i = 1; i + 1 < argc; ++i) {
    if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--json")) json_out = argv[++i];
    else if (!std::strcmp(argv[i], "--only")) only = argv[++i];
  }
  signal(SIGPIPE, SIG_IGN);

  // Every series, per program: [0] launcher, [1] bare.
  std::map<std::string, std::vector<double>> v[2];
  bool all_ok = true;
  for (int r = 0; r < rounds; ++r) {
    // Alternate the order each round so neither side always runs warm.
    bool launcher_first = r % 2 == 0;
    for (int side = 0; side < 2; ++side) {
      bool launcher = (side == 0) == launcher_first;
      auto run = launcher ? run_launcher : run_bare;
      auto& m = v[launcher ? 0 : 1];
      auto want = [&](const char* m) { return only.empty() || only == m; };
      Run idle = want("idle") ? run("idle", 0) : Run{};
      Run seq = want("seq") ? run("seq", 2000) : Run{};
      Run burst = want("burst") ? run("burst", 5000) : Run{};
      Run data = want("data") ? run("data", 0) : Run{};
      all_ok &= idle.ok && seq.ok && burst.ok && data.ok;
      if (launcher && only.empty()) all_ok &= seq.answered == 2000 && burst.answered == 5000;
      m["start"].push_back(idle.first_ms);
      m["conn"].push_back(idle.connect_ms);
      m["commit"].push_back(idle.commit_ms);
      m["rss"].push_back(static_cast<double>(idle.rss));
      m["seq"].push_back(seq.result_ms / 2000.0);
      m["burst"].push_back(5000.0 / (burst.result_ms / 1000.0));
      m["up4"].push_back(data.data["up4"]);
      m["down4"].push_back(data.data["down4"]);
      m["events"].push_back(20000.0 / (data.data["events"] / 1000.0));
      m["bulkup"].push_back(64.0 * 1.048576 / (data.data["bulkup"] / 1000.0));
      m["bulkdown"].push_back(64.0 * 1.048576 / (data.data["bulkdown"] / 1000.0));
    }
    std::fprintf(stderr, "round %d/%d done\n", r + 1, rounds);
  }
  Wire wire = run_wire();

  struct Row {
    const char* key;
    const char* name;
    const char* unit;
    const char* target;
    // The goal: a ratio limit (launcher over bare; at most when `lower`,
    // else at least), or, with `floor`, an absolute floor for launcher.
    double limit;
    bool lower;
    double floor = 0;
  };
  const std::vector<Row> rows = {
      {"start", "exec to first page call", "ms", "<= 1.05x", 1.05, true},
      {"seq", "sequential round trip (2000 calls)", "ms/call", "<= 1.25x", 1.25, true},
      {"burst", "burst of 5000 concurrent calls", "calls/s", ">= 1.0x", 1.0, false},
      {"up4", "4 MiB payload page -> backend", "ms", "<= 1.2x", 1.2, true},
      {"down4", "4 MiB answer backend -> page", "ms", "<= 1.2x", 1.2, true},
      {"events", "20,000 events pushed into the page", "events/s", ">= 1.0x", 1.0, false},
      {"rss", "resident memory after load", "KiB", "<= 1.1x", 1.1, true},
      {"bulkup", "bulk 64 MiB page -> backend", "MB/s", ">= 300", 0, false, 300},
      {"bulkdown", "bulk 64 MiB backend -> page", "MB/s", ">= 300", 0, false, 300},
  };
  std::printf("\n%-38s %-8s %12s %12s %8s  %-9s %s\n", "benchmark", "unit", "launcher", "bare",
              "ratio", "goal", "met");
  std::ofstream j(json_out);
  j << "{\"rounds\":" << rounds << ",\"all_answered\":" << (all_ok ? "true" : "false")
    << ",\"results\":[";
  bool first = true;
  for (const Row& row : rows) {
    double l = median(v[0][row.key]), bare = median(v[1][row.key]);
    double ratio = l / bare;
    bool met = row.floor > 0 ? l >= row.floor : row.lower ? ratio <= row.limit : ratio >= row.limit;
    std::printf("%-38s %-8s %12.3f %12.3f %8.3f  %-9s %s\n", row.name, row.unit, l, bare, ratio,
                row.target, met ? "yes" : "NO");
    j << (first ? "" : ",") << "{\"name\":\"" << row.name << "\",\"unit\":\"" << row.unit
      << "\",\"launcher\":" << l << ",\"bare\":" << bare << ",\"ratio\":" << ratio
      << ",\"target\":\"" << row.target << "\",\"met\":" << (met ? "true" : "false") << "}";
    first = false;
  }
  // Where start-up time goes, as the backend sees it: the socket connection,
  // the page's load commit, and the first page message after it.
  auto mid = [&](int side, const char* k) { return median(v[side][k]); };
  std::printf("start-up breakdown (ms)                         launcher         bare\n");
  std::printf("  %-44s %12.1f %12.1f\n", "exec -> backend socket connected", mid(0, "conn"),
              mid(1, "conn"));
  std::printf("  %-44s %12.1f %12.1f\n", "connected -> page load committed",
              mid(0, "commit") - mid(0, "conn"), mid(1, "commit") - mid(1, "conn"));
  std::printf("  %-44s %12.1f %12.1f\n", "committed -> first page message",
              mid(0, "start") - mid(0, "commit"), mid(1, "start") - mid(1, "commit"));
  std::printf("%-38s %-8s %12.0f\n", "ignored lines (unknown window)", "lines/s", wire.ignored_lps);
  std::printf("%-38s %-8s %12.0f\n", "GET windows, 100000 in flight", "GETs/s", wire.get_qps);
  std::printf("every call answered exactly once: %s   rounds: %d\n", all_ok ? "yes" : "NO", rounds);

  j << "],\"wire\":{\"ignored_lines_per_s\":" << wire.ignored_lps
    << ",\"get_per_s\":" << wire.get_qps << "}}\n";
  std::printf("results written to %s\n", json_out.c_str());
  return 0;
}
