// Screen capture of the real display, thumbnails of images made here, and
// colour picking through the real xdg-desktop-portal with a small Screenshot
// backend (Debian has none that works headless). Runs in a session of its
// own, since it replaces the session's portal.
#include <gtest/gtest.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <glib/gstdio.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "harness.h"

// Last: Xlib's macros (None, Status) clash with names in the headers above.
#include <X11/Xlib.h>

using namespace e2e;

namespace {

std::string ask(Backend& b, const std::string& id, const std::string& line, int ms = 10000) {
  b.send(line);
  auto got = b.expect_prefix("GOT " + id + " ", ms);
  return got ? got->substr(5 + id.size()) : "<none>";
}

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Starts a helper script and waits for its "ready" line.
pid_t start_ready(const std::vector<std::string>& argv,
                  const std::vector<std::pair<std::string, std::string>>& env = {}) {
  int out[2];
  if (pipe(out) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    for (auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    dup2(out[1], 1);
    std::vector<char*> a;
    for (auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    execv(a[0], a.data());
    _exit(127);
  }
  close(out[1]);
  char buf[6] = {};
  bool ok = read(out[0], buf, 5) == 5;
  close(out[0]);
  return ok ? pid : -1;
}

void stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

// True once the session's portal offers colour picking.
bool portal_has_screenshot(GDBusConnection* bus) {
  GVariant* r = g_dbus_connection_call_sync(
      bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
      "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", "org.freedesktop.portal.Screenshot", "version"), nullptr,
      G_DBUS_CALL_FLAGS_NO_AUTO_START, 1000, nullptr, nullptr);
  if (r) g_variant_unref(r);
  return r != nullptr;
}

class Capture : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = g_dir_make_tmp("ovalis-capture-test-XXXXXX", nullptr);
    control_ = dir_ + "/pick";
    g_file_set_contents(control_.c_str(), "1.0 0.5 0.0", -1, nullptr);
    std::string portals = dir_ + "/portals";
    g_mkdir(portals.c_str(), 0755);
    g_file_set_contents((portals + "/ovalistest.portal").c_str(),
                        "[portal]\nDBusName=org.freedesktop.impl.portal.desktop.ovalistest\n"
                        "Interfaces=org.freedesktop.impl.portal.Screenshot;"
                        "org.freedesktop.impl.portal.Access;\nUseIn=ovalistest\n",
                        -1, nullptr);
    backend_ = start_ready(
        {"/usr/bin/python3", page_path("../screenshot_backend.py"), control_});
    // The real portal, told where its backends are described.
    portal_ = fork();
    if (portal_ == 0) {
      setenv("XDG_DESKTOP_PORTAL_DIR", portals.c_str(), 1);
      setenv("XDG_CURRENT_DESKTOP", "ovalistest", 1);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execl("/usr/libexec/xdg-desktop-portal", "xdg-desktop-portal", "--replace", nullptr);
      _exit(127);
    }
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    for (int i = 0; i < 300 && !portal_has_screenshot(bus_); ++i) g_usleep(50000);
    b_ = new Backend;
    if (!b_->start({.env = {{"OVALIS_NO_MAIN_WINDOW", "1"}}})) {
      delete b_;
      b_ = nullptr;
    }
  }
  static void TearDownTestSuite() {
    if (b_) {
      b_->send("QUIT");
      EXPECT_EQ(b_->wait_exit(), 0);
      delete b_;
    }
    stop(portal_);
    stop(backend_);
    if (bus_) g_object_unref(bus_);
    sh("rm -rf '" + dir_ + "'");
  }
  void SetUp() override {
    ASSERT_NE(b_, nullptr);
    ASSERT_GT(backend_, 0);
  }
  static void pick_answer(const char* what) {
    g_file_set_contents(control_.c_str(), what, -1, nullptr);
  }

  static Backend* b_;
  static std::string dir_, control_;
  static pid_t backend_, portal_;
  static GDBusConnection* bus_;
};
Backend* Capture::b_ = nullptr;
std::string Capture::dir_, Capture::control_;
pid_t Capture::backend_ = -1, Capture::portal_ = -1;
GDBusConnection* Capture::bus_ = nullptr;

