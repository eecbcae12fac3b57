// Fuzz target for the menu-line builder: any sequence of lines, including
// begin, clear and update lines in the middle of blocks, must leave a
// consistent model and never touch freed memory.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "menus/menu_build.h"

static void check(bool ok) {
  if (!ok) std::abort();
}

static size_t depth(const std::vector<MenuItemSpec>& items) {
  size_t d = 0;
  for (const MenuItemSpec& it : items) {
    check(!(it.submenu && it.separator));
    if (!it.submenu) check(it.children.empty());
    d = std::max(d, 1 + depth(it.children));
  }
  return d;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  g_build_mode = 0;
  g_build_stack.clear();
  g_build_menubar.clear();
  g_build_edit_idx = -1;
  g_build_tray = TraySpec{};
  g_ctx_items.clear();
  g_ctx_custom = false;

  size_t lines = 0;
  while (!in.empty()) {
    size_t nl = in.find('\n');
    std::string_view line = in.substr(0, nl);
    in = nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1);
    ++lines;
    BuildStep s = build_feed(line);
    if (s == BuildStep::Pass) {
      if (line == "MENUBEGIN") build_menu_begin("");
      else if (line.starts_with("MENUBEGIN@")) build_menu_begin(line.substr(10));
      else if (line.starts_with("TRAYBEGIN")) build_tray_begin(line.substr(9));
      else if (line == "CTXBEGIN") build_ctx_begin();
      else if (line == "CTXCLEAR") build_ctx_clear();
      else if (line.starts_with("CTXSUPPRESS")) build_ctx_suppress(line.substr(11));
      else if (line.starts_with("MENUUPD ")) {
        ItemUpdate up = parse_item_update(line.substr(8));
        update_model_items(g_ctx_items, up);
        for (MenuSpec& m : g_build_menubar) update_model_items(m.items, up);
        if (const MenuItemSpec* it = find_model_item(g_ctx_items, up.id)) check(it->id == up.id);
      }
    }
    check(g_build_mode >= 0 && g_build_mode <= 3);
    if (g_build_mode == 0) check(g_build_stack.empty());
    if (s == BuildStep::MenuDone) check(g_build_edit_idx == -1);
    if (s == BuildStep::CtxDone) check(g_ctx_custom);
  }
  // Nesting can never be deeper than the number of lines.
  check(depth(g_ctx_items) <= lines + 1);
  check(depth(g_build_tray.items) <= lines + 1);
  for (const MenuSpec& m : g_build_menubar) check(depth(m.items) <= lines + 1);
  (void)parse_accel(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
