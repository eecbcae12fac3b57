// The page shim runs in a bare JavaScriptCore context with a stand-in for
// the message handler, so its page-side rules are checked without a display.
#include <gtest/gtest.h>
#include <jsc/jsc.h>

#include "core/gobj.h"
#include "webview/webview.h"

namespace {

struct ShimContext {
  GObj<JSCContext> ctx{jsc_context_new()};
  explicit ShimContext(const std::string& shim) {
    run(R"JS(
      var window = globalThis;
      var posted = [];
      var timers = [];
      window.webkit = { messageHandlers: { ovalis: { postMessage: function (m) { posted.push(m); } } } };
      function setTimeout(fn, ms) { timers.push(fn); }
    )JS");
    run(shim);
  }
  std::string run(const std::string& js) {
    GObj<JSCValue> v(jsc_context_evaluate(ctx.get(), js.c_str(), static_cast<gssize>(js.size())));
    if (JSCException* e = jsc_context_get_exception(ctx.get())) {
      std::string msg = jsc_exception_get_message(e);
      jsc_context_clear_exception(ctx.get());
      return "EXCEPTION: " + msg;
    }
    GChars s(jsc_value_to_string(v.get()));
    return s ? s.get() : "";
  }
};

TEST(Shim, WindowIdIsAStringLiteralWhateverItHolds) {
  for (std::string id : {"main", "it's", "back\\slash", "line\nbreak", "q\"uote", "</script>",
                         "';alert(1);'"}) {
    ShimContext c(shim_source(id, false));
    EXPECT_EQ(c.run("window.__OVALIS_WIN"), id);
    EXPECT_EQ(c.run("typeof alert"), "undefined");
  }
}

TEST(Shim, RunsOnceAndKeepsAnExistingWindowId) {
  ShimContext c(shim_source("w1", true));
  EXPECT_EQ(c.run("window.__OVALIS_FRAMELESS"), "true");
  c.run("window.__OVALIS_WIN = 'other';");
  c.run(shim_source("w2", false));
  EXPECT_EQ(c.run("window.__OVALIS_WIN"), "other");
  EXPECT_EQ(c.run("window.__OVALIS_FRAMELESS"), "true");
}

TEST(Shim, QueuesUntilTokenThenFlushesInOrder) {
  ShimContext c(shim_source("main", false));
  c.run("window.__invoke('a'); window.__invoke('b');");
  EXPECT_EQ(c.run("posted.length"), "0");
  c.run("window.__OVALIS_TOK='T'; window.__ovalisFlush();");
  EXPECT_EQ(c.run("posted.join(',')"), "T|1:a,T|2:b");
  c.run("window.__invoke({toString(){return 'c'}})");
  EXPECT_EQ(c.run("posted[2]"), "T|3:c");
}

TEST(Shim, PostsWellFormedTextOnly) {
  ShimContext c(shim_source("main", false));
  c.run("window.__OVALIS_TOK='T'; window.__invoke('a\\uD800b\\uDC00'); window.__invoke('\\uD83D\\uDE00');");
  EXPECT_EQ(c.run("posted[0]"), "T|1:a\xef\xbf\xbd" "b\xef\xbf\xbd");
  EXPECT_EQ(c.run("posted[1]"), "T|2:\xf0\x9f\x98\x80");
}

TEST(Shim, GivesUpWaitingForTheTokenAfterItsTimer) {
  ShimContext c(shim_source("main", false));
  c.run("window.__invoke('x');");
  c.run("timers[0]();");
  EXPECT_EQ(c.run("posted.join(',')"), "|1:x");
  c.run("window.__invoke('y');");
  EXPECT_EQ(c.run("posted[1]"), "|2:y");
}

TEST(Shim, ResolveParsesJsonAndIgnoresUnknownSeqs) {
  ShimContext c(shim_source("main", false));
  c.run(R"JS(
    var out = [];
    window.__OVALIS_TOK = 'T';
    window.__invoke('a').then(v => out.push('ok:' + JSON.stringify(v)));
    window.__invoke('b').catch(v => out.push('err:' + JSON.stringify(v)));
    window.__invoke('c').then(v => out.push('bad:' + JSON.stringify(v)));
    window.__ovalisResolve(1, true, '[1,2]');
    window.__ovalisResolve(2, false, '{"message":"no"}');
    window.__ovalisResolve(3, true, 'not json');
    window.__ovalisResolve(1, true, '"again"');
    window.__ovalisResolve(99, true, '1');
  )JS");
  EXPECT_EQ(c.run("out.join(' ')"), "ok:[1,2] err:{\"message\":\"no\"} bad:null");
}

TEST(PostedCall, Validation) {
  PostedCall pc;
  ASSERT_TRUE(parse_posted_call("tok|12:{\"a\":\"|:\"}", pc));
  EXPECT_EQ(pc.token, "tok");
  EXPECT_EQ(pc.seq, "12");
  EXPECT_EQ(pc.payload, "{\"a\":\"|:\"}");
  ASSERT_TRUE(parse_posted_call("|5:", pc));
  EXPECT_EQ(pc.token, "");
  EXPECT_EQ(pc.payload, "");
  EXPECT_FALSE(parse_posted_call("abc|12x:{}", pc));
  EXPECT_FALSE(parse_posted_call("t|1234567890123456:{}", pc));
  EXPECT_TRUE(parse_posted_call("t|123456789012345:{}", pc));
  EXPECT_FALSE(parse_posted_call("t|:{}", pc));
  EXPECT_FALSE(parse_posted_call("no separators", pc));
  EXPECT_FALSE(parse_posted_call("t|12", pc));
  EXPECT_FALSE(parse_posted_call("t|-1:{}", pc));
}

TEST(CallIds, BackendIdsAreQAndDigits) {
  EXPECT_TRUE(is_backend_call_id("q17"));
  EXPECT_FALSE(is_backend_call_id("q"));
  EXPECT_FALSE(is_backend_call_id("q1x"));
  EXPECT_FALSE(is_backend_call_id("main:1"));
}

}  // namespace
