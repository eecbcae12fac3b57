// Streams a large body from a loopback server into a page, once directly
// and once through the ovalis-media proxy, and reports throughput and the
// peak resident memory of launcher and its web processes.
//
//   media_bench [--mb N] [--rounds N] [--json out.json]
#include <dirent.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "harness.h"
#include "http_server.h"

using namespace e2e;

namespace {

// Whole small /proc file, or "" when the process has gone.
std::string proc_read(const std::string& path) {
  std::string out;
  if (FILE* f = std::fopen(path.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
  }
  return out;
}

long rss_kb(pid_t pid) {
  std::string st = proc_read("/proc/" + std::to_string(pid) + "/status");
  size_t at = st.find("VmRSS:");
  return at == std::string::npos ? 0 : std::strtol(st.c_str() + at + 6, nullptr, 10);
}

// launcher and the processes it started (network and web processes).
long tree_rss_kb(pid_t root) {
  long sum = rss_kb(root);
  DIR* d = opendir("/proc");
  while (dirent* e = readdir(d)) {
    pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
    if (pid <= 0) continue;
    std::string stat = proc_read("/proc/" + std::string(e->d_name) + "/stat");
    size_t rp = stat.rfind(')');
    if (rp == std::string::npos || rp + 4 >= stat.size()) continue;
    if (static_cast<pid_t>(std::atoi(stat.c_str() + rp + 4)) == root) sum += rss_kb(pid);
  }
  closedir(d);
  return sum;
}

struct Result {
  double mb_per_s = 0;
  long peak_kb = 0;     // launcher and its web processes
  long ui_peak_kb = 0;  // launcher alone, where the proxy runs
  long base_kb = 0;
  long ui_base_kb = 0;
  bool ok = false;
};

Result stream_once(Backend& b, const std::string& url, long long bytes, bool via_proxy) {
  Result r;
  r.base_kb = tree_rss_kb(b.pid());
  r.ui_base_kb = rss_kb(b.pid());
  std::atomic<bool> done{false};
  std::atomic<long> peak{r.base_kb}, ui_peak{r.ui_base_kb};
  std::thread sampler([&] {
    while (!done) {
      peak = std::max(peak.load(), tree_rss_kb(b.pid()));
      ui_peak = std::max(ui_peak.load(), rss_kb(b.pid()));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  std::string addr = via_proxy ? "ovalis.proxyURL('" + url + "')" : "'" + url + "'";
  std::string js = "(async () => { const t0 = performance.now(); const r = await fetch(" + addr +
                   "); const rd = r.body.getReader(); let n = 0; for (;;) { const c = await "
                   "rd.read(); if (c.done) break; n += c.value.length; } return [n, "
                   "performance.now() - t0]; })()";
  auto v = b.page_eval(js, "main", 600000);
  done = true;
  sampler.join();
  r.peak_kb = peak;
  r.ui_peak_kb = ui_peak;
  if (!v || v->size() < 3 || (*v)[0] != '[') return r;
  long long n = std::atoll(v->c_str() + 1);
  double ms = std::atof(v->c_str() + v->find(',') + 1);
  r.ok = n == bytes;
  r.mb_per_s = ms > 0 ? (static_cast<double>(n) / (1 << 20)) / (ms / 1000.0) : 0;
  if (!r.ok) std::fprintf(stderr, "media_bench: got %lld of %lld bytes from %s\n", n, bytes, url.c_str());
  return r;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Milliseconds until an element on url is heard (or, with seek, until it
// plays on from the middle after a seek there); -1 when it never did.
double audio_ms(Backend& b, const std::string& url, bool via_proxy, bool seek) {
  std::string addr = via_proxy ? "ovalis.proxyURL('" + url + "')" : "'" + url + "'";
  std::string js =
      "(async () => { const a = new Audio(); a.crossOrigin = 'anonymous';"
      " const ctx = new AudioContext(); await ctx.resume(); const an = ctx.createAnalyser();"
      " ctx.createMediaElementSource(a).connect(an); an.connect(ctx.destination);"
      " const buf = new Float32Array(an.fftSize); const tick = () => new Promise(r => setTimeout(r, 2));"
      " const heard = () => { an.getFloatTimeDomainData(buf); let p = 0;"
      "   for (const x of buf) p = Math.max(p, Math.abs(x)); return p > 0.1; };"
      " let t0 = performance.now(); a.src = " + addr + "; a.play().catch(() => {});"
      " let ok = false;"
      " while (performance.now() - t0 < 10000) { await tick(); if (heard()) { ok = true; break; } }"
      " if (ok && " + (seek ? "true" : "false") + ") {"
      "   await new Promise(r => setTimeout(r, 200)); ok = false; t0 = performance.now();"
      "   a.currentTime = 30;"
      "   while (performance.now() - t0 < 10000) { await tick();"
      "     if (!a.seeking && a.currentTime > 30.02) { ok = true; break; } } }"
      " const ms = performance.now() - t0; a.pause(); a.removeAttribute('src'); a.load(); ctx.close();"
      " return ok ? ms : -1; })()";
  auto v = b.page_eval(js, "main", 30000);
  return v ? std::atof(v->c_str()) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  long long mb = 256;
  int rounds = 3;
  std::string json_out = "media_bench.json";
  for (int i = 1; i + 1 < argc; ++i) {
    if (!std::strcmp(argv[i], "--mb")) mb = std::atoll(argv[++i]);
    else if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--json")) json_out = argv[++i];
  }
  signal(SIGPIPE, SIG_IGN);
  long long big = mb << 20, small = std::max<long long>(16, mb / 4) << 20;
  // Audio for the playback rows: a short tone, and a minute of tone sent
  // at 2 MiB/s as a remote host would, so a seek ahead needs a new range.
  static const std::string tone = wav_tone(44100, 10.0, 440, 0.8);
  static const std::string minute = wav_tone(44100, 60.0, 440, 0.8);
  HttpServer server([](const HttpRequest& req) {
    HttpResponse r;
    if (req.path == "/tone.wav" || req.path == "/long.wav") {
      r.headers = {{"Content-Type", "audio/wav"}, {"Access-Control-Allow-Origin", "*"}};
      r.ranges = true;
      const std::string* body = req.path == "/tone.wav" ? &tone : &minute;
      r.stream_length = static_cast<long long>(body->size());
      bool paced = body == &minute;
      auto first = std::make_shared<bool>(true);
      r.fill = [body, paced, first](long long off, char* p, size_t n) {
        if (paced && !*first) std::this_thread::sleep_for(std::chrono::milliseconds(125));
        *first = false;
        std::memcpy(p, body->data() + off, n);
      };
      return r;
    }
    r.headers = {{"Content-Type", "application/octet-stream"},
                 {"Access-Control-Allow-Origin", "*"}};
    r.stream_length = std::atoll(req.target.c_str() + req.target.find('=') + 1);
    r.fill = [](long long off, char* p, size_t n) {
      for (size_t i = 0; i < n; ++i) p[i] = static_cast<char>((off + static_cast<long long>(i)) * 31);
    };
    return r;
  });
  std::string big_url = server.url("/big?n=" + std::to_string(big));
  std::string small_url = server.url("/big?n=" + std::to_string(small));

  // Each stream gets a launcher of its own, so every peak is measured from
  // a fresh start and not hidden under an earlier one.
  auto one = [&](const std::string& url, long long bytes, bool via_proxy) {
    Backend* b = start_page();
    if (!b) {
      std::fprintf(stderr, "media_bench: launcher did not start\n");
      return Result{};
    }
    Result r = stream_once(*b, url, bytes, via_proxy);
    stop_page(b);
    return r;
  };
  std::vector<double> direct, proxy, d_growth, p_growth, s_growth, p_ui, s_ui;
  bool ok = true;
  for (int r = 0; r < rounds; ++r) {
    // Alternate the order so neither side always runs warm.
    for (int side = 0; side < 2; ++side) {
      bool via_proxy = (side == 0) == (r % 2 == 0);
      Result res = one(big_url, big, via_proxy);
      ok &= res.ok;
      (via_proxy ? proxy : direct).push_back(res.mb_per_s);
      (via_proxy ? p_growth : d_growth).push_back(double(res.peak_kb - res.base_kb));
      if (via_proxy) p_ui.push_back(double(res.ui_peak_kb - res.ui_base_kb));
    }
    Result s = one(small_url, small, true);
    ok &= s.ok;
    s_growth.push_back(double(s.peak_kb - s.base_kb));
    s_ui.push_back(double(s.ui_peak_kb - s.ui_base_kb));
    std::fprintf(stderr, "round %d/%d done\n", r + 1, rounds);
  }

  // Playback: time from play() until an analyser hears the tone, and from
  // a seek to the middle until playing goes on there, plain and proxied.
  std::vector<double> first_plain, first_proxy, seek_plain, seek_proxy;
  if (Backend* b = start_page()) {
    for (int r = 0; r < std::max(rounds, 3) * 2; ++r) {
      for (int side = 0; side < 2; ++side) {
        bool via_proxy = (side == 0) == (r % 2 == 0);
        std::string q = "?r=" + std::to_string(r);
        double f = audio_ms(*b, server.url("/tone.wav" + q), via_proxy, false);
        double k = audio_ms(*b, server.url("/long.wav" + q), via_proxy, true);
        if (f > 0) (via_proxy ? first_proxy : first_plain).push_back(f);
        if (k > 0) (via_proxy ? seek_proxy : seek_plain).push_back(k);
      }
    }
    stop_page(b);
  }
  bool played = first_plain.size() == first_proxy.size() && !first_proxy.empty() &&
                seek_plain.size() == seek_proxy.size() && !seek_proxy.empty();
  ok &= played;
  double first_ratio = median(first_proxy) / median(first_plain);
  double seek_ratio = median(seek_proxy) / median(seek_plain);

  double ratio = median(proxy) / median(direct);
  // Streaming means the proxy's own process does not grow with the body:
  // four times the body may cost at most a small fixed amount more.
  double ui_growth = median(p_ui) - median(s_ui);
  bool flat = ui_growth < 32 * 1024;
  std::printf("\n%-44s %12s\n", "media proxy benchmark", "value");
  std::printf("%-44s %12lld\n", "body size (MiB)", mb);
  std::printf("%-44s %12.1f\n", "direct throughput (MiB/s, median)", median(direct));
  std::printf("%-44s %12.1f\n", "proxy throughput (MiB/s, median)", median(proxy));
  std::printf("%-44s %12.3f  target >= 0.9: %s\n", "proxy / direct", ratio, ratio >= 0.9 ? "yes" : "NO");
  std::printf("%-44s %12.0f\n", "peak growth, all processes, direct (KiB)", median(d_growth));
  std::printf("%-44s %12.0f\n", "peak growth, all processes, proxy (KiB)", median(p_growth));
  std::printf("%-44s %12.0f\n", "peak growth, launcher, proxy (KiB)", median(p_ui));
  std::printf("%-44s %12.0f\n", ("peak growth, launcher, proxy, " + std::to_string(small >> 20) + " MiB (KiB)").c_str(), median(s_ui));
  std::printf("%-44s %12.0f  flat: %s\n", "launcher growth for 4x the body (KiB)", ui_growth, flat ? "yes" : "NO");
  std::printf("%-44s %12.0f\n", "time to first audio, plain (ms, median)", median(first_plain));
  std::printf("%-44s %12.0f\n", "time to first audio, proxied (ms, median)", median(first_proxy));
  std::printf("%-44s %12.2f  target <= 1.2: %s\n", "first audio proxied / plain", first_ratio,
              first_ratio <= 1.2 ? "yes" : "NO");
  std::printf("%-44s %12.0f\n", "seek to the middle, plain (ms, median)", median(seek_plain));
  std::printf("%-44s %12.0f\n", "seek to the middle, proxied (ms, median)", median(seek_proxy));
  std::printf("%-44s %12.2f\n", "seek proxied / plain", seek_ratio);
  std::printf("every body arrived whole: %s   every tone played: %s   rounds: %d\n",
              ok ? "yes" : "NO", played ? "yes" : "NO", rounds);

  std::ofstream j(json_out);
  j << "{\"mb\":" << mb << ",\"direct_mib_s\":" << median(direct) << ",\"proxy_mib_s\":"
    << median(proxy) << ",\"ratio\":" << ratio << ",\"growth_direct_kib\":" << median(d_growth)
    << ",\"growth_proxy_kib\":" << median(p_growth) << ",\"launcher_growth_proxy_kib\":"
    << median(p_ui) << ",\"launcher_growth_proxy_small_kib\":" << median(s_ui)
    << ",\"first_audio_plain_ms\":" << median(first_plain) << ",\"first_audio_proxy_ms\":"
    << median(first_proxy) << ",\"first_audio_ratio\":" << first_ratio
    << ",\"seek_plain_ms\":" << median(seek_plain) << ",\"seek_proxy_ms\":" << median(seek_proxy)
    << ",\"seek_ratio\":" << seek_ratio << ",\"ok\":" << (ok ? "true" : "false") << "}\n";
  return ok ? 0 : 1;
}
