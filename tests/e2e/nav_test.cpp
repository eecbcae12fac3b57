// Navigation policy, popups, downloads and dialogs against a loopback web
// server, with a recording default application registered for https and a
// foreign scheme, so hand-offs to the desktop are checked for real.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "harness.h"

using namespace e2e;

namespace {

using Clock = std::chrono::steady_clock;

// The loopback server of tests/e2e/nav_server.py, stopped by its pid.
struct WebServer {
  pid_t pid = -1;
  int port = 0;
  bool start() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid = fork();
    if (pid == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      std::string script = page_path("../nav_server.py");
      execl("/usr/bin/python3", "python3", script.c_str(), nullptr);
      _exit(127);
    }
    close(fds[1]);
    std::string text;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') text += c;
    close(fds[0]);
    port = std::atoi(text.c_str());
    return port > 0;
  }
  void stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }
};

WebServer g_srv;

void write_file(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream(path) << text;
  chmod(path.c_str(), mode);
}

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Registers a default handler for https, http and the "ovtest" scheme in a
// launcher's private XDG folders; it appends each address it gets to
// <dir>/opened.txt.
void register_recorder(const Backend& b) {
  std::string d = b.dir();
  sh("mkdir -p '" + d + "/home/.local/share/applications' '" + d + "/home/.config'");
  write_file(d + "/record.sh", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + d + "/opened.txt'\n",
             0755);
  write_file(d + "/home/.local/share/applications/ovalis-recorder.desktop",
             "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + d +
                 "/record.sh %u\nNoDisplay=true\n"
                 "MimeType=x-scheme-handler/https;x-scheme-handler/http;x-scheme-handler/ovtest;\n");
  write_file(d + "/home/.config/mimeapps.list",
             "[Default Applications]\nx-scheme-handler/https=ovalis-recorder.desktop\n"
             "x-scheme-handler/http=ovalis-recorder.desktop\n"
             "x-scheme-handler/ovtest=ovalis-recorder.desktop\n");
}

// Waits until the recorder has been handed `want` (one line).
bool opened(const Backend& b, const std::string& want, int timeout_ms = 8000) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  do {
    std::string text = read_file(b.dir() + "/opened.txt");
    if (text.find(want + "\n") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (Clock::now() < deadline);
  return false;
}

std::string field_after(const std::string& line, const std::string& prefix) {
  return line.substr(prefix.size());
}

// "NAVQ <id> ..." -> id
std::string qid_of(const std::string& line) {
  size_t a = line.find(' ') + 1;
  return line.substr(a, line.find(' ', a) - a);
}

std::string js_str(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

// Waits until a page expression is true.
bool page_until(Backend& b, const std::string& expr, const std::string& win = "main",
                int timeout_ms = 8000) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  do {
    if (b.page_eval(expr, win, 2000) == "true") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (Clock::now() < deadline);
  return false;
}

// Starts a page call whose result the page keeps in window.__r[tag]; returns
// the call id the backend sees.
std::string start_call(Backend& b, const std::string& tag, const std::string& payload = "dlg") {
  b.send("EVAL " + wire_escape("window.__r=window.__r||{};window.__invoke(" + js_str(payload) +
                               ").then(function(v){window.__r['" + tag +
                               "']=JSON.stringify(['ok',v])},function(e){window.__r['" + tag +
                               "']=JSON.stringify(['err',e])})"));
  auto line = b.expect([&](const std::string& l) {
    auto c = parse_call(l);
    return c && c->payload == payload;
  });
  return line ? parse_call(*line)->id : "";
}

std::string call_result(Backend& b, const std::string& tag, int timeout_ms = 10000) {
  std::string expr = "window.__r&&window.__r['" + tag + "']";
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  do {
    auto v = b.page_eval(expr, "main", 2000);
    if (v && *v != "undefined" && *v != "null" && v->front() == '"')
      return json_string_value(*v).value_or("");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (Clock::now() < deadline);
  sh("import -window root /tmp/nav-shot.png");
  return "";
}

void click_download(Backend& b, const std::string& url) {
  b.send("EVAL " + wire_escape("(function(){var a=document.createElement('a');a.href=" +
                               js_str(url) + ";a.download='';document.body.appendChild(a);"
                               "a.click();a.remove()})()"));
}

// The DOWNLOAD line of a given state for a url.
std::optional<std::string> download_line(Backend& b, const std::string& url, const std::string& state,
                                         int timeout_ms = 10000) {
  std::string u = "\"url\":\"" + url + "\"";
  std::string s = "\"state\":\"" + state + "\"";
  return b.expect(
      [&](const std::string& l) {
        return l.rfind("DOWNLOAD ", 0) == 0 && l.find(u) != std::string::npos &&
               l.find(s) != std::string::npos;
      },
      timeout_ms);
}

std::string json_member(const std::string& line, const std::string& key) {
  size_t at = line.find("\"" + key + "\":");
  if (at == std::string::npos) return "";
  at += key.size() + 3;
  if (line[at] == '"') {
    size_t end = 0;
    return json_string_value(line.substr(at), &end).value_or("");
  }
  size_t end = line.find_first_of(",}", at);
  return line.substr(at, end - at);
}

// Waits for the main page to finish loading url.
bool finished(Backend& b, const std::string& url) {
  return b.expect_prefix("NAV {\"window\":\"main\",\"kind\":\"finish\",\"url\":\"" + url + "\"",
                         10000).has_value();
}

// Navigates the main page; returns the NAVQ line it raises.
std::optional<std::string> navigate(Backend& b, const std::string& url) {
  b.send("EVAL " + wire_escape("location.href=" + js_str(url)));
  return b.expect_prefix("NAVQ ");
}

}  // namespace

class NavEnv : public testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(g_srv.start()); }
  void TearDown() override { g_srv.stop(); }
};
testing::Environment* const nav_env = testing::AddGlobalTestEnvironment(new NavEnv);

