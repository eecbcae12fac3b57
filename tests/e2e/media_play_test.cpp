// Media elements on proxied addresses: audio of each common format heard
// through the page's own audio graph, seeking, an endless stream, video,
// and refusal for an untrusted page. A loopback server stands for the
// remote host; test media are made here with GStreamer's encoders.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "harness.h"
#include "http_server.h"

using namespace e2e;

namespace {

std::string g_dir;
std::map<std::string, std::string> g_files;  // route -> bytes
std::string g_radio;                         // one MP3 loop of the endless stream
std::atomic<long long> g_radio_sent{0};

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Encodes a test tone (or pattern) with gst-launch-1.0; "" on failure.
std::string encode(const std::string& name, const std::string& pipeline) {
  std::string out = g_dir + "/" + name;
  sh("gst-launch-1.0 -q " + pipeline + " ! filesink location=" + out + " >/dev/null 2>&1");
  return slurp(out);
}

HttpResponse route(const HttpRequest& req) {
  HttpResponse r;
  auto it = g_files.find(req.path);
  if (it != g_files.end()) {
    static const std::map<std::string, std::string> types = {
        {".wav", "audio/wav"}, {".mp3", "audio/mpeg"}, {".ogg", "audio/ogg"},
        {".opus", "audio/ogg"}, {".webm", "video/webm"}};
    std::string ext = req.path.substr(req.path.rfind('.'));
    r.headers = {{"Content-Type", types.at(ext)}};
    r.body = it->second;
    // "/plain/..." stands for a server that always sends the whole body.
    r.ranges = req.target.find("norange") == std::string::npos;
    if (req.path == "/long.wav") {
      // Served at the pace of a remote host, so a seek ahead cannot be
      // answered from what has already arrived.
      const std::string* body = &it->second;
      r.stream_length = static_cast<long long>(body->size());
      auto first = std::make_shared<bool>(true);
      r.fill = [body, first](long long off, char* p, size_t n) {
        if (!*first) std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        *first = false;
        std::memcpy(p, body->data() + off, n);
      };
    }
    return r;
  }
  if (req.path == "/radio") {
    // An internet radio: no length, never ends, a little faster than real
    // time as such servers send.
    r.headers = {{"Content-Type", "audio/mpeg"}};
    r.endless = true;
    r.fill = [](long long off, char* p, size_t n) {
      for (size_t i = 0; i < n; ++i) p[i] = g_radio[static_cast<size_t>(off + static_cast<long long>(i)) % g_radio.size()];
      g_radio_sent += static_cast<long long>(n);
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    };
    return r;
  }
  if (req.path == "/page.html") {
    r.headers = {{"Content-Type", "text/html"}};
    r.body = "<!doctype html><html><head><meta charset=utf-8><title>remote</title></head>"
             "<body>remote</body></html>";
    return r;
  }
  r.status = 404;
  return r;
}

std::string js_str(const std::string& s) { return "'" + s + "'"; }

// Page helpers: a proxied element wired into an analyser, and a loudness
// probe that waits until the analyser hears the element.
const char* kHelpers = R"JS((window.__m = {
  make(url, tag) {
    const a = document.createElement(tag || 'audio');
    a.crossOrigin = 'anonymous';
    a.src = ovalis.proxyURL(url);
    document.body.appendChild(a);
    const ctx = new AudioContext();
    const an = ctx.createAnalyser();
    an.fftSize = 2048;
    ctx.createMediaElementSource(a).connect(an);
    an.connect(ctx.destination);
    return { a, ctx, an };
  },
  async hear(m, ms) {
    const buf = new Float32Array(m.an.fftSize);
    const end = performance.now() + ms;
    while (performance.now() < end) {
      await new Promise(r => setTimeout(r, 40));
      m.an.getFloatTimeDomainData(buf);
      let peak = 0;
      for (const x of buf) peak = Math.max(peak, Math.abs(x));
      if (peak > 0.1) return true;
    }
    return false;
  },
  async play(m) {
    await m.ctx.resume();
    try { await m.a.play(); } catch (e) { return 'play: ' + e.name + ' ' + (m.a.error && m.a.error.code); }
    return 'ok';
  },
  done(m) {
    m.a.pause();
    m.a.removeAttribute('src');
    m.a.load();
    m.a.remove();
    m.ctx.close();
  },
}, 1))JS";

