// The page's system, app and audio namespaces where the page does more than
// pass a call on: the missing-package prompt, start errors, argument checks,
// the in-page filter chain and the platform test.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

class PlatformApi : public testing::Test {
 protected:
  static void SetUpTestSuite() { b_ = start_page(); }
  static void TearDownTestSuite() { stop_page(b_); }
  void SetUp() override {
    ASSERT_NE(b_, nullptr);
    b_->collect(0);
  }

  // Starts a script whose promise lands in window.__r, without waiting.
  void start(const std::string& js) {
    b_->send("EVAL " + wire_escape("window.__r = undefined; Promise.resolve(" + js +
                                   ").then(v => { window.__r = {v}; }, e => { window.__r = {err: String(e.message), code: e.code}; })"));
  }
  // The next page call, which must be of this method; answered with json.
  std::string answer(const std::string& method, const std::string& json) {
    auto line = b_->expect([](const std::string& l) {
      auto c = parse_call(l);
      return c && call_method(*c) != "__probe";
    });
    if (!line) return "<no call>";
    auto c = parse_call(*line);
    if (call_method(*c) != method) return "<" + call_method(*c) + ">";
    b_->send("RET " + c->id + " 0 " + json);
    return c->payload;
  }
  std::string result() {
    for (int i = 0; i < 100; ++i) {
      auto v = b_->page_eval("window.__r === undefined ? null : window.__r");
      if (v && *v != "null") return *v;
    }
    return "<no result>";
  }

  static Backend* b_;
};
Backend* PlatformApi::b_ = nullptr;

TEST_F(PlatformApi, PromptMissingAsksOnceAndCopiesOneCommand) {
  start("ovalis.system.promptMissing(['speech', 'audioTap'])");
  EXPECT_EQ(answer("system.requirements", R"([{"id":"speech","ok":false,"feature":"Speech","detail":"no speech service",)"
                   R"("install":{"manager":"apt","packages":["a","b"],"command":"sudo apt install a b"}},)"
                   R"({"id":"tray","ok":true,"feature":"Tray","detail":"","install":null},)"
                   R"({"id":"audioTap","ok":false,"feature":"Audio capture","detail":"no recorder",)"
                   R"("install":{"manager":"apt","packages":["b","c"],"command":"sudo apt install b c"}}])"),
            R"({"method":"system.requirements","params":{"ids":["speech","audioTap"]}})");
  EXPECT_EQ(answer("dialog.confirm", "true"),
            R"({"method":"dialog.confirm","params":{"message":"Some features need system packages",)"
            R"("detail":"• Speech — no speech service\n\n• Audio capture — no recorder\n\n)"
            R"(sudo apt install a b c","ok":"Copy install command","cancel":"Not now"}})");
  EXPECT_EQ(answer("clip.write", R"({"ok":true})"),
            R"({"method":"clip.write","params":{"text":"sudo apt install a b c"}})");
  std::string r = result();
  EXPECT_NE(r.find(R"("copied":true)"), std::string::npos) << r;
  EXPECT_NE(r.find(R"("id":"audioTap")"), std::string::npos) << r;
}

TEST_F(PlatformApi, PromptMissingWithoutCommandAlertsAndDeclinedConfirmCopiesNothing) {
  start("ovalis.system.promptMissing()");
  answer("system.requirements", R"([{"id":"tray","ok":true}])");
  EXPECT_EQ(result(), R"({"v":{"missing":[],"copied":false}})");

  start("ovalis.system.promptMissing(['speech'], {title: 'Hmm'})");
  answer("system.requirements",
         R"([{"id":"speech","ok":false,"feature":"Speech","detail":"gone","install":null}])");
  EXPECT_EQ(answer("dialog.alert", "null"),
            R"({"method":"dialog.alert","params":{"message":"Hmm","detail":"• Speech — gone"}})");
  EXPECT_NE(result().find(R"("copied":false)"), std::string::npos);

  start("ovalis.system.promptMissing(['mp3'], {ok: 'Copy', cancel: 'No'})");
  answer("system.requirements",
         R"([{"id":"mp3","ok":false,"feature":"MP3","detail":"codec",)"
         R"("install":{"manager":"apt","packages":["x"],"command":"apt-get install -y x"}}])");
  EXPECT_EQ(answer("dialog.confirm", "false"),
            R"({"method":"dialog.confirm","params":{"message":"MP3 needs a system package",)"
            R"("detail":"• MP3 — codec\n\napt-get install -y x","ok":"Copy","cancel":"No"}})");
  EXPECT_NE(result().find(R"("copied":false)"), std::string::npos);
  auto stray = b_->collect(300, [](const std::string& l) {
    auto c = parse_call(l);
    return c && call_method(*c) == "clip.write";
  });
  EXPECT_TRUE(stray.empty());
}

TEST_F(PlatformApi, StartErrorsCarryTheirCode) {
  start("ovalis.audioTap.start()");
  answer("audioTap.start", R"({"ok":false,"code":"denied"})");
  EXPECT_EQ(result(), R"({"err":"audioTap: denied","code":"denied"})");
  start("ovalis.app.mouseTracking.start()");
  answer("app.mouseTracking.start", R"({"ok":false,"code":"portal","message":"no portal"})");
  EXPECT_EQ(result(), R"({"err":"no portal","code":"portal"})");
  start("ovalis.app.mouseTracking.start()");
  answer("app.mouseTracking.start", "null");
  EXPECT_EQ(result(), R"({"err":"mouseTracking: failed","code":"failed"})");
  start("ovalis.audioTap.start({scope: 'app'})");
  answer("audioTap.start", R"({"ok":true})");
  EXPECT_EQ(result(), R"({"v":true})");
}

