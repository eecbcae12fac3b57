// Menu bars and the page context menu in the real toolkit: entries are
// chosen with the real pointer and keyboard (xdotool), and the lines the
// backend gets are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <set>
#include <thread>

#include "harness.h"

using namespace e2e;

namespace {


void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};

// Every visible window of the program (its toplevels and its open menus).
std::set<std::string> visible_windows() {
  std::set<std::string> ids;
  for (unsigned long id : find_windows({.res_name = "e2emenus", .popups = true, .at_least = 0}, 0))
    ids.insert(std::to_string(id));
  return ids;
}

// Absolute position and size of a window's client area; xwininfo, because
// xdotool counts a reparenting frame twice.
Rect geometry(const std::string& wid) {
  std::string info = sh("xwininfo -id " + wid);
  auto num = [&](const char* label) {
    std::smatch m;
    std::regex re(std::string(label) + R"(:\s+(-?\d+))");
    return std::regex_search(info, m, re) ? std::stoi(m[1]) : 0;
  };
  return {num("Absolute upper-left X"), num("Absolute upper-left Y"), num("Width"),
          num("Height")};
}

void click_at(int x, int y, int button = 1) {
  sh("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
  pause_ms(150);
  sh("xdotool click " + std::to_string(button));
}

class Menus : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    b_ = new Backend;
    ASSERT_TRUE(b_->start({.extra_args = {"e2emenus", "800x500"}}));
    ASSERT_TRUE(serve_load_calls(*b_));
    ASSERT_TRUE(b_->wait_page_ready());
    if (on_wayland()) return;
    unsigned long xid = find_window({.name = "e2emenus"});
    ASSERT_NE(xid, 0u);
    main_ = std::to_string(xid);
    send_app_menu();
  }
  static void TearDownTestSuite() {
    b_->send("QUIT");
    EXPECT_EQ(b_->wait_exit(), 0);
    delete b_;
  }
  void SetUp() override {
    // Chosen with the real pointer and keyboard through xdotool.
    E2E_X11_ONLY("xdotool pointer and keys");
    sh("xdotool key Escape");
    sh("xdotool windowactivate --sync " + main_);
    pause_ms(100);
    b_->collect(0);
  }

  static void send_app_menu() {
    for (const char* l :
         {"MENUBEGIN", "MENU File", "ITEM new\tNew\tShift+N", "ITEM chk\tChecked\t\tc",
          "ITEM off\tOff\t\td", "ITEM plain\tPlain\tP", "ITEM f4\tClose\tOption+k",
          "ITEM bogus\tBogus\tHyper+q", "ITEM ic\tIcons\t\t\temoji:\xF0\x9F\x98\x80",
          "ITEM sf\tSF\t\t\tsf:gear", "MENUROLE edit", "ROLEITEM standard", "MENUEND"})
      b_->send(l);
    fence();
  }
  // A round trip, so every line before it has been handled.
  static void fence() {
    b_->send("GET fence windows");
    ASSERT_TRUE(b_->expect_prefix("GOT fence "));
  }
  static std::string get(const std::string& key) {
    b_->send("GET q " + key);
    auto l = b_->expect_prefix("GOT q ");
    return l ? l->substr(6) : "";
  }
  // Opens the n-th menu of the main window's menu bar with a click and
  // returns the menu window's rectangle.
  static std::optional<Rect> open_menu(int x_in_bar) {
    auto before = visible_windows();
    Rect w = geometry(main_);
    click_at(w.x + x_in_bar, w.y + 10);
    for (int i = 0; i < 40; ++i) {
      pause_ms(50);
      for (auto& id : visible_windows())
        if (!before.count(id)) return geometry(id);
    }
    return std::nullopt;
  }
  // Clicks entry i of n equally tall entries in an open menu.
  static void click_entry(const Rect& m, int i, int n) {
    click_at(m.x + 40, m.y + m.h * (2 * i + 1) / (2 * n));
  }
  static std::vector<std::string> menu_lines(int ms) {
    return b_->collect(ms, [](const std::string& l) {
      return l.rfind("MENU ", 0) == 0 || l.rfind("CTX ", 0) == 0;
    });
  }

  static Backend* b_;
  static std::string main_;
};
Backend* Menus::b_ = nullptr;
std::string Menus::main_;