// ---- default modes: popups "external", downloads "auto", dialogs cancelled ----

class Nav : public testing::Test {
 protected:
  static void SetUpTestSuite() { start_nav(true); }
  // The dialog hook answers backend dialogs too, so the suite that drives
  // them with real keys starts without it.
  static void start_nav(bool hook) {
    b_ = new Backend;
    register_recorder(*b_);
    std::string d = b_->dir();
    sh("mkdir -p '" + d + "/home/Fetched'");
    write_file(d + "/home/.config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n");
    Options o;
    o.extra_args = {"NavTest"};
    // An unknown downloads mode behaves as "auto".
    o.env = {{"OVALIS_TEST_AUTODLG", hook ? std::optional<std::string>("cancel") : std::nullopt},
             {"OVALIS_POPUPS", std::nullopt}, {"OVALIS_DOWNLOADS", "silent"}};
    ASSERT_TRUE(b_->start(o) && serve_load_calls(*b_) && b_->wait_page_ready());
    WindowQuery q;
    q.pid = b_->pid();
    q.name = "NavTest";
    main_xid_ = find_window(q);
  }
  static void TearDownTestSuite() { stop_page(b_); }
  static std::string dl_dir() { return b_->dir() + "/home/Fetched"; }
  static Backend* b_;
  static unsigned long main_xid_;
};
Backend* Nav::b_ = nullptr;
unsigned long Nav::main_xid_ = 0;

TEST_F(Nav, MainFrameResponsesAskTheBackend) {
  Backend& b = *b_;
  std::string page = g_srv.url("/page.html"), page2 = g_srv.url("/page2.html");
  auto q = navigate(b, page);
  ASSERT_TRUE(q);
  std::string id = qid_of(*q);
  EXPECT_EQ(*q, "NAVQ " + id + " main\t" + page + "\tmain");
  b.send("NAVR " + id + " allow");
  ASSERT_TRUE(finished(b, page));
  EXPECT_EQ(b.page_eval("location.href"), "\"" + page + "\"");

  // Denied: the view stays where it is.
  q = navigate(b, page2);
  ASSERT_TRUE(q);
  b.send("NAVR " + qid_of(*q) + " deny");
  // "external": the desktop's handler gets it, the view stays.
  q = navigate(b, page2 + "?ext");
  ASSERT_TRUE(q);
  b.send("NAVR " + qid_of(*q) + " external");
  EXPECT_TRUE(opened(b, page2 + "?ext"));
  EXPECT_EQ(b.page_eval("location.href"), "\"" + page + "\"");

  // A redirect asks about where it ends; silence loads it after the deadline,
  // and a late answer changes nothing.
  q = navigate(b, g_srv.url("/redirect"));
  ASSERT_TRUE(q);
  EXPECT_EQ(field_after(*q, "NAVQ " + qid_of(*q) + " "), "main\t" + page2 + "\tmain");
  ASSERT_TRUE(finished(b, page2));
  b.send("NAVR " + qid_of(*q) + " external");
  EXPECT_EQ(b.page_eval("location.href"), "\"" + page2 + "\"");
  EXPECT_EQ(read_file(b.dir() + "/opened.txt").find(page2 + "\n"), std::string::npos);
  b.send("NAVR nosuch deny");
  b.send("NAVR " + qid_of(*q));
}