TEST_F(PlatformApi, SamplerAndClearShapes) {
  EXPECT_EQ(b_->page_eval("(() => { try { ovalis.audio.sampler.load('x', 42); return 'no'; } "
                          "catch (e) { return e.message; } })()"),
            "\"sampler.load: pass a path or an ArrayBuffer\"");
  start("ovalis.audio.sampler.play('k').then(v => v.stop())");
  answer("sampler.play", R"({"id":17})");
  EXPECT_EQ(answer("sampler.stop", "true"), R"({"method":"sampler.stop","params":{"id":17}})");
  start("ovalis.audio.clear()");
  EXPECT_EQ(answer("audio.balance", "true"), R"({"method":"audio.balance","params":{"value":0}})");
  EXPECT_EQ(answer("audio.filters", "\"done\""), R"({"method":"audio.filters","params":{"filters":[]}})");
  EXPECT_EQ(result(), R"({"v":"done"})");
  auto stray = b_->collect(300, [](const std::string& l) {
    auto c = parse_call(l);
    return c && call_method(*c).rfind("sampler.", 0) == 0;
  });
  EXPECT_TRUE(stray.empty());
}

TEST_F(PlatformApi, EventHelpersHandOnTheirMember) {
  b_->page_eval(R"JS((window.__ev = [],
      ovalis.app.onOpenUrl(v => __ev.push(['url', v])),
      ovalis.app.onOpenFiles(v => __ev.push(['files', v])),
      ovalis.app.onNotificationClick(v => __ev.push(['click', v])),
      ovalis.app.onNotificationAction(v => __ev.push(['action', v])),
      ovalis.app.onScreensChanged(v => __ev.push(['screens', v])),
      ovalis.app.onMediaKey(v => __ev.push(['key', v])),
      ovalis.audioTap.on(v => __ev.push(['tap', v.frames])), 1))JS");
  b_->send(R"(EVAL@* [["open-url",{"url":"x://y"}],["open-files",{"paths":["/a"]}],)"
           R"(["notification-click",{"id":"n1"}],["notification-action",{"id":"n1","action":"ok"}],)"
           R"(["screens-changed",{"count":2}],["media-key",{"command":"seek","time":3}],)"
           R"(["audio-tap",{"frames":480}]].forEach(([event, data]) => window.__emit({event, data})))");
  EXPECT_EQ(b_->page_eval("__ev"),
            R"([["url","x://y"],["files",["/a"]],["click","n1"],["action",{"id":"n1","action":"ok"}],)"
            R"(["screens",{"count":2}],["key",{"command":"seek","time":3}],["tap",480]])");
}

TEST_F(PlatformApi, PlatformIsLinuxAndMacosIsPresent) {
  EXPECT_EQ(b_->page_eval("[ovalis.system.os(), ovalis.system.isLinux(), ovalis.system.isMacOS()]"),
            R"(["linux",true,false])");
  EXPECT_EQ(b_->page_eval("typeof ovalis.macos.ai.generate"), "\"function\"");
  EXPECT_EQ(b_->page_eval("typeof window.__ovalisSampler.play"), "\"function\"");
}

TEST(PlatformUa, OsFollowsAUserAgentOverride) {
  Backend* b = start_page({.env = {{"OVALIS_UA", "Mozilla/5.0 (Windows NT 10.0; Win64; x64)"}}});
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->page_eval("[ovalis.system.os(), ovalis.system.isWindows()]"), R"(["windows",true])");
  stop_page(b);
}

// The filter chain runs in the real engine: render a test signal offline and
// measure what comes out of each channel.
TEST_F(PlatformApi, PageChainShapesASignal) {
  const char* kRender = R"JS((async () => {
    const rate = 48000;
    const measure = async (setup, freq) => {
      const ctx = new OfflineAudioContext(2, rate / 2, rate);
      const osc = ctx.createOscillator();
      osc.frequency.value = freq;
      const chain = ovalis.audio.pageChain(ctx);
      osc.connect(chain.input);
      chain.output.connect(ctx.destination);
      setup(chain);
      osc.start();
      const buf = await ctx.startRendering();
      const rms = (ch) => {
        const d = buf.getChannelData(ch).subarray(rate / 4);
        let s = 0;
        for (const x of d) s += x * x;
        return Math.sqrt(s / d.length);
      };
      return [rms(0), rms(1)];
    };
    const flat = await measure(() => {}, 1000);
    const boost = await measure(c => c.filters([{type: 'peaking', freq: 1000, q: 1, gain: 12}]), 1000);
    const cut = await measure(c => c.filters([{type: 'lowpass', freq: 300}]), 6000);
    const half = await measure(c => { c.filters([{type: 'gain', gain: 0.5}]); }, 1000);
    const bal = await measure(c => c.balance(0.5), 1000);
    const retuned = await measure(c => { c.filters([{type: 'lowpass', freq: 300}]); c.filter(0, {type: 'gain', gain: 2}); }, 1000);
    const r = (x) => Math.round(x * 100) / 100;
    return {
      boost: r(boost[0] / flat[0]), cut: r(cut[0] / flat[0]), half: r(half[0] / flat[0]),
      left: r(bal[0] / flat[0]), right: r(bal[1] / flat[1]), retuned: r(retuned[0] / flat[0]),
    };
  })())JS";
  auto v = b_->page_eval(kRender, "main", 20000);
  ASSERT_TRUE(v);
  // +12 dB is four times the amplitude; a 300 Hz low-pass takes most of 6 kHz.
  EXPECT_EQ(*v, R"({"boost":3.98,"cut":0,"half":0.5,"left":0.5,"right":1,"retuned":2})");
}

}  // namespace
