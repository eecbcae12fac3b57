// Hotkeys and pointer tracking on Wayland, for real: weston's headless
// compositor, xdg-desktop-portal with the test tree's stand-in backend
// (tests/e2e/portal/standin.py), and a PipeWire video source carrying
// cursor metadata. Runs under scripts/wayland-session.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include "harness.h"

using namespace e2e;

namespace {

bool has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

bool eventually(const std::function<bool()>& pred, int ms = 8000) {
  for (int waited = 0;; waited += 50) {
    if (pred()) return true;
    if (waited >= ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// A call to the stand-in's control interface.
std::string standin(const std::string& method, const std::string& args = "") {
  return sh("gdbus call --session --dest org.ovalis.PortalStandIn --object-path "
            "/org/ovalis/PortalStandIn --method org.ovalis.PortalStandIn." +
            method + " " + args + " 2>&1");
}
std::string calls() { return standin("Calls"); }

// The video source with cursor metadata, fed cursor positions on stdin.
class CursorSource {
 public:
  CursorSource() {
    file_ = "/tmp/ovalis-cursor-node-" + std::to_string(getpid());
    std::remove(file_.c_str());
    pipe_ = popen((std::string(CURSOR_SOURCE_BIN) + " " + file_).c_str(), "w");
  }
  ~CursorSource() {
    if (pipe_) pclose(pipe_);
    std::remove(file_.c_str());
  }
  // The PipeWire node id, once the stream is up; 0 on time-out.
  unsigned node() {
    unsigned id = 0;
    eventually([&] {
      std::ifstream f(file_);
      return static_cast<bool>(f >> id);
    });
    return id;
  }
  void cursor(unsigned id, int x, int y) {
    std::fprintf(pipe_, "%u %d %d\n", id, x, y);
    std::fflush(pipe_);
  }

 private:
  std::string file_;
  FILE* pipe_ = nullptr;
};

class Wayland : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(std::getenv("WAYLAND_DISPLAY")) << "run under scripts/wayland-session";
    b_ = start_page({.extra_args = {"e2ewl", "400x300"}});
    ASSERT_TRUE(b_);
  }
  static void TearDownTestSuite() { stop_page(b_); }
  void SetUp() override {
    ASSERT_TRUE(b_);
    b_->collect(0);
    standin("Reset");
  }
  static std::string request(const std::string& kw, const std::string& rest, int ms = 8000) {
    std::string id = "w" + std::to_string(++seq_);
    b_->send(kw + " " + id + " " + rest);
    auto l = b_->expect_prefix("GOT " + id + " ", ms);
    return l ? l->substr(5 + id.size()) : "";
  }
  static Backend* b_;
  static int seq_;
};
Backend* Wayland::b_ = nullptr;
int Wayland::seq_ = 0;

TEST_F(Wayland, HotkeysGoThroughTheGlobalShortcutsPortal) {
  EXPECT_EQ(request("HKREG", "show\tctrl+shift+K"), R"({"ok":true})");
  std::string c;
  ASSERT_TRUE(eventually([&] {
    c = calls();
    return has(c, "\"BindShortcuts\"");
  })) << c;
  EXPECT_TRUE(has(c, R"("iface": "GlobalShortcuts", "method": "CreateSession")")) << c;
  EXPECT_TRUE(has(c, R"(["show", {"description": "e2ewl: show", "preferred_trigger": "CTRL+SHIFT+K"}])"))
      << c;
  // Each change binds the whole set again.
  standin("Reset");
  EXPECT_EQ(request("HKREG", "spot\tsuper+space"), R"({"ok":true})");
  ASSERT_TRUE(eventually([&] {
    c = calls();
    return has(c, "\"BindShortcuts\"");
  })) << c;
  EXPECT_TRUE(has(c, "\"CTRL+SHIFT+K\"") && has(c, R"("preferred_trigger": "LOGO+space")")) << c;
  EXPECT_FALSE(has(c, "CreateSession")) << c;

  standin("Activate", "spot");
  EXPECT_EQ(b_->expect_prefix("HOTKEY "), "HOTKEY spot");
  standin("Activate", "show");
  EXPECT_EQ(b_->expect_prefix("HOTKEY "), "HOTKEY show");

  standin("Reset");
  b_->send("HKUNREG show");
  ASSERT_TRUE(eventually([&] {
    c = calls();
    return has(c, "\"BindShortcuts\"");
  })) << c;
  EXPECT_FALSE(has(c, "CTRL+SHIFT+K")) << c;
  EXPECT_TRUE(has(c, "LOGO+space")) << c;

  EXPECT_EQ(request("HKREG", "bad\tctrl+"),
            R"({"ok":false,"error":"needs exactly one key plus modifiers"})");
}

TEST_F(Wayland, KeystrokesNeedAnXServer) {
  EXPECT_EQ(request("KEYSTROKE", "ctrl+v"), R"({"ok":false,"trusted":false})");
}

TEST_F(Wayland, RefusedScreenCastClosesTheHalfMadeSession) {
  standin("SetAnswer", "ScreenCast.SelectSources 1");
  std::string id1 = "w" + std::to_string(++seq_), id2 = "w" + std::to_string(++seq_);
  b_->send("MOUSETRACK " + id1 + " ");
  b_->send("MOUSETRACK " + id2 + " ");
  const std::string refused =
      R"({"ok":false,"code":"denied","message":"source selection refused"})";
  EXPECT_EQ(b_->expect_prefix("GOT " + id1 + " "), "GOT " + id1 + " " + refused);
  EXPECT_EQ(b_->expect_prefix("GOT " + id2 + " "), "GOT " + id2 + " " + refused);
  std::string c;
  EXPECT_TRUE(eventually([&] {
    c = calls();
    return has(c, R"("iface": "Session", "method": "Close")");
  })) << c;

  standin("Reset");
  standin("SetAnswer", "ScreenCast.CreateSession 2");
  EXPECT_EQ(request("MOUSETRACK", ""),
            R"({"ok":false,"code":"denied","message":"screen-cast session refused"})");
  standin("SetAnswer", "ScreenCast.CreateSession 0");
  // Granted by the backend but without a stream: the portal itself turns
  // that into a refusal.
  EXPECT_EQ(request("MOUSETRACK", ""),
            R"({"ok":false,"code":"denied","message":"screen share not granted"})");
}

TEST_F(Wayland, TrackedCursorFeedsThePointerQuery) {
  CursorSource src;
  unsigned node = src.node();
  ASSERT_NE(node, 0u);
  // The stream is half the logical size of a monitor placed right of another.
  src.cursor(1, 100, 51);
  standin("SetStream", std::to_string(node) + " 1920 0 320 180");
  std::string id1 = "w" + std::to_string(++seq_), id2 = "w" + std::to_string(++seq_);
  b_->send("MOUSETRACK " + id1 + " ");
  b_->send("MOUSETRACK " + id2 + " ");
  auto a1 = b_->expect_prefix("GOT " + id1 + " ", 15000);
  auto a2 = b_->expect_prefix("GOT " + id2 + " ", 15000);
  ASSERT_TRUE(a1 && a2);
  std::string body = a1->substr(5 + id1.size());
  EXPECT_TRUE(body.starts_with(R"({"ok":true,"restoreToken":)")) << body;
  EXPECT_EQ(a2->substr(5 + id2.size()), body);
  std::string c = calls();
  EXPECT_TRUE(has(c, R"("cursor_mode": 4)") && has(c, R"("types": 1)")) << c;

  std::string m;
  ASSERT_TRUE(eventually([&] {
    m = request("GET", "mouse");
    return m.starts_with(R"({"x":1970,"y":26,)");
  })) << m;
  src.cursor(1, 640, 360);
  EXPECT_TRUE(eventually([&] {
    m = request("GET", "mouse");
    return m.starts_with(R"({"x":2240,"y":180,)");
  })) << m;

  // While active, a start answers at once with the same token.
  EXPECT_EQ(request("MOUSETRACK", "", 1000), body);

  standin("Reset");
  b_->send("MOUSETRACK STOP");
  EXPECT_TRUE(eventually([&] {
    c = calls();
    return has(c, R"("iface": "Session", "method": "Close")");
  })) << c;
  EXPECT_TRUE(eventually([&] { return !request("GET", "mouse").starts_with(R"({"x":2240,)"); }));

  // A later start offers the portal the restore token, which lets the
  // backend skip its dialogue.
  const std::string tag = R"("restoreToken":")";
  ASSERT_TRUE(has(body, tag)) << body;
  std::string token = body.substr(body.find(tag) + tag.size());
  token = token.substr(0, token.find('"'));
  standin("Reset");
  std::string again = request("MOUSETRACK", token, 15000);
  EXPECT_TRUE(again.starts_with(R"({"ok":true,"restoreToken":")")) << again;
  c = calls();
  EXPECT_TRUE(has(c, R"("restore_data": ["ovalis-standin", 1, "monitor-1"])")) << c;
  b_->send("MOUSETRACK STOP");
}

// An X11 client inside the Wayland session (Xwayland): hotkeys and keys go
// through X, but the pointer is tracked through the portal as on Wayland.
TEST_F(Wayland, X11ClientInsideWaylandUsesTheTrackedPointer) {
  const char* xdisplay = std::getenv("OVALIS_XWAYLAND_DISPLAY");
  if (!xdisplay || !*xdisplay) GTEST_SKIP() << "weston offers no Xwayland here";
  Backend* x = start_page({.extra_args = {"e2exwl", "300x200"},
                           .env = {{"DISPLAY", xdisplay}, {"GDK_BACKEND", "x11"}}});
  ASSERT_TRUE(x);
  auto ask = [&](const std::string& kw, const std::string& rest) {
    std::string id = "x" + std::to_string(++seq_);
    x->send(kw + " " + id + " " + rest);
    auto l = x->expect_prefix("GOT " + id + " ", 15000);
    return l ? l->substr(5 + id.size()) : "";
  };
  EXPECT_EQ(ask("HKREG", "xk\tctrl+alt+f6"), R"({"ok":true})");
  EXPECT_EQ(ask("KEYSTROKE", "shift"), R"({"ok":false,"trusted":false})");

  CursorSource src;
  unsigned node = src.node();
  ASSERT_NE(node, 0u);
  src.cursor(1, 300, 200);
  standin("SetStream", std::to_string(node) + " 0 0 640 360");
  std::string started = ask("MOUSETRACK", "");
  EXPECT_TRUE(started.starts_with(R"({"ok":true,"restoreToken":)")) << started;
  std::string m;
  EXPECT_TRUE(eventually([&] {
    m = ask("GET", "mouse");
    return m.starts_with(R"({"x":300,"y":200,"window":{)");
  })) << m;
  x->send("MOUSETRACK STOP");
  stop_page(x);
}

}  // namespace
