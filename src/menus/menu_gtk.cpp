// Toolkit menus from the menu model: menu bars per window, the live item
// registry, stock editing entries, accelerators, entry icons, activation
// lines, in-place updates and the item query.
#include <cmath>
#include <cstring>

#include "core/app.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "menus/menu_build.h"
#include "menus/menus.h"
#include "windows/windows.h"

std::multimap<std::string, RegItem, std::less<>> g_items;
std::vector<MenuSpec> g_app_menu;
// Windows with menus of their own ("MENUBEGIN@<id>"), by id; "main" stands
// for the main window. Every other window shows the application menu.
std::map<std::string, std::vector<MenuSpec>, std::less<>> g_menu_own;

void clear_registry_kind(std::string_view kind, GtkWidget* window) {
  for (auto it = g_items.begin(); it != g_items.end();) {
    if (it->second.kind == kind && (!window || it->second.window == window))
      it = g_items.erase(it);
    else
      ++it;
  }
}

namespace {

// A destroyed widget must never stay in the registry, whatever path
// destroyed it (a parent window going away takes its menus along).
void on_registered_destroy(GtkWidget* w, gpointer) {
  for (auto it = g_items.begin(); it != g_items.end();) {
    if (it->second.widget == w) it = g_items.erase(it);
    else ++it;
  }
}

void block_activate(GtkWidget* item, bool block) {
  auto fn = block ? g_signal_handlers_block_matched : g_signal_handlers_unblock_matched;
  fn(item, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr, reinterpret_cast<gpointer>(on_menu_item_activate),
     nullptr);
}

// Sets a check item's mark without it counting as an activation.
void set_check_quietly(GtkWidget* item, bool on) {
  if (!GTK_IS_CHECK_MENU_ITEM(item)) return;
  if (gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)) == on) return;
  block_activate(item, true);
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), on);
  block_activate(item, false);
}

void set_item_label(GtkWidget* item, const std::string& label) {
  if (auto* lbl = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(item), "ovalis-label")))
    gtk_label_set_text(GTK_LABEL(lbl), label.c_str());
  else
    gtk_menu_item_set_label(GTK_MENU_ITEM(item), label.c_str());
}

// ---- accelerators ----

void bind_accel(GtkWidget* item, const std::string& text, GtkAccelGroup* accel) {
  AccelText a = parse_accel(text);
  guint key = gdk_keyval_from_name(a.key.c_str());
  if (key == GDK_KEY_VoidSymbol || key == 0) return;
  int mods = GDK_CONTROL_MASK;
  if (a.alt) mods |= GDK_MOD1_MASK;
  if (a.shift) mods |= GDK_SHIFT_MASK;
  gtk_widget_add_accelerator(item, "activate", accel, key, GdkModifierType(mods),
                             GTK_ACCEL_VISIBLE);
}

// ---- stock entries ----

struct StockData {
  std::string command;
  std::string window_id;  // empty: no window, so no web view
};

WebKitWebView* stock_view(const StockData* d) {
  return d->window_id.empty() ? nullptr : wv_for(d->window_id);
}

void on_stock_activate(GtkMenuItem* item, gpointer) {
  auto* d = static_cast<StockData*>(g_object_get_data(G_OBJECT(item), "ovalis-stock"));
  if (!d) return;
  if (WebKitWebView* v = stock_view(d))
    webkit_web_view_execute_editing_command(v, d->command.c_str());
}

void on_can_execute(GObject* view, GAsyncResult* res, gpointer data) {
  GObj<GtkWidget> item(static_cast<GtkWidget*>(data));
  gboolean ok =
      webkit_web_view_can_execute_editing_command_finish(WEBKIT_WEB_VIEW(view), res, nullptr);
  gtk_widget_set_sensitive(item.get(), ok);
}

