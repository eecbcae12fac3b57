#include "core/gobj.h"
#include "menus/menu_build.h"

#include <glib.h>

#include "core/wire.h"

int g_build_mode = 0;
std::string g_build_menu_win;
std::vector<MenuSpec> g_build_menubar;
int g_build_edit_idx = -1;
std::vector<std::vector<MenuItemSpec>*> g_build_stack;
TraySpec g_build_tray;
std::vector<MenuItemSpec> g_ctx_items;
bool g_ctx_custom = false;
bool g_ctx_suppress = false;

namespace {

void append(MenuItemSpec&& item) {
  // An empty stack means the block is in a part whose entries are dropped
  // (after a role menu, or before the first "MENU ").
  if (g_build_stack.empty()) return;
  g_build_stack.back()->push_back(std::move(item));
}

void add_item(std::string_view rest) {
  std::vector<std::string> f = split_tabs(rest);
  MenuItemSpec it;
  it.id = tab_field(f, 0);
  it.label = tab_field(f, 1);
  it.accel = tab_field(f, 2);
  it.flags = tab_field(f, 3);
  it.icon = tab_field(f, 4);
  if (it.id.empty()) it.id = it.label;
  if (it.label.empty()) it.label = it.id;
  append(std::move(it));
}

void add_sub(std::string_view rest) {
  if (g_build_stack.empty()) return;
  std::vector<std::string> f = split_tabs(rest);
  MenuItemSpec it;
  it.submenu = true;
  it.id = tab_field(f, 0);
  it.label = tab_field(f, 1);
  it.icon = tab_field(f, 2);
  if (it.label.empty()) it.label = it.id;
  std::vector<MenuItemSpec>* top = g_build_stack.back();
  top->push_back(std::move(it));
  // Only the top list ever grows, so the lists below it (which hold the
  // pushed children lists) never move while those are on the stack.
  g_build_stack.push_back(&top->back().children);
}

void add_role_menu(std::string_view role) {
  g_build_stack.clear();
  if (role != "edit" || g_build_edit_idx >= 0) return;
  g_build_menubar.push_back(MenuSpec{"Edit", {}});
  g_build_edit_idx = static_cast<int>(g_build_menubar.size()) - 1;
  g_build_stack.push_back(&g_build_menubar.back().items);
}

void finish_menubar() {
  g_build_mode = 0;
  g_build_stack.clear();
  if (g_build_edit_idx >= 0 && g_build_edit_idx < static_cast<int>(g_build_menubar.size()) &&
      g_build_menubar[g_build_edit_idx].items.empty())
    g_build_menubar.erase(g_build_menubar.begin() + g_build_edit_idx);
  g_build_edit_idx = -1;
}

}  // namespace

void build_menu_begin(std::string_view win) {
  g_build_mode = 1;
  g_build_menu_win = std::string(win);
  g_build_menubar.clear();
  g_build_stack.clear();
  g_build_edit_idx = -1;
}

void build_tray_begin(std::string_view rest) {
  g_build_mode = 2;
  g_build_stack.clear();
  g_build_tray = TraySpec{};
  // One separator character follows the keyword, then the tab fields.
  if (!rest.empty()) rest.remove_prefix(1);
  std::vector<std::string> f = split_tabs(rest);
  g_build_tray.title = tab_field(f, 0);
  g_build_tray.icon = tab_field(f, 1);
  g_build_tray.show_flag = tab_field(f, 2) != "0";
  g_build_tray.tooltip = tab_field(f, 3);
  g_build_tray.click_item = tab_field(f, 4) == "1";
  g_build_stack.push_back(&g_build_tray.items);
}

void build_ctx_begin() {
  g_build_mode = 3;
  g_build_stack.clear();
  g_ctx_items.clear();
  g_build_stack.push_back(&g_ctx_items);
}

BuildStep build_feed(std::string_view line) {
  if (g_build_mode == 0) return BuildStep::Pass;
  if (line.starts_with("ITEM ")) {
    add_item(line.substr(5));
    return BuildStep::Took;
  }
  if (line.starts_with("SUB ")) {
    add_sub(line.substr(4));
    return BuildStep::Took;
  }
  if (line == "SUBEND") {
    if (g_build_stack.size() > 1) g_build_stack.pop_back();
    return BuildStep::Took;
  }
  if (line == "SEP") {
    MenuItemSpec sep;
    sep.separator = true;
    append(std::move(sep));
    return BuildStep::Took;
  }
  if (line.starts_with("ROLEITEM ")) {
    MenuItemSpec r;
    r.role = std::string(line.substr(9));
    append(std::move(r));
    return BuildStep::Took;
  }
  switch (g_build_mode) {
    case 1:
      if (line.starts_with("MENU ")) {
        g_build_menubar.push_back(MenuSpec{std::string(line.substr(5)), {}});
        g_build_stack.clear();
        g_build_stack.push_back(&g_build_menubar.back().items);
        // The edit menu's index stays right; only its item pointer could
        // move, and the stack no longer holds it.
        return BuildStep::Took;
      }
      if (line.starts_with("MENUROLE ")) {
        add_role_menu(line.substr(9));
        return BuildStep::Took;
      }
      if (line == "MENUEND") {
        finish_menubar();
        return BuildStep::MenuDone;
      }
      break;
    case 2:
      if (line == "TRAYEND") {
        g_build_mode = 0;
        g_build_stack.clear();
        return BuildStep::TrayDone;
      }
      break;
    case 3:
      if (line == "CTXEND") {
        g_build_mode = 0;
        g_build_stack.clear();
        g_ctx_custom = true;
        return BuildStep::CtxDone;
      }
      break;
  }
  return BuildStep::Pass;
}

