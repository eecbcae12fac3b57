// Notifications shown by the real notification-daemon. A bus monitor sees
// the Notify calls as the daemon receives them; the bubbles are clicked
// with the pointer, so clicks and actions come back the way a user makes
// them.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "harness.h"

using namespace e2e;

namespace {

std::mutex g_seen_mutex;
std::vector<std::string> g_seen;  // printed Notify arguments, in order

// Runs on the monitor connection's worker thread. Method calls seen are
// others' and kept from the rest of GDBus, since a monitor must never
// answer anything.
GDBusMessage* on_monitored(GDBusConnection*, GDBusMessage* msg, gboolean incoming, gpointer) {
  if (!incoming || g_dbus_message_get_message_type(msg) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
    return msg;
  if (g_strcmp0(g_dbus_message_get_member(msg), "Notify") == 0) {
    GVariant* body = g_dbus_message_get_body(msg);
    gchar* text = body ? g_variant_print(body, TRUE) : g_strdup("");
    std::lock_guard<std::mutex> lock(g_seen_mutex);
    g_seen.push_back(text);
    g_free(text);
  }
  g_object_unref(msg);
  return nullptr;
}

class Notify : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* addr = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(addr, nullptr);
    monitor_ = g_dbus_connection_new_for_address_sync(
        addr,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    ASSERT_NE(monitor_, nullptr);
    g_dbus_connection_add_filter(monitor_, on_monitored, nullptr, nullptr);
    const char* rules[] = {
        "type='method_call',interface='org.freedesktop.Notifications',member='Notify'", nullptr};
    GVariant* r = g_dbus_connection_call_sync(
        monitor_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
        "org.freedesktop.DBus.Monitoring", "BecomeMonitor",
        g_variant_new("(^asu)", rules, 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, 3000, nullptr,
        nullptr);
    ASSERT_NE(r, nullptr);
    g_variant_unref(r);
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);

    b_ = new Backend;
    ASSERT_TRUE(b_->start({.extra_args = {"Notes"},
                           .env = {{"OVALIS_APP_ID", "org.example.notes"},
                                   {"OVALIS_ICON", "/usr/share/icons/notes.png"}}}));
    ASSERT_TRUE(b_->expect_prefix("SYS theme "));
  }
  static void TearDownTestSuite() {
    b_->send("QUIT");
    EXPECT_EQ(b_->wait_exit(), 0);
    delete b_;
    g_object_unref(bus_);
    g_dbus_connection_close_sync(monitor_, nullptr, nullptr);
    g_object_unref(monitor_);
  }
  void SetUp() override { b_->collect(0); }

  // The arguments of the next Notify call the daemon received.
  static std::string next_notify() {
    std::string out;
    eventually(
        [&] {
      std::lock_guard<std::mutex> lock(g_seen_mutex);
      if (g_seen.empty()) return false;
      out = g_seen.front();
      g_seen.erase(g_seen.begin());
      return true;
    },
        8000);
    return out;
  }
  // The daemon's bubble windows on screen.
  static std::vector<std::string> bubbles() {
    std::vector<std::string> out;
    for (unsigned long w : find_windows(
             {.res_name = "notification-daemon", .popups = true, .report = false}, 0))
      out.push_back(std::to_string(w));
    return out;
  }
  static std::string one_bubble() {
    std::vector<std::string> list;
    eventually(
        [&] {
          list = bubbles();
          return list.size() == 1;
        },
        8000);
    return list.size() == 1 ? list[0] : "";
  }
  // Clicks at a point given from the bubble's top-left (negative: from its
  // bottom-right), as a user does.
  static void click(const std::string& win, int x, int y) {
    std::string geo = sh("xdotool getwindowgeometry " + win);
    int w = 0, h = 0;
    size_t g = geo.find("Geometry: ");
    if (g != std::string::npos) std::sscanf(geo.c_str() + g + 10, "%dx%d", &w, &h);
    if (x < 0) x += w;
    if (y < 0) y += h;
    sh("xdotool mousemove --window " + win + " " + std::to_string(x) + " " + std::to_string(y) +
       " click 1");
  }
  static bool bubbles_gone() {
    return eventually([] { return bubbles().empty(); }, 8000);
  }
  static bool nothing_reported() {
    b_->send("GET fence windows");
    b_->expect_prefix("GOT fence ");
    for (const std::string& l : b_->collect(300))
      if (l.starts_with("NOTIFY")) return false;
    return true;
  }

  static Backend* b_;
  static GDBusConnection* monitor_;
  static GDBusConnection* bus_;
};
Backend* Notify::b_ = nullptr;
GDBusConnection* Notify::monitor_ = nullptr;
GDBusConnection* Notify::bus_ = nullptr;

TEST_F(Notify, ArgumentsAsTheDaemonReceivesThem) {
  b_->send("NOTIFY n1\tHi\tThere\t\t1\t");
  EXPECT_EQ(next_notify(),
            "('Notes', uint32 0, '/usr/share/icons/notes.png', 'Hi', 'There', ['default', "
            "'Open'], {'desktop-entry': <'org.example.notes'>}, -1)");
  b_->send(R"(NOTIFY n2	Hi	Body	Sub	0	[{"id":"a","title":""},{"id":"","title":"x"}])");
  EXPECT_EQ(next_notify(),
            "('Notes', uint32 0, '/usr/share/icons/notes.png', 'Hi', 'Sub\\nBody', ['default', "
            "'Open', 'a', 'a'], {'desktop-entry': <'org.example.notes'>, 'suppress-sound': "
            "<true>}, -1)");
  // Text that is not UTF-8 is repaired rather than refused by the bus.
  b_->send("NOTIFY n3\tbad\xff\tbody\t\t1\t");
  EXPECT_NE(next_notify().find("'bad\xef\xbf\xbd', 'body'"), std::string::npos);
  // Closed by the application's peer the way any client can: the daemon
  // then reports them closed, and the launcher forgets them.
  for (guint32 id : {1u, 2u, 3u})
    if (GVariant* r = g_dbus_connection_call_sync(
            bus_, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
            "org.freedesktop.Notifications", "CloseNotification", g_variant_new("(u)", id),
            nullptr, G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr))
      g_variant_unref(r);
  EXPECT_TRUE(bubbles_gone());
  EXPECT_TRUE(nothing_reported());
}

TEST_F(Notify, ClickingTheBubbleAndItsButton) {
  E2E_X11_ONLY("clicks the daemon's bubble with xdotool");
  ASSERT_TRUE(bubbles_gone());
  b_->send("NOTIFY c1\tClick me\tbody text\t\t1\t");
  next_notify();
  std::string win = one_bubble();
  ASSERT_FALSE(win.empty());
  click(win, 120, 40);
  auto l = b_->expect_prefix("NOTIFY");
  ASSERT_TRUE(l);
  EXPECT_EQ(*l, "NOTIFYCLICK c1");
  ASSERT_TRUE(bubbles_gone());

  b_->send(R"(NOTIFY c2	Answer	question	Sub	1	[{"id":"reply","title":"Reply"}])");
  EXPECT_TRUE(next_notify().find("['default', 'Open', 'reply', 'Reply']") != std::string::npos);
  win = one_bubble();
  ASSERT_FALSE(win.empty());
  click(win, -72, -39);  // the one action button, bottom right
  l = b_->expect_prefix("NOTIFY");
  ASSERT_TRUE(l);
  EXPECT_EQ(*l, "NOTIFYACTION c2\treply\t");
  ASSERT_TRUE(bubbles_gone());

  // Sent without an id: clicks are not the application's business.
  b_->send("NOTIFY \tQuiet\tx\t\t1\t");
  next_notify();
  win = one_bubble();
  ASSERT_FALSE(win.empty());
  click(win, 120, 40);
  ASSERT_TRUE(bubbles_gone());
  EXPECT_TRUE(nothing_reported());
}

}  // namespace
