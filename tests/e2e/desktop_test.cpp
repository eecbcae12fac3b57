// Desktop services against real peers: xclip as the other application on
// the clipboard, the session bus for the dock's launcher-entry signals, the
// X server for urgency and icons, a fixture tree for the battery, and
// stand-ins for the login manager and the screen saver (a headless session
// has neither) on a private bus that the launcher takes for its system bus.
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "harness.h"

// After gtest: Xlib defines None and Bool as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace e2e;

namespace {

bool has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// A child process with its standard input and output on pipes.
struct Child {
  pid_t pid = -1;
  int in = -1, out = -1;
  std::string buf;

  bool start(const std::vector<std::string>& argv, const char* stdin_file = nullptr) {
    int ip[2], op[2];
    if (pipe(ip) != 0 || pipe(op) != 0) return false;
    pid = fork();
    if (pid == 0) {
      if (stdin_file) {
        int fd = open(stdin_file, O_RDONLY);
        dup2(fd, 0);
      } else {
        dup2(ip[0], 0);
      }
      dup2(op[1], 1);
      int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 2);
      std::vector<char*> args;
      for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(ip[0]);
    close(op[1]);
    in = ip[1];
    out = op[0];
    return pid > 0;
  }
  // The next line of output, waiting up to ms.
  std::optional<std::string> line(int ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      size_t nl = buf.find('\n');
      if (nl != std::string::npos) {
        std::string l = buf.substr(0, nl);
        buf.erase(0, nl + 1);
        return l;
      }
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      end - std::chrono::steady_clock::now())
                                      .count());
      if (left <= 0) return std::nullopt;
      pollfd p{out, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) continue;
      char tmp[512];
      ssize_t n = read(out, tmp, sizeof tmp);
      if (n <= 0) return std::nullopt;
      buf.append(tmp, static_cast<size_t>(n));
    }
  }
  // Lines until one equals want (the others are dropped); false on time-out.
  // A want ending in '*' matches any line it begins.
  bool wait_for(const std::string& want, int ms = 5000) {
    bool prefix = !want.empty() && want.back() == '*';
    std::string w = prefix ? want.substr(0, want.size() - 1) : want;
    while (auto l = line(ms))
      if (prefix ? l->starts_with(w) : *l == w) return true;
    return false;
  }
  // Lines until each of want has been seen, in any order.
  bool wait_all(std::vector<std::string> want, int ms = 5000) {
    while (!want.empty()) {
      auto l = line(ms);
      if (!l) return false;
      std::erase(want, *l);
    }
    return true;
  }
  void say(const std::string& s) {
    std::string l = s + "\n";
    ssize_t n = write(in, l.data(), l.size());
    (void)n;
  }
  void stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
    if (in >= 0) close(in);
    if (out >= 0) close(out);
    in = out = -1;
  }
};

// A small image whose every pixel differs, as a PNG file.
std::string write_fixture_png(const std::string& path, int w, int h) {
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, w, h);
  int stride = gdk_pixbuf_get_rowstride(pb);
  guchar* px = gdk_pixbuf_get_pixels(pb);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      guchar* p = px + y * stride + x * 4;
      p[0] = static_cast<guchar>(x * 30);
      p[1] = static_cast<guchar>(y * 40);
      p[2] = static_cast<guchar>(x * y * 7);
      p[3] = 255;
    }
  gdk_pixbuf_save(pb, path.c_str(), "png", nullptr, nullptr);
  g_object_unref(pb);
  return path;
}

// The RGBA bytes of a PNG, row by row, with its size in front; "" when unreadable.
std::string pixels_of(const std::string& png_bytes) {
  GdkPixbufLoader* l = gdk_pixbuf_loader_new();
  gdk_pixbuf_loader_write(l, reinterpret_cast<const guchar*>(png_bytes.data()), png_bytes.size(),
                          nullptr);
  gdk_pixbuf_loader_close(l, nullptr);
  GdkPixbuf* pb = gdk_pixbuf_loader_get_pixbuf(l);
  std::string out;
  if (pb) {
    GdkPixbuf* rgba = gdk_pixbuf_add_alpha(pb, FALSE, 0, 0, 0);
    int w = gdk_pixbuf_get_width(rgba), h = gdk_pixbuf_get_height(rgba);
    out = std::to_string(w) + "x" + std::to_string(h) + ":";
    for (int y = 0; y < h; ++y)
      out.append(reinterpret_cast<const char*>(gdk_pixbuf_get_pixels(rgba)) +
                     y * gdk_pixbuf_get_rowstride(rgba),
                 static_cast<size_t>(w) * 4);
    g_object_unref(rgba);
  }
  g_object_unref(l);
  return out;
}

