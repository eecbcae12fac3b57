// Opening, revealing and trashing files with the desktop's own machinery
// (default applications from a handler entry, the real trash), and the
// login item's autostart entry as the desktop reads it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "harness.h"

using namespace e2e;

namespace {

std::string ask(Backend& b, const std::string& id, const std::string& line) {
  b.send(line);
  auto got = b.expect_prefix("GOT " + id + " ", 10000);
  return got ? got->substr(5 + id.size()) : "<none>";
}

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::string& text, int mode = 0644) {
  g_file_set_contents(path.c_str(), text.c_str(), -1, nullptr);
  g_chmod(path.c_str(), mode);
}

// Polls until the file holds text containing want; returns what it holds.
std::string wait_for_text(const std::string& path, const std::string& want, int ms = 8000) {
  std::string got;
  for (int i = 0; i < ms / 20; ++i) {
    got = read_file(path);
    if (got.find(want) != std::string::npos) break;
    g_usleep(20000);
  }
  return got;
}

std::string file_uri(const std::string& path) {
  gchar* u = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  std::string s = u;
  g_free(u);
  return s;
}

const char kOk[] = R"({"ok":true,"error":null})";

// Starts the stand-in file manager (one that never answers when hang) and
// waits until it owns its bus name; 0 on failure.
pid_t start_file_manager(const std::string& log, bool hang = false) {
  int out[2];
  if (pipe(out) != 0) return 0;
  std::string script = page_path("../file_manager1.py");
  pid_t fm = fork();
  if (fm == 0) {
    dup2(out[1], 1);
    execl("/usr/bin/python3", "python3", script.c_str(), log.c_str(), hang ? "hang" : nullptr,
          nullptr);
    _exit(127);
  }
  close(out[1]);
  char ready[6] = {};
  bool ok = read(out[0], ready, 5) == 5;
  close(out[0]);
  return ok ? fm : 0;
}

void stop_file_manager(pid_t fm) {
  kill(fm, SIGTERM);
  waitpid(fm, nullptr, 0);
}

// A launcher whose desktop has one handler application for text files,
// folders and the "ovalistest:" scheme; the handler logs what it was given.
class Shell : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    b_ = new Backend;
    home_ = b_->dir() + "/home";
    log_ = b_->dir() + "/opened.log";
    std::string apps = home_ + "/.local/share/applications";
    g_mkdir_with_parents(apps.c_str(), 0755);
    std::string handler = b_->dir() + "/handler.sh";
    write_file(handler, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log_ + "'\n", 0755);
    write_file(apps + "/ovalis-handler.desktop",
               "[Desktop Entry]\nType=Application\nName=Handler\nExec=" + handler +
                   " %u\nMimeType=text/plain;inode/directory;x-scheme-handler/ovalistest;\n");
    g_mkdir_with_parents((home_ + "/.config").c_str(), 0755);
    write_file(home_ + "/.config/mimeapps.list",
               "[Default Applications]\ntext/plain=ovalis-handler.desktop\n"
               "inode/directory=ovalis-handler.desktop\n"
               "x-scheme-handler/ovalistest=ovalis-handler.desktop\n");
    if (!b_->start({.extra_args = {"Notes\nX-Evil=1"},
                    .env = {{"OVALIS_NO_MAIN_WINDOW", "1"}, {"OVALIS_APP_ID", "notes"}}})) {
      delete b_;
      b_ = nullptr;
    }
  }
  static void TearDownTestSuite() { stop_page(b_); }
  void SetUp() override { ASSERT_NE(b_, nullptr); }
  static Backend* b_;
  static std::string home_, log_;
};
Backend* Shell::b_ = nullptr;
std::string Shell::home_, Shell::log_;