TEST_F(Nav, ForeignSchemesNeverLoadInTheView) {
  Backend& b = *b_;
  auto q = navigate(b, "ovtest:allowed");
  ASSERT_TRUE(q);
  std::string id = qid_of(*q);
  EXPECT_EQ(*q, "NAVQ " + id + " main\tovtest:allowed\t");
  b.send("NAVR " + id + " allow");
  q = navigate(b, "ovtest:silent");
  ASSERT_TRUE(q);
  q = navigate(b, "OvTest:external");
  ASSERT_TRUE(q);
  b.send("NAVR " + qid_of(*q) + " external");
  EXPECT_TRUE(opened(b, "ovtest:external") || opened(b, "OvTest:external", 100));
  std::this_thread::sleep_for(std::chrono::milliseconds(600));  // past the silent one's deadline
  std::string rec = read_file(b.dir() + "/opened.txt");
  EXPECT_EQ(rec.find("allowed"), std::string::npos) << rec;
  EXPECT_EQ(rec.find("silent"), std::string::npos) << rec;
  EXPECT_EQ(b.page_eval("location.protocol"), "\"http:\"");
}

TEST_F(Nav, PopupsGoToTheDesktopByDefault) {
  Backend& b = *b_;
  std::string target = g_srv.url("/page.html?popup");
  EXPECT_EQ(b.page_eval("window.open(" + js_str(target) + ") === null"), "true");
  auto q = b.expect_prefix("POPUPQ ");
  ASSERT_TRUE(q);
  std::string qid = qid_of(*q);
  EXPECT_EQ(*q, "POPUPQ " + qid + " -\tmain\t" + target + "\texternal");
  auto ev = b.expect_prefix("POPUP {");
  ASSERT_TRUE(ev);
  EXPECT_EQ(*ev, "POPUP {\"window\":null,\"url\":\"" + target + "\",\"action\":\"external\"}");
  EXPECT_TRUE(opened(b, target));
  b.send("POPUPR " + qid + " window");  // too late: nothing happens

  // A non-web address is never launched, but the event still says "external";
  // a "window" verdict is not allowed to open one here.
  b.send("EVAL window.open('about:blank')");
  q = b.expect_prefix("POPUPQ ");
  ASSERT_TRUE(q);
  b.send("POPUPR " + qid_of(*q) + " window");
  ev = b.expect_prefix("POPUP {");
  ASSERT_TRUE(ev);
  EXPECT_EQ(*ev, R"(POPUP {"window":null,"url":"about:blank","action":"external"})");

  std::string denied = g_srv.url("/page2.html?denied");
  b.send("EVAL " + wire_escape("window.open(" + js_str(denied) + ")"));
  q = b.expect_prefix("POPUPQ ");
  ASSERT_TRUE(q);
  b.send("POPUPR " + qid_of(*q) + " deny");
  ev = b.expect_prefix("POPUP {");
  ASSERT_TRUE(ev);
  EXPECT_NE(ev->find("\"action\":\"deny\""), std::string::npos);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(read_file(b.dir() + "/opened.txt").find("denied"), std::string::npos);
}

