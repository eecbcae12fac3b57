// The page's ovalis API in the real engine: every method's call payload,
// the event hub, the proxied fetch, capabilities, URL helpers, drag regions
// and resize grips. One launcher serves the whole file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "harness.h"

using namespace e2e;

namespace {

struct ApiRow {
  const char* js;
  const char* method;
  const char* params;
};

const ApiRow kRows[] = {
#include "client_api_table.inc"
};

class ClientApi : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    b_ = new Backend;
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(b_->start({.target = page_path("drag.html"), .extra_args = {"e2e drag"}}));
    auto first = b_->expect_prefix("CALL ", 15000);
    auto dt = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - t0);
    ASSERT_TRUE(first);
    std::printf("[ metric ] start to first CALL: %lld ms\n", static_cast<long long>(dt.count()));
    auto c = parse_call(*first);
    ASSERT_TRUE(c);
    ASSERT_EQ(call_method(*c), "client.hello");
    b_->send("RET " + c->id + " 0 {}");
    ASSERT_TRUE(serve_load_calls_after_hello());
    ASSERT_TRUE(b_->wait_page_ready());
  }
  static bool serve_load_calls_after_hello() {
    // hello is answered; the other two load calls follow.
    int seen = 0;
    while (seen < 2) {
      auto line = b_->expect([](const std::string& l) {
        auto c = parse_call(l);
        return c && (call_method(*c) == "client.capabilities" || call_method(*c) == "win.getState");
      });
      if (!line) return false;
      auto c = parse_call(*line);
      if (call_method(*c) == "win.getState")
        b_->send("RET " + c->id + " 0 {\"chrome\":{\"frame\":true}}");
      else {
        probe_ = c->payload;
        b_->send("RET " + c->id + " 0 " + verdicts());
      }
      ++seen;
    }
    return true;
  }
  static std::string verdicts() {
    return R"({"calls":{"tray.set":true,"tray.remove":true,"tray.position":{"why":"unsupported","feature":"tray-position"},)"
           R"("win.setSize":{"why":"gate","needs":"pro"},"dialog.openFile":true,"app.badge":true,"audioTap.start":true},)"
           R"("events":{"tray":true,"trayclick":true,"audio-tap":true}})";
  }
  static void TearDownTestSuite() { stop_page(b_); }
  void SetUp() override { b_->collect(0); }

  // Evaluates js in the page and returns the payload of the call it makes.
  std::optional<CallLine> call_of(const std::string& js) {
    b_->send("EVAL " + wire_escape(js));
    auto line = b_->expect([](const std::string& l) {
      auto c = parse_call(l);
      return c && call_method(*c) != "__probe";
    });
    if (!line) return std::nullopt;
    return parse_call(*line);
  }

  static Backend* b_;
  static std::string probe_;  // the payload of the capabilities call
};
Backend* ClientApi::b_ = nullptr;
std::string ClientApi::probe_;

TEST_F(ClientApi, EveryMethodSendsItsCall) {
  for (const ApiRow& r : kRows) {
    auto c = call_of(r.js);
    ASSERT_TRUE(c) << r.js;
    std::string want = std::string("{\"method\":\"") + r.method + "\"";
    if (r.params) want += std::string(",\"params\":") + r.params;
    want += "}";
    EXPECT_EQ(c->payload, want) << r.js;
    EXPECT_EQ(c->origin, "file://");
  }
}

TEST_F(ClientApi, DialogOptionErrorsThrowBeforeAnyCall) {
  EXPECT_EQ(b_->page_eval("ovalis.dialog.confirm('x', [1])"),
            "ERR:ovalis.dialog.confirm(message, opts): opts must be an object or a detail "
            "string, got an array");
  EXPECT_EQ(b_->page_eval("ovalis.dialog.prompt('x', 'y')"),
            "ERR:ovalis.dialog.prompt(message, opts): opts must be an object, got string");
  EXPECT_EQ(b_->page_eval("ovalis.dialog.alert('x', 5)"),
            "ERR:ovalis.dialog.alert(message, opts): opts must be an object or a detail "
            "string, got number");
  auto stray = b_->collect(300, [](const std::string& l) {
    auto c = parse_call(l);
    return c && call_method(*c).rfind("dialog.", 0) == 0;
  });
  EXPECT_TRUE(stray.empty());
}

