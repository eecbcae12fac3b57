// The build state machine that turns menu, tray and context-menu blocks into
// the menu model, plus the pure helpers the toolkit side shares (model
// updates, accelerator text, item lookups). No toolkit code in here, so it
// is unit tested and fuzzed on its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "menus/menu_model.h"

// 0 idle, 1 menu bar, 2 tray menu, 3 context menu.
extern int g_build_mode;
extern std::string g_build_menu_win;
extern std::vector<MenuSpec> g_build_menubar;
extern int g_build_edit_idx;
extern std::vector<std::vector<MenuItemSpec>*> g_build_stack;
extern TraySpec g_build_tray;
extern std::vector<MenuItemSpec> g_ctx_items;
extern bool g_ctx_custom;
extern bool g_ctx_suppress;

// Begin lines. They are normal commands, so they work in any mode and drop
// a half-built block.
void build_menu_begin(std::string_view win);  // "" is the application menu
void build_tray_begin(std::string_view rest);  // text after "TRAYBEGIN"
void build_ctx_begin();

// What a line did to the open block.
enum class BuildStep {
  Pass,      // not a build line in this mode: dispatch it normally
  Took,      // consumed
  MenuDone,  // "MENUEND": g_build_menubar holds the finished menus for g_build_menu_win
  TrayDone,  // "TRAYEND": g_build_tray holds the finished tray
  CtxDone,   // "CTXEND": g_ctx_items is the committed context menu
};
BuildStep build_feed(std::string_view line);

// "CTXCLEAR" and "CTXSUPPRESS" on the model (the toolkit side closes an
// open menu).
void build_ctx_clear();
void build_ctx_suppress(std::string_view rest);  // text after "CTXSUPPRESS"

// One "MENUUPD" field set: id, label, checked, enabled; empty leaves as is.
struct ItemUpdate {
  std::string id, label, checked, enabled;
};
ItemUpdate parse_item_update(std::string_view fields);

// Applies an update to every matching non-submenu entry, recursively.
void update_model_items(std::vector<MenuItemSpec>& items, const ItemUpdate& up);

// The first plain entry with this id, searching submenus in place;
// separators and role entries never match. nullptr when none.
const MenuItemSpec* find_model_item(const std::vector<MenuItemSpec>& items,
                                    std::string_view id);

// Accelerator text of a menu-bar entry. Every accelerator has Ctrl; alt and
// shift come from the words before "+" or from a single capital letter.
struct AccelText {
  bool alt = false;
  bool shift = false;
  std::string key;  // a key name for the toolkit's key-name table
};
AccelText parse_accel(std::string_view text);

// The stock entries of a role, in order; nullptr stands for a separator.
// Empty for an unknown role.
struct StockItem {
  const char* role;
  const char* label;
  const char* command;
  const char* shown_accel;
};
std::vector<const StockItem*> stock_items_for(std::string_view role);

// The tray icon rule: an absolute path of an existing file gives the theme
// folder and the icon name (file name without its last extension).
struct TrayIconName {
  std::string theme_dir;
  std::string name;
};
TrayIconName tray_icon_name(std::string_view path);
