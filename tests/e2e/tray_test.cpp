// The tray indicator as a desktop sees it: a status-notifier item on the
// session bus whose menu is exported over com.canonical.dbusmenu. A small
// watcher stands in for the desktop's; entries are activated through the
// exported menu, the way a panel does it.
#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "harness.h"

using namespace e2e;

namespace {

struct Entry {
  int id = 0;
  std::string label, type, toggle_type;
  int toggle_state = -1;
  bool enabled = true;
  bool visible = true;
  std::vector<Entry> children;
};

Entry parse_layout(GVariant* node) {
  Entry e;
  GVariant* props = nullptr;
  GVariant* kids = nullptr;
  g_variant_get(node, "(i@a{sv}@av)", &e.id, &props, &kids);
  GVariantIter it;
  const char* key;
  GVariant* val;
  g_variant_iter_init(&it, props);
  while (g_variant_iter_next(&it, "{&sv}", &key, &val)) {
    std::string k = key;
    if (k == "label") e.label = g_variant_get_string(val, nullptr);
    else if (k == "type") e.type = g_variant_get_string(val, nullptr);
    else if (k == "toggle-type") e.toggle_type = g_variant_get_string(val, nullptr);
    else if (k == "toggle-state") e.toggle_state = g_variant_get_int32(val);
    else if (k == "enabled") e.enabled = g_variant_get_boolean(val);
    else if (k == "visible") e.visible = g_variant_get_boolean(val);
    g_variant_unref(val);
  }
  g_variant_iter_init(&it, kids);
  GVariant* child;
  while (g_variant_iter_next(&it, "v", &child)) {
    Entry c = parse_layout(child);
    if (c.visible) e.children.push_back(std::move(c));
    g_variant_unref(child);
  }
  g_variant_unref(props);
  g_variant_unref(kids);
  return e;
}

// "label" / "-" for a separator / "[x]label" for a ticked and "[ ]label" for
// an unticked check entry, joined.
std::string describe(const std::vector<Entry>& items) {
  std::string out;
  for (const Entry& e : items) {
    if (!out.empty()) out += " | ";
    if (e.type == "separator") {
      out += "-";
      continue;
    }
    if (e.toggle_type == "checkmark") out += e.toggle_state == 1 ? "[x]" : "[ ]";
    if (!e.enabled) out += "(off)";
    out += e.label;
    if (!e.children.empty()) out += " {" + describe(e.children) + "}";
  }
  return out;
}

class Tray : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(bus_, nullptr);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    std::string script = page_path("../sni_watcher.py");
    watcher_ = fork();
    if (watcher_ == 0) {
      dup2(out[1], 1);
      execl("/usr/bin/python3", "python3", script.c_str(), nullptr);
      _exit(127);
    }
    close(out[1]);
    char buf[6] = {};
    ASSERT_EQ(read(out[0], buf, 5), 5);  // "ready"
    close(out[0]);

    icon_dir_ = g_dir_make_tmp("ovalis-tray-XXXXXX", nullptr);
    icon_ = icon_dir_ + "/tray.symbolic.png";
    ASSERT_TRUE(g_file_set_contents(icon_.c_str(), "png", 3, nullptr));

