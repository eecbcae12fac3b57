// Page bridge in the real engine: call tokens, forwarding rules, answers,
// EVAL routing, start-up scripts and the content size.
#include <gtest/gtest.h>

#include <thread>

#include "harness.h"

using namespace e2e;

namespace {

class Bridge : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    b_ = new Backend;
    ASSERT_TRUE(b_->start({.env = {{"OVALIS_DEBUG", "1"},
                                   {"OVALIS_INJECT",
                                    "window.__injectSawClient = typeof window.ovalis;"
                                    "window.__earlyTok = window.__OVALIS_TOK;"
                                    "window.__early = window.__invoke('early');"}}}));
    ASSERT_TRUE(serve_load_calls(*b_));
    auto early = b_->expect([](const std::string& l) {
      auto c = parse_call(l);
      return c && c->payload == "early";
    });
    ASSERT_TRUE(early);
    early_ = *early;
    ASSERT_TRUE(b_->wait_page_ready());
  }
  static void TearDownTestSuite() { stop_page(b_); }
  void SetUp() override { b_->collect(0); }

  // Posts a raw message to the handler, bypassing the shim.
  void post_raw(const std::string& msg_js) {
    b_->send("EVAL " + wire_escape("window.webkit.messageHandlers.ovalis.postMessage(" + msg_js + ")"));
  }
  // True when no CALL line arrives before a fence.
  bool no_calls_until_fence() {
    b_->send("GET fence windows");
    b_->expect_prefix("GOT fence ");
    return b_->collect(0, [](const std::string& l) { return l.rfind("CALL ", 0) == 0; }).empty();
  }
  static Backend* b_;
  static std::string early_;
};
Backend* Bridge::b_ = nullptr;
std::string Bridge::early_;

TEST_F(Bridge, InjectedScriptRunsAfterTheClientScript) {
  EXPECT_EQ(b_->page_eval("window.__injectSawClient"), "\"object\"");
}

TEST_F(Bridge, EarlyCallIsQueuedThenSentWithItsSeq) {
  EXPECT_EQ(b_->page_eval("window.__earlyTok === undefined"), "true");
  auto c = parse_call(early_);
  ASSERT_TRUE(c);
  b_->send("RET " + c->id + " 0 \"late answer\"");
  EXPECT_EQ(b_->page_eval("window.__early"), "\"late answer\"");
}

TEST_F(Bridge, ForgedMalformedAndUntokenedMessagesAreDropped) {
  std::string tok = b_->page_eval("window.__OVALIS_TOK").value_or("");
  ASSERT_GT(tok.size(), 30u);
  tok = tok.substr(1, tok.size() - 2);
  post_raw("'forged-token|5:{}'");
  post_raw("'" + tok + "|12x:{}'");
  post_raw("'" + tok + "|1234567890123456:{}'");
  post_raw("'" + tok + "|:{}'");
  post_raw("'" + tok + "'");
  post_raw("'|5:{}'");  // untokened, from a window that has a token
  EXPECT_TRUE(no_calls_until_fence());
  post_raw("'" + tok + "|123456789012345:{\"ok\":1}'");
  auto c = parse_call(*b_->expect_prefix("CALL "));
  EXPECT_EQ(c->id, "main:123456789012345");
  EXPECT_EQ(c->payload, "{\"ok\":1}");
  EXPECT_NE(b_->stderr_text().find(
                "ovalis: dropped an untokened call from a tokened window (a subframe)\n"),
            std::string::npos);
}

