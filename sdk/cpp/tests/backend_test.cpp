// The backend library against the real launcher, in a private desktop: it
// starts the launcher, answers a page call, resolves futures from GOT lines
// and gets the launcher to quit cleanly.
#include <gtest/gtest.h>
#include <glib.h>

#include <string>

#include "ovalis/backend.h"

#ifndef SDK_TEST_LAUNCHER
#error "SDK_TEST_LAUNCHER must name the launcher binary"
#endif
#ifndef SDK_TEST_PAGE
#error "SDK_TEST_PAGE must name a page"
#endif

namespace {

using ovalis::Json;

// Runs the default main context until cond holds or the time is up.
template <class F>
bool spin_until(F cond, int ms) {
  gint64 end = g_get_monotonic_time() + gint64(ms) * 1000;
  while (!cond() && g_get_monotonic_time() < end) g_main_context_iteration(nullptr, FALSE), g_usleep(2000);
  return cond();
}

TEST(SdkBackend, DrivesTheRealLauncher) {
  ovalis::Backend b;
  ovalis::LaunchOptions o;
  o.launcher = SDK_TEST_LAUNCHER;
  o.page = SDK_TEST_PAGE;
  o.title = "sdk test";
  std::string err;
  ASSERT_TRUE(b.start(o, &err)) << err;
  ASSERT_TRUE(spin_until([&] { return b.connected(); }, 60000));

  auto windows = b.get("windows").wait(20000);
  ASSERT_TRUE(windows);
  EXPECT_EQ(ovalis::json_dump(*windows), "[\"main\"]");

  // A page call with awkward text, answered by a handler; the page sends
  // the answer back through a second call.
  std::string echoed;
  bool done = false;
  b.handle("echo", [](const ovalis::Call& c) { c.resolve(c.params); });
  b.handle("done", [&](const ovalis::Call& c) {
    echoed = c.str("text");
    done = true;
    c.resolve(nullptr);
  });
  const std::string text = "tab\there \"quoted\" back\\slash line\nbreak é";
  std::string script = "window.ovalis.api.call('echo',{text:" + ovalis::json_quote(text) +
                       "}).then(v=>window.ovalis.api.call('done',v))";
  // The page may still be loading: ask again until its handler answers.
  ASSERT_TRUE(spin_until([&] {
    if (!done) b.eval("main", script);
    return spin_until([&] { return done; }, 1500);
  }, 60000));
  EXPECT_EQ(echoed, text);

  // A request whose feature is missing still answers, through the future.
  auto sub = b.get("no-such-key").wait(20000);
  ASSERT_TRUE(sub);
  EXPECT_TRUE(sub->is_null());

  b.quit();
  EXPECT_EQ(b.run(), 0);
  EXPECT_FALSE(b.connected());
}

}  // namespace
