#include <gtest/gtest.h>
#include <glib.h>
#include <glib/gstdio.h>

#include <initializer_list>
#include <string>

#include "menus/menu_build.h"

namespace {

// Feeds lines the way the dispatcher does: build lines first, and the begin
// and reset commands when the builder passes them on.
std::vector<BuildStep> feed(std::initializer_list<std::string_view> lines) {
  std::vector<BuildStep> steps;
  for (std::string_view l : lines) {
    BuildStep s = build_feed(l);
    if (s == BuildStep::Pass) {
      if (l == "MENUBEGIN") build_menu_begin("");
      else if (l.starts_with("MENUBEGIN@")) build_menu_begin(l.substr(10));
      else if (l.starts_with("TRAYBEGIN")) build_tray_begin(l.substr(9));
      else if (l == "CTXBEGIN") build_ctx_begin();
      else if (l == "CTXCLEAR") build_ctx_clear();
    }
    steps.push_back(s);
  }
  return steps;
}

class MenuBuild : public testing::Test {
 protected:
  void SetUp() override {
    g_build_mode = 0;
    g_build_stack.clear();
    g_build_menubar.clear();
    g_ctx_items.clear();
    g_ctx_custom = false;
    g_ctx_suppress = false;
  }
};

TEST_F(MenuBuild, MenusItemsSubmenusAndDefaults) {
  auto steps = feed({"MENUBEGIN@w2", "MENU File", "ITEM new\tNew\tShift+N\tc\t/x.png",
                     "ITEM \tOnly label", "ITEM onlyid", "SUB recent\t\temoji:x", "ITEM r1\tOne",
                     "SUB deeper\tDeeper", "ITEM d1", "SUBEND", "ITEM r2", "SUBEND", "SUBEND",
                     "SUBEND", "SEP", "ITEM last", "MENU My Edit Menu", "ROLEITEM standard",
                     "MENUEND"});
  EXPECT_EQ(steps.back(), BuildStep::MenuDone);
  EXPECT_EQ(g_build_mode, 0);
  EXPECT_EQ(g_build_menu_win, "w2");
  ASSERT_EQ(g_build_menubar.size(), 2u);
  EXPECT_EQ(g_build_menubar[1].title, "My Edit Menu");
  const auto& file = g_build_menubar[0].items;
  ASSERT_EQ(file.size(), 6u);
  EXPECT_EQ(file[0].id, "new");
  EXPECT_EQ(file[0].accel, "Shift+N");
  EXPECT_EQ(file[0].flags, "c");
  EXPECT_EQ(file[0].icon, "/x.png");
  EXPECT_EQ(file[1].id, "Only label");
  EXPECT_EQ(file[1].label, "Only label");
  EXPECT_EQ(file[2].label, "onlyid");
  ASSERT_TRUE(file[3].submenu);
  EXPECT_EQ(file[3].label, "recent");
  EXPECT_EQ(file[3].icon, "emoji:x");
  ASSERT_EQ(file[3].children.size(), 3u);
  EXPECT_EQ(file[3].children[1].children[0].id, "d1");
  EXPECT_EQ(file[3].children[2].id, "r2");
  // Extra SUBENDs stay at the menu's own level.
  EXPECT_TRUE(file[4].separator);
  EXPECT_EQ(file[5].id, "last");
  EXPECT_EQ(g_build_menubar[1].items[0].role, "standard");
}

TEST_F(MenuBuild, EditRoleMenu) {
  feed({"MENUBEGIN", "MENUROLE edit", "MENUEND"});
  EXPECT_TRUE(g_build_menubar.empty());

  feed({"MENUBEGIN", "MENU A", "MENUROLE edit", "ROLEITEM copy", "MENU B", "MENUROLE edit",
        "ITEM dropped", "MENUROLE window", "ITEM dropped2", "MENU C", "ITEM kept", "MENUEND"});
  ASSERT_EQ(g_build_menubar.size(), 4u);
  EXPECT_EQ(g_build_menubar[1].title, "Edit");
  ASSERT_EQ(g_build_menubar[1].items.size(), 1u);
  EXPECT_EQ(g_build_menubar[1].items[0].role, "copy");
  EXPECT_TRUE(g_build_menubar[2].items.empty());
  EXPECT_EQ(g_build_menubar[3].items[0].id, "kept");

  // An empty edit menu goes, the menus after it keep their places.
  feed({"MENUBEGIN", "MENUROLE edit", "MENU View", "ITEM zoom", "MENUEND"});
  ASSERT_EQ(g_build_menubar.size(), 1u);
  EXPECT_EQ(g_build_menubar[0].title, "View");
  EXPECT_EQ(g_build_edit_idx, -1);
}

TEST_F(MenuBuild, LinesOutsideTheirModeFallThrough) {
  for (auto l : {"ITEM x", "SEP", "SUBEND", "MENUEND", "TRAYEND", "CTXEND", "ROLEITEM copy"})
    EXPECT_EQ(build_feed(l), BuildStep::Pass) << l;
  feed({"MENUBEGIN", "ITEM before-any-menu"});
  for (auto l : {"QUIT", "TRAYEND", "CTXEND", "MENUBEGIN@x", "GET 1 windows"})
    EXPECT_EQ(build_feed(l), BuildStep::Pass) << l;
  EXPECT_EQ(build_feed("MENU M"), BuildStep::Took);
  feed({"CTXBEGIN", "ITEM c1"});
  EXPECT_EQ(build_feed("MENUEND"), BuildStep::Pass);
  EXPECT_EQ(build_feed("MENU x"), BuildStep::Pass);
  EXPECT_EQ(build_feed("CTXEND"), BuildStep::CtxDone);
  EXPECT_TRUE(g_ctx_custom);
  ASSERT_EQ(g_ctx_items.size(), 1u);
}

TEST_F(MenuBuild, ANewBeginDropsTheHalfBuiltBlock) {
  feed({"MENUBEGIN", "MENU A", "ITEM a", "MENUBEGIN@w", "MENU B", "MENUEND"});
  ASSERT_EQ(g_build_menubar.size(), 1u);
  EXPECT_EQ(g_build_menubar[0].title, "B");
  EXPECT_EQ(g_build_menu_win, "w");
  // Context entries are written in place, so a dropped context block
  // leaves what it had.
  feed({"CTXBEGIN", "ITEM one", "MENUBEGIN", "ITEM menu-less", "MENUEND"});
  EXPECT_EQ(g_ctx_items.size(), 1u);
  EXPECT_FALSE(g_ctx_custom);
}

TEST_F(MenuBuild, TrayBlock) {
  auto steps = feed({"TRAYBEGIN App\t/i.png\t0\tTip\t1", "ITEM a", "ROLEITEM copy", "SEP",
                     "TRAYEND"});
  EXPECT_EQ(steps.back(), BuildStep::TrayDone);
  EXPECT_EQ(g_build_tray.title, "App");
  EXPECT_EQ(g_build_tray.icon, "/i.png");
  EXPECT_FALSE(g_build_tray.show_flag);
  EXPECT_EQ(g_build_tray.tooltip, "Tip");
  EXPECT_TRUE(g_build_tray.click_item);
  EXPECT_EQ(g_build_tray.items.size(), 3u);
  feed({"TRAYBEGIN", "TRAYEND"});
  EXPECT_TRUE(g_build_tray.show_flag);
  EXPECT_FALSE(g_build_tray.click_item);
  EXPECT_TRUE(g_build_tray.title.empty());
  EXPECT_TRUE(g_build_tray.items.empty());
  feed({"TRAYBEGIN X\t\tyes\t\ttrue"});
  EXPECT_TRUE(g_build_tray.show_flag);
  EXPECT_FALSE(g_build_tray.click_item);
}

TEST_F(MenuBuild, ContextClearWhileASubmenuIsOpenKeepsBuildingSafely) {
  feed({"CTXBEGIN", "SUB s\tS", "ITEM in-sub", "CTXCLEAR", "ITEM after", "SUBEND", "ITEM top",
        "CTXEND"});
  ASSERT_EQ(g_ctx_items.size(), 2u);
  EXPECT_EQ(g_ctx_items[0].id, "after");
  EXPECT_EQ(g_ctx_items[1].id, "top");
  EXPECT_TRUE(g_ctx_custom);
  build_ctx_clear();
  EXPECT_FALSE(g_ctx_custom);
  EXPECT_TRUE(g_ctx_items.empty());
}

TEST_F(MenuBuild, Suppress) {
  build_ctx_suppress(" 1");
  EXPECT_TRUE(g_ctx_suppress);
  build_ctx_suppress("");
  EXPECT_FALSE(g_ctx_suppress);
  build_ctx_suppress(" 0");
  EXPECT_FALSE(g_ctx_suppress);
  build_ctx_suppress(" 11");
  EXPECT_FALSE(g_ctx_suppress);
}

TEST_F(MenuBuild, ModelUpdatesAndLookup) {
  feed({"CTXBEGIN", "ITEM save\tSave\t\td", "SUB more\tMore", "ITEM save\tSave2\t\tc", "SUBEND",
        "ROLEITEM save", "SEP", "ITEM other", "CTXEND"});
  update_model_items(g_ctx_items, parse_item_update("save\t\t1\t"));
  EXPECT_EQ(g_ctx_items[0].flags, "cd");
  EXPECT_EQ(g_ctx_items[1].children[0].flags, "c");
  update_model_items(g_ctx_items, parse_item_update("save\tStore\t\tyes"));
  EXPECT_EQ(g_ctx_items[0].label, "Store");
  EXPECT_EQ(g_ctx_items[0].flags, "c");  // any enabled value but "0" enables
  update_model_items(g_ctx_items, parse_item_update("save\t\t0\t0"));
  EXPECT_EQ(g_ctx_items[1].children[0].flags, "d");
  EXPECT_EQ(g_ctx_items[2].role, "save");  // role entries are not items
  EXPECT_TRUE(g_ctx_items[2].flags.empty());
  update_model_items(g_ctx_items, parse_item_update("nosuch\tX\t1\t0"));
  EXPECT_EQ(g_ctx_items[4].label, "other");

  EXPECT_EQ(find_model_item(g_ctx_items, "save"), &g_ctx_items[0]);
  EXPECT_EQ(find_model_item(g_ctx_items, "more"), nullptr);
  EXPECT_EQ(find_model_item(g_ctx_items, ""), nullptr);  // separator and role have no id
  std::vector<MenuItemSpec> nested = {g_ctx_items[1]};
  EXPECT_EQ(find_model_item(nested, "save"), &nested[0].children[0]);
}

TEST(MenuAccel, Text) {
  for (auto t : {"Shift+N", "N", "Cmd+Shift+n", "shift+n", "Command+N"}) {
    AccelText a = parse_accel(t);
    EXPECT_TRUE(a.shift) << t;
    EXPECT_FALSE(a.alt) << t;
    EXPECT_EQ(a.key, "n") << t;
  }
  AccelText f4 = parse_accel("Alt+F4");
  EXPECT_TRUE(f4.alt);
  EXPECT_FALSE(f4.shift);
  EXPECT_EQ(f4.key, "F4");
  EXPECT_TRUE(parse_accel("Option+x").alt);
  EXPECT_EQ(parse_accel("+").key, "+");
  EXPECT_EQ(parse_accel("Ctrl++").key, "+");
  AccelText bad = parse_accel("Hyper+Alt+x");
  EXPECT_FALSE(bad.alt);
  EXPECT_EQ(bad.key, "Hyper+Alt+x");
  EXPECT_EQ(parse_accel("s").key, "s");
  EXPECT_FALSE(parse_accel("s").shift);
}

TEST(MenuStock, Roles) {
  auto std_items = stock_items_for("standard");
  ASSERT_EQ(std_items.size(), 7u);
  EXPECT_STREQ(std_items[0]->label, "Undo");
  EXPECT_EQ(std_items[2], nullptr);
  EXPECT_STREQ(std_items[6]->command, "SelectAll");
  EXPECT_STREQ(std_items[6]->label, "Select All");
  ASSERT_EQ(stock_items_for("paste").size(), 1u);
  EXPECT_TRUE(stock_items_for("window").empty());
  EXPECT_TRUE(stock_items_for("Copy").empty());
}

TEST(MenuTrayIcon, PathRule) {
  char* dir = g_dir_make_tmp("ovalis-tray-XXXXXX", nullptr);
  ASSERT_NE(dir, nullptr);
  std::string file = std::string(dir) + "/tray.symbolic.png";
  ASSERT_TRUE(g_file_set_contents(file.c_str(), "x", 1, nullptr));
  TrayIconName n = tray_icon_name(file);
  EXPECT_EQ(n.theme_dir, dir);
  EXPECT_EQ(n.name, "tray.symbolic");
  EXPECT_TRUE(tray_icon_name("tray.symbolic.png").name.empty());
  EXPECT_TRUE(tray_icon_name(std::string(dir) + "/missing.png").name.empty());
  EXPECT_TRUE(tray_icon_name(dir).name.empty());  // a folder is no icon
  g_unlink(file.c_str());
  g_rmdir(dir);
  g_free(dir);
}

}  // namespace