TEST_F(Menus, MenuBarKeepsThePageContentSize) {
  std::optional<std::string> got;
  for (int i = 0; i < 40 && got != "[800,500]"; ++i) {
    got = b_->page_eval("[innerWidth, innerHeight]");
    pause_ms(50);
  }
  EXPECT_EQ(got, "[800,500]");
  EXPECT_GT(geometry(main_).h, 500);
}

TEST_F(Menus, SizeGivesThePageThatSizeUnderAVisibleMenuBar) {
  b_->send("SIZE 640 420");
  std::optional<std::string> got;
  for (int i = 0; i < 40 && got != "[640,420]"; ++i) {
    pause_ms(50);
    got = b_->page_eval("[innerWidth, innerHeight]");
  }
  EXPECT_EQ(got, "[640,420]");
  EXPECT_GT(geometry(main_).h, 420);  // the window holds the menu bar too
  b_->send("SIZE 800 500");
  for (int i = 0; i < 40 && got != "[800,500]"; ++i) {
    pause_ms(50);
    got = b_->page_eval("[innerWidth, innerHeight]");
  }
  EXPECT_EQ(got, "[800,500]");
}

TEST_F(Menus, AcceleratorsSendTheMenuLine) {
  sh("xdotool key ctrl+shift+n");
  EXPECT_EQ(b_->expect_prefix("MENU ", 3000), "MENU new");
  sh("xdotool key ctrl+shift+p");  // a capital letter means Shift
  EXPECT_EQ(b_->expect_prefix("MENU ", 3000), "MENU plain");
  sh("xdotool key ctrl+alt+k");
  EXPECT_EQ(b_->expect_prefix("MENU ", 3000), "MENU f4");
  sh("xdotool key ctrl+q ctrl+p ctrl+n");  // unbound: nothing
  EXPECT_TRUE(menu_lines(500).empty());
}

TEST_F(Menus, ClickingEntriesReportsThemAndLeavesTheCheckMark) {
  auto m = open_menu(15);
  ASSERT_TRUE(m);
  click_entry(*m, 0, 8);
  EXPECT_EQ(b_->expect_prefix("MENU ", 3000), "MENU new");

  m = open_menu(15);
  ASSERT_TRUE(m);
  click_entry(*m, 1, 8);
  EXPECT_EQ(b_->expect_prefix("MENU ", 3000), "MENU chk");
  EXPECT_EQ(get("item:chk"), R"({"exists":true,"label":"Checked","checked":true,"enabled":true})");

  m = open_menu(15);
  ASSERT_TRUE(m);
  click_entry(*m, 2, 8);  // disabled
  EXPECT_TRUE(menu_lines(500).empty());
  sh("xdotool key Escape");
}

TEST_F(Menus, StockEditEntriesRunEditingCommandsInThePage) {
  b_->send("EVAL document.body.textContent='select me'");
  fence();
  auto m = open_menu(55);  // "Edit", after "File"
  ASSERT_TRUE(m);
  click_entry(*m, 6, 7);  // Select All; the separator is shorter, close enough
  std::optional<std::string> sel;
  for (int i = 0; i < 20 && sel != "\"select me\""; ++i) {
    pause_ms(50);
    sel = b_->page_eval("getSelection().toString()");
  }
  EXPECT_EQ(sel, "\"select me\"");
  EXPECT_TRUE(menu_lines(200).empty());  // stock entries report nothing
}

TEST_F(Menus, UpdatesChangeLiveItemsAndTheModel) {
  b_->send("MENUUPD chk\tRenamed\t0\t");
  EXPECT_EQ(get("item:chk"), R"({"exists":true,"label":"Renamed","checked":false,"enabled":true})");
  b_->send("MENUUPD@main off\t\t\t1");
  EXPECT_EQ(get("item@main:off"), R"({"exists":true,"label":"Off","checked":false,"enabled":true})");
  b_->send("MENUUPD@mainoff\t\t1\t0");  // no blank after the id: ignored
  b_->send("MENUUPD@nosuch off\t\t1\t0");
  EXPECT_EQ(get("item:off"), R"({"exists":true,"label":"Off","checked":false,"enabled":true})");
  EXPECT_EQ(get("item@nosuch:off"), R"({"exists":false})");
  EXPECT_EQ(get("item@main:nosuch"), R"({"exists":false})");
  EXPECT_EQ(get("item@main"), R"({"exists":false})");
  EXPECT_EQ(get("item:"), R"({"exists":false})");

  // The now enabled entry reports a click.
  auto m = open_menu(15);
  ASSERT_TRUE(m);
  click_entry(*m, 2, 8);
  EXPECT_EQ(b_->expect_prefix("MENU ", 3000), "MENU off");

  // A rebuild keeps what changed the application menu's model; the update
  // for one window changed only that window's live entry.
  b_->send("MENURESET@main");
  EXPECT_EQ(get("item:chk"), R"({"exists":true,"label":"Renamed","checked":false,"enabled":true})");
  EXPECT_EQ(get("item:off"), R"({"exists":true,"label":"Off","checked":false,"enabled":false})");
}

