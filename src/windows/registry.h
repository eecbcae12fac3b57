// Window registry: the main window's globals, the secondary windows by id,
// and the lookups and size bookkeeping every window feature shares.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "menus/menu_model.h"

struct WinMenu {
  std::vector<MenuSpec> menus;
  bool own_menus = false;
  bool show_menubar = true;
  GtkWidget* menubar = nullptr;
  GtkAccelGroup* accel_group = nullptr;
  bool repaid = false;
  int content_width = 0;
  int content_height = 0;
};

struct SecWin {
  std::string id;
  GtkWidget* window = nullptr;
  WebKitWebView* webview = nullptr;
  bool frame = true;
  bool transparent = false;
  bool square = false;
  bool first_mouse = false;
  bool fixed = false;
  std::string vibrancy;
  std::string level = "normal";
  bool click_through = false;
  WinMenu menu;
  int width = 600;
  int height = 400;
  WebKitUserContentManager* shared_ucm = nullptr;
};

extern GtkWidget* g_win;
extern WebKitWebView* g_wv;
extern GtkWidget* g_vbox;
extern GtkWidget* g_menubar;
extern GtkAccelGroup* g_accel;
extern WinMenu g_main_menu;
extern std::vector<MenuSpec> g_app_menu;
extern bool g_fixed_main;
extern std::string g_icon_path;
extern std::string g_level;
extern bool g_click_through, g_all_spaces, g_chrome_frame, g_chrome_transparent;
extern bool g_chrome_square, g_chrome_first_mouse;
extern std::string g_chrome_vibrancy;

// Ordered by id (ascending bytes), which is also the order "windows" lists them.
extern std::map<std::string, std::unique_ptr<SecWin>, std::less<>> g_secwins;

bool is_main_id(std::string_view id);
SecWin* secwin_for(std::string_view id);
GtkWidget* win_for(std::string_view id);
WinMenu* menu_for(std::string_view id);
bool win_fixed(std::string_view id);
void apply_fixed(std::string_view id);
int menubar_height(std::string_view id);
void set_content_size(std::string_view id, int w, int h);
void repay_page_box(std::string_view id, int w, int h, bool flag);
std::string app_icon_path();
void set_window_icon(GtkWidget* window, const std::string& path);

// The sizes an icon list is made of, for an image whose sides are w by h.
// keep_original tells whether the loaded image itself belongs in the list.
struct IconSize { int w, h; };
std::vector<IconSize> icon_sizes(int w, int h, bool* keep_original);

// Builds the main window (start-up, unless windowless).
void build_main_window();