class MediaPlay : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/ovalis-media-XXXXXX";
    g_dir = mkdtemp(tmpl);
    const std::string tone = "audiotestsrc wave=sine freq=440 volume=0.8 num-buffers=";
    g_files["/tone.wav"] = wav_tone(44100, 3.0, 440, 0.8);
    g_files["/tone.mp3"] = encode("tone.mp3", tone + "130 ! audioconvert ! lamemp3enc");
    g_files["/tone.ogg"] = encode("tone.ogg", tone + "130 ! audioconvert ! vorbisenc ! oggmux");
    g_files["/tone.opus"] = encode("tone.opus", tone + "130 ! audioconvert ! audioresample ! opusenc ! oggmux");
    // A minute of tone for seeking: short enough to make quickly.
    g_files["/long.wav"] = wav_tone(16000, 60.0, 440, 0.8);
    g_files["/clip.webm"] = encode(
        "clip.webm", "videotestsrc num-buffers=90 ! video/x-raw,width=160,height=120,framerate=30/1"
                     " ! vp8enc deadline=1 ! webmmux");
    g_radio = encode("radio.mp3", tone + "200 ! audioconvert ! lamemp3enc");
    server = new HttpServer(route);
    page = start_page({.env = {{"OVALIS_MEDIA_ORIGINS", std::nullopt}}});
    if (page) page->page_eval(kHelpers);
  }
  static void TearDownTestSuite() {
    stop_page(page);
    delete server;
    sh("rm -rf " + g_dir);
  }
  void SetUp() override { ASSERT_TRUE(page); }

  // Plays a proxied file and reports whether the analyser heard it.
  std::string heard(const std::string& path) {
    return page->page_eval("(async () => { const m = __m.make(" + js_str(server->url(path)) +
                               "); const p = await __m.play(m); const h = p === 'ok' && await "
                               "__m.hear(m, 6000); __m.done(m); return p === 'ok' ? (h ? 'heard' : "
                               "'silent') : p; })()",
                           "main", 15000)
        .value_or("no answer");
  }

  static HttpServer* server;
  static Backend* page;
};
HttpServer* MediaPlay::server = nullptr;
Backend* MediaPlay::page = nullptr;

TEST_F(MediaPlay, EachFormatPlaysAndReachesTheAudioGraph) {
  for (const char* f : {"/tone.wav", "/tone.mp3", "/tone.ogg", "/tone.opus"}) {
    ASSERT_GT(g_files[f].size(), 1000u) << f << " was not made";
    EXPECT_EQ(heard(f), "\"heard\"") << f;
  }
  // The same from a server that ignores ranges.
  EXPECT_EQ(heard("/tone.mp3?norange"), "\"heard\"");
}

TEST_F(MediaPlay, AnElementOnTheSchemeFailsCleanly) {
  // The engine's player refuses the scheme itself, after reading the first
  // bytes to sniff the type; the body it drops must close without harm.
  std::string js = "new Promise(res => { const a = new Audio();"
                   " a.src = 'ovalis-media://proxy/?k=' + window.__OVALIS_PKEY + '&u=' +"
                   " encodeURIComponent(" + js_str(server->url("/tone.wav?scheme")) + ");"
                   " a.onerror = () => res(a.error.code); a.play().catch(() => {});"
                   " setTimeout(() => res('timeout'), 6000); })";
  EXPECT_EQ(page->page_eval(js, "main", 10000), "4");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(page->stderr_text().find("GIO-CRITICAL"), std::string::npos) << page->stderr_text();
  EXPECT_TRUE(page->running());
}