TEST_F(Nav, DownloadNamesNeverOverwrite) {
  Backend& b = *b_;
  write_file(dl_dir() + "/archive.tar.gz", "old");
  std::string report = g_srv.url("/dl/report?type=application/pdf;%20name=r&size=321");
  click_download(b, report);
  auto started = download_line(b, report, "started");
  ASSERT_TRUE(started);
  EXPECT_EQ(json_member(*started, "filename"), "report.pdf");
  EXPECT_EQ(json_member(*started, "path"), dl_dir() + "/report.pdf");
  long long id = std::stoll(json_member(*started, "id"));
  auto done = download_line(b, report, "done");
  ASSERT_TRUE(done);
  EXPECT_EQ(json_member(*done, "id"), std::to_string(id));
  EXPECT_EQ(read_file(dl_dir() + "/report.pdf").size(), 321u);

  click_download(b, report);
  started = download_line(b, report, "started");
  ASSERT_TRUE(started);
  EXPECT_EQ(json_member(*started, "filename"), "report (2).pdf");
  EXPECT_EQ(json_member(*started, "id"), std::to_string(id + 1));
  ASSERT_TRUE(download_line(b, report, "done"));

  std::string archive = g_srv.url("/dl/archive.tar.gz?type=application/gzip");
  click_download(b, archive);
  started = download_line(b, archive, "started");
  ASSERT_TRUE(started);
  EXPECT_EQ(json_member(*started, "filename"), "archive.tar (2).gz");
  ASSERT_TRUE(download_line(b, archive, "done"));
  EXPECT_EQ(read_file(dl_dir() + "/archive.tar.gz"), "old");

  std::string upper = g_srv.url("/dl/upper?type=Application/PDF");
  click_download(b, upper);
  started = download_line(b, upper, "started");
  ASSERT_TRUE(started);
  std::string name = json_member(*started, "filename");
  ASSERT_TRUE(download_line(b, upper, "done"));
  // The engine folds the type to lower case before it reaches us, so the
  // table's case-sensitivity only shows in the unit tests.
  EXPECT_EQ(name, "upper.pdf");
}

TEST_F(Nav, DownloadProgressAndFailure) {
  Backend& b = *b_;
  std::string big = g_srv.url("/dl/big.bin?size=400000&slow=1");
  click_download(b, big);
  ASSERT_TRUE(download_line(b, big, "started"));
  auto t0 = Clock::now();
  auto done = download_line(b, big, "done", 20000);
  ASSERT_TRUE(done);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  auto progress = b.collect(0, [&](const std::string& l) {
    return l.rfind("DOWNLOAD ", 0) == 0 && l.find("\"state\":\"progress\"") != std::string::npos &&
           l.find(big) != std::string::npos;
  });
  ASSERT_GE(progress.size(), 2u);
  EXPECT_LE(static_cast<long long>(progress.size()), ms / 250 + 2);
  for (auto& l : progress) {
    EXPECT_EQ(json_member(l, "total"), "400000") << l;
    EXPECT_NE(l.find("\"state\":\"progress\",\"bytes\":"), std::string::npos) << l;
  }
  EXPECT_EQ(read_file(dl_dir() + "/big.bin").size(), 400000u);

  std::string broken = g_srv.url("/dl/broken.bin?size=300000&drop=1");
  click_download(b, broken);
  auto started = download_line(b, broken, "started");
  ASSERT_TRUE(started);
  auto failed = download_line(b, broken, "failed", 20000);
  ASSERT_TRUE(failed);
  EXPECT_FALSE(json_member(*failed, "error").empty());
  EXPECT_FALSE(download_line(b, broken, "done", 1000));
  EXPECT_FALSE(exists(dl_dir() + "/broken.bin"));
}

TEST_F(Nav, NonDisplayableResponsesDownloadInAnyFrame) {
  Backend& b = *b_;
  std::string inner = g_srv.url("/dl/framed.bin?size=10");
  std::string frame = g_srv.url("/frame.html?src=") + "/dl/framed.bin%3Fsize%3D10";
  auto q = navigate(b, frame);
  ASSERT_TRUE(q);
  b.send("NAVR " + qid_of(*q) + " allow");
  // Nobody clicked it, so the backend is asked, and its yes saves it.
  auto fq = b.expect_prefix("NAVQ ");
  ASSERT_TRUE(fq);
  EXPECT_EQ(fq->substr(fq->size() - 6), "\tframe") << *fq;
  b.send("NAVR " + qid_of(*fq) + " allow");
  auto started = download_line(b, inner, "started");
  ASSERT_TRUE(started);
  ASSERT_TRUE(download_line(b, inner, "done"));
  for (auto& l : b.unconsumed()) EXPECT_NE(l.rfind("NAVQ", 0), 0u) << l;
  ASSERT_TRUE(finished(b, frame));
}

TEST_F(Nav, ScriptDialogsAnsweredByTheHook) {
  Backend& b = *b_;
  EXPECT_EQ(b.page_eval("confirm('sure?')"), "false");
  EXPECT_EQ(b.page_eval("prompt('name?', 'x')"), "null");
  EXPECT_EQ(b.page_eval("alert('hi') === undefined"), "true");
}

TEST_F(Nav, UnknownDialogOpRejects) {
  Backend& b = *b_;
  std::string id = start_call(b, "bad");
  ASSERT_FALSE(id.empty());
  b.send("DLG " + id + " explode\tx");
  EXPECT_EQ(call_result(b, "bad"), R"(["err","unknown dialog op: explode"])");
  b.send("DLG " + id);  // no space: ignored
}