std::string json_str(const std::string& json, const std::string& key) {
  size_t at = json.find("\"" + key + "\":");
  if (at == std::string::npos) return "";
  auto v = json_string_value(json.substr(at + key.size() + 3));
  return v ? *v : "";
}
int json_int(const std::string& json, const std::string& key) {
  size_t at = json.find("\"" + key + "\":");
  return at == std::string::npos ? -1 : std::atoi(json.c_str() + at + key.size() + 3);
}

// The RGB of one pixel of a PNG file, as 0xRRGGBB; -1 when unreadable.
long pixel(const std::string& png, int x, int y) {
  GdkPixbuf* p = gdk_pixbuf_new_from_file(png.c_str(), nullptr);
  if (!p) return -1;
  const guchar* px = gdk_pixbuf_get_pixels(p) + y * gdk_pixbuf_get_rowstride(p) +
                     x * gdk_pixbuf_get_n_channels(p);
  long rgb = (px[0] << 16) | (px[1] << 8) | px[2];
  g_object_unref(p);
  return rgb;
}

TEST_F(Capture, ScreenIsSavedAtDisplaySizeWithItsPixels) {
  Display* d = XOpenDisplay(nullptr);
  ASSERT_NE(d, nullptr);
  int sw = DisplayWidth(d, DefaultScreen(d)), sh_ = DisplayHeight(d, DefaultScreen(d));
  // An override-redirect window: placed exactly where asked, no frame.
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  attrs.background_pixel = 0x2080c0;
  Window w = XCreateWindow(d, DefaultRootWindow(d), 40, 60, 200, 120, 0, CopyFromParent,
                           InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
  XMapRaised(d, w);
  XSync(d, False);

  std::string json, path;
  long seen = -1;
  for (int i = 0; i < 50 && seen != 0x2080c0; ++i) {
    if (!path.empty()) g_unlink(path.c_str());
    json = ask(*b_, "c" + std::to_string(i), "CAPTURE c" + std::to_string(i));
    path = json_str(json, "path");
    seen = pixel(path, 140, 120);
  }
  EXPECT_EQ(seen, 0x2080c0) << json;
  EXPECT_EQ(json_int(json, "width"), sw);
  EXPECT_EQ(json_int(json, "height"), sh_);
  GdkPixbuf* p = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(p), sw);
  EXPECT_EQ(gdk_pixbuf_get_height(p), sh_);
  g_object_unref(p);
  std::string prefix = std::string(g_get_tmp_dir()) + "/ovalis-capture-" +
                       std::to_string(b_->pid()) + "-";
  EXPECT_EQ(path.rfind(prefix, 0), 0u) << path;
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  g_unlink(path.c_str());
  XDestroyWindow(d, w);
  XCloseDisplay(d);
}

// A PNG of w by h, left half red and right half blue.
std::string make_image(const std::string& path, int w, int h) {
  GdkPixbuf* p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
  gdk_pixbuf_fill(p, 0x0000ffff);
  GdkPixbuf* left = gdk_pixbuf_new_subpixbuf(p, 0, 0, w / 2, h);
  gdk_pixbuf_fill(left, 0xff0000ff);
  g_object_unref(left);
  gdk_pixbuf_save(p, path.c_str(), "png", nullptr, nullptr);
  g_object_unref(p);
  return path;
}