std::string file_bytes(const std::string& path) {
  gchar* data = nullptr;
  gsize len = 0;
  if (!g_file_get_contents(path.c_str(), &data, &len, nullptr)) return "";
  std::string s(data, len);
  g_free(data);
  return s;
}

// One launcher-entry update as the dock sees it.
struct Update {
  std::string path, uri;
  gint64 count = 0;
  bool count_visible = false;
  double progress = 0;
  bool progress_visible = false;
};

void on_update(GDBusConnection*, const char*, const char* path, const char*, const char*,
               GVariant* params, gpointer user) {
  auto* list = static_cast<std::vector<Update>*>(user);
  Update u;
  u.path = path;
  const char* uri = nullptr;
  GVariantIter* it = nullptr;
  g_variant_get(params, "(&sa{sv})", &uri, &it);
  u.uri = uri;
  const char* key;
  GVariant* v;
  while (g_variant_iter_next(it, "{&sv}", &key, &v)) {
    std::string k = key;
    if (k == "count") u.count = g_variant_get_int64(v);
    if (k == "count-visible") u.count_visible = g_variant_get_boolean(v);
    if (k == "progress") u.progress = g_variant_get_double(v);
    if (k == "progress-visible") u.progress_visible = g_variant_get_boolean(v);
    g_variant_unref(v);
  }
  g_variant_iter_free(it);
  list->push_back(u);
}