// ---- dialogs the backend asks for, driven by real keyboard input ----

namespace {

// The focused top-level window once it is not the main window (a dialog).
unsigned long active_dialog(unsigned long main_xid) {
  unsigned long found = 0;
  eventually(
      [&] {
        std::string out = sh("xdotool getactivewindow 2>/dev/null");
        unsigned long id = std::strtoul(out.c_str(), nullptr, 10);
        if (id && id != main_xid) found = id;
        return found != 0;
      },
      10000);
  // A dialog that has just been mapped may not take keys for a moment yet.
  if (found) std::this_thread::sleep_for(std::chrono::milliseconds(250));
  return found;
}

void keys(const std::string& args) { sh("xdotool " + args + " >/dev/null 2>&1"); }

// Types an absolute path into a file chooser: the first "/" opens its
// location entry, which takes a moment to take the keys that follow.
void type_path(const std::string& path) {
  keys("type '/'");
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  keys("type --delay 20 '" + path.substr(1) + "'");
}

}  // namespace

class NavDialogs : public Nav {
 protected:
  static void SetUpTestSuite() { start_nav(false); }
};

TEST_F(NavDialogs, SaveDialogAddsTheFilterExtension) {
  E2E_X11_ONLY("types into the dialog with xdotool");
  Backend& b = *b_;
  std::string id = start_call(b, "save");
  b.send("DLG " + id + " save\tmd,TXT\tnotes\tdownloads");
  ASSERT_NE(active_dialog(main_xid_), 0u);
  keys("key --delay 50 Return");
  EXPECT_EQ(call_result(b, "save"), "[\"ok\",\"" + dl_dir() + "/notes.md\"]");
}

TEST_F(NavDialogs, OpenDialogsTakeATypedPath) {
  E2E_X11_ONLY("types into the dialog with xdotool");
  Backend& b = *b_;
  std::string file = b.dir() + "/pick.txt";
  write_file(file, "x");
  std::string id = start_call(b, "open");
  b.send("DLG " + id + " open\t");
  ASSERT_NE(active_dialog(main_xid_), 0u);
  type_path(file);
  keys("key --delay 50 Return");
  EXPECT_EQ(call_result(b, "open"), "[\"ok\",\"" + file + "\"]");

  id = start_call(b, "multi");
  b.send("DLG " + id + " openmulti\ttxt");
  ASSERT_NE(active_dialog(main_xid_), 0u);
  type_path(file);
  keys("key --delay 50 Return");
  EXPECT_EQ(call_result(b, "multi"), "[\"ok\",[\"" + file + "\"]]");

  id = start_call(b, "cancelled");
  b.send("DLG " + id + " dir\tignored");
  ASSERT_NE(active_dialog(main_xid_), 0u);
  keys("key --delay 50 Escape");
  EXPECT_EQ(call_result(b, "cancelled"), "[\"ok\",null]");
}

TEST_F(NavDialogs, MessageDialogsAndPrompt) {
  E2E_X11_ONLY("types into the dialog with xdotool");
  Backend& b = *b_;
  std::string id = start_call(b, "confirm");
  b.send("DLG " + id + " confirm\tSure?\tone\\ntwo\tYes\tNo");
  unsigned long d = active_dialog(main_xid_);
  ASSERT_NE(d, 0u);
  wm_close_window(d);
  EXPECT_EQ(call_result(b, "confirm"), "[\"ok\",false]");

  id = start_call(b, "confirm2");
  b.send("DLG " + id + " confirm\t\t\t\t");
  ASSERT_NE(active_dialog(main_xid_), 0u);
  keys("key --delay 50 Return");
  EXPECT_EQ(call_result(b, "confirm2"), "[\"ok\",true]");

  id = start_call(b, "alert");
  b.send("DLG " + id + " alert\tNote");
  d = active_dialog(main_xid_);
  ASSERT_NE(d, 0u);
  wm_close_window(d);
  EXPECT_EQ(call_result(b, "alert"), "[\"ok\",true]");

  id = start_call(b, "prompt");
  b.send("DLG " + id + " prompt\tName?\ta\\nb");
  ASSERT_NE(active_dialog(main_xid_), 0u);
  keys("key --delay 50 End");
  keys("type --delay 20 'z'");
  keys("key --delay 50 Return");
  EXPECT_EQ(call_result(b, "prompt"), "[\"ok\",\"a\\\\nbz\"]");

  id = start_call(b, "prompt2");
  b.send("DLG " + id + " prompt\tName?\tx");
  d = active_dialog(main_xid_);
  ASSERT_NE(d, 0u);
  keys("key --delay 50 Escape");
  EXPECT_EQ(call_result(b, "prompt2"), "[\"ok\",null]");
}