// Each time a menu with stock entries opens, each entry asks its page
// whether the command can run now (Paste depends on the clipboard).
void on_stock_menu_show(GtkWidget* menu, gpointer) {
  GList* kids = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* l = kids; l; l = l->next) {
    auto* item = static_cast<GtkWidget*>(l->data);
    auto* d = static_cast<StockData*>(g_object_get_data(G_OBJECT(item), "ovalis-stock"));
    if (!d) continue;
    WebKitWebView* v = stock_view(d);
    if (!v) continue;
    webkit_web_view_can_execute_editing_command(v, d->command.c_str(), nullptr, on_can_execute,
                                                g_object_ref(item));
  }
  g_list_free(kids);
}

// ---- icons ----

GtkWidget* emoji_image(const std::string& text, int scale) {
  int px = 16 * scale;
  cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, px, px);
  cairo_t* cr = cairo_create(surf);
  GObj<PangoLayout> owned_layout(pango_cairo_create_layout(cr));
  PangoLayout* layout = owned_layout.get();
  PangoFontDescription* font = pango_font_description_from_string("emoji");
  pango_font_description_set_absolute_size(font, 0.8 * px * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, text.c_str(), -1);
  int tw = 0, th = 0;
  pango_layout_get_pixel_size(layout, &tw, &th);
  cairo_move_to(cr, (px - tw) / 2.0, (px - th) / 2.0);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(font);
  cairo_destroy(cr);
  cairo_surface_set_device_scale(surf, scale, scale);
  GtkWidget* img = gtk_image_new_from_surface(surf);
  cairo_surface_destroy(surf);
  return img;
}

GtkWidget* file_image(const std::string& path, int scale) {
  GObj<GdkPixbuf> pb(gdk_pixbuf_new_from_file_at_scale(path.c_str(), -1, 16 * scale, TRUE,
                                                      nullptr));
  if (!pb) return nullptr;
  cairo_surface_t* surf = gdk_cairo_surface_create_from_pixbuf(pb.get(), scale, nullptr);
  GtkWidget* img = gtk_image_new_from_surface(surf);
  cairo_surface_destroy(surf);
  return img;
}

}  // namespace

void menu_item_set_icon(GtkWidget* item, const std::string& icon) {
  if (icon.empty() || icon.starts_with("sf:")) return;
  int scale = std::max(1, gtk_widget_get_scale_factor(item));
  GtkWidget* img = icon.starts_with("emoji:") ? emoji_image(icon.substr(6), scale)
                                              : file_image(icon, scale);
  if (!img) return;
  GtkWidget* label = gtk_bin_get_child(GTK_BIN(item));
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_start(GTK_BOX(box), img, FALSE, FALSE, 0);
  if (label) {
    GObj<GtkWidget> keep = gobj_ref(label);  // alive while it moves into the box
    gtk_container_remove(GTK_CONTAINER(item), label);
    gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 0);
    g_object_set_data(G_OBJECT(item), "ovalis-label", label);
  }
  gtk_container_add(GTK_CONTAINER(item), box);
}

void connect_menu_activate(GtkWidget* item, const char* kind, const std::string& id) {
  std::string text = std::string(kind) + ":" + id;
  g_signal_connect_data(item, "activate", G_CALLBACK(on_menu_item_activate),
                        g_strdup(text.c_str()), [](gpointer p, GClosure*) { g_free(p); },
                        GConnectFlags(0));
}

void on_menu_item_activate(GtkMenuItem* mi, gpointer data) {
  std::string_view text = static_cast<const char*>(data);
  size_t colon = text.find(':');
  if (colon == std::string_view::npos) return;
  std::string_view kind = text.substr(0, colon);
  std::string id(text.substr(colon + 1));
  GtkWidget* item = GTK_WIDGET(mi);
  auto [lo, hi] = g_items.equal_range(id);
  for (auto it = lo; it != hi; ++it) {
    if (it->second.widget != item) continue;
    // The check mark follows the backend's updates, never a click.
    bool checked = it->second.checked, enabled = it->second.enabled;
    set_check_quietly(item, checked);
    if (!enabled) return;
    break;
  }
  const char* kw = kind == "tray" ? "TRAY " : kind == "ctx" ? "CTX " : "MENU ";
  pipe_write_line(kw + id);
}