TEST_F(Capture, ThumbnailsAreDoubleDensityAndNeverEnlarged) {
  std::string photo = make_image(dir_ + "/photo.png", 4000, 3000);
  std::string wide = make_image(dir_ + "/wide\tname.png", 1000, 500);
  std::string small = make_image(dir_ + "/small.png", 300, 200);
  std::string huge = make_image(dir_ + "/huge.png", 6000, 600);
  struct Case {
    std::string line, w, h;
  };
  // The size field defaults to 256 when missing, unparsable or below 1.
  std::string esc = wire_escape(wide);
  for (const Case& c : {Case{photo + "\t256", "512", "384"}, Case{esc, "512", "256"},
                        Case{esc + "\tabc", "512", "256"}, Case{esc + "\t0", "512", "256"},
                        Case{esc + "\t100", "200", "100"}, Case{small + "\t256", "300", "200"},
                        Case{small + "\t50", "100", "66"},
                        // Sizes are capped at 2048, so a huge one never loads the whole image.
                        Case{huge + "\t999999999", "4096", "409"}}) {
    std::string json = ask(*b_, "t", "THUMB t " + c.line);
    EXPECT_EQ(std::to_string(json_int(json, "width")), c.w) << c.line << " " << json;
    EXPECT_EQ(std::to_string(json_int(json, "height")), c.h) << c.line;
    std::string out = json_str(json, "path");
    GdkPixbuf* p = gdk_pixbuf_new_from_file(out.c_str(), nullptr);
    ASSERT_NE(p, nullptr) << json;
    EXPECT_EQ(std::to_string(gdk_pixbuf_get_width(p)), c.w);
    EXPECT_EQ(std::to_string(gdk_pixbuf_get_height(p)), c.h);
    g_object_unref(p);
    // Still the picture: red on the left, blue on the right.
    EXPECT_EQ(pixel(out, 2, 2), 0xff0000);
    EXPECT_EQ(pixel(out, std::stoi(c.w) - 3, 2), 0x0000ff);
    EXPECT_EQ(out.rfind(std::string(g_get_tmp_dir()) + "/ovalis-thumb-", 0), 0u);
    g_unlink(out.c_str());
  }
  std::string text = dir_ + "/notes.txt";
  g_file_set_contents(text.c_str(), "not an image", -1, nullptr);
  EXPECT_EQ(ask(*b_, "t1", "THUMB t1 " + text), R"({"ok":false,"error":"no thumbnail"})");
  EXPECT_EQ(ask(*b_, "t2", "THUMB t2 " + dir_ + "/missing.png\t64"),
            R"({"ok":false,"error":"no such file"})");
  EXPECT_EQ(ask(*b_, "t3", "THUMB t3 "), R"({"ok":false,"error":"no such file"})");
}

TEST_F(Capture, PickedColourAndCancelAnswerOnce) {
  pick_answer("1.0 0.5 0.0");
  EXPECT_EQ(ask(*b_, "p1", "PICKCOLOR p1"), R"({"ok":true,"color":"#ff8000"})");
  // The request went to the path the token names.
  std::string log = read_file(control_ + ".log");
  EXPECT_TRUE(g_regex_match_simple("^PickColor /org/freedesktop/portal/desktop/request/1_[0-9]+/"
                                   "ovalis[0-9]+\n$",
                                   log.c_str(), G_REGEX_MULTILINE, GRegexMatchFlags(0)))
      << log;
  pick_answer("0.0 0.2 1.0");
  EXPECT_EQ(ask(*b_, "p2", "PICKCOLOR p2"), R"({"ok":true,"color":"#0033ff"})");
  pick_answer("cancel");
  EXPECT_EQ(ask(*b_, "p3", "PICKCOLOR p3"), R"({"ok":true,"color":null})");
  // Out-of-range components from a careless backend still give a colour.
  pick_answer("1.5 -0.5 nan");
  EXPECT_EQ(ask(*b_, "p4", "PICKCOLOR p4"), R"({"ok":true,"color":"#ff0000"})");
  EXPECT_TRUE(b_->collect(300, [](const std::string& l) { return l.rfind("GOT p", 0) == 0; })
                  .empty());
}

// Last: it stops the portal.
TEST_F(Capture, OverlappingPicksEachAnswerOnceWhenThePortalGoes) {
  pick_answer("hold");
  auto logged = [] {
    std::string log = read_file(control_ + ".log");
    return std::count(log.begin(), log.end(), '\n');
  };
  long before = logged();
  b_->send("PICKCOLOR h1");
  b_->send("PICKCOLOR h2");
  // Both requests reached the backend and wait there.
  for (int i = 0; i < 200 && logged() < before + 2; ++i) g_usleep(20000);
  ASSERT_EQ(logged(), before + 2);
  EXPECT_TRUE(b_->collect(300, [](const std::string& l) { return l.rfind("GOT h", 0) == 0; })
                  .empty());
  stop(portal_);
  auto a1 = b_->expect_prefix("GOT h1 ");
  auto a2 = b_->expect_prefix("GOT h2 ");
  EXPECT_EQ(a1.value_or(""), R"(GOT h1 {"ok":true,"color":null})");
  EXPECT_EQ(a2.value_or(""), R"(GOT h2 {"ok":true,"color":null})");
  EXPECT_TRUE(b_->collect(500, [](const std::string& l) { return l.rfind("GOT h", 0) == 0; })
                  .empty());
}

}  // namespace