// ---- popups in windows, downloads denied, dialogs accepted ----

class NavWin : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    b_ = new Backend;
    register_recorder(*b_);
    Options o;
    o.extra_args = {"NavWin"};
    o.env = {{"OVALIS_TEST_AUTODLG", "yes"}, {"OVALIS_POPUPS", "window"},
             {"OVALIS_DOWNLOADS", "deny"}};
    ASSERT_TRUE(b_->start(o) && serve_load_calls(*b_) && b_->wait_page_ready());
  }
  static void TearDownTestSuite() { stop_page(b_); }
  static std::string popup_q(const std::string& url, const std::string& features = "") {
    b_->send("EVAL " + wire_escape("window.__w=window.open(" + js_str(url) + ",''," +
                                   js_str(features) + ")"));
    auto q = b_->expect_prefix("POPUPQ ");
    return q ? *q : "";
  }
  static std::string popup_id(const std::string& q) {
    size_t a = q.find(' ', 7) + 1;
    return q.substr(a, q.find('\t') - a);
  }
  static Backend* b_;
};
Backend* NavWin::b_ = nullptr;

TEST_F(NavWin, PopupWindowShownWithoutAnAnswer) {
  Backend& b = *b_;
  std::string url = g_srv.url("/page.html");
  std::string q = popup_q(url);
  ASSERT_FALSE(q.empty());
  std::string win = popup_id(q);
  EXPECT_EQ(win.rfind("popup", 0), 0u);
  EXPECT_EQ(q, "POPUPQ " + qid_of(q) + " " + win + "\tmain\t" + url + "\twindow");
  auto ev = b.expect_prefix("POPUP {");
  ASSERT_TRUE(ev);
  EXPECT_EQ(*ev, "POPUP {\"window\":\"" + win + "\",\"url\":\"" + url + "\",\"action\":\"window\"}");
  ASSERT_TRUE(b.wait_page_ready(win));
  EXPECT_EQ(b.page_eval("[innerWidth, innerHeight, ovalis.win.id]", win),
            "[900,600,\"" + win + "\"]");
  WindowQuery wq;
  wq.pid = b.pid();
  wq.name = "page";  // the popup takes its page's title
  if (!on_wayland()) EXPECT_NE(find_window(wq), 0u);
  b.send("GET w windows");
  auto got = b.expect_prefix("GOT w ");
  ASSERT_TRUE(got);
  EXPECT_NE(got->find("\"" + win + "\""), std::string::npos);
  // The page closes itself.
  b.send("EVAL@" + win + " window.close()");
  EXPECT_TRUE(b.expect_prefix("WINCLOSED " + win));
}

TEST_F(NavWin, DeniedPopupIsDestroyedAndTakenIdsAreSkipped) {
  Backend& b = *b_;
  std::string url = g_srv.url("/page2.html?deny");
  std::string q = popup_q(url);
  std::string win = popup_id(q);
  b.send("POPUPR " + qid_of(q) + " deny");
  EXPECT_TRUE(b.expect_prefix("WINCLOSED " + win));
  auto ev = b.expect_prefix("POPUP {");
  ASSERT_TRUE(ev);
  EXPECT_EQ(*ev, "POPUP {\"window\":\"" + win + "\",\"url\":\"" + url + "\",\"action\":\"deny\"}");

  // "external" destroys the window and hands a web address to the desktop.
  std::string ext = g_srv.url("/page2.html?ext");
  q = popup_q(ext);
  std::string win2 = popup_id(q);
  b.send("POPUPR " + qid_of(q) + " external");
  EXPECT_TRUE(b.expect_prefix("WINCLOSED " + win2));
  EXPECT_TRUE(opened(b, ext));

  // The backend takes the next id for a window of its own.
  int n = std::atoi(win2.substr(5).c_str());
  std::string taken = "popup" + std::to_string(n + 1);
  b.send("WINOPEN " + taken + "\t" + page_path("blank.html") + "\tTaken\t300x200");
  ASSERT_TRUE(b.wait_page_ready(taken));
  q = popup_q(url);
  EXPECT_EQ(popup_id(q), "popup" + std::to_string(n + 2));
  b.send("POPUPR " + qid_of(q) + " deny");
  EXPECT_TRUE(b.expect_prefix("WINCLOSED popup" + std::to_string(n + 2)));
  b.send("WINCLOSE " + taken);
  EXPECT_TRUE(b.expect_prefix("WINCLOSED " + taken));
}