void add_stock_items(GtkWidget* menu, std::string_view role, GtkWidget* window) {
  std::vector<const StockItem*> items = stock_items_for(role);
  std::string win_id = window ? id_for_gtkwin(window) : "";
  for (const StockItem* s : items) {
    if (!s) {
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
      continue;
    }
    GtkWidget* item = gtk_menu_item_new_with_label(s->label);
    if (GtkWidget* lbl = gtk_bin_get_child(GTK_BIN(item)); lbl && GTK_IS_ACCEL_LABEL(lbl)) {
      AccelText a = parse_accel(s->shown_accel);
      int mods = GDK_CONTROL_MASK | (a.shift ? GDK_SHIFT_MASK : 0);
      gtk_accel_label_set_accel(GTK_ACCEL_LABEL(lbl), gdk_keyval_from_name(a.key.c_str()),
                                GdkModifierType(mods));
    }
    g_object_set_data_full(G_OBJECT(item), "ovalis-stock", new StockData{s->command, win_id},
                           [](gpointer p) { delete static_cast<StockData*>(p); });
    g_signal_connect(item, "activate", G_CALLBACK(on_stock_activate), nullptr);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    if (!g_object_get_data(G_OBJECT(menu), "ovalis-stock-menu")) {
      g_object_set_data(G_OBJECT(menu), "ovalis-stock-menu", GINT_TO_POINTER(1));
      g_signal_connect(menu, "show", G_CALLBACK(on_stock_menu_show), nullptr);
    }
  }
}

namespace {

// What an entry was built from, kept on its widget so it can be built again
// as the other kind of item when its tick comes or goes.
struct EntrySource {
  MenuItemSpec spec;
  std::string kind;
  GObj<GtkAccelGroup> accel;
};

// A command entry. Only a ticked entry is a check item: an unticked check
// box would make every plain command look like a toggle.
GtkWidget* make_command_item(const MenuItemSpec& e, const char* kind, GtkAccelGroup* accel) {
  bool tray = std::strcmp(kind, "tray") == 0;
  bool menubar = std::strcmp(kind, "menu") == 0;
  bool checked = e.flags.find('c') != std::string::npos;
  bool enabled = e.flags.find('d') == std::string::npos;
  GtkWidget* item;
  if (checked) {
    item = gtk_check_menu_item_new_with_label(e.label.c_str());
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), TRUE);
  } else {
    item = gtk_menu_item_new_with_label(e.label.c_str());
  }
  if (!tray) menu_item_set_icon(item, e.icon);
  gtk_widget_set_sensitive(item, enabled);
  if (!e.accel.empty() && menubar && accel) bind_accel(item, e.accel, accel);
  connect_menu_activate(item, kind, e.id);
  g_signal_connect(item, "destroy", G_CALLBACK(on_registered_destroy), nullptr);
  auto* src = new EntrySource{e, kind, accel ? gobj_ref(accel) : GObj<GtkAccelGroup>()};
  g_object_set_data_full(G_OBJECT(item), "ovalis-entry", src,
                         [](gpointer p) { delete static_cast<EntrySource*>(p); });
  return item;
}

// Shows a live entry's tick, turning a plain entry into a check item (and
// back) in the same place of its menu.
void set_entry_checked(RegItem& r, bool on) {
  if (GTK_IS_CHECK_MENU_ITEM(r.widget) == on) {
    set_check_quietly(r.widget, on);
    return;
  }
  auto* src = static_cast<EntrySource*>(g_object_get_data(G_OBJECT(r.widget), "ovalis-entry"));
  GtkWidget* shell = gtk_widget_get_parent(r.widget);
  if (!src || !GTK_IS_MENU_SHELL(shell)) return;
  GList* kids = gtk_container_get_children(GTK_CONTAINER(shell));
  int pos = g_list_index(kids, r.widget);
  g_list_free(kids);

  MenuItemSpec spec = src->spec;
  spec.label = r.label;
  spec.flags = std::string(on ? "c" : "") + (r.enabled ? "" : "d");
  std::string kind = src->kind;
  GObj<GtkAccelGroup> accel = std::move(src->accel);
  GtkWidget* old = r.widget;
  // The record moves to the new widget before the old one goes, so the old
  // widget's destruction leaves the record alone.
  GtkWidget* fresh = make_command_item(spec, kind.c_str(), accel.get());
  gtk_menu_shell_insert(GTK_MENU_SHELL(shell), fresh, pos);
  gtk_widget_show_all(fresh);
  r.widget = fresh;
  r.checked = on;
  gtk_widget_destroy(old);
}

}  // namespace