TEST_F(Shell, OpenUsesTheDefaultApplication) {
  EXPECT_EQ(ask(*b_, "r1", "SHELL r1 open\t/no/such"), R"({"ok":false,"error":"no such file"})");
  std::string doc = home_ + "/read me.txt";
  write_file(doc, "hello\n");
  EXPECT_EQ(ask(*b_, "r2", "SHELL r2 open\t" + doc), kOk);
  // GIO hands a local file to a "%u" handler as its path.
  EXPECT_NE(wait_for_text(log_, doc + "\n").find(doc + "\n"), std::string::npos);
  // An address is handed over as it is, with no file check.
  EXPECT_EQ(ask(*b_, "r3", "SHELL r3 open\tovalistest:some/where?x=1"), kOk);
  EXPECT_NE(wait_for_text(log_, "ovalistest:some/where?x=1\n").find("ovalistest:some/where?x=1\n"),
            std::string::npos);
  std::string none = ask(*b_, "r4", "SHELL r4 open\tnohandler-scheme:x");
  EXPECT_EQ(none.rfind(R"({"ok":false,"error":")", 0), 0u) << none;
  EXPECT_EQ(ask(*b_, "r5", "SHELL r5 copy\t/x"), R"({"ok":false,"error":"unknown shell op"})");
}

TEST_F(Shell, RevealAsksTheFileManagerElseOpensTheFolder) {
  std::string dir = home_ + "/docs";
  g_mkdir_with_parents(dir.c_str(), 0755);
  std::string doc = dir + "/report.txt";
  write_file(doc, "x");
  EXPECT_EQ(ask(*b_, "v1", "SHELL v1 reveal\t" + dir + "/missing.txt"),
            R"({"ok":false,"error":"no such file"})");

  // Without a file manager service, the folder opens in the default application.
  EXPECT_EQ(ask(*b_, "v2", "SHELL v2 reveal\t" + doc), kOk);
  EXPECT_NE(wait_for_text(log_, dir + "\n").find(dir + "\n"), std::string::npos);

  std::string fm_log = b_->dir() + "/fm.log";
  pid_t fm = start_file_manager(fm_log);
  ASSERT_GT(fm, 0);
  EXPECT_EQ(ask(*b_, "v3", "SHELL v3 reveal\t" + doc), kOk);
  EXPECT_EQ(read_file(fm_log), "ShowItems " + file_uri(doc) + "\n");
  stop_file_manager(fm);
}

// A command that waits on a stuck service must not hold back an answer that
// was ready before it, from the same read.
TEST_F(Shell, AnAnswerNeverWaitsBehindABlockingCall) {
  std::string doc = home_ + "/waiting.txt";
  write_file(doc, "x");
  pid_t fm = start_file_manager(b_->dir() + "/fm-hang.log", true);
  ASSERT_GT(fm, 0);
  auto t0 = std::chrono::steady_clock::now();
  b_->send_raw("GET g1 idle\nSHELL g2 reveal\t" + doc + "\n");
  EXPECT_TRUE(b_->expect_prefix("GOT g1 ", 10000));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  EXPECT_LT(ms.count(), 1500);
  // The reveal itself answers after the file manager's time-out.
  EXPECT_TRUE(b_->expect_prefix("GOT g2 ", 10000));
  stop_file_manager(fm);
}

TEST_F(Shell, TrashMovesIntoTheRealTrash) {
  std::string doc = home_ + "/old draft.txt";
  write_file(doc, "draft");
  EXPECT_EQ(ask(*b_, "t1", "SHELL t1 trash\t" + doc), kOk);
  EXPECT_FALSE(g_file_test(doc.c_str(), G_FILE_TEST_EXISTS));
  std::string trash = home_ + "/.local/share/Trash";
  EXPECT_EQ(read_file(trash + "/files/old draft.txt"), "draft");
  std::string info = read_file(trash + "/info/old draft.txt.trashinfo");
  EXPECT_NE(info.find("[Trash Info]\nPath="), std::string::npos) << info;
  EXPECT_NE(info.find("/old%20draft.txt\n"), std::string::npos) << info;

  std::string missing = ask(*b_, "t2", "SHELL t2 trash\t" + home_ + "/nothing-here");
  EXPECT_EQ(missing.rfind(R"({"ok":false,"error":")", 0), 0u) << missing;
  // An empty path would otherwise mean the working folder.
  EXPECT_EQ(ask(*b_, "t3", "SHELL t3 trash\t"), R"({"ok":false,"error":"no such file"})");
}

// The desktop's reading of an autostart entry: GLib's key file and the Exec
// argument rules.
struct Entry {
  std::string name;
  std::vector<std::string> argv;
  size_t keys = 0;
};
Entry read_entry(const std::string& path) {
  Entry e;
  GKeyFile* kf = g_key_file_new();
  if (g_key_file_load_from_file(kf, path.c_str(), G_KEY_FILE_NONE, nullptr)) {
    gchar** keys = g_key_file_get_keys(kf, "Desktop Entry", &e.keys, nullptr);
    g_strfreev(keys);
    gchar* name = g_key_file_get_string(kf, "Desktop Entry", "Name", nullptr);
    gchar* exec = g_key_file_get_string(kf, "Desktop Entry", "Exec", nullptr);
    if (name) e.name = name;
    gchar** argv = nullptr;
    if (exec && g_shell_parse_argv(exec, nullptr, &argv, nullptr))
      for (gchar** a = argv; *a; ++a) e.argv.emplace_back(*a);
    g_strfreev(argv);
    g_free(name);
    g_free(exec);
  }
  g_key_file_free(kf);
  return e;
}

std::string self_exe() {
  gchar* p = g_file_read_link("/proc/self/exe", nullptr);
  std::string s = p ? p : "";
  g_free(p);
  return s;
}

const char kEnabled[] = R"({"status":"enabled","ok":true,"error":null})";
const char kDisabled[] = R"({"status":"disabled","ok":true,"error":null})";
const char kUnsupported[] = R"({"status":"unsupported","ok":false,"error":null})";

TEST_F(Shell, LoginItemIsAnAutostartEntry) {
  std::string entry = home_ + "/.config/autostart/notes.desktop";
  EXPECT_EQ(ask(*b_, "l1", "LOGIN l1 get"), kDisabled);
  EXPECT_EQ(ask(*b_, "l2", "LOGIN l2 set 1"), kEnabled);
  Entry e = read_entry(entry);
  // The name's line break stays inside the value: no key was added.
  EXPECT_EQ(e.keys, 5u);
  EXPECT_EQ(e.name, "Notes\nX-Evil=1");
  EXPECT_EQ(e.argv, std::vector<std::string>{self_exe()});
  EXPECT_EQ(ask(*b_, "l3", "LOGIN l3 get\tignored"), kEnabled);
  EXPECT_EQ(ask(*b_, "l4", "LOGIN l4 set 0"), kDisabled);
  EXPECT_FALSE(g_file_test(entry.c_str(), G_FILE_TEST_EXISTS));
  EXPECT_EQ(ask(*b_, "l5", "LOGIN l5 get"), kDisabled);
  // A link to nothing is still an entry at that path.
  ASSERT_EQ(symlink((home_ + "/nowhere").c_str(), entry.c_str()), 0);
  EXPECT_EQ(ask(*b_, "l5b", "LOGIN l5b get"), kEnabled);
  EXPECT_EQ(ask(*b_, "l5c", "LOGIN l5c set 0"), kDisabled);
  EXPECT_EQ(ask(*b_, "l5d", "LOGIN l5d get"), kDisabled);
  EXPECT_EQ(ask(*b_, "l6", "LOGIN l6 set"), kUnsupported);
  EXPECT_EQ(ask(*b_, "l7", "LOGIN l7 toggle"), kUnsupported);

  // A file where the folder should be: the write fails and says so.
  std::string dir = home_ + "/.config/autostart";
  g_rmdir(dir.c_str());
  write_file(dir, "not a folder");
  EXPECT_EQ(ask(*b_, "l8", "LOGIN l8 set 1"),
            R"({"status":"disabled","ok":false,"error":"write failed"})");
  g_unlink(dir.c_str());
}

// Starts launcher from a copy of the shell at exe, so that copy is the
// backend whose executable the entry names.
bool start_from(Backend& b, const std::string& exe,
                std::vector<std::pair<std::string, std::optional<std::string>>> env = {}) {
  std::string copy = "cp /bin/dash '" + exe + "' && chmod 755 '" + exe + "' && echo ok";
  if (sh(copy) != "ok\n") return false;
  env.emplace_back("OVALIS_NO_MAIN_WINDOW", "1");
  return b.start({.env = env,
                  .command = {exe, "-c", "\"$0\" \"$@\"; exit $?", launcher_bin(),
                              page_path("blank.html"), "{sock}"}});
}

TEST(LoginItem, HostileExecutablePathStaysOneArgument) {
  Backend b;
  std::string dir = b.dir() + "/my \"app\" $HOME `id` back\\slash";
  ASSERT_EQ(g_mkdir(dir.c_str(), 0755), 0);
  // The id becomes a file name; its "/" must not lead out of the folder.
  ASSERT_TRUE(start_from(b, dir + "/run $x", {{"OVALIS_APP_ID", "../../evil"}}));
  EXPECT_EQ(ask(b, "l1", "LOGIN l1 set 1"), kEnabled);
  std::string autostart = b.dir() + "/home/.config/autostart";
  EXPECT_EQ(sh("ls -A '" + autostart + "'"), ".._.._evil.desktop\n");
  EXPECT_FALSE(g_file_test((b.dir() + "/home/evil.desktop").c_str(), G_FILE_TEST_EXISTS));
  Entry e = read_entry(autostart + "/.._.._evil.desktop");
  EXPECT_EQ(e.argv, std::vector<std::string>{dir + "/run $x"});
  EXPECT_EQ(e.name, "ovalis");
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

TEST(LoginItem, DevelopmentRunnerIsUnsupported) {
  Backend b;
  ASSERT_TRUE(start_from(b, b.dir() + "/ovx"));
  EXPECT_EQ(ask(b, "l1", "LOGIN l1 get"), kUnsupported);
  EXPECT_EQ(ask(b, "l2", "LOGIN l2 set 1"), kUnsupported);
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

}  // namespace