TEST_F(ClientApi, EventHubIsolatesHandlers) {
  EXPECT_EQ(b_->page_eval(R"JS((function(){
      window.__seen = [];
      const off = ovalis.api.on('menu', function self(d) { __seen.push('a' + d.id); off(); });
      ovalis.api.on('menu', () => { throw new Error('boom'); });
      ovalis.menu.on(id => __seen.push('b' + id));
      window.reportError = () => __seen.push('reported');
      window.__emit({event: 'menu', data: {id: 1}});
      window.__emit({event: 'menu', data: {id: 2}});
      return __seen;
    })())JS"),
            R"(["a1","reported","b1","reported","b2"])");
}

TEST_F(ClientApi, BackendEventsReachHandlers) {
  b_->page_eval("(window.__ev = [], ovalis.theme.on(d => __ev.push(d)), 1)");
  b_->send("EVAL@* window.__emit({event:'theme',data:{dark:true}})");
  EXPECT_EQ(b_->page_eval("__ev"), "[true]");
}

TEST_F(ClientApi, FetchWholeBody) {
  b_->send("EVAL " + wire_escape(R"JS(window.__f = ovalis.fetch('https://example.org/a', {method: 'POST', body: 'hi', headers: [['X-A', '1']]})
      .then(async r => ({status: r.status, text: await r.text(), url: r.url, type: r.headers.get('content-type'), redirected: r.redirected})))JS"));
  auto line = b_->expect_prefix("CALL ");
  ASSERT_TRUE(line);
  auto c = parse_call(*line);
  EXPECT_EQ(c->payload,
            R"({"method":"fetch","params":{"url":"https://example.org/a","id":"f1","stream":false,"method":"POST","headers":{"X-A":"1"},"bodyText":"hi"}})");
  b_->send("RET " + c->id +
           R"( 0 {"status":201,"statusText":"Created","headers":{"content-type":"text/plain"},"url":"https://example.org/b","redirected":true,"bodyB64":"aGVsbG8="})");
  EXPECT_EQ(b_->page_eval("__f"),
            R"({"status":201,"text":"hello","url":"https://example.org/b","type":"text/plain","redirected":true})");
}

TEST_F(ClientApi, FetchStreamingPullsUntilDone) {
  b_->send("EVAL " + wire_escape(R"JS(window.__s = ovalis.fetch('https://example.org/s', {stream: true}).then(r => r.text()))JS"));
  auto head = parse_call(*b_->expect_prefix("CALL "));
  EXPECT_NE(head->payload.find("\"stream\":true"), std::string::npos);
  b_->send("RET " + head->id + R"( 0 {"status":200,"statusText":"OK","headers":{},"url":"https://example.org/s","redirected":false})");
  for (const char* chunk : {"YWJj", "ZGVm"}) {
    auto pull = parse_call(*b_->expect_prefix("CALL "));
    EXPECT_EQ(call_method(*pull), "fetch.pull");
    b_->send("RET " + pull->id + " 0 {\"bodyB64\":\"" + chunk + "\"}");
  }
  auto last = parse_call(*b_->expect_prefix("CALL "));
  EXPECT_EQ(call_method(*last), "fetch.pull");
  b_->send("RET " + last->id + " 0 {\"done\":true}");
  EXPECT_EQ(b_->page_eval("__s"), "\"abcdef\"");
}

TEST_F(ClientApi, FetchStreaming204HasNoBodyAndNeverPulls) {
  b_->send("EVAL " + wire_escape(R"JS(window.__n = ovalis.fetch('https://example.org/n', {stream: true}).then(r => [r.status, r.body]))JS"));
  auto head = parse_call(*b_->expect_prefix("CALL "));
  b_->send("RET " + head->id + R"( 0 {"status":204,"statusText":"No Content","headers":{},"url":"https://example.org/n","redirected":false})");
  EXPECT_EQ(b_->page_eval("__n"), "[204,null]");
  auto pulls = b_->collect(300, [](const std::string& l) {
    auto c = parse_call(l);
    return c && call_method(*c) == "fetch.pull";
  });
  EXPECT_TRUE(pulls.empty());
}

TEST_F(ClientApi, CapabilitiesFollowTheVerdicts) {
  EXPECT_EQ(b_->page_eval("ovalis.capabilities.ready.then(() => 'ready')"), "\"ready\"");
  EXPECT_EQ(b_->page_eval("ovalis.capabilities.can('tray.*')"), "true");
  EXPECT_EQ(b_->page_eval("ovalis.capabilities.can('ovalis.tray.set')"), "true");
  EXPECT_EQ(b_->page_eval("ovalis.capabilities.can('tray.position')"), "false");
  EXPECT_EQ(b_->page_eval("ovalis.capabilities.get('tray.position')"),
            R"({"ok":false,"why":"unsupported","feature":"tray-position"})");
  EXPECT_EQ(b_->page_eval("ovalis.capabilities.get('win.setSize')"),
            R"({"ok":false,"why":"gate","needs":["pro"]})");
  EXPECT_EQ(b_->page_eval("ovalis.capabilities.get('no.such')"), R"({"ok":false,"why":"unknown"})");
  EXPECT_EQ(b_->page_eval("ovalis.capabilities.list().includes('dialog.openFile')"), "true");
}

// Namespaces added to the page API are probed without being listed anywhere.
TEST_F(ClientApi, CapabilitiesCoverThePlatformNamespaces) {
  for (const char* name : {"\"system.requirements\"", "\"dialog.confirm\"", "\"app.badge\"",
                           "\"nowplaying.set\"", "\"sampler.load\"", "\"audioTap.start\"",
                           "\"macos.ai.generate\"", "\"media-key\"", "\"audio-tap\"",
                           "\"open-url\""})
    EXPECT_NE(probe_.find(name), std::string::npos) << name;
  EXPECT_EQ(b_->page_eval("[ovalis.capabilities.can('app.badge'), ovalis.capabilities.can('audioTap.*'),"
                          " ovalis.capabilities.can('audioTap.on'), ovalis.capabilities.can('audioTap.stop'),"
                          " ovalis.capabilities.can('system.os'), ovalis.capabilities.can('system.promptMissing')]"),
            "[true,true,true,false,true,false]");
}

TEST_F(ClientApi, UrlHelpers) {
  EXPECT_EQ(b_->page_eval("ovalis.fileURL('/home/a b/c#d.mp3')"), "\"file:///home/a%20b/c%23d.mp3\"");
  EXPECT_EQ(b_->page_eval("ovalis.fileURL('C:\\\\x\\\\y.txt')"), "\"file:///C:/x/y.txt\"");
  EXPECT_EQ(b_->page_eval("ovalis.fileURL('//server/share/f')"), "\"file://server/share/f\"");
  EXPECT_EQ(b_->page_eval("ovalis.fileURL('rel/p')"), "\"file:///rel/p\"");
  std::string key = b_->page_eval("window.__OVALIS_PKEY").value_or("");
  ASSERT_EQ(key.size(), 34u);
  // The proxy's loopback address, under this run's secret path.
  EXPECT_EQ(b_->page_eval("ovalis.proxyURL('https://a.b/c?d=1').replace("
                          "/^http:\\/\\/127\\.0\\.0\\.1:\\d+\\/[0-9a-f]{32}\\//, 'L/')"),
            "\"L/?k=" + key.substr(1, 32) + "&u=https%3A%2F%2Fa.b%2Fc%3Fd%3D1\"");
}

TEST_F(ClientApi, WindowIdIsReadLive) {
  EXPECT_EQ(b_->page_eval("ovalis.win.id"), "\"main\"");
}

// A real pointer press on a drag region asks for a window move.
TEST_F(ClientApi, DragRegionClickStartsAWindowDrag) {
  E2E_X11_ONLY("xdotool pointer on an X window");
  unsigned long xid = find_window({.name = "e2e drag"});
  ASSERT_NE(xid, 0u);
  auto xdo = [&](const std::string& args) {
    std::string w = std::to_string(xid);
    std::string cmd = "xdotool windowactivate --sync " + w + " mousemove --window " + w + " " +
                      args + " >/dev/null 2>&1";
    return std::system(cmd.c_str());
  };
  ASSERT_EQ(xdo("30 30 click 1"), 0);
  auto drag = b_->expect([](const std::string& l) {
    auto c = parse_call(l);
    return c && call_method(*c).rfind("win.", 0) == 0;
  });
  ASSERT_TRUE(drag);
  EXPECT_EQ(parse_call(*drag)->payload, "{\"method\":\"win.startDrag\"}");
  // A press on the button inside the region is the button's.
  ASSERT_EQ(xdo("215 25 click 1"), 0);
  // A double click zooms.
  ASSERT_EQ(xdo("60 30 click --repeat 2 --delay 40 1"), 0);
  auto calls = b_->collect(800, [](const std::string& l) {
    auto c = parse_call(l);
    return c && call_method(*c).rfind("win.", 0) == 0;
  });
  std::vector<std::string> methods;
  for (auto& l : calls) methods.push_back(call_method(*parse_call(l)));
  EXPECT_EQ(methods, (std::vector<std::string>{"win.startDrag", "win.zoom"}));
}

TEST_F(ClientApi, SequentialRoundTripLatency) {
  const int n = 1000;
  b_->send("EVAL " + wire_escape(R"JS((async function(){
      for (let i = 0; i < 1000; i++) await ovalis.api.call('bench.ping', {i});
      ovalis.api.call('bench.done');
    })())JS"));
  // Each interval runs from one call's arrival to the next one's: our
  // answer, the page's promise, and its next call, a full round trip.
  int answered = 0;
  std::vector<double> gaps;
  auto last = std::chrono::steady_clock::now();
  for (;;) {
    auto line = b_->expect_prefix("CALL ");
    ASSERT_TRUE(line);
    auto now = std::chrono::steady_clock::now();
    auto c = parse_call(*line);
    std::string m = call_method(*c);
    if (answered > 0) gaps.push_back(std::chrono::duration<double, std::micro>(now - last).count());
    last = now;
    if (m == "bench.ping") {
      b_->send("RET " + c->id + " 0 {}");
      ++answered;
    } else if (m == "bench.done") {
      break;
    }
  }
  EXPECT_EQ(answered, n);
  std::sort(gaps.begin(), gaps.end());
  std::printf("[ metric ] sequential page call round trip, median of 1000: %.0f us\n",
              gaps[gaps.size() / 2]);
}

// Runs last: it navigates the shared page.
TEST_F(ClientApi, ZFramelessPagesGetResizeGrips) {
  b_->send("EVAL location.reload()");
  ASSERT_TRUE(serve_load_calls(*b_, R"({"chrome":{"frame":false},"resizable":true})"));
  EXPECT_EQ(b_->page_eval(R"JS(new Promise(r => setTimeout(() => {
      const g = document.getElementById('__ovalisGrips');
      r(g ? [...g.children].map(c => c.style.cursor).join(' ') : 'none');
    }, 200)))JS"),
            "\"nwse-resize nesw-resize nesw-resize nwse-resize ns-resize ns-resize ew-resize "
            "ew-resize\"");
  b_->send("EVAL location.href=" + std::string("'file://") + page_path("noresize.html") + "'");
  ASSERT_TRUE(serve_load_calls(*b_, R"({"chrome":{"frame":false},"resizable":true})"));
  EXPECT_EQ(b_->page_eval("new Promise(r => setTimeout(() => r(!!document.getElementById('__ovalisGrips')), 200))"),
            "false");
}

}  // namespace
