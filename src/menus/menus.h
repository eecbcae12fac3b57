// Menus and the tray indicator: menu bars, the live item registry, the
// context menu and the tray, on top of the model of menu_build.h.
#pragma once

#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#include <webkit2/webkit2.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "menus/menu_model.h"

// ---- live item registry ----

struct RegItem {
  GtkWidget* widget = nullptr;
  std::string label;
  bool checked = false;
  bool enabled = true;
  std::string kind;            // "menu", "ctx" or "tray"
  GtkWidget* window = nullptr;  // the window owning the menu, or null
};
extern std::multimap<std::string, RegItem, std::less<>> g_items;

// Removes entries of a kind, only those of one window when window is given.
void clear_registry_kind(std::string_view kind, GtkWidget* window = nullptr);

// ---- building toolkit menus ----

GtkWidget* build_gtk_menu(const std::vector<MenuItemSpec>& entries, const char* kind,
                          GtkWidget* window, GtkAccelGroup* accel);
void add_stock_items(GtkWidget* menu, std::string_view role, GtkWidget* window);
void menu_item_set_icon(GtkWidget* item, const std::string& icon);
void on_menu_item_activate(GtkMenuItem* item, gpointer text);
// Attaches the "kind:id" text and the activation handler to an item.
void connect_menu_activate(GtkWidget* item, const char* kind, const std::string& id);

// Rebuilds the menu bar of a window from its effective menus.
void apply_menus(std::string_view id);

// Window ids that carry menus: "main" (when it exists), then every
// secondary window in registry order.
std::vector<std::string> menu_windows();

// The answer to "GET <id> item:<ref>" / "item@<ref>"; at_form for "item@".
std::string item_json(std::string_view ref, bool at_form);

// While a menu, tray or context-menu block is open, every backend line is
// offered here first; true when the block took it.
bool menus_take_line(std::string_view line);

// Forgets the menus and items of a window that went away.
void menus_window_gone(const std::string& id, GtkWidget* window);

// ---- commands ----

void do_menu_begin(std::string_view win);
void do_menu_reset(std::string_view id);
void do_menu_upd(std::string_view fields);
void do_menu_upd_at(std::string_view rest);
void do_tray_begin(std::string_view rest);
void do_tray_remove();
void do_ctx_begin();
void do_ctx_clear();
void do_ctx_suppress(std::string_view rest);

// ---- tray ----

extern AppIndicator* g_tray;

// Whether a tray indicator is currently shown.
bool tray_exists();
// Shows the tray from g_build_tray ("TRAYEND").
void show_tray();
// Removes the tray indicator, if any (shutdown).
void remove_tray();

// ---- context menu ----

// The web view's "context-menu" signal.
gboolean on_context_menu(WebKitWebView* view, WebKitContextMenu* menu, GdkEvent* event,
                         WebKitHitTestResult* hit, gpointer);

// Destroys the custom context menu if one is open.
void close_context_menu();