class Desk : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = g_dir_make_tmp("ovalis-desk-XXXXXX", nullptr);
    ps_root_ = dir_ + "/power_supply";
    g_mkdir(ps_root_.c_str(), 0755);

    // The private "system" bus and the stand-ins on it.
    ASSERT_TRUE(sysbus_.start({"dbus-daemon", "--session", "--nofork", "--print-address"}));
    auto addr = sysbus_.line(10000);
    ASSERT_TRUE(addr);
    sys_addr_ = *addr;
    ASSERT_TRUE(standin_.start(
        {"/usr/bin/python3", page_path("../power_standin.py"), sys_addr_}));
    ASSERT_TRUE(standin_.wait_for("ready", 15000));

    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(bus_, nullptr);
    g_dbus_connection_signal_subscribe(bus_, nullptr, "com.canonical.Unity.LauncherEntry",
                                       "Update", nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                       on_update, &updates_, nullptr);

    b_ = new Backend;
    ASSERT_TRUE(b_->start({.extra_args = {"Desk Test"},
                           .env = {{"OVALIS_APP_ID", "org.example.desk"},
                                   {"OVALIS_ICON", std::nullopt},
                                   {"DBUS_SYSTEM_BUS_ADDRESS", sys_addr_},
                                   {"OVALIS_POWER_SUPPLY_ROOT", ps_root_}}}));
    ASSERT_TRUE(b_->expect_prefix("SYS theme "));
    if (unsigned long w = find_window({.name = "Desk Test"})) xid_ = std::to_string(w);
  }
  static void TearDownTestSuite() {
    if (b_) {
      b_->send("QUIT");
      EXPECT_EQ(b_->wait_exit(), 0);
      delete b_;
    }
    for (pid_t p : clip_owners_) {
      kill(p, SIGTERM);
      waitpid(p, nullptr, 0);
    }
    standin_.stop();
    sysbus_.stop();
    if (bus_) g_object_unref(bus_);
    sh("rm -rf '" + dir_ + "'");
  }
  void SetUp() override { b_->collect(0); }

  static std::string get(const std::string& key) {
    std::string id = "d" + std::to_string(++seq_);
    b_->send("GET " + id + " " + key);
    auto l = b_->expect_prefix("GOT " + id + " ");
    return l ? l->substr(5 + id.size()) : "";
  }
  static std::string request(const std::string& kw, const std::string& rest) {
    std::string id = "r" + std::to_string(++seq_);
    b_->send(kw + " " + id + " " + rest);
    auto l = b_->expect_prefix("GOT " + id + " ");
    return l ? l->substr(5 + id.size()) : "";
  }
  // Another application takes the clipboard with one target.
  static void other_app_copies(const std::string& file, const std::string& target) {
    Child c;
    ASSERT_TRUE(c.start({"xclip", "-quiet", "-selection", "clipboard", "-t", target, "-i"},
                        file.c_str()));
    clip_owners_.push_back(c.pid);
    // Served by xclip itself, not by the owner before it.
    std::string want = file_bytes(file);
    ASSERT_TRUE(eventually([&] { return paste(target) == want; }, 8000)) << target;
  }
  static std::string paste(const std::string& target) {
    return sh("xclip -selection clipboard -o -t '" + target + "' 2>/dev/null");
  }
  // Watching on or off, in effect before any later clipboard change.
  static void watch(const char* line) {
    b_->send(line);
    get("windows");
  }
  static std::string write_file(const std::string& name, const std::string& text) {
    std::string path = dir_ + "/" + name;
    g_file_set_contents(path.c_str(), text.c_str(), static_cast<gssize>(text.size()), nullptr);
    return path;
  }
  // Launcher-entry updates that arrived since the last call.
  static std::vector<Update> updates(size_t want, int ms = 3000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (updates_.size() < want && std::chrono::steady_clock::now() < end) {
      if (!g_main_context_iteration(nullptr, FALSE))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    std::vector<Update> out;
    out.swap(updates_);
    return out;
  }

  static Backend* b_;
  static Child sysbus_, standin_;
  static std::string dir_, ps_root_, sys_addr_, xid_;
  static GDBusConnection* bus_;
  static std::vector<Update> updates_;
  static std::vector<pid_t> clip_owners_;
  static int seq_;
};
Backend* Desk::b_ = nullptr;
Child Desk::sysbus_, Desk::standin_;
std::string Desk::dir_, Desk::ps_root_, Desk::sys_addr_, Desk::xid_;
GDBusConnection* Desk::bus_ = nullptr;
std::vector<Update> Desk::updates_;
std::vector<pid_t> Desk::clip_owners_;
int Desk::seq_ = 0;

// The headless compositor has no seat, and so no clipboard: writes are
// dropped, reads find it empty, and the program goes on answering.
TEST_F(Desk, SeatlessWaylandClipboardIsEmptyAndWritesAreDropped) {
  if (!on_wayland()) GTEST_SKIP() << "a Wayland session without a seat";
  watch("CLIPWATCH 1");
  b_->send("CLIPWRITE hello\t<b>hi</b>\t\t\t/tmp/x.txt");
  EXPECT_EQ(get("clipboard"),
            "{\"kind\":\"empty\",\"changeCount\":0,\"text\":null,\"html\":null,\"paths\":[],"
            "\"image\":null,\"imageSize\":null,\"color\":null,\"concealed\":false,"
            "\"sourceApp\":null,\"sourceURL\":null}");
  EXPECT_FALSE(b_->expect_prefix("CLIPCHANGE ", 300));
  watch("CLIPWATCH 0");
  EXPECT_EQ(get("windows"), "[\"main\"]");
}

