// Benchmarks launcher against the bare engine in the same run: start-up,
// page-call round trips, wire throughput and resident memory. Rounds
// alternate between the two programs; medians and ratios are printed as a
// table and written as JSON.
//
//   bench_main [--rounds N] [--json out.json]
#include <signal.h>
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
};

// Answers launcher's page calls until the page reports its result.
bool serve_launcher(Backend& b, Run& r) {
  for (;;) {
    auto line = b.expect_prefix("CALL ", 60000);
    if (!line) return false;
    // CALL main:5 ["{\"method\":\"bench.ping\",\"params\":{\"i\":3}}","file://"]
    size_t sp = line->find(' ', 5);
    std::string id = line->substr(5, sp - 5);
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
      size_t ms = params.find("\"ms\":");
      if (ms != std::string::npos) r.result_ms = std::strtod(params.c_str() + ms + 5, nullptr);
      r.ok = params.find("\"ok\":false") == std::string::npos;
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
  size_t ms = res->find("\"ms\":");
  if (ms != std::string::npos) r.result_ms = std::strtod(res->c_str() + ms + 5, nullptr);
  r.ok = res->find("\"ok\":false") == std::string::npos;
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
  for (int i = 1; i + 1 < argc; ++i) {
    if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--json")) json_out = argv[++i];
  }
  signal(SIGPIPE, SIG_IGN);

  std::vector<double> l_conn, b_conn, l_commit, b_commit;
  std::vector<double> l_start, b_start, l_seq, b_seq, l_burst, b_burst, l_rss, b_rss;
  bool all_ok = true;
  for (int r = 0; r < rounds; ++r) {
    // Alternate the order each round so neither side always runs warm.
    bool launcher_first = r % 2 == 0;
    for (int side = 0; side < 2; ++side) {
      bool launcher = (side == 0) == launcher_first;
      auto run = launcher ? run_launcher : run_bare;
      Run idle = run("idle", 0);
      Run seq = run("seq", 2000);
      Run burst = run("burst", 5000);
      all_ok &= idle.ok && seq.ok && burst.ok;
      if (launcher) all_ok &= seq.answered == 2000 && burst.answered == 5000;
      (launcher ? l_start : b_start).push_back(idle.first_ms);
      (launcher ? l_conn : b_conn).push_back(idle.connect_ms);
      (launcher ? l_commit : b_commit).push_back(idle.commit_ms);
      (launcher ? l_rss : b_rss).push_back(static_cast<double>(idle.rss));
      (launcher ? l_seq : b_seq).push_back(seq.result_ms / 2000.0);
      (launcher ? l_burst : b_burst).push_back(5000.0 / (burst.result_ms / 1000.0));
    }
    std::fprintf(stderr, "round %d/%d done\n", r + 1, rounds);
  }
  Wire wire = run_wire();

  struct Row {
    const char* name;
    const char* unit;
    double launcher, bare;
    const char* target;
    bool met;
  };
  double s_ratio = median(l_start) / median(b_start);
  double q_ratio = median(l_seq) / median(b_seq);
  double t_ratio = median(l_burst) / median(b_burst);
  double m_ratio = median(l_rss) / median(b_rss);
  std::vector<Row> rows = {
      {"start-up to first page message", "ms", median(l_start), median(b_start), "<= 1.15x",
       s_ratio <= 1.15},
      {"sequential round trip (2000 calls)", "ms/call", median(l_seq), median(b_seq), "<= 1.3x",
       q_ratio <= 1.3},
      {"burst throughput (5000 in flight)", "calls/s", median(l_burst), median(b_burst),
       ">= 0.75x", t_ratio >= 0.75},
      {"resident memory after load", "KiB", median(l_rss), median(b_rss), "<= 1.1x",
       m_ratio <= 1.1},
  };
  std::printf("\n%-38s %-8s %12s %12s %8s  %-9s %s\n", "benchmark", "unit", "launcher", "bare",
              "ratio", "target", "met");
  for (auto& r : rows)
    std::printf("%-38s %-8s %12.3f %12.3f %8.3f  %-9s %s\n", r.name, r.unit, r.launcher, r.bare,
                r.launcher / r.bare, r.target, r.met ? "yes" : "NO");
  // Where start-up time goes, as the backend sees it: the socket connection,
  // the page's load commit, and the first page message after it.
  std::printf("start-up breakdown (ms)                         launcher         bare\n");
  std::printf("  %-44s %12.1f %12.1f\n", "exec -> backend socket connected", median(l_conn),
              median(b_conn));
  std::printf("  %-44s %12.1f %12.1f\n", "connected -> page load committed",
              median(l_commit) - median(l_conn), median(b_commit) - median(b_conn));
  std::printf("  %-44s %12.1f %12.1f\n", "committed -> first page message",
              median(l_start) - median(l_commit), median(b_start) - median(b_commit));
  std::printf("%-38s %-8s %12.0f\n", "ignored lines (unknown window)", "lines/s", wire.ignored_lps);
  std::printf("%-38s %-8s %12.0f\n", "GET windows, 100000 in flight", "GETs/s", wire.get_qps);
  std::printf("every call answered exactly once: %s   rounds: %d\n", all_ok ? "yes" : "NO", rounds);

  std::ofstream j(json_out);
  j << "{\"rounds\":" << rounds << ",\"all_answered\":" << (all_ok ? "true" : "false")
    << ",\"results\":[";
  for (size_t i = 0; i < rows.size(); ++i)
    j << (i ? "," : "") << "{\"name\":\"" << rows[i].name << "\",\"unit\":\"" << rows[i].unit
      << "\",\"launcher\":" << rows[i].launcher << ",\"bare\":" << rows[i].bare
      << ",\"ratio\":" << rows[i].launcher / rows[i].bare << ",\"target\":\"" << rows[i].target
      << "\",\"met\":" << (rows[i].met ? "true" : "false") << "}";
  j << "],\"wire\":{\"ignored_lines_per_s\":" << wire.ignored_lps
    << ",\"get_per_s\":" << wire.get_qps << "}}\n";
  std::printf("results written to %s\n", json_out.c_str());
  return 0;
}
