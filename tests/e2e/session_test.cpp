// The answers that depend on the kind of desktop session, checked in both:
// `make test` runs this on X11, `make test-wayland` on Wayland, where the
// X11-only paths must give their Wayland answers instead of failing oddly.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "harness.h"

using namespace e2e;

namespace {

bool has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

class Session : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    b_ = start_page({.extra_args = {"e2esess", "400x300"}});
    ASSERT_TRUE(b_);
  }
  static void TearDownTestSuite() { stop_page(b_); }
  void SetUp() override {
    ASSERT_TRUE(b_);
    b_->collect(0);
  }
  static std::string request(const std::string& kw, const std::string& rest, int ms = 8000) {
    std::string id = "s" + std::to_string(++seq_);
    b_->send(kw + " " + id + (rest.empty() ? "" : " " + rest));
    auto l = b_->expect_prefix("GOT " + id + " ", ms);
    return l ? l->substr(5 + id.size()) : "";
  }
  static Backend* b_;
  static int seq_;
};
Backend* Session::b_ = nullptr;
int Session::seq_ = 0;

// Only an X11 window can be placed by the application, and only there can
// the screen under the frontmost window be found.
TEST_F(Session, PlacementAndForegroundScreenFollowTheDisplay) {
  std::string win = request("GET", "win");
  std::string fg = request("GET", "fgscreen");
  if (on_wayland()) {
    EXPECT_TRUE(has(win, R"("canPosition":false)")) << win;
    EXPECT_EQ(fg, "null");
  } else {
    EXPECT_TRUE(has(win, R"("canPosition":true)")) << win;
    EXPECT_NE(fg, "null");
    EXPECT_FALSE(fg.empty());
  }
}

// Reading the root window needs an X server; Wayland says so plainly.
TEST_F(Session, ScreenCaptureNeedsX11) {
  std::string got = request("CAPTURE", "", 15000);
  if (has(got, "is not available in this build")) GTEST_SKIP() << got;
  if (on_wayland()) {
    EXPECT_EQ(got, R"X({"ok":false,"error":"screen capture needs an X11 session (Wayland: unsupported)"})X");
  } else {
    EXPECT_TRUE(got.starts_with(R"({"ok":true,"path":")")) << got;
    size_t at = got.find(R"("path":")");
    if (at != std::string::npos) {
      std::string path = got.substr(at + 8, got.find('"', at + 8) - at - 8);
      EXPECT_TRUE(std::ifstream(path).good()) << path;
      std::remove(path.c_str());
    }
  }
}

// Synthetic keys go through XTest; without an X server they fail, and
// never claim to be trusted. (The X11 side types into the focused window,
// so the input suite, which has the display to itself, covers it.)
TEST_F(Session, KeystrokesFailWithoutAnXServer) {
  if (!on_wayland()) GTEST_SKIP() << "covered by the input suite on X11";
  EXPECT_EQ(request("KEYSTROKE", "ctrl+v"), R"({"ok":false,"trusted":false})");
  EXPECT_EQ(request("KEYSTROKE", "a"), R"({"ok":false,"trusted":false})");
}

// On plain X11 the pointer is readable directly: tracking succeeds at once
// and asks no portal. On Wayland the screen-cast portal is asked (the
// Wayland suite drives its dialogue); here it only must not claim success
// without a stream.
TEST_F(Session, PointerTrackingPath) {
  if (on_wayland()) {
    std::string got = request("MOUSETRACK", "", 15000);
    EXPECT_TRUE(got.starts_with("{\"ok\":")) << got;
    if (got.starts_with(R"({"ok":true)")) {
      EXPECT_TRUE(has(got, R"("restoreToken":)")) << got;
    } else {
      EXPECT_TRUE(has(got, R"("code":")")) << got;
    }
    b_->send("MOUSETRACK STOP");
  } else {
    EXPECT_EQ(request("MOUSETRACK", "", 3000), R"({"ok":true,"restoreToken":null})");
    std::string m = request("GET", "mouse");
    EXPECT_TRUE(m.starts_with(R"({"x":)")) << m;
    b_->send("MOUSETRACK STOP");
  }
}

}  // namespace