TEST_F(NavWin, PopupGeometryFromTheOpener) {
  Backend& b = *b_;
  std::string url = g_srv.url("/page.html?small");
  std::string q = popup_q(url, "width=100,height=80");
  std::string win = popup_id(q);
  b.send("POPUPR " + qid_of(q) + " window");
  ASSERT_TRUE(b.wait_page_ready(win));
  EXPECT_EQ(b.page_eval("[innerWidth, innerHeight]", win), "[900,600]");
  b.send("WINCLOSE " + win);
  EXPECT_TRUE(b.expect_prefix("WINCLOSED " + win));

  q = popup_q(g_srv.url("/page.html?sized"), "width=500,height=400,left=40,top=60");
  win = popup_id(q);
  b.send("POPUPR " + qid_of(q) + " window");
  ASSERT_TRUE(b.wait_page_ready(win));
  EXPECT_EQ(b.page_eval("[innerWidth, innerHeight]", win), "[500,400]");
  b.send("WINCLOSE " + win);
  EXPECT_TRUE(b.expect_prefix("WINCLOSED " + win));
}

TEST_F(NavWin, DeniedDownloadsAreReportedOnce) {
  Backend& b = *b_;
  std::string a = g_srv.url("/dl/a.bin"), c = g_srv.url("/dl/c.bin");
  click_download(b, a);
  auto l1 = download_line(b, a, "denied");
  ASSERT_TRUE(l1);
  EXPECT_NE(l1->find(",\"filename\":\"a.bin\",\"path\":null,\"state\":\"denied\"}"),
            std::string::npos)
      << *l1;
  click_download(b, c);
  auto l2 = download_line(b, c, "denied");
  ASSERT_TRUE(l2);
  EXPECT_EQ(std::stoll(json_member(*l2, "id")), std::stoll(json_member(*l1, "id")) + 1);
  EXPECT_TRUE(holds_for([&] {
    for (auto& l : b.unconsumed())
      if (l.rfind("DOWNLOAD ", 0) == 0) return false;
    return true;
  }, 500));
  EXPECT_FALSE(exists(b.dir() + "/home/Downloads/a.bin"));
}

TEST_F(NavWin, ScriptDialogsAccepted) {
  Backend& b = *b_;
  EXPECT_EQ(b.page_eval("confirm('sure?')"), "true");
  EXPECT_EQ(b.page_eval("prompt('name?', 'dflt\\\\nx')"), "\"dflt\\\\nx\"");
}

// Runs last in its suite: it leaves the page blank.
TEST_F(NavWin, ZBlankPageIsReported) {
  Backend& b = *b_;
  b.send("EVAL location.href='about:blank'");
  EXPECT_TRUE(b.expect_prefix(R"(NAV {"window":"main","kind":"finish","url":"about:blank"})"));
}

// ---- downloads in mode "ask": the save dialog, driven by the keyboard ----

class NavAsk : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    b_ = new Backend;
    Options o;
    o.extra_args = {"NavAsk"};
    o.env = {{"OVALIS_DOWNLOADS", "ask"}, {"OVALIS_TEST_AUTODLG", std::nullopt}};
    ASSERT_TRUE(b_->start(o) && serve_load_calls(*b_) && b_->wait_page_ready());
    WindowQuery q;
    q.pid = b_->pid();
    q.name = "NavAsk";
    main_xid_ = find_window(q);
  }
  static void TearDownTestSuite() { stop_page(b_); }
  static Backend* b_;
  static unsigned long main_xid_;
};
Backend* NavAsk::b_ = nullptr;
unsigned long NavAsk::main_xid_ = 0;