TEST_F(Desk, ClipboardTextAndHtmlRoundTripWithTheSelfMarker) {
  E2E_X11_ONLY("the other application is xclip");
  watch("CLIPWATCH 1");
  other_app_copies(write_file("t.txt", "from xclip \xc3\xa9"), "UTF8_STRING");
  auto change = b_->expect_prefix("CLIPCHANGE ");
  ASSERT_TRUE(change);
  EXPECT_TRUE(change->ends_with(" 0")) << *change;
  std::string j = get("clipboard");
  EXPECT_TRUE(j.starts_with("{\"kind\":\"text\",\"changeCount\":")) << j;
  // (xclip hands its text out for any target, HTML included.)
  EXPECT_TRUE(has(j, "\"text\":\"from xclip \xc3\xa9\",")) << j;
  EXPECT_TRUE(has(j, "\"paths\":[],\"image\":null,\"imageSize\":null,\"color\":null,"
                     "\"concealed\":false,\"sourceApp\":null,\"sourceURL\":null}"))
      << j;

  b_->send("CLIPWRITE hello\\tworld\t<b>hi</b>\t\t\t");
  change = b_->expect_prefix("CLIPCHANGE ");
  ASSERT_TRUE(change);
  EXPECT_TRUE(change->ends_with(" 1")) << *change;
  std::string n = change->substr(11, change->find(' ', 11) - 11);
  EXPECT_EQ(get("clipboard:count"), "{\"changeCount\":" + n + "}");
  std::string targets = paste("TARGETS");
  for (const char* t : {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "text/html"})
    EXPECT_TRUE(has(targets, t)) << t << " in " << targets;
  EXPECT_FALSE(has(targets, "image/png"));
  EXPECT_FALSE(has(targets, "text/uri-list"));
  EXPECT_EQ(paste("UTF8_STRING"), "hello\tworld");
  EXPECT_EQ(paste("text/html"), "<b>hi</b>");
  // Reading back what we offer goes through the same nested waits.
  j = get("clipboard");
  EXPECT_TRUE(has(j, "\"kind\":\"text\"")) << j;
  EXPECT_TRUE(has(j, "\"text\":\"hello\\tworld\",\"html\":\"<b>hi</b>\"")) << j;

  // Someone else's copy after our write is not ours.
  other_app_copies(write_file("t2.txt", "again"), "UTF8_STRING");
  change = b_->expect_prefix("CLIPCHANGE ");
  ASSERT_TRUE(change);
  EXPECT_TRUE(change->ends_with(" 0")) << *change;

  // Only the fallback text: the three text targets serve it.
  b_->send("CLIPWRITE \t\t\t#ff8800");
  ASSERT_TRUE(b_->expect_prefix("CLIPCHANGE "));
  targets = paste("TARGETS");
  EXPECT_TRUE(has(targets, "text/plain;charset=utf-8")) << targets;
  EXPECT_FALSE(has(targets, "text/html")) << targets;
  EXPECT_EQ(paste("text/plain"), "#ff8800");
}

TEST_F(Desk, ClipboardImagesKeepTheirPixels) {
  E2E_X11_ONLY("the other application is xclip");
  std::string png = write_fixture_png(dir_ + "/fix.png", 7, 5);
  std::string want = pixels_of(file_bytes(png));
  ASSERT_TRUE(want.starts_with("7x5:"));
  std::string raw = file_bytes(png);
  gchar* enc = g_base64_encode(reinterpret_cast<const guchar*>(raw.data()), raw.size());
  std::string b64 = enc;
  g_free(enc);

  // As a data URL, and as a path: offered as PNG with the same pixels.
  for (std::string src : {"data:image/png;base64," + b64, png}) {
    b_->send("CLIPWRITE \t\t" + src + "\t\t");
    ASSERT_TRUE(eventually([] { return has(paste("TARGETS"), "image/png"); })) << src;
    EXPECT_FALSE(has(paste("TARGETS"), "UTF8_STRING"));
    EXPECT_EQ(pixels_of(paste("image/png")), want);
  }
  // An image copied elsewhere: saved where the answer says, pixels intact.
  other_app_copies(png, "image/png");
  std::string j = get("clipboard");
  EXPECT_TRUE(j.starts_with("{\"kind\":\"image\"")) << j;
  EXPECT_TRUE(has(j, "\"imageSize\":{\"width\":7,\"height\":5}")) << j;
  size_t at = j.find("\"image\":\"");
  ASSERT_NE(at, std::string::npos) << j;
  std::string path = j.substr(at + 9, j.find('"', at + 9) - at - 9);
  EXPECT_EQ(path, std::string(g_get_tmp_dir()) + "/ovalis-clip-" + std::to_string(b_->pid()) + ".png");
  EXPECT_EQ(pixels_of(file_bytes(path)), want);
}

