// Web view life: failed loads, a crashed web process, and the developer
// inspector on F12.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "harness.h"

using namespace e2e;

namespace {

int visible_windows(pid_t pid) {
  return static_cast<int>(find_windows({.pid = pid, .at_least = 0}, 0).size());
}

// The launcher's web content process.
pid_t web_process_of(pid_t parent) {
  DIR* d = opendir("/proc");
  pid_t found = -1;
  while (dirent* e = readdir(d)) {
    pid_t pid = static_cast<pid_t>(atoi(e->d_name));
    if (pid <= 0) continue;
    std::ifstream f("/proc/" + std::string(e->d_name) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    size_t lp = stat.find('('), rp = stat.rfind(')');
    if (lp == std::string::npos || rp == std::string::npos) continue;
    std::string comm = stat.substr(lp + 1, rp - lp - 1);
    pid_t ppid = static_cast<pid_t>(atoi(stat.c_str() + rp + 4));
    if (ppid == parent && comm.rfind("WebKitWebProces", 0) == 0) found = pid;
  }
  closedir(d);
  return found;
}

// Activates the window and waits until typed keys really reach the page
// (the toolkit takes a moment to follow the window manager's focus).
bool focus_page(Backend* b, const std::string& title) {
  unsigned long xid = find_window({.name = title});
  if (!xid) return false;
  sh("xdotool windowactivate --sync " + std::to_string(xid) + " >/dev/null 2>&1");
  for (int i = 0; i < 30; ++i) {
    sh("xdotool key x");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (b->page_eval("__keys.includes('x')") == "true") {
      b->page_eval("(__keys.length = 0, 1)");
      return true;
    }
  }
  return false;
}

// A variable in the environment the web process was started with.
std::optional<std::string> web_process_env(pid_t launcher, const std::string& name) {
  pid_t web = -1;
  eventually([&] { return (web = web_process_of(launcher)) > 0; }, 10000);
  std::ifstream f("/proc/" + std::to_string(web) + "/environ");
  std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  size_t at = 0;
  while (at < all.size()) {
    size_t end = all.find('\0', at);
    std::string kv = all.substr(at, end - at);
    if (kv.rfind(name + "=", 0) == 0) return kv.substr(name.size() + 1);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return std::nullopt;
}

// Under Wayland on NVIDIA's driver explicit sync is switched off, unless the
// user chose a value. In the X11 session the Wayland socket here is a dead
// one, so the toolkit falls back to the X display; in the Wayland session
// the real compositor's socket is used.
TEST(WebView, ExplicitSyncIsOffOnNvidiaUnderWayland) {
  std::string version = testing::TempDir() + "/nvidia-version";
  std::ofstream(version) << "NVRM version: test\n";
  auto run = [&](std::vector<std::pair<std::string, std::optional<std::string>>> env) {
    if (!on_wayland()) env.push_back({"WAYLAND_DISPLAY", "ovalis-no-such-wayland"});
    Backend* b = start_page({.env = env});
    if (!b) return std::optional<std::string>("no launcher");
    auto v = web_process_env(b->pid(), "__NV_DISABLE_EXPLICIT_SYNC");
    stop_page(b);
    return v;
  };
  EXPECT_EQ(run({{"OVALIS_TEST_NVIDIA_VERSION", version}}), "1");
  EXPECT_EQ(run({{"OVALIS_TEST_NVIDIA_VERSION", version}, {"__NV_DISABLE_EXPLICIT_SYNC", "0"}}), "0");
  EXPECT_EQ(run({{"OVALIS_TEST_NVIDIA_VERSION", version + ".absent"}}), std::nullopt);
}

TEST(WebView, MissingPageIsReportedAsAFailedLoad) {
  Backend b;
  ASSERT_TRUE(b.start({.target = "/nonexistent/dir/page.html"}));
  auto fail = b.expect_prefix("NAV {\"window\":\"main\",\"kind\":\"fail\"");
  ASSERT_TRUE(fail);
  EXPECT_NE(fail->find("\"url\":\"file:///nonexistent/dir/page.html\""), std::string::npos);
  EXPECT_NE(fail->find("\"error\":\""), std::string::npos);
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

TEST(WebView, CrashedWebProcessIsReportedAndReloadRecovers) {
  Backend* b = start_page();
  ASSERT_TRUE(b);
  pid_t web = web_process_of(b->pid());
  ASSERT_GT(web, 0);
  kill(web, SIGKILL);
  auto crash = b->expect_prefix("NAV {\"window\":\"main\",\"kind\":\"crash\"");
  ASSERT_TRUE(crash);
  EXPECT_NE(crash->find("blank.html"), std::string::npos);
  // The view stays as it is until the backend asks for a reload.
  b->send("RELOAD");
  ASSERT_TRUE(serve_load_calls(*b));
  EXPECT_EQ(b->page_eval("document.title"), "\"blank\"");
  stop_page(b);
}

TEST(WebView, F12IsAnOrdinaryKeyOutsideDeveloperMode) {
  E2E_X11_ONLY("xdotool keys");
  Backend* b = start_page({.target = page_path("keys.html"), .extra_args = {"e2ekeys"}});
  ASSERT_TRUE(b);
  ASSERT_TRUE(focus_page(b, "e2ekeys"));
  sh("xdotool key F12");
  EXPECT_TRUE(eventually([&] { return b->page_eval("__keys") == "[\"F12\"]"; }, 2000));
  EXPECT_EQ(visible_windows(b->pid()), 1);
  stop_page(b);
}

TEST(WebView, F12OpensADetachedInspectorInDeveloperMode) {
  E2E_X11_ONLY("xdotool keys");
  Backend* b = start_page({.target = page_path("keys.html"),
                           .extra_args = {"e2ekeysdev"},
                           .env = {{"OVALIS_DEBUG", "1"}}});
  ASSERT_TRUE(b);
  EXPECT_EQ(visible_windows(b->pid()), 1);
  ASSERT_TRUE(focus_page(b, "e2ekeysdev"));
  sh("xdotool key F12");
  // A window of its own, not docked into the page.
  EXPECT_EQ(find_windows({.pid = b->pid(), .at_least = 2}, 20000).size(), 2u);
  EXPECT_EQ(b->page_eval("__keys"), "[]");  // the key was the inspector's
  stop_page(b);
}

}  // namespace
