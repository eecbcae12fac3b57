// The ovalis-media proxy against a loopback HTTP server, and camera and
// microphone decisions on real getUserMedia calls. Runs in a session with
// PipeWire, which supplies the audio output and a capture source.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "harness.h"
#include "http_server.h"

using namespace e2e;

namespace {

std::mutex g_gate_mu;
std::condition_variable g_gate_cv;
bool g_gate_open = false;

HttpResponse route(const HttpRequest& req) {
  HttpResponse r;
  if (req.path == "/tone.wav") {
    static const std::string wav = wav_tone(44100, 2.0, 440, 0.8);
    r.headers = {{"Content-Type", "audio/wav"}};
    r.body = wav;
  } else if (req.path == "/missing") {
    r.status = 404;
    r.headers = {{"Content-Type", "text/plain"}};
    r.body = "no such thing here";
  } else if (req.path == "/slow") {
    // 64 KiB at once, the rest only when the test opens the gate: a page
    // that sees the first bytes proves the body is streamed, not buffered.
    r.headers = {{"Content-Type", "application/octet-stream"}};
    r.stream_length = 4 << 20;
    r.fill = [](long long off, char* p, size_t n) {
      if (off >= 64 * 1024) {
        std::unique_lock<std::mutex> lk(g_gate_mu);
        g_gate_cv.wait_for(lk, std::chrono::seconds(30), [] { return g_gate_open; });
      }
      std::memset(p, 'x', n);
    };
  } else if (req.path == "/big") {
    // Byte i of the body is i * 31, so a page can check every byte's place.
    r.headers = {{"Content-Type", "application/octet-stream"}};
    r.stream_length = std::atoll(req.target.c_str() + req.target.find('=') + 1);
    r.fill = [](long long off, char* p, size_t n) {
      for (size_t i = 0; i < n; ++i) p[i] = static_cast<char>((off + static_cast<long long>(i)) * 31);
    };
  } else if (req.path == "/page.html") {
    r.headers = {{"Content-Type", "text/html"}};
    r.body = "<!doctype html><html><head><meta charset=utf-8><title>remote</title></head>"
             "<body>remote</body></html>";
  } else {
    r.status = 404;
  }
  return r;
}

bool saw_request(HttpServer& s, const std::string& path) {
  for (auto& r : s.requests())
    if (r.path == path) return true;
  return false;
}

std::string js_str(const std::string& s) { return "'" + s + "'"; }

// Largest absolute sample of a proxied file decoded by Web Audio.
std::string decode_peak(const std::string& url) {
  return "fetch(ovalis.proxyURL(" + js_str(url) +
         ")).then(r => r.arrayBuffer()).then(b => new OfflineAudioContext(1, 44100, 44100)"
         ".decodeAudioData(b)).then(buf => { const d = buf.getChannelData(0); let m = 0;"
         " for (const x of d) m = Math.max(m, Math.abs(x)); return m > 0.5; })";
}

bool wait_stderr(Backend* b, const std::string& text, int ms = 8000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (b->stderr_text().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class Media : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    server = new HttpServer(route);
    Options o{.env = {{"OVALIS_MEDIA_ORIGINS", std::nullopt}, {"OVALIS_MEDIA", "microphone"}}};
    // AddressSanitizer holds freed memory back (256 MiB by default) so that
    // late uses are caught; every chunk that passes through would then
    // count as growth. A small quarantine keeps the memory check about
    // buffering in a sanitized build too.
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
      o.env.push_back({"ASAN_OPTIONS", std::string(asan) + ":quarantine_size_mb=16"});
    page = start_page(o);
  }
  static void TearDownTestSuite() {
    stop_page(page);
    {
      std::lock_guard<std::mutex> lk(g_gate_mu);
      g_gate_open = true;
    }
    g_gate_cv.notify_all();
    delete server;
  }
  void SetUp() override { ASSERT_TRUE(page); }
  static HttpServer* server;
  static Backend* page;
};
HttpServer* Media::server = nullptr;
Backend* Media::page = nullptr;

TEST_F(Media, FilePageDecodesProxiedAudioWithRealSamples) {
  EXPECT_EQ(page->page_eval(decode_peak(server->url("/tone.wav")), "main", 20000), "true");
  auto reqs = server->requests();
  ASSERT_FALSE(reqs.empty());
  // The page's own headers stay in the page.
  EXPECT_EQ(reqs.back().headers.count("origin"), 0u);
  EXPECT_EQ(reqs.back().headers.count("range"), 0u);
}

TEST_F(Media, ResponseCarriesPermissiveHeadersAndAlwaysStatus200) {
  std::string js = "fetch(ovalis.proxyURL(" + js_str(server->url("/missing")) +
                   ")).then(async r => [r.status, r.headers.get('access-control-allow-origin'),"
                   " r.headers.get('content-type'), await r.text()])";
  EXPECT_EQ(page->page_eval(js), R"([200,"*","text/plain","no such thing here"])");
}

TEST_F(Media, BodyIsStreamedAsItArrives) {
  std::string js = "fetch(ovalis.proxyURL(" + js_str(server->url("/slow")) +
                   ")).then(async r => { const rd = r.body.getReader(); let n = 0;"
                   " while (n < 65536) { const c = await rd.read(); if (c.done) break;"
                   " n += c.value.length; } rd.cancel(); return n >= 65536; })";
  EXPECT_EQ(page->page_eval(js, "main", 15000), "true");
}

TEST_F(Media, BadTargetsFailWithoutReachingTheNetwork) {
  std::string js =
      "fetch('ovalis-media://proxy/?u=ftp%3A%2F%2Fh%2Ff').then(() => 'loaded', () => 'failed')";
  EXPECT_EQ(page->page_eval(js), "\"failed\"");
  EXPECT_EQ(page->page_eval("fetch('ovalis-media://proxy/').then(() => 'loaded', () => 'failed')"),
            "\"failed\"");
}

TEST_F(Media, FrameNavigationToTheSchemeIsRefused) {
  std::string js = "new Promise(res => { const f = document.createElement('iframe');"
                   " f.src = ovalis.proxyURL(" + js_str(server->url("/tone.wav?frame")) + ");"
                   " document.body.appendChild(f); setTimeout(() => { f.remove(); res(1); }, 500); })";
  page->page_eval(js);
  EXPECT_TRUE(wait_stderr(page, "ovalis: ovalis-media proxy refused for file:// (document load)\n"));
  for (auto& r : server->requests()) EXPECT_EQ(r.target.find("frame"), std::string::npos);
}

long rss_kib(pid_t pid) {
  std::ifstream st("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(st, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// Runs last: it reloads the shared page.
TEST_F(Media, BodiesArriveWholeAndInOrderWhileTheWebProcessSetsThePace) {
  std::string whole = "fetch(ovalis.proxyURL(" + js_str(server->url("/big?n=" + std::to_string(24 << 20))) +
                      ")).then(async r => { const rd = r.body.getReader(); let off = 0, bad = 0;"
                      " for (;;) { const c = await rd.read(); if (c.done) break; const v = c.value;"
                      " for (let j = 0; j < v.length; j++) if (v[j] !== ((off + j) * 31 & 255)) bad++;"
                      " off += v.length; } return [off, bad]; })";
  EXPECT_EQ(page->page_eval(whole, "main", 60000), "[" + std::to_string(24 << 20) + ",0]");

  // While the page's process is busy it takes nothing in; launcher must not
  // read the upstream body ahead into its own memory meanwhile.
  long before = rss_kib(page->pid());
  page->page_eval("(window.__big = fetch(ovalis.proxyURL(" +
                  js_str(server->url("/big?n=" + std::to_string(256 << 20))) +
                  ")).then(r => r.arrayBuffer()), 1)");
  page->send("EVAL { const t = Date.now(); while (Date.now() - t < 2500); }");
  long peak = before;
  for (int i = 0; i < 25; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peak = std::max(peak, rss_kib(page->pid()));
  }
  EXPECT_LT(peak - before, 48 * 1024) << "launcher grew from " << before << " to " << peak << " KiB";
  // Navigating away with reads held back ends the stream cleanly.
  page->send("EVAL location.reload()");
  ASSERT_TRUE(serve_load_calls(*page));
  EXPECT_EQ(page->page_eval(decode_peak(server->url("/tone.wav?after")), "main", 20000), "true");
  EXPECT_TRUE(page->running());
}

// ---- origins other than file:// ----

TEST(MediaOrigins, HttpPageNeedsAMatchingProxyRule) {
  HttpServer server(route);
  for (bool with_rule : {false, true}) {
    Options o{.target = server.url("/page.html")};
    if (with_rule) o.env = {{"OVALIS_MEDIA_ORIGINS", "camera https://*\nproxy http://127.0.0.1:*"}};
    else o.env = {{"OVALIS_MEDIA_ORIGINS", "proxy http://127.0.0.1:1"}};
    Backend* b = start_page(o);
    ASSERT_TRUE(b);
    std::string js = "fetch(ovalis.proxyURL(" + js_str(server.url("/tone.wav?o")) +
                     ")).then(r => r.status, () => 'failed')";
    EXPECT_EQ(b->page_eval(js), with_rule ? "200" : "\"failed\"") << with_rule;
    if (!with_rule) {
      std::string origin = "http://127.0.0.1:" + std::to_string(server.port());
      EXPECT_TRUE(wait_stderr(b, "ovalis: ovalis-media proxy refused for " + origin +
                                     " (not trusted: allow media.proxy in ovalis.json "
                                     "\"api\".origins)\n"));
    }
    stop_page(b);
  }
}

// ---- permissions ----

// The outcome of a getUserMedia call: "ok" or the error's name.
std::string gum(const std::string& constraints) {
  return "navigator.mediaDevices.getUserMedia(" + constraints +
         ").then(s => { s.getTracks().forEach(t => t.stop()); return 'ok'; }, e => e.name)";
}

TEST(Permissions, MicrophoneFollowsTheDeclaredFeaturesAndOrigin) {
  HttpServer server(route);
  struct Case {
    std::optional<std::string> media;
    std::string origins;
    bool http;
    std::string expect;
  } cases[] = {
      {std::nullopt, "", false, "NotAllowedError"},
      {"camera", "", false, "NotAllowedError"},
      {"camera,microphone", "", false, "ok"},
      {"microphone", "camera http://127.0.0.1:*", true, "NotAllowedError"},
      {"microphone", "microphone http://127.0.0.1:*", true, "ok"},
  };
  for (const Case& c : cases) {
    Options o{.target = c.http ? server.url("/page.html") : "",
              .env = {{"OVALIS_MEDIA", c.media}, {"OVALIS_MEDIA_ORIGINS", c.origins}}};
    Backend* b = start_page(o);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->page_eval(gum("{audio: true}"), "main", 15000), "\"" + c.expect + "\"")
        << c.media.value_or("(unset)") << " " << c.origins;
    stop_page(b);
  }
}

TEST(Permissions, ScreenSharingIsAlwaysDenied) {
  Backend* b = start_page({.env = {{"OVALIS_MEDIA", "camera microphone"}}});
  ASSERT_TRUE(b);
  auto r = b->page_eval(
      "navigator.mediaDevices.getDisplayMedia ? navigator.mediaDevices.getDisplayMedia({video: "
      "true}).then(() => 'ok', e => e.name) : 'absent'",
      "main", 15000);
  EXPECT_NE(r, "\"ok\"");
  stop_page(b);
}

}  // namespace