TEST_F(Menus, WindowMenusReplaceAndResetToTheApplicationMenu) {
  b_->send("MENUBEGIN@main");
  b_->send("MENU Own");
  b_->send("ITEM own1\tOwn one");
  b_->send("QUIT now");  // not a build line, not a command either
  b_->send("MENUEND");
  EXPECT_EQ(get("item@main:own1"), R"({"exists":true,"label":"Own one","checked":false,"enabled":true})");
  EXPECT_EQ(get("item:new"), R"({"exists":false})");
  // An application menu change does not reach a window with its own menus.
  b_->send("MENUUPD new\tNewer");
  b_->send("MENUBEGIN@nosuch");
  b_->send("MENU Lost");
  b_->send("ITEM lost");
  b_->send("MENUEND");
  b_->send("ITEM stray");  // outside any block
  EXPECT_EQ(get("item:lost"), R"({"exists":false})");
  EXPECT_EQ(get("item:stray"), R"({"exists":false})");

  auto m = open_menu(15);
  ASSERT_TRUE(m);
  click_entry(*m, 0, 1);
  EXPECT_EQ(b_->expect_prefix("MENU ", 3000), "MENU own1");

  b_->send("MENURESET@main");
  EXPECT_EQ(get("item@main:own1"), R"({"exists":false})");
  EXPECT_EQ(get("item:new"), R"({"exists":true,"label":"Newer","checked":false,"enabled":true})");
}

// The page's own menu, none, and the backend's menu on a real right click.
TEST_F(Menus, ContextMenus) {
  Rect w = geometry(main_);
  auto right_click_menus = [&] {
    auto before = visible_windows();
    click_at(w.x + 120, w.y + 200, 3);
    std::optional<Rect> menu;
    for (int i = 0; i < 20 && !menu; ++i) {
      pause_ms(50);
      for (auto& id : visible_windows())
        if (!before.count(id)) menu = geometry(id);
    }
    return menu;
  };
  EXPECT_TRUE(right_click_menus());  // the page's own menu
  sh("xdotool key Escape");
  b_->send("CTXSUPPRESS 1");
  fence();
  EXPECT_FALSE(right_click_menus());
  b_->send("CTXSUPPRESS");
  fence();
  EXPECT_TRUE(right_click_menus());
  sh("xdotool key Escape");

  b_->send("CTXSUPPRESS 1");
  b_->send("CTXBEGIN");
  b_->send("ITEM c1\tFirst\tCtrl+1\t\temoji:x");
  b_->send("SUB more\tMore");
  b_->send("ITEM c2\tSecond\t\tc");
  b_->send("SUBEND");
  b_->send("ITEM c3\tThird\t\td");
  b_->send("CTXEND");
  fence();
  // Before the menu opens, the model answers; "more" is a submenu.
  EXPECT_EQ(get("item:c2"), R"({"exists":true,"label":"Second","checked":true,"enabled":true})");
  EXPECT_EQ(get("item:more"), R"({"exists":false})");
  auto menu = right_click_menus();
  ASSERT_TRUE(menu);
  // Context entries belong to no window.
  EXPECT_EQ(get("item@main:c1"), R"({"exists":false})");
  EXPECT_EQ(get("item:c3"), R"({"exists":true,"label":"Third","checked":false,"enabled":false})");
  click_entry(*menu, 0, 3);
  EXPECT_EQ(b_->expect_prefix("CTX ", 3000), "CTX c1");
  EXPECT_TRUE(menu_lines(300).empty());

  b_->send("CTXCLEAR");
  fence();
  EXPECT_FALSE(right_click_menus());  // suppression is back in force
  b_->send("CTXSUPPRESS");
  fence();
  EXPECT_TRUE(right_click_menus());
  sh("xdotool key Escape");
}

}  // namespace