TEST_F(Bridge, RetAnswersReachTheRightPromise) {
  b_->send("EVAL " + wire_escape(R"JS(window.__a = [];
      window.__invoke('one').then(v => __a.push(['one', v]), v => __a.push(['one!', v]));
      window.__invoke('two').then(v => __a.push(['two', v]), v => __a.push(['two!', v]));)JS"));
  auto one = parse_call(*b_->expect_prefix("CALL "));
  auto two = parse_call(*b_->expect_prefix("CALL "));
  b_->send("RET " + two->id + " 1 {\"message\":\"no\"}");
  b_->send("RET " + one->id + " 0 [1,2]");
  b_->send("RET " + one->id + " 0 \"twice\"");       // already answered: ignored
  b_->send("RET " + one->id + "x 0 1");               // bad seq: ignored
  b_->send("RET nosuch:1 0 1");                       // unknown window: ignored
  std::string seq = one->id.substr(one->id.find(':') + 1);
  EXPECT_EQ(b_->page_eval("__a"), R"([["two!",{"message":"no"}],["one",[1,2]]])");
  b_->send("EVAL window.__invoke('three').then(v => __a.push(['three', v]))");
  auto three = parse_call(*b_->expect_prefix("CALL "));
  b_->send("RET " + three->id + " 0 not json at all");
  EXPECT_EQ(b_->page_eval("__a[2]"), R"(["three",null])");
}

TEST_F(Bridge, EvalRoutesByWindow) {
  b_->send("EVAL@* window.__all = (window.__all || 0) + 1");
  b_->send("EVAL@main window.__main = 1");
  b_->send("EVAL@nosuch window.__main = 2");
  EXPECT_EQ(b_->page_eval("[window.__all, window.__main]"), "[1,1]");
}

TEST_F(Bridge, SizeGivesThePageThatInnerSize) {
  b_->send("SIZE 700 500");
  std::optional<std::string> got;
  for (int i = 0; i < 50; ++i) {
    got = b_->page_eval("[innerWidth, innerHeight]");
    if (got == "[700,500]") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(got, "[700,500]");
  b_->send("SIZE 0 500");
  b_->send("SIZE -5 5");
  EXPECT_TRUE(holds_for([] { return b_->page_eval("[innerWidth, innerHeight]") == "[700,500]"; }));
}

// Runs last in this file: it navigates the shared page.
TEST_F(Bridge, ZNavigationInvalidatesTheOldToken) {
  std::string old = b_->page_eval("window.__OVALIS_TOK").value_or("");
  old = old.substr(1, old.size() - 2);
  b_->send("RELOAD");
  ASSERT_TRUE(serve_load_calls(*b_));
  std::string fresh = b_->page_eval("window.__OVALIS_TOK").value_or("");
  EXPECT_NE("\"" + old + "\"", fresh);
  b_->collect(300);
  post_raw("'" + old + "|7:{}'");
  EXPECT_TRUE(no_calls_until_fence());
}

TEST(BridgeAlone, TokenThatNeverArrivesGivesUpAfterItsTimer) {
  // The page refuses its token, so its calls wait, then go out untokened
  // after the give-up timer, and are dropped as a tokened window's.
  Backend b;
  ASSERT_TRUE(b.start({.env = {{"OVALIS_DEBUG", ""},
                               {"OVALIS_INJECT",
                                "Object.defineProperty(window,'__OVALIS_TOK',{get(){},set(v){}});"}}}));
  ASSERT_TRUE(b.expect_prefix("NAV {\"window\":\"main\",\"kind\":\"finish\""));
  auto calls = b.collect(1000, [](const std::string& l) { return l.rfind("CALL ", 0) == 0; });
  EXPECT_TRUE(calls.empty());
  for (int i = 0; i < 40 && b.stderr_text().find("a subframe") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(b.stderr_text().find(
                "ovalis: dropped an untokened call from a tokened window (a subframe)\n"),
            std::string::npos);
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

TEST(BridgeAlone, RelativeTargetShowsAnEmptyPageSilently) {
  Backend b;
  ASSERT_TRUE(b.start({.target = "relative/page.html"}));
  ASSERT_TRUE(b.expect_prefix("SYS theme "));
  b.send("GET 1 windows");
  EXPECT_EQ(b.expect_prefix("GOT 1 "), "GOT 1 [\"main\"]");
  // Window-state reports are expected; nothing about the page is.
  auto rest = b.collect(800, [](const std::string& l) { return l.rfind("WINSTATE ", 0) != 0; });
  EXPECT_TRUE(rest.empty()) << rest.front();
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
  // No message of launcher's own (lines starting "ovalis:"); the toolkit's
  // log lines carry "(ovalis:<pid>)" and are not about the page. (Weston's
  // headless compositor has no seat, and GTK complains about that.)
  std::string err = "\n" + b.stderr_text();
  EXPECT_EQ(err.find("\novalis:"), std::string::npos) << err;
}

}  // namespace
