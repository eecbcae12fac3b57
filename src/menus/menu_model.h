// The in-memory menu model that menu-bar, tray and context-menu blocks build.
#pragma once

#include <string>
#include <vector>

struct MenuItemSpec {
  bool separator = false;
  bool submenu = false;
  std::string id;
  std::string label;
  std::string accel;
  std::string flags;  // "c" checked, "d" disabled
  std::string icon;
  std::string role;
  std::vector<MenuItemSpec> children;
};

struct MenuSpec {
  std::string title;
  std::vector<MenuItemSpec> items;
};

struct TraySpec {
  std::string title;
  std::string icon;
  bool show_flag = false;
  std::string tooltip;
  bool click_item = false;
  std::vector<MenuItemSpec> items;
};
