// Start-up, command line, quit paths and the core commands of the real binary.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <glib.h>

#include "harness.h"

using namespace e2e;

namespace {

struct RunResult {
  int status;
  std::string err;
};

// Runs launcher with arguments and an environment change, no backend.
RunResult run_plain(std::vector<std::string> args,
                    std::vector<std::pair<std::string, std::optional<std::string>>> env = {}) {
  std::string err_file = "/tmp/ovalis-e2e-plain-" + std::to_string(getpid()) + ".txt";
  pid_t pid = fork();
  if (pid == 0) {
    for (auto& [k, v] : env) {
      if (v) setenv(k.c_str(), v->c_str(), 1);
      else unsetenv(k.c_str());
    }
    FILE* f = std::freopen(err_file.c_str(), "w", stderr);
    (void)f;
    std::vector<char*> argv;
    std::string bin = launcher_bin();
    argv.push_back(bin.data());
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  std::ifstream f(err_file);
  std::stringstream ss;
  ss << f.rdbuf();
  std::remove(err_file.c_str());
  return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), ss.str()};
}

const char kUsage[] = "usage: launcher <html-file-or-url> <socket> [title] [WxH] [version]\n";

TEST(CommandLine, UsageLinesAndStatus) {
  auto none = run_plain({});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, kUsage);
  auto one = run_plain({"page.html"});
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(one.err, kUsage);
  auto open = run_plain({"--open", "/tmp/sock"});
  EXPECT_EQ(open.status, 1);
  EXPECT_EQ(open.err, "usage: launcher --open <socket> <app-exe> [arg]\n");
}

TEST(CommandLine, NoDisplayGivesStatus3WithoutTouchingTheSocket) {
  auto r = run_plain({"/x.html", "/nonexistent/sock"},
                     {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err,
            "ovalis: cannot create the webview window: no display (DISPLAY and WAYLAND_DISPLAY "
            "are both unset \u2014 headless environment?).\n"
            "ovalis: the app code is likely fine; run inside a desktop session or a virtual "
            "display (e.g. xvfb-run).\n");
}

TEST(CommandLine, UnopenableDisplayGivesStatus3) {
  auto r = run_plain({"/x.html", "/nonexistent/sock"},
                     {{"DISPLAY", ":987"}, {"WAYLAND_DISPLAY", std::nullopt}});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err,
            "ovalis: cannot create the webview window: GTK could not open display ':987'.\n"
            "ovalis: the app code is likely fine; this environment cannot show windows.\n");
}

