// Secondary windows in the real toolkit and window manager: opening,
// per-window pages and calls, menus across windows, closing by command, by
// the window manager and with a parent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "harness.h"

using namespace e2e;

namespace {


// Asks the window manager to close a window, as a taskbar or title-bar
// button does (_NET_CLOSE_WINDOW); the window gets a delete request.
bool wm_close(const std::string& title) {
  unsigned long xid = find_window({.name = title});
  if (!xid) return false;
  wm_close_window(xid);
  return true;
}

class SecWins : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(b_ = start_page()); }
  static void TearDownTestSuite() { stop_page(b_); }
  static std::string get(const std::string& key) {
    b_->send("GET q " + key);
    auto l = b_->expect_prefix("GOT q ");
    return l ? l->substr(6) : "";
  }
  static bool open(const std::string& fields, const std::string& id) {
    b_->send("WINOPEN " + fields);
    return serve_load_calls(*b_) && b_->wait_page_ready(id);
  }
  static Backend* b_;
};
Backend* SecWins::b_ = nullptr;

TEST_F(SecWins, OpenSeveralEachWithItsOwnPageAndCalls) {
  std::string blank = page_path("blank.html");
  ASSERT_TRUE(open("a\t" + blank + "\tWindow A\t500x300", "a"));
  ASSERT_TRUE(open("b\t" + blank + "\t\tnot-a-size\t\t\t\t\t\t\t\t40\t\t\t\t\t0", "b"));
  b_->send("WINOPEN \t" + blank);
  b_->send("WINOPEN main\t" + blank);
  EXPECT_EQ(get("windows"), R"(["main","a","b"])");

  b_->send("EVAL@a window.__who = 'a'");
  b_->send("EVAL@b window.__who = 'b'");
  EXPECT_EQ(b_->page_eval("window.__who", "a"), "\"a\"");
  EXPECT_EQ(b_->page_eval("window.__who", "b"), "\"b\"");
  EXPECT_EQ(b_->page_eval("window.__who === undefined"), "true");
  EXPECT_EQ(b_->page_eval("[innerWidth, innerHeight, ovalis.win.id]", "a"), "[500,300,\"a\"]");

  b_->send("EVAL@b window.__invoke('from b')");
  auto call = parse_call(*b_->expect_prefix("CALL "));
  EXPECT_EQ(call->id.substr(0, 2), "b:");
  EXPECT_EQ(call->payload, "from b");

  // The title comes from the id when none is given; "b" was opened hidden.
  // (Titles and mapped state are read off the X windows.)
  const bool x11 = !on_wayland();
  if (x11) EXPECT_EQ(find_windows({.name = "Window A"}).size(), 1u);
  if (x11) EXPECT_TRUE(find_windows({.name = "b", .at_least = 0}, 0).empty());
  b_->send("WINOP@b show");
  if (x11) EXPECT_EQ(find_windows({.name = "b"}).size(), 1u);
  std::optional<std::string> size;  // the default size, as the size did not parse
  for (int i = 0; i < 40 && size != "[600,400]"; ++i) {
    size = b_->page_eval("[innerWidth, innerHeight]", "b");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(size, "[600,400]");

  // Opening an open id only brings it forward.
  b_->send("WINOPEN a\t" + blank + "\tOther title\t200x200");
  EXPECT_EQ(b_->page_eval("[innerWidth, innerHeight, document.title]", "a"),
            "[500,300,\"blank\"]");
  if (x11)
    EXPECT_TRUE(find_windows({.name = "Other title", .only_visible = false, .at_least = 0}, 0).empty());
}

TEST_F(SecWins, MenusReachEveryWindow) {
  b_->send("MENUBEGIN");
  b_->send("MENU File");
  b_->send("ITEM x\tShared");
  b_->send("MENUEND");
  b_->send("MENUBEGIN@b");
  b_->send("MENU Own");
  b_->send("ITEM x\tOwn");
  b_->send("MENUEND");
  b_->send("MENUUPD x\tRenamed");
  EXPECT_EQ(get("item@main:x"), R"({"exists":true,"label":"Renamed","checked":false,"enabled":true})");
  EXPECT_EQ(get("item@a:x"), R"({"exists":true,"label":"Renamed","checked":false,"enabled":true})");
  EXPECT_EQ(get("item@b:x"), R"({"exists":true,"label":"Renamed","checked":false,"enabled":true})");
  b_->send("MENUUPD@a x\t\t1");
  EXPECT_EQ(get("item@a:x"), R"({"exists":true,"label":"Renamed","checked":true,"enabled":true})");
  EXPECT_EQ(get("item@main:x"), R"({"exists":true,"label":"Renamed","checked":false,"enabled":true})");
  // A window's content keeps its size when its menu bar appears.
  std::optional<std::string> size;
  for (int i = 0; i < 40 && size != "[500,300]"; ++i) {
    size = b_->page_eval("[innerWidth, innerHeight]", "a");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(size, "[500,300]");
}

TEST_F(SecWins, ClosingByCommandAndByTheWindowManager) {
  b_->send("WINCLOSE main");
  b_->send("WINCLOSE nosuch");
  b_->send("WINCLOSE a");
  EXPECT_EQ(b_->expect_prefix("WINCLOSED "), "WINCLOSED a");
  EXPECT_EQ(get("windows"), R"(["main","b"])");
  EXPECT_EQ(get("item@a:x"), R"({"exists":false})");
  b_->send("EVAL@a window.__invoke('gone')");

  // A window manager's close button; Wayland has no way for another
  // client to ask, so the command closes it there.
  if (on_wayland()) b_->send("WINCLOSE b");
  else ASSERT_TRUE(wm_close("b"));
  EXPECT_EQ(b_->expect_prefix("WINCLOSED "), "WINCLOSED b");
  EXPECT_EQ(get("windows"), R"(["main"])");
  EXPECT_TRUE(b_->collect(300, [](const std::string& l) { return l.rfind("CALL ", 0) == 0; })
                  .empty());

  // The same id opens a new window after a close.
  ASSERT_TRUE(open("a\t" + page_path("blank.html"), "a"));
  EXPECT_EQ(b_->page_eval("ovalis.win.id", "a"), "\"a\"");
  EXPECT_EQ(get("item@a:x"), R"({"exists":true,"label":"Renamed","checked":false,"enabled":true})");
}

TEST_F(SecWins, ChildrenCloseWithTheirParent) {
  std::string blank = page_path("blank.html");
  ASSERT_TRUE(open("p\t" + blank, "p"));
  ASSERT_TRUE(open("c1\t" + blank + "\t\t\t\t\t\t\t\t\t\t\t\t\tp", "c1"));
  ASSERT_TRUE(open("c2\t" + blank + "\t\t\t\t\t\t\t\t\t\t\t\t\tnosuch", "c2"));
  b_->send("WINCLOSE p");
  auto closed = b_->collect(1000, [](const std::string& l) { return l.rfind("WINCLOSED ", 0) == 0; });
  std::sort(closed.begin(), closed.end());
  EXPECT_EQ(closed, (std::vector<std::string>{"WINCLOSED c1", "WINCLOSED p"}));
  EXPECT_EQ(get("windows"), R"(["main","a","c2"])");
}

}  // namespace