GtkWidget* build_gtk_menu(const std::vector<MenuItemSpec>& entries, const char* kind,
                          GtkWidget* window, GtkAccelGroup* accel) {
  bool tray = std::strcmp(kind, "tray") == 0;
  GtkWidget* menu = gtk_menu_new();
  for (const MenuItemSpec& e : entries) {
    if (!e.role.empty()) {
      if (!tray) add_stock_items(menu, e.role, window);
      continue;
    }
    if (e.separator) {
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
      continue;
    }
    if (e.submenu) {
      GtkWidget* item = gtk_menu_item_new_with_label(e.label.c_str());
      if (!tray) menu_item_set_icon(item, e.icon);
      gtk_menu_item_set_submenu(GTK_MENU_ITEM(item),
                                build_gtk_menu(e.children, kind, window, accel));
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
      continue;
    }
    GtkWidget* item = make_command_item(e, kind, accel);
    g_items.emplace(e.id, RegItem{item, e.label, e.flags.find('c') != std::string::npos,
                                  e.flags.find('d') == std::string::npos, kind, window});
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  }
  return menu;
}

std::vector<std::string> menu_windows() {
  std::vector<std::string> ids;
  if (g_win) ids.emplace_back("main");
  for (auto& [id, sw] : g_secwins) ids.push_back(id);
  return ids;
}

namespace {

std::string_view menu_key(std::string_view id) { return is_main_id(id) ? "main" : id; }

std::vector<MenuSpec>* own_menus(std::string_view id) {
  auto it = g_menu_own.find(menu_key(id));
  return it == g_menu_own.end() ? nullptr : &it->second;
}

}  // namespace

void apply_menus(std::string_view id) {
  GtkWidget* win = win_for(id);
  WinMenu* m = menu_for(id);
  if (!win || !m || !m->menubar) return;
  clear_registry_kind("menu", win);
  GList* kids = gtk_container_get_children(GTK_CONTAINER(m->menubar));
  for (GList* l = kids; l; l = l->next) gtk_widget_destroy(GTK_WIDGET(l->data));
  g_list_free(kids);

  const std::vector<MenuSpec>* own = own_menus(id);
  const std::vector<MenuSpec>& menus = own ? *own : g_app_menu;
  m->has_menus = !menus.empty();
  for (const MenuSpec& spec : menus) {
    GtkWidget* top = gtk_menu_item_new_with_label(spec.title.c_str());
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(top),
                              build_gtk_menu(spec.items, "menu", win, m->accel_group));
    gtk_menu_shell_append(GTK_MENU_SHELL(m->menubar), top);
  }
  if (menus.empty() || !m->show_menubar) {
    gtk_widget_hide(m->menubar);
  } else {
    gtk_widget_show_all(m->menubar);
  }

  // The first time a menu bar shows, the window grows by its height so the
  // page keeps the content size it was asked for.
  if (!m->repaid && !menus.empty() && m->show_menubar) {
    m->repaid = true;
    int w = g_width, h = g_height;
    if (SecWin* sw = secwin_for(id); sw && !is_main_id(id)) {
      w = sw->width;
      h = sw->height;
    }
    if (m->content_width > 0) {
      w = m->content_width;
      h = m->content_height;
    }
    repay_page_box(id, w, h, true);
  }
}

namespace {

void commit_menubar() {
  if (!g_build_menu_win.empty()) {
    if (!menu_for(g_build_menu_win)) return;
    g_menu_own[std::string(menu_key(g_build_menu_win))] = g_build_menubar;
    apply_menus(g_build_menu_win);
    return;
  }
  g_app_menu = g_build_menubar;
  for (const std::string& id : menu_windows())
    if (!own_menus(id)) apply_menus(id);
}

}  // namespace