// A Wayland socket that is not there: the message names it, in either session.
TEST(CommandLine, UnopenableWaylandDisplayGivesStatus3) {
  auto r = run_plain({"/x.html", "/nonexistent/sock"},
                     {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", "ovalis-no-such-wayland"}});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err,
            "ovalis: cannot create the webview window: GTK could not open display "
            "'ovalis-no-such-wayland'.\n"
            "ovalis: the app code is likely fine; this environment cannot show windows.\n");
}

TEST(CommandLine, FailedConnectGivesStatus1) {
  auto r = run_plain({"/x.html", "/nonexistent/dir/sock"});
  EXPECT_EQ(r.status, 1);
  // GTK may warn about the accessibility bus first; the last line is ours.
  EXPECT_TRUE(r.err.rfind("connect: ", 0) == 0 || r.err.find("\nconnect: ") != std::string::npos)
      << r.err;
}

// --open against a listener that is already there.
std::string open_once(const std::string& arg) {
  Backend b;  // used only for its temporary directory and listening socket
  std::string sock = b.dir() + "/app.sock";
  std::string out = b.dir() + "/got.txt";
  pid_t app = fork();
  if (app == 0) {
    setenv("OVALIS_TEST_FAKE_APP", (sock + ";" + out).c_str(), 1);
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = 0;
    execl(self, self, nullptr);
    _exit(127);
  }
  for (int i = 0; i < 100 && access(sock.c_str(), F_OK) != 0; ++i) usleep(20000);
  std::vector<std::string> args = {"--open", sock, "/bin/false"};
  if (!arg.empty()) args.push_back(arg);
  auto r = run_plain(args);
  waitpid(app, nullptr, 0);
  EXPECT_EQ(r.status, 0);
  std::ifstream f(out);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

TEST(OpenForwarding, MessagesReachTheRunningInstance) {
  EXPECT_EQ(open_once(""), "{\"activate\":true}\n");
  EXPECT_EQ(open_once("https://example.org/x"), "{\"url\":\"https://example.org/x\"}\n");
  EXPECT_EQ(open_once("file:///tmp/a%20b.txt"), "{\"paths\":[\"/tmp/a b.txt\"]}\n");
}

TEST(OpenForwarding, StartsTheAppWhenNobodyListens) {
  Backend b;
  std::string sock = b.dir() + "/app.sock";
  std::string out = b.dir() + "/got.txt";
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  self[n > 0 ? n : 0] = 0;
  auto t0 = std::chrono::steady_clock::now();
  auto r = run_plain({"--open", sock, self, "/tmp/doc.txt"},
                     {{"OVALIS_TEST_FAKE_APP", sock + ";" + out}});
  EXPECT_EQ(r.status, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  for (int i = 0; i < 100; ++i) {
    std::ifstream f(out);
    std::stringstream ss;
    ss << f.rdbuf();
    if (!ss.str().empty()) {
      EXPECT_EQ(ss.str(), "{\"paths\":[\"/tmp/doc.txt\"]}\n");
      return;
    }
    usleep(20000);
  }
  ADD_FAILURE() << "the started app never got the message";
}

TEST(OpenForwarding, GivesUpWithStatus1WhenTheAppNeverListens) {
  Backend b;
  auto r = run_plain({"--open", b.dir() + "/none.sock", "/bin/true"});
  EXPECT_EQ(r.status, 1);
}

TEST(Startup, ThemeLineComesFirstAndQuitEndsWithStatus0) {
  Backend b;
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(b.start());
  auto theme = b.expect([](const std::string& l) { return l.rfind("SYS theme ", 0) == 0; });
  auto dt = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - t0);
  ASSERT_TRUE(theme);
  EXPECT_TRUE(*theme == "SYS theme light" || *theme == "SYS theme dark");
  std::printf("[ metric ] start to theme line: %lld ms\n", static_cast<long long>(dt.count()));
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

TEST(Startup, WindowlessStillReportsThemeAndReadsCommands) {
  Backend b;
  ASSERT_TRUE(b.start({.env = {{"OVALIS_NO_MAIN_WINDOW", "1"}}}));
  EXPECT_TRUE(b.expect_prefix("SYS theme "));
  b.send("GET 5 windows");
  EXPECT_EQ(b.expect_prefix("GOT 5 "), "GOT 5 []");
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

TEST(Quit, SignalsEndWithStatus0) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    Backend b;
    ASSERT_TRUE(b.start());
    ASSERT_TRUE(b.expect_prefix("SYS theme "));
    b.kill_signal(sig);
    EXPECT_EQ(b.wait_exit(), 0) << "signal " << sig;
  }
}

TEST(Quit, BackendClosingTheSocketEndsWithStatus0) {
  Backend b;
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(b.expect_prefix("SYS theme "));
  b.send_raw("GET 1 windows\nUNTERMINATED");
  b.close_socket();
  EXPECT_EQ(b.wait_exit(), 0);
}

TEST(Quit, QuitInsideAnOpenMenuBlockStillQuits) {
  Backend b;
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(b.expect_prefix("SYS theme "));
  b.send("MENUBEGIN");
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

// Number of launcher's windows that are mapped on the display.
int visible_windows(pid_t pid) {
  return static_cast<int>(find_windows({.pid = pid, .at_least = 0}, 0).size());
}

size_t visible_soon(Backend& b, size_t n, int ms = 5000) {
  return find_windows({.pid = b.pid(), .at_least = n}, ms).size();
}
bool none_visible_for(Backend& b, int ms) {
  return holds_for([&] { return visible_windows(b.pid()) == 0; }, ms);
}

TEST(Showing, TheMainWindowShowsAtOnceByDefault) {
  E2E_X11_ONLY("counts mapped X windows");
  Backend b;
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(b.expect_prefix("NAV {\"window\":\"main\",\"kind\":\"finish\""));
  EXPECT_EQ(visible_soon(b, 1), 1u);
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

TEST(Showing, DeferredShowWaitsThreeSeconds) {
  E2E_X11_ONLY("counts mapped X windows");
  Backend b;
  ASSERT_TRUE(b.start({.env = {{"OVALIS_DEFER_SHOW", "1"}}}));
  ASSERT_TRUE(b.expect_prefix("SYS theme "));
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(none_visible_for(b, 1500));
  EXPECT_EQ(visible_soon(b, 1, 4000), 1u);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500));
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

TEST(Showing, AccessoryStaysHiddenEvenWithDeferredShow) {
  E2E_X11_ONLY("counts mapped X windows");
  Backend b;
  ASSERT_TRUE(b.start({.env = {{"OVALIS_DEFER_SHOW", "1"}, {"OVALIS_ACTIVATION", "accessory"}}}));
  ASSERT_TRUE(b.expect_prefix("SYS theme "));
  EXPECT_TRUE(none_visible_for(b, 3600));
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

TEST(Showing, DebugOpenStartsWithAnInspectorWindow) {
  E2E_X11_ONLY("counts mapped X windows");
  Backend b;
  ASSERT_TRUE(b.start({.env = {{"OVALIS_DEBUG", "open"}}}));
  ASSERT_TRUE(b.expect_prefix("NAV {\"window\":\"main\",\"kind\":\"finish\""));
  // The main window and the detached inspector, which is slow to build.
  EXPECT_EQ(visible_soon(b, 2, 20000), 2u);
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

class Core : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(b_ = start_page()); }
  static void TearDownTestSuite() { stop_page(b_); }
  void SetUp() override { b_->collect(0); }
  // Sends lines, then a GET to fence them; returns everything that arrived before its answer.
  std::vector<std::string> answers_to(const std::vector<std::string>& lines) {
    for (auto& l : lines) b_->send(l);
    std::string fence = "fence" + std::to_string(++fence_);
    b_->send("GET " + fence + " windows");
    auto got = b_->expect_prefix("GOT " + fence + " ");
    EXPECT_TRUE(got);
    return b_->collect(0);
  }
  static Backend* b_;
  static int fence_;
};
Backend* Core::b_ = nullptr;
int Core::fence_ = 0;

TEST_F(Core, UnsupportedRequestsAnswerWithTheirTexts) {
  auto got = answers_to({
      "OCR 1 x", "OSA 2 tell", "RECORD 3 go", "WINCTRL 4 x", "AI available 5",
      "AI generate 12\t{\"prompt\":\"x\"} more", "PERMCHK 6 camera", "PERMREQ 7 bluetooth",
      "AUTH 8 reason", "KEYSTROKE 9 ctrl+a",
  });
  std::vector<std::string> want = {
      R"(GOT 1 {"ok":false,"error":"OCR isn't available on Linux"})",
      R"(GOT 2 {"ok":false,"error":"AppleScript is macOS-only"})",
      R"X(GOT 3 {"ok":false,"error":"screen recording isn't supported on Linux yet (would need the ScreenCast portal)"})X",
      R"(GOT 4 {"ok":false,"error":"moving other apps' windows isn't supported on Linux"})",
      R"(GOT 5 {"status":"unsupported"})",
      R"(GOT 12 {"ok":false,"error":"not built in"})",
      R"(GOT 6 {"status":"granted"})",
      R"(GOT 7 {"status":"unsupported"})",
      R"(GOT 8 {"ok":false})",
      // XTest needs an X server.
      on_wayland() ? R"(GOT 9 {"ok":false,"trusted":false})" : R"(GOT 9 {"ok":true,"trusted":true})",
  };
  EXPECT_EQ(got, want);
}

TEST_F(Core, MalformedAndUnknownLinesProduceNothing) {
  auto got = answers_to({
      "FOO bar", "RET main:7 0", "RET main:7", "SIZE 800", "EVAL@nosuch x=1", "TITLE@nosuch t",
      "GET 3", "quit", "SUBEND", "SEP", "MENUEND", "NAVR n1", "OCR", "\r", "AUDIOTAP STOP",
      "CTXCLEAR", "RET q 0 {}", "RET main:x 0 {}",
  });
  EXPECT_TRUE(got.empty()) << got.front();
}

TEST_F(Core, EveryRequestIsAnsweredOnce) {
  std::vector<std::string> ids;
  std::vector<std::string> lines;
  // Requests that fail on "x" at once. LOGIN, SECRET, CAPTURE, PICKCOLOR and
  // SPOTLIGHT answer for real here (some later), as do SOUND, SAY, VOICES and
  // AUDIOTAP; their own suites check them.
  const char* reqs[] = {"SHELL", "COOKIES", "PDF@nosuch", "THUMB"};
  int n = 100;
  for (const char* r : reqs) lines.push_back(std::string(r) + " " + std::to_string(++n) + " x");
  lines.push_back("PDF@nosuch 150 /tmp/x.pdf");
  lines.push_back("SAMPLER k1 LOAD\tclick\t/tmp/click.wav");
  lines.push_back("HKREG 151 save\tctrl+s");
  lines.push_back("GET 152 something-new");
  lines.push_back("GET 153 idle");
  lines.push_back("POWER 154 off");
  auto got = answers_to(lines);
  // A sampler load answers from its loader thread, so its line may come later.
  auto k1 = std::find_if(got.begin(), got.end(),
                         [](const std::string& l) { return l.rfind("GOT k1 ", 0) == 0; });
  std::string k1_line;
  if (k1 != got.end()) {
    k1_line = *k1;
    got.erase(k1);
  } else if (auto l = b_->expect_prefix("GOT k1 ")) {
    k1_line = *l;
  }
  got.insert(got.begin() + std::min(got.size(), std::size(reqs) + 1), k1_line);
  ASSERT_EQ(got.size(), std::size(reqs) + 6);
  const size_t k = std::size(reqs);
  for (size_t i = 0; i < std::size(reqs); ++i)
    EXPECT_EQ(got[i].rfind("GOT " + std::to_string(101 + i) + " {\"ok\":false,\"error\":", 0), 0u)
        << got[i];
  EXPECT_EQ(got[k].rfind("GOT 150 {\"ok\":false", 0), 0u);
  EXPECT_EQ(got[k + 1].rfind("GOT k1 {\"ok\":false", 0), 0u);
  EXPECT_EQ(got[k + 2], "GOT 151 {\"ok\":true}");
  EXPECT_EQ(got[k + 3], "GOT 152 null");
  EXPECT_EQ(got[k + 4], "GOT 153 {\"seconds\":0.0}");
  EXPECT_EQ(got[k + 5], "GOT 154 {\"ok\":true,\"active\":false}");
}

TEST_F(Core, EvalRunsUnescapedScriptAndTitleKeepsBlanks) {
  // Wire text: var t='x\\y';\ndocument.title=t  (an escaped backslash and a line break)
  b_->send("EVAL var t='x\\\\\\\\y';\\ndocument.title=t");
  EXPECT_EQ(b_->page_eval("document.title"), "\"x\\\\y\"");
  b_->send("TITLE Hello  world");
  // The GTK title is not visible to the page; the window id list is unchanged.
  EXPECT_EQ(answers_to({"GET 1 windows"}), (std::vector<std::string>{"GOT 1 [\"main\"]"}));
}

TEST_F(Core, RetResolvesAndRejectsPageCalls) {
  b_->send("EVAL window.__r=[];window.__invoke('{\"method\":\"t.a\"}').then(v=>__r.push(['ok',v]),"
           "v=>__r.push(['err',v]))");
  auto call = b_->expect_prefix("CALL main:");
  ASSERT_TRUE(call);
  auto c = parse_call(*call);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->payload, "{\"method\":\"t.a\"}");
  EXPECT_EQ(c->origin, "file://");
  b_->send("RET " + c->id + " 0 {\"a\":[1,\"two\"]}");
  EXPECT_EQ(b_->page_eval("__r"), R"([["ok",{"a":[1,"two"]}]])");

  b_->send("EVAL window.__invoke('{}').catch(v=>__r.push(['err',v]))");
  auto call2 = parse_call(*b_->expect_prefix("CALL main:"));
  b_->send("RET " + call2->id + " 1 \"bad\"");
  EXPECT_EQ(b_->page_eval("__r[1]"), R"(["err","bad"])");
}

TEST_F(Core, RetWithQIdAnswersTheBackend) {
  EXPECT_EQ(answers_to({"RET q17 0 {\"ok\":true}"}),
            (std::vector<std::string>{"GOT 17 {\"ok\":true}"}));
}

TEST_F(Core, InvalidUtf8InPayloadsKeepsJsonValid) {
  // Script that is not valid UTF-8 must not upset anything.
  b_->send("EVAL window.__invoke('bad \xff\xfe text')");
  // A lone surrogate is the page's way of producing text that is not UTF-8.
  b_->send("EVAL window.__invoke('lone \\uD800 surrogate')");
  auto call = b_->expect([](const std::string& l) {
    return l.rfind("CALL main:", 0) == 0 && l.find("surrogate") != std::string::npos;
  });
  ASSERT_TRUE(call);
  EXPECT_TRUE(g_utf8_validate(call->data(), static_cast<gssize>(call->size()), nullptr));
  ASSERT_TRUE(parse_call(*call));
  b_->send("TITLE \xff\xfe");
  EXPECT_EQ(b_->page_eval("1"), "1");
}

}  // namespace