TEST_F(Desk, ClipboardFileListsAndWatchingOff) {
  E2E_X11_ONLY("the other application is xclip");
  watch("CLIPWATCH 1");
  b_->send("CLIPWRITE \t\t\t\t/tmp/a b.txt\t\t/tmp/c\u00e9");
  ASSERT_TRUE(b_->expect_prefix("CLIPCHANGE "));
  std::string uris = paste("text/uri-list");
  EXPECT_TRUE(has(uris, "file:///tmp/a%20b.txt")) << uris;
  EXPECT_TRUE(has(uris, "file:///tmp/c%C3%A9")) << uris;
  EXPECT_FALSE(has(paste("TARGETS"), "UTF8_STRING"));
  std::string j = get("clipboard");
  EXPECT_TRUE(j.starts_with("{\"kind\":\"files\"")) << j;
  EXPECT_TRUE(has(j, "\"paths\":[\"/tmp/a b.txt\",\"/tmp/c\u00e9\"]")) << j;

  // Not watching: the counter still moves, but nothing is reported.
  for (const char* off : {"CLIPWATCH 0", "CLIPWATCH abc"}) {
    watch(off);
    std::string before = get("clipboard:count");
    b_->send("CLIPWRITE x\t\t\t");
    ASSERT_TRUE(eventually([&] { return get("clipboard:count") != before; }));
    EXPECT_TRUE(b_->collect(200, [](const std::string& l) { return l.starts_with("CLIPCHANGE"); })
                    .empty())
        << off;
  }
}

// What a file manager and a browser put on the clipboard: several targets,
// and the kind that wins among them.
TEST_F(Desk, ClipboardKindsFromAnApplicationOfferingSeveralTargets) {
  E2E_X11_ONLY("the other application is xclip");
  auto owns = [](std::vector<std::string> args) {
    Child c;
    args.insert(args.begin(), CLIP_OWNER_BIN);
    EXPECT_TRUE(c.start(args));
    EXPECT_TRUE(c.wait_for("owned", 10000));
    clip_owners_.push_back(c.pid);
  };
  owns({"text/uri-list", write_file("u.txt", "file:///tmp/one%20two.txt\r\nhttps://example.org/x\r\n"),
        "UTF8_STRING", write_file("u2.txt", "one two.txt")});
  std::string j = get("clipboard");
  EXPECT_TRUE(j.starts_with("{\"kind\":\"files\"")) << j;
  EXPECT_TRUE(has(j, "\"text\":\"one two.txt\",\"html\":null,\"paths\":[\"/tmp/one two.txt\"],"
                     "\"image\":null"))
      << j;

  std::string png = write_fixture_png(dir_ + "/b.png", 3, 2);
  // Some programs hand HTML out as UTF-16.
  std::string u16;
  for (char ch : std::string("<img src=x>")) u16 += std::string{ch, '\0'};
  owns({"image/png", png, "UTF8_STRING", write_file("alt.txt", "a picture"), "text/html",
        write_file("h.html", u16)});
  j = get("clipboard");
  EXPECT_TRUE(j.starts_with("{\"kind\":\"image\"")) << j;
  EXPECT_TRUE(has(j, "\"text\":\"a picture\",\"html\":\"<img src=x>\",\"paths\":[],")) << j;
  EXPECT_TRUE(has(j, "\"imageSize\":{\"width\":3,\"height\":2}")) << j;
}

TEST_F(Desk, ClipboardReadsNestedInsideReadsAllAnswer) {
  E2E_X11_ONLY("the other application is xclip");
  other_app_copies(write_file("n.txt", "nested"), "UTF8_STRING");
  // Sent in one burst: the later lines are handled while the first read
  // waits on xclip, each still answered exactly once.
  b_->send("GET n1 clipboard\nGET n2 clipboard\nGET n3 clipboard:count\nGET n4 windows");
  std::vector<std::string> got;
  for (int i = 0; i < 4; ++i) {
    auto l = b_->expect_prefix("GOT n");
    ASSERT_TRUE(l);
    got.push_back(*l);
  }
  std::sort(got.begin(), got.end());
  EXPECT_TRUE(has(got[0], "\"text\":\"nested\"")) << got[0];
  EXPECT_EQ(got[0].substr(6), got[1].substr(6));
  EXPECT_TRUE(got[2].starts_with("GOT n3 {\"changeCount\":"));
  EXPECT_EQ(got[3], "GOT n4 [\"main\"]");
  EXPECT_TRUE(b_->collect(200, [](const std::string& l) { return l.starts_with("GOT n"); }).empty());
}