void build_ctx_clear() {
  g_ctx_custom = false;
  g_ctx_items.clear();
  // An open context block may have a submenu of the cleared entries on its
  // stack; it goes on at the top level instead of writing into freed memory.
  if (g_build_mode == 3) {
    g_build_stack.clear();
    g_build_stack.push_back(&g_ctx_items);
  }
}

void build_ctx_suppress(std::string_view rest) {
  if (!rest.empty()) rest.remove_prefix(1);
  g_ctx_suppress = rest == "1";
}

ItemUpdate parse_item_update(std::string_view fields) {
  std::vector<std::string> f = split_tabs(fields);
  return ItemUpdate{tab_field(f, 0), tab_field(f, 1), tab_field(f, 2), tab_field(f, 3)};
}

void update_model_items(std::vector<MenuItemSpec>& items, const ItemUpdate& up) {
  for (MenuItemSpec& it : items) {
    if (it.submenu) {
      update_model_items(it.children, up);
      continue;
    }
    if (it.id != up.id || it.separator || !it.role.empty()) continue;
    if (!up.label.empty()) it.label = up.label;
    bool checked = up.checked.empty() ? it.flags.find('c') != std::string::npos
                                      : up.checked == "1";
    bool disabled = up.enabled.empty() ? it.flags.find('d') != std::string::npos
                                       : up.enabled == "0";
    it.flags.clear();
    if (checked) it.flags += 'c';
    if (disabled) it.flags += 'd';
  }
}

const MenuItemSpec* find_model_item(const std::vector<MenuItemSpec>& items,
                                    std::string_view id) {
  for (const MenuItemSpec& it : items) {
    if (it.submenu) {
      if (const MenuItemSpec* found = find_model_item(it.children, id)) return found;
      continue;
    }
    if (it.separator || !it.role.empty()) continue;
    if (it.id == id) return &it;
  }
  return nullptr;
}

AccelText parse_accel(std::string_view text) {
  AccelText a;
  std::string rest(text);
  for (;;) {
    size_t plus = rest.find('+');
    if (plus == std::string::npos || plus == 0) break;
    GChars low(g_ascii_strdown(rest.data(), static_cast<gssize>(plus)));
    std::string word = low.get();
    if (word == "alt" || word == "opt" || word == "option") {
      a.alt = true;
    } else if (word == "shift") {
      a.shift = true;
    } else if (word != "ctrl" && word != "control" && word != "cmd" && word != "command" &&
               word != "meta" && word != "super") {
      break;
    }
    rest.erase(0, plus + 1);
  }
  if (rest.size() == 1 && rest[0] >= 'A' && rest[0] <= 'Z') {
    a.shift = true;
    rest[0] = static_cast<char>(rest[0] - 'A' + 'a');
  }
  a.key = std::move(rest);
  return a;
}

namespace {

constexpr StockItem kStockItems[] = {
    {"undo", "Undo", "Undo", "Ctrl+z"},
    {"redo", "Redo", "Redo", "Ctrl+Shift+z"},
    {"cut", "Cut", "Cut", "Ctrl+x"},
    {"copy", "Copy", "Copy", "Ctrl+c"},
    {"paste", "Paste", "Paste", "Ctrl+v"},
    {"selectAll", "Select All", "SelectAll", "Ctrl+a"},
};

const StockItem* stock_item(std::string_view role) {
  for (const StockItem& s : kStockItems)
    if (role == s.role) return &s;
  return nullptr;
}

}  // namespace

std::vector<const StockItem*> stock_items_for(std::string_view role) {
  if (role == "standard") {
    std::vector<const StockItem*> out;
    for (const char* r : {"undo", "redo", "-", "cut", "copy", "paste", "selectAll"})
      out.push_back(std::string_view(r) == "-" ? nullptr : stock_item(r));
    return out;
  }
  if (const StockItem* s = stock_item(role)) return {s};
  return {};
}

TrayIconName tray_icon_name(std::string_view path) {
  if (path.empty() || path[0] != '/') return {};
  std::string p(path);
  if (!g_file_test(p.c_str(), G_FILE_TEST_IS_REGULAR)) return {};
  size_t slash = p.rfind('/');
  TrayIconName out;
  out.theme_dir = slash == 0 ? "/" : p.substr(0, slash);
  std::string base = p.substr(slash + 1);
  size_t dot = base.rfind('.');
  // A name that is all extension (".png") keeps its text rather than
  // becoming an empty icon name.
  out.name = dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
  return out;
}