bool menus_take_line(std::string_view line) {
  switch (build_feed(line)) {
    case BuildStep::Pass: return false;
    case BuildStep::Took: return true;
    case BuildStep::MenuDone: commit_menubar(); return true;
    case BuildStep::TrayDone: show_tray(); return true;
    case BuildStep::CtxDone: return true;
  }
  return false;
}

namespace {

void menu_update(std::string_view fields, const std::string* win_id) {
  GtkWidget* win = nullptr;
  if (win_id) {
    win = win_for(*win_id);
    if (!win) return;
  }
  ItemUpdate up = parse_item_update(fields);
  auto [lo, hi] = g_items.equal_range(up.id);
  for (auto it = lo; it != hi; ++it) {
    RegItem& r = it->second;
    if (win && r.window != win) continue;
    if (!up.label.empty()) {
      r.label = up.label;
      set_item_label(r.widget, up.label);
    }
    if (!up.checked.empty()) {
      r.checked = up.checked == "1";
      set_entry_checked(r, r.checked);
    }
    if (!up.enabled.empty()) {
      r.enabled = up.enabled == "1";
      gtk_widget_set_sensitive(r.widget, r.enabled);
    }
  }

  // The model too, so later rebuilds keep the change.
  update_model_items(g_ctx_items, up);
  if (win_id) {
    if (std::vector<MenuSpec>* own = own_menus(*win_id))
      for (MenuSpec& s : *own) update_model_items(s.items, up);
    return;
  }
  for (MenuSpec& s : g_app_menu) update_model_items(s.items, up);
  for (auto& [id, own] : g_menu_own)
    for (MenuSpec& s : own) update_model_items(s.items, up);
}

std::string item_state_json(const std::string& label, bool checked, bool enabled) {
  std::string out = "{\"exists\":true,\"label\":";
  json_escape_to(out, label);
  out += checked ? ",\"checked\":true" : ",\"checked\":false";
  out += enabled ? ",\"enabled\":true}" : ",\"enabled\":false}";
  return out;
}

}  // namespace

std::string item_json(std::string_view ref, bool at_form) {
  const std::string missing = "{\"exists\":false}";
  if (at_form) {
    size_t colon = ref.find(':');
    std::string_view win_id = ref.substr(0, colon);
    std::string_view item_id = colon == std::string_view::npos ? "" : ref.substr(colon + 1);
    // A window that does not exist has no items, whatever other windows hold.
    GtkWidget* win = win_for(win_id);
    if (!win) return missing;
    auto [lo, hi] = g_items.equal_range(item_id);
    for (auto it = lo; it != hi; ++it)
      if (it->second.window == win)
        return item_state_json(it->second.label, it->second.checked, it->second.enabled);
    return missing;
  }
  auto it = g_items.lower_bound(ref);
  if (it != g_items.end() && it->first == ref)
    return item_state_json(it->second.label, it->second.checked, it->second.enabled);
  if (g_ctx_custom) {
    if (const MenuItemSpec* s = find_model_item(g_ctx_items, ref))
      return item_state_json(s->label, s->flags.find('c') != std::string::npos,
                             s->flags.find('d') == std::string::npos);
  }
  return missing;
}

void menus_window_gone(const std::string& id, GtkWidget* window) {
  clear_registry_kind("menu", window);
  g_menu_own.erase(id);
}

void do_menu_begin(std::string_view win) { build_menu_begin(win); }

void do_menu_reset(std::string_view id) {
  if (!menu_for(id)) return;
  g_menu_own.erase(std::string(menu_key(id)));
  apply_menus(id);
}

void do_menu_upd(std::string_view fields) { menu_update(fields, nullptr); }

void do_menu_upd_at(std::string_view rest) {
  size_t sp = rest.find(' ');
  if (sp == std::string_view::npos) return;
  std::string win(rest.substr(0, sp));
  menu_update(rest.substr(sp + 1), &win);
}
