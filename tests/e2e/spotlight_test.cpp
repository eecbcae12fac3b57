// File search with the real tools: a plocate database built by updatedb
// over a test tree, the find walk of the home folder, no tool at all, and a
// tool that is slow to finish.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <chrono>

#include "harness.h"

using namespace e2e;

namespace {

using Env = std::vector<std::pair<std::string, std::optional<std::string>>>;

std::string ask(Backend& b, const std::string& id, const std::string& line, int ms = 10000) {
  b.send(line);
  auto got = b.expect_prefix("GOT " + id + " ", ms);
  return got ? got->substr(5 + id.size()) : "<none>";
}

void touch(const std::string& path) {
  gchar* dir = g_path_get_dirname(path.c_str());
  g_mkdir_with_parents(dir, 0755);
  g_free(dir);
  g_file_set_contents(path.c_str(), "", 0, nullptr);
}

// The JSON array of paths, as the answer would hold it.
std::string paths(const std::vector<std::string>& ps) {
  std::string j = R"({"ok":true,"paths":[)";
  for (size_t i = 0; i < ps.size(); ++i) j += (i ? "," : "") + ("\"" + ps[i] + "\"");
  return j + "]}";
}

size_t count_paths(const std::string& json) {
  size_t n = 0;
  for (size_t at = json.find("\"/"); at != std::string::npos; at = json.find("\"/", at + 1)) ++n;
  return n;
}

void quit(Backend& b) {
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

// A folder for PATH holding links to the named tools only.
std::string tool_dir(const std::string& base, const std::vector<std::string>& tools) {
  std::string dir = base + "/bin";
  g_mkdir_with_parents(dir.c_str(), 0755);
  for (auto& t : tools) {
    gchar* real = g_find_program_in_path(t.c_str());
    if (real && symlink(real, (dir + "/" + t).c_str()) != 0)
      ADD_FAILURE() << "cannot link " << t << " into " << dir;
    g_free(real);
  }
  return dir;
}

TEST(Spotlight, LocateDatabaseIsSearchedCaseInsensitively) {
  Backend b;
  // plocate reads its database from the system's place; in a mount
  // namespace of its own the test's database sits there.
  if (sh("unshare -m true >/dev/null 2>&1 && echo ok") != "ok\n")
    GTEST_SKIP() << "no mount namespaces here";
  std::string tree = b.dir() + "/tree", db = b.dir() + "/db";
  touch(tree + "/Reports/Annual-REPORT.txt");
  touch(tree + "/notes/report draft.md");
  touch(tree + "/notes/other.txt");
  touch(tree + "/odd/x--help-y");
  for (int i = 0; i < 5000; ++i) touch(tree + "/bulk/" + std::to_string(i / 500) + "/bulkfile" + std::to_string(i));
  g_mkdir(db.c_str(), 0755);
  ASSERT_EQ(sh("updatedb -U '" + tree + "' -o '" + db + "/plocate.db' -l 0 && echo ok"), "ok\n");
  ASSERT_TRUE(b.start({.env = {{"OVALIS_NO_MAIN_WINDOW", "1"}},
                       .command = {"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                                   "mount --bind \"$0\" /var/lib/plocate && exec \"$@\"", db,
                                   launcher_bin(), page_path("blank.html"), "{sock}"}}));
  std::string got = ask(b, "s1", "SPOTLIGHT s1 report");
  EXPECT_NE(got.find("\"" + tree + "/Reports\""), std::string::npos) << got;
  EXPECT_NE(got.find("\"" + tree + "/Reports/Annual-REPORT.txt\""), std::string::npos) << got;
  EXPECT_NE(got.find("\"" + tree + "/notes/report draft.md\""), std::string::npos) << got;
  EXPECT_EQ(count_paths(got), 3u) << got;
  // A query that looks like an option is still a pattern.
  EXPECT_EQ(ask(b, "s2", "SPOTLIGHT s2 --help"), paths({tree + "/odd/x--help-y"}));
  auto t0 = std::chrono::steady_clock::now();
  std::string bulk = ask(b, "s3", "SPOTLIGHT s3 BULKFILE");
  EXPECT_EQ(count_paths(bulk), 100u);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  EXPECT_EQ(ask(b, "s4", "SPOTLIGHT s4 nothing-like-this"), paths({}));
  EXPECT_EQ(ask(b, "s5", "SPOTLIGHT s5 "), paths({}));
  quit(b);
}

TEST(Spotlight, WithoutLocateTheHomeFolderIsWalked) {
  Backend b;
  std::string home = b.dir() + "/home";
  touch(home + "/Match-one.txt");
  touch(home + "/a/b/c/d/e/deep-match");         // 6 levels down: found
  touch(home + "/a/b/c/d/e/f/deeper-match");     // 7 levels down: not
  touch(home + "/.hidden/match-hidden");
  touch(home + "/proj/node_modules/match-mod");
  touch(home + "/proj/__pycache__/match.pyc");
  touch(home + "/proj/unrelated.txt");
  ASSERT_TRUE(b.start({.env = {{"OVALIS_NO_MAIN_WINDOW", "1"},
                               {"PATH", tool_dir(b.dir(), {"find"})}}}));
  std::string got = ask(b, "f1", "SPOTLIGHT f1 MATCH");
  EXPECT_NE(got.find("\"" + home + "/Match-one.txt\""), std::string::npos) << got;
  EXPECT_NE(got.find("\"" + home + "/a/b/c/d/e/deep-match\""), std::string::npos) << got;
  EXPECT_EQ(count_paths(got), 2u) << got;
  quit(b);
}

TEST(Spotlight, NoToolAnswersNoPaths) {
  Backend b;
  ASSERT_TRUE(b.start({.env = {{"OVALIS_NO_MAIN_WINDOW", "1"}, {"PATH", tool_dir(b.dir(), {})}}}));
  EXPECT_EQ(ask(b, "n1", "SPOTLIGHT n1 anything"), paths({}));
  quit(b);
}

TEST(Spotlight, SlowToolIsStoppedAfterFourSeconds) {
  Backend b;
  std::string bin = tool_dir(b.dir(), {});
  std::string pidfile = b.dir() + "/tool.pid";
  // Prints its arguments as results, then hangs without ending its output.
  std::string script = "#!/bin/sh\necho $$ > '" + pidfile +
                       "'\nfor a; do printf '/%s\\n' \"$a\"; done\nprintf '/partial'\nexec /bin/sleep 60\n";
  g_file_set_contents((bin + "/plocate").c_str(), script.c_str(), -1, nullptr);
  g_chmod((bin + "/plocate").c_str(), 0755);
  ASSERT_TRUE(b.start({.env = {{"OVALIS_NO_MAIN_WINDOW", "1"}, {"PATH", bin}}}));
  auto t0 = std::chrono::steady_clock::now();
  // A tab arrives escaped and reaches the tool as one.
  std::string got = ask(b, "w1", "SPOTLIGHT w1 two\\twords", 10000);
  auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_EQ(got, paths({"/-i", "/-l", "/100", "/--", "/two\\twords"}));
  EXPECT_GE(took, std::chrono::milliseconds(3900));
  EXPECT_LT(took, std::chrono::milliseconds(7000));
  gchar* text = nullptr;
  ASSERT_TRUE(g_file_get_contents(pidfile.c_str(), &text, nullptr, nullptr));
  pid_t tool = std::atoi(text);
  g_free(text);
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    gone = kill(tool, 0) != 0;
    if (!gone) g_usleep(20000);
  }
  EXPECT_TRUE(gone) << "the slow tool still runs";
  EXPECT_TRUE(b.collect(300, [](const std::string& l) { return l.rfind("GOT w1", 0) == 0; }).empty());
  quit(b);
}

}  // namespace