    b_ = new Backend;
    ASSERT_TRUE(b_->start({.extra_args = {"Tray App"},
                           .env = {{"OVALIS_APP_ID", "org.example.trayapp"},
                                   {"OVALIS_ICON", std::nullopt}}}));
    ASSERT_TRUE(b_->expect_prefix("SYS theme "));
  }
  static void TearDownTestSuite() {
    b_->send("QUIT");
    EXPECT_EQ(b_->wait_exit(), 0);
    delete b_;
    kill(watcher_, SIGTERM);
    waitpid(watcher_, nullptr, 0);
    g_unlink(icon_.c_str());
    g_rmdir(icon_dir_.c_str());
    g_object_unref(bus_);
  }

  static GVariant* call(const std::string& dest, const std::string& path, const char* iface,
                        const char* method, GVariant* args, const char* type) {
    return g_dbus_connection_call_sync(bus_, dest.c_str(), path.c_str(), iface, method, args,
                                       type ? G_VARIANT_TYPE(type) : nullptr,
                                       G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
  }
  static std::string prop(const std::string& dest, const std::string& path, const char* iface,
                          const char* name) {
    GVariant* r = call(dest, path, "org.freedesktop.DBus.Properties", "Get",
                       g_variant_new("(ss)", iface, name), "(v)");
    if (!r) return "";
    GVariant* v = nullptr;
    g_variant_get(r, "(v)", &v);
    std::string out = g_variant_is_of_type(v, G_VARIANT_TYPE_STRING) ||
                              g_variant_is_of_type(v, G_VARIANT_TYPE_OBJECT_PATH)
                          ? g_variant_get_string(v, nullptr)
                          : "";
    g_variant_unref(v);
    g_variant_unref(r);
    return out;
  }
  // The registered item as bus name and object path.
  static bool find_item() {
    for (int i = 0; i < 100; ++i) {
      GVariant* r = call("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                         "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", "org.kde.StatusNotifierWatcher",
                                       "RegisteredStatusNotifierItems"),
                         "(v)");
      if (r) {
        GVariant* v = nullptr;
        g_variant_get(r, "(v)", &v);
        gsize n = 0;
        const char** items = g_variant_get_strv(v, &n);
        std::string first = n ? items[0] : "";
        g_free(items);
        g_variant_unref(v);
        g_variant_unref(r);
        if (!first.empty()) {
          size_t slash = first.find('/');
          item_name_ = first.substr(0, slash);
          item_path_ = first.substr(slash);
          return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  static std::string item_prop(const char* name) {
    return prop(item_name_, item_path_, "org.kde.StatusNotifierItem", name);
  }
  static std::optional<Entry> layout() {
    std::string menu = item_prop("Menu");
    if (menu.empty()) return std::nullopt;
    GVariant* r = call(item_name_, menu, "com.canonical.dbusmenu", "GetLayout",
                       g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)),
                       "(u(ia{sv}av))");
    if (!r) return std::nullopt;
    GVariant* root = g_variant_get_child_value(r, 1);
    Entry e = parse_layout(root);
    g_variant_unref(root);
    g_variant_unref(r);
    return e;
  }
  // Waits until the exported menu reads as wanted (it is exported lazily).
  static std::string menu_reading(const std::string& want) {
    std::string got;
    for (int i = 0; i < 60; ++i) {
      if (auto l = layout()) got = describe(l->children);
      if (got == want) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return got;
  }
  static void click(const std::vector<int>& path) {
    auto l = layout();
    ASSERT_TRUE(l);
    const Entry* e = &*l;
    for (int i : path) e = &e->children.at(i);
    GVariant* r = call(item_name_, item_prop("Menu"), "com.canonical.dbusmenu", "Event",
                       g_variant_new("(isvu)", e->id, "clicked", g_variant_new_int32(0), 0u),
                       nullptr);
    if (r) g_variant_unref(r);
  }

  static GDBusConnection* bus_;
  static pid_t watcher_;
  static Backend* b_;
  static std::string icon_dir_, icon_, item_name_, item_path_;
};
GDBusConnection* Tray::bus_ = nullptr;
pid_t Tray::watcher_ = -1;
Backend* Tray::b_ = nullptr;
std::string Tray::icon_dir_, Tray::icon_, Tray::item_name_, Tray::item_path_;

TEST_F(Tray, ATrayWithoutEntriesIsOneClickEntry) {
  b_->send("TRAYBEGIN App");
  b_->send("TRAYEND");
  ASSERT_TRUE(find_item());
  EXPECT_EQ(item_prop("Id"), "org.example.trayapp");
  EXPECT_EQ(item_prop("Status"), "Active");
  EXPECT_EQ(item_prop("IconName"), "application-default-icon");
  EXPECT_EQ(prop(item_name_, item_path_, "org.kde.StatusNotifierItem", "XAyatanaLabel"), "App");
  EXPECT_EQ(menu_reading("App"), "App");
  click({0});
  EXPECT_EQ(b_->expect_prefix("TRAY", 3000), "TRAYCLICK");
}

TEST_F(Tray, EntriesSubmenusRolesAndTheClickEntry) {
  b_->send("TRAYBEGIN \tnot/absolute.png\t1\tMy tip\t1");
  for (const char* l : {"ITEM show\tShow\t\tc", "ROLEITEM copy", "SEP", "SUB more\tMore",
                        "ITEM deep\tDeep", "ROLEITEM standard", "SUBEND", "ITEM off\tOff\t\td",
                        "TRAYEND"})
    b_->send(l);
  EXPECT_EQ(menu_reading("My tip | - | [x]Show | - | More {Deep} | (off)Off"),
            "My tip | - | [x]Show | - | More {Deep} | (off)Off");
  EXPECT_EQ(item_prop("IconName"), "application-default-icon");  // relative path ignored

  click({2});
  EXPECT_EQ(b_->expect_prefix("TRAY", 3000), "TRAY show");
  click({4, 0});
  EXPECT_EQ(b_->expect_prefix("TRAY", 3000), "TRAY deep");
  click({5});  // disabled: nothing, even when a panel sends the event anyway
  click({0});
  EXPECT_EQ(b_->expect_prefix("TRAY", 3000), "TRAYCLICK");

  b_->send("GET 1 item:show");
  EXPECT_EQ(b_->expect_prefix("GOT 1 "),
            R"(GOT 1 {"exists":true,"label":"Show","checked":true,"enabled":true})");
  // Unticked entries are plain commands, never empty check boxes; the tick
  // comes and goes with updates, in place, and a click never moves it.
  b_->send("MENUUPD show\tShow window\t0\t");
  EXPECT_EQ(menu_reading("My tip | - | Show window | - | More {Deep} | (off)Off"),
            "My tip | - | Show window | - | More {Deep} | (off)Off");
  b_->send("MENUUPD deep\t\t1\t");
  EXPECT_EQ(menu_reading("My tip | - | Show window | - | More {[x]Deep} | (off)Off"),
            "My tip | - | Show window | - | More {[x]Deep} | (off)Off");
  click({4, 0});
  EXPECT_EQ(b_->expect_prefix("TRAY", 3000), "TRAY deep");
  b_->send("GET 2 item:deep");
  EXPECT_EQ(b_->expect_prefix("GOT 2 "),
            R"(GOT 2 {"exists":true,"label":"Deep","checked":true,"enabled":true})");
  EXPECT_EQ(menu_reading("My tip | - | Show window | - | More {[x]Deep} | (off)Off"),
            "My tip | - | Show window | - | More {[x]Deep} | (off)Off");
}

TEST_F(Tray, IconFileSetsTheThemePathAndName) {
  b_->send("TRAYBEGIN \t" + icon_ + "\t1\t\t0");
  b_->send("ITEM a\tA");
  b_->send("TRAYEND");
  for (int i = 0; i < 40 && item_prop("IconName") != "tray.symbolic"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(item_prop("IconName"), "tray.symbolic");
  EXPECT_EQ(item_prop("IconThemePath"), icon_dir_);
  // No title and no click entry asked for: the entries alone.
  EXPECT_EQ(menu_reading("A"), "A");
}

TEST_F(Tray, RemoveHidesAndTheNextTrayShowsAgain) {
  b_->send("TRAYREMOVE");
  for (int i = 0; i < 40 && item_prop("Status") != "Passive"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(item_prop("Status"), "Passive");
  b_->send("GET 2 item:a");
  EXPECT_EQ(b_->expect_prefix("GOT 2 "), R"(GOT 2 {"exists":false})");
  b_->send("TRAYBEGIN Back");
  b_->send("TRAYEND");
  for (int i = 0; i < 40 && item_prop("Status") != "Active"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(item_prop("Status"), "Active");
  EXPECT_EQ(menu_reading("Back"), "Back");
}

}  // namespace