TEST_F(NavAsk, TheUserPicksOrCancels) {
  E2E_X11_ONLY("answers the dialog with xdotool keys");
  Backend& b = *b_;
  std::string url = g_srv.url("/dl/asked.bin?size=777");
  click_download(b, url);
  ASSERT_NE(active_dialog(main_xid_), 0u);
  keys("key --delay 50 Escape");
  auto cancelled = download_line(b, url, "cancelled");
  ASSERT_TRUE(cancelled);
  EXPECT_NE(cancelled->find("\"filename\":\"asked.bin\",\"path\":null,\"state\":\"cancelled\"}"),
            std::string::npos)
      << *cancelled;

  std::string dest = b.dir() + "/chosen.dat";
  click_download(b, url);
  ASSERT_NE(active_dialog(main_xid_), 0u);
  keys("key --delay 50 ctrl+a");
  keys("type --delay 20 '" + dest + "'");
  keys("key --delay 50 Return");
  auto started = download_line(b, url, "started");
  ASSERT_TRUE(started);
  EXPECT_EQ(json_member(*started, "filename"), "chosen.dat");
  EXPECT_EQ(json_member(*started, "path"), dest);
  EXPECT_EQ(std::stoll(json_member(*started, "id")), std::stoll(json_member(*cancelled, "id")) + 1);
  ASSERT_TRUE(download_line(b, url, "done"));
  EXPECT_EQ(read_file(dest).size(), 777u);
}

TEST_F(NavAsk, LeavePageConfirmation) {
  E2E_X11_ONLY("clicks and answers the dialog with xdotool");
  Backend& b = *b_;
  // A leave-page question needs a page the user has touched.
  b.send("EVAL " + wire_escape("window.onbeforeunload=function(e){e.preventDefault();"
                               "return 'stay'};document.title='Touched'"));
  WindowQuery q;
  q.pid = b.pid();
  q.name = "NavAsk";
  ASSERT_NE(find_window(q), 0u);
  keys("windowactivate --sync " + std::to_string(main_xid_));
  keys("mousemove --window " + std::to_string(main_xid_) + " 50 50 click 1");
  std::string away = g_srv.url("/page2.html?away");
  b.send("EVAL " + wire_escape("location.href=" + js_str(away)));
  unsigned long d = active_dialog(main_xid_);
  ASSERT_NE(d, 0u);
  keys("key --delay 50 Escape");  // stay
  EXPECT_TRUE(holds_for([&] { return b.page_eval("document.title", "main", 2000) == "\"Touched\""; },
                        500));
  b.send("EVAL " + wire_escape("location.href=" + js_str(away)));
  ASSERT_NE(active_dialog(main_xid_), 0u);
  keys("key --delay 50 Return");  // leave
  auto navq = b.expect_prefix("NAVQ ");
  ASSERT_TRUE(navq);
  b.send("NAVR " + qid_of(*navq) + " allow");
  EXPECT_TRUE(finished(b, away));
}

// A dialog nobody answers does not keep the program from quitting.
TEST(NavQuit, QuitClosesOpenDialogs) {
  E2E_X11_ONLY("finds the dialog as the active X window");
  Options o;
  o.extra_args = {"NavQuit"};
  Backend* b = start_page(o);
  ASSERT_TRUE(b);
  WindowQuery q;
  q.pid = b->pid();
  q.name = "NavQuit";
  unsigned long main_xid = find_window(q);
  std::string id = start_call(*b, "c");
  b->send("DLG " + id + " confirm\tStill there?");
  ASSERT_NE(active_dialog(main_xid), 0u);
  stop_page(b);
}

// A fresh account has no downloads folder: the first download makes it, as
// browsers do, and one that cannot be made fails that download with the reason.
TEST(NavFresh, TheFirstDownloadMakesTheFolder) {
  Backend* b = start_page({.extra_args = {"NavFresh"}, .env = {{"OVALIS_DOWNLOADS", std::nullopt}}});
  ASSERT_TRUE(b);
  std::string folder = b->dir() + "/home/Downloads";
  write_file(folder, "in the way");
  std::string url = g_srv.url("/dl/first.bin?size=10");
  click_download(*b, url);
  auto failed = download_line(*b, url, "failed");
  ASSERT_TRUE(failed);
  EXPECT_NE(json_member(*failed, "error").find(folder), std::string::npos) << *failed;

  unlink(folder.c_str());
  click_download(*b, url);
  auto started = download_line(*b, url, "started");
  ASSERT_TRUE(started);
  EXPECT_EQ(json_member(*started, "path"), folder + "/first.bin");
  ASSERT_TRUE(download_line(*b, url, "done")) << b->stderr_text();
  EXPECT_EQ(read_file(folder + "/first.bin").size(), 10u);
  struct stat st {};
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  stop_page(b);
}