TEST_F(Desk, BatteryFromThePowerSupplyTree) {
  EXPECT_EQ(get("battery"), "null");  // a desktop: mains only
  g_mkdir((ps_root_ + "/AC").c_str(), 0755);
  write_file("power_supply/AC/online", "1\n");
  EXPECT_EQ(get("battery"), "null");
  g_mkdir((ps_root_ + "/BAT0").c_str(), 0755);
  write_file("power_supply/BAT0/capacity", "87\n");
  write_file("power_supply/BAT0/status", "Not charging\n");
  EXPECT_EQ(get("battery"),
            R"({"percent":87,"charging":false,"plugged":true,"minutesRemaining":null})");
  write_file("power_supply/BAT0/status", "Discharging\n");
  EXPECT_EQ(get("battery"),
            R"({"percent":87,"charging":false,"plugged":false,"minutesRemaining":null})");
  // Odd driver text must not break the answer.
  write_file("power_supply/BAT0/capacity", "unknown\n");
  write_file("power_supply/BAT0/status", "Charging");
  EXPECT_EQ(get("battery"),
            R"({"percent":null,"charging":true,"plugged":true,"minutesRemaining":null})");
  g_unlink((ps_root_ + "/BAT0/capacity").c_str());
  EXPECT_TRUE(get("battery").starts_with("{\"percent\":null,"));
}

TEST_F(Desk, PowerHoldsAndReleasesTheLocks) {
  // The stand-in sees a closed lock whenever its pipe hangs up, so each
  // step's events are awaited as a set.
  EXPECT_EQ(request("POWER", "on\t\tDownloading"), R"({"ok":true,"active":true})");
  EXPECT_TRUE(standin_.wait_all({"inhibit sleep:idle Desk_Test Downloading block 1"}));
  // A second request drops the first lock before taking its own.
  EXPECT_EQ(request("POWER", "on\t1\tPlaying video"), R"({"ok":true,"active":true})");
  EXPECT_TRUE(standin_.wait_all({"closed 1", "inhibit sleep:idle Desk_Test Playing_video block 2",
                                 "ssinhibit Desk_Test Playing_video 1"}));
  EXPECT_EQ(request("POWER", "off"), R"({"ok":true,"active":false})");
  EXPECT_TRUE(standin_.wait_all({"closed 2", "ssuninhibit 1"}));
  // No reason: the application's name stands in.
  EXPECT_EQ(request("POWER", "on\t\t"), R"({"ok":true,"active":true})");
  EXPECT_TRUE(standin_.wait_all({"inhibit sleep:idle Desk_Test Desk_Test block 3"}));
  // A reason that is not UTF-8 still reaches the bus, repaired.
  EXPECT_EQ(request("POWER", "on\t\tbad\xff"), R"({"ok":true,"active":true})");
  EXPECT_TRUE(standin_.wait_all({"closed 3", "inhibit sleep:idle Desk_Test bad\xef\xbf\xbd block 4"}));
  EXPECT_EQ(request("POWER", "off\t\t"), R"({"ok":true,"active":false})");
  EXPECT_TRUE(standin_.wait_all({"closed 4"}));
}

TEST_F(Desk, IdleTimeFromTheIdleMonitor) { EXPECT_EQ(get("idle"), R"({"seconds":12.3})"); }

TEST_F(Desk, SleepAndWakeAreReported) {
  standin_.say("sleep 1");
  EXPECT_TRUE(b_->expect([](const std::string& l) { return l == "SYS sleep"; }));
  standin_.say("sleep 0");
  EXPECT_TRUE(b_->expect([](const std::string& l) { return l == "SYS wake"; }));
}