TEST_F(MediaPlay, SeekToTheMiddleStartsQuicklyAndPlaysFromThere) {
  for (const char* q : {"", "?norange"}) {
    // Seeks to the middle, then twice more beyond what has arrived; the
    // quickest of the three stands for the proxy, the others for a
    // machine shared with other work.
    std::string js = "(async () => { const m = __m.make(" + js_str(server->url("/long.wav") + q) +
                     "); const p = await __m.play(m); if (p !== 'ok') return p;"
                     " const seek = async to => { await new Promise(r => setTimeout(r, 300));"
                     "   const t0 = performance.now(); m.a.currentTime = to;"
                     "   while (!(m.a.currentTime > to + 0.05 && !m.a.seeking) && performance.now() - t0 < 5000)"
                     "     await new Promise(r => setTimeout(r, 5));"
                     "   return performance.now() - t0; };"
                     " let ms = await seek(30);"
                     " await new Promise(r => setTimeout(r, 500)); const t = m.a.currentTime;"
                     " const h = await __m.hear(m, 2000);"
                     + std::string(*q ? "" : " ms = Math.min(ms, await seek(55), await seek(44));") +
                     " __m.done(m);"
                     " return [Math.round(ms), t > 30.2 && t < 32, h]; })()";
    auto v = page->page_eval(js, "main", 30000).value_or("");
    ASSERT_EQ(v.front(), '[') << v << " " << q;
    int ms = std::atoi(v.c_str() + 1);
    EXPECT_EQ(v.substr(v.find(',')), ",true,true]") << v << " " << q;
    // Skipping through a body sent whole takes as long as the upstream
    // needs to get there; with ranges the seek is one round trip.
    if (!*q) EXPECT_LT(ms, 300) << v;
  }
  // The page's range went upstream where the server takes ranges.
  bool forwarded = false;
  for (auto& r : server->requests())
    if (r.path == "/long.wav" && r.headers.count("range") && r.headers.at("range") != "bytes=0-") {
      forwarded = true;
    }
  EXPECT_TRUE(forwarded);
}

TEST_F(MediaPlay, EndlessStreamPlaysAndStopsCostingOnceTheElementIsGone) {
  std::string js = "(async () => { const m = __m.make(" + js_str(server->url("/radio")) +
                   "); window.__radio = m; const p = await __m.play(m); if (p !== 'ok') return p;"
                   " const h = await __m.hear(m, 3000);"
                   " await new Promise(r => setTimeout(r, 5000));"
                   " return [h, m.a.currentTime > 4.5, m.a.paused]; })()";
  EXPECT_EQ(page->page_eval(js, "main", 20000), "[true,true,false]");
  page->page_eval("(__m.done(window.__radio), delete window.__radio, 1)");
  // Once the element is gone, the upstream stops sending within moments.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  long long before = g_radio_sent;
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(g_radio_sent.load(), before);
}

TEST_F(MediaPlay, VideoPlays) {
  ASSERT_GT(g_files["/clip.webm"].size(), 1000u);
  std::string js = "(async () => { const v = document.createElement('video'); v.muted = true;"
                   " v.src = ovalis.proxyURL(" + js_str(server->url("/clip.webm")) + ");"
                   " document.body.appendChild(v); try { await v.play(); } catch (e) { return e.name; }"
                   " const t0 = performance.now();"
                   " while (v.currentTime <= 1 && performance.now() - t0 < 6000) await new Promise(r => setTimeout(r, 50));"
                   " const t = v.currentTime; v.remove(); return [t > 1, v.videoWidth]; })()";
  EXPECT_EQ(page->page_eval(js, "main", 15000), "[true,160]");
}

TEST(MediaPlayOrigins, UntrustedPageIsRefusedForMediaToo) {
  HttpServer server(route);
  Backend* b = start_page({.target = server.url("/page.html"),
                           .env = {{"OVALIS_MEDIA_ORIGINS", "proxy http://127.0.0.1:1"}}});
  ASSERT_TRUE(b);
  std::string js = "new Promise(res => { const a = new Audio(); a.crossOrigin = 'anonymous';"
                   " a.onerror = () => res('error ' + a.error.code); a.oncanplay = () => res('played');"
                   " a.src = ovalis.proxyURL(" + js_str(server.url("/tone.wav?untrusted")) + ");"
                   " setTimeout(() => res('timeout'), 6000); })";
  EXPECT_EQ(b->page_eval(js, "main", 10000), "\"error 4\"");
  for (auto& r : server.requests()) EXPECT_EQ(r.target.find("untrusted"), std::string::npos);
  stop_page(b);
}

}  // namespace