TEST_F(Desk, BadgeAndProgressReachTheDock) {
  updates(0, 0);
  std::string uri = "application://org.example.desk.desktop";
  std::string path = "/com/canonical/unity/launcherentry/" + std::to_string(g_str_hash(uri.c_str()));
  struct Step {
    const char* line;
    gint64 count;
    bool cv;
    double progress;
    bool pv;
  };
  Step steps[] = {
      {"BADGE 3", 3, true, 0.0, false},       {"PROGRESS 0.5", 3, true, 0.5, true},
      {"PROGRESS 7", 3, true, 1.0, true},     {"BADGE x3", 0, false, 1.0, true},
      {"BADGE 3x", 0, false, 1.0, true},      {"PROGRESS -0.2", 0, false, 0.0, false},
      {"BADGE 12", 12, true, 0.0, false},     {"BADGE ", 0, false, 0.0, false},
      {"PROGRESS 0.25", 0, false, 0.25, true}, {"PROGRESS", 0, false, 0.0, false},
  };
  for (const Step& s : steps) {
    b_->send(s.line);
    auto got = updates(1);
    ASSERT_EQ(got.size(), 1u) << s.line;
    EXPECT_EQ(got[0].path, path);
    EXPECT_EQ(got[0].uri, uri);
    EXPECT_EQ(got[0].count, s.count) << s.line;
    EXPECT_EQ(got[0].count_visible, s.cv) << s.line;
    EXPECT_DOUBLE_EQ(got[0].progress, s.progress) << s.line;
    EXPECT_EQ(got[0].progress_visible, s.pv) << s.line;
  }
}

TEST_F(Desk, AttentionAndTheWindowIcon) {
  E2E_X11_ONLY("reads the urgency hint and _NET_WM_ICON");
  ASSERT_FALSE(xid_.empty());
  Window w = std::stoul(xid_, nullptr, 0);
  auto urgent = [w] {
    Display* d = XOpenDisplay(nullptr);
    XWMHints* h = XGetWMHints(d, w);
    bool u = h && (h->flags & XUrgencyHint);
    if (h) XFree(h);
    XCloseDisplay(d);
    return u;
  };
  EXPECT_FALSE(urgent());
  b_->send("ATTENTION");
  EXPECT_TRUE(eventually(urgent));

  auto icon = [] { return sh("xprop -id " + xid_ + " _NET_WM_ICON | head -c 60"); };
  std::string initial = icon();
  std::string png = write_fixture_png(dir_ + "/icon.png", 20, 10);
  b_->send("APPICON " + png);
  EXPECT_TRUE(eventually([&] { return has(icon(), "20 x 10"); })) << icon();
  b_->send("APPICON /missing.png");
  get("windows");
  EXPECT_TRUE(has(icon(), "20 x 10")) << icon();
  b_->send("APPICON ");
  EXPECT_TRUE(eventually([&] { return icon() == initial; })) << icon();
}

// Without a system bus or an application id: the display inhibition alone
// keeps the machine awake, and badges change state without a broadcast.
TEST_F(Desk, NoSystemBusAndNoAppId) {
  Backend other;
  ASSERT_TRUE(other.start({.extra_args = {"Other"},
                           .env = {{"OVALIS_APP_ID", std::nullopt},
                                   {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir_ + "/none"}}}));
  ASSERT_TRUE(other.expect_prefix("SYS theme "));
  other.send("POWER p1 on\t\tx");
  EXPECT_EQ(other.expect_prefix("GOT p1 "), R"(GOT p1 {"ok":false,"active":false})");
  other.send("POWER p2 on\t1\tx");
  EXPECT_EQ(other.expect_prefix("GOT p2 "), R"(GOT p2 {"ok":true,"active":true})");
  EXPECT_TRUE(standin_.wait_for("ssinhibit Other x *"));
  updates(0, 0);
  other.send("BADGE 5");
  other.send("PROGRESS 0.5");
  other.send("GET g1 windows");
  ASSERT_TRUE(other.expect_prefix("GOT g1 "));
  EXPECT_TRUE(updates(1, 500).empty());
  other.send("QUIT");
  EXPECT_EQ(other.wait_exit(), 0);
}

}  // namespace
