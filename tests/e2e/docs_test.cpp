// What the guides promise a newcomer: the command line's help and version,
// and the dialog hook an application's own tests rely on.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "harness.h"

using namespace e2e;

namespace {

// The source tree, found from the test pages' folder (tests/e2e/pages).
std::string source_file(const std::string& rel) {
  std::string pages = page_path("");
  return pages.substr(0, pages.rfind("/tests/e2e/pages")) + "/" + rel;
}

std::string read_text(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

TEST(Help, BothFormsTheEnvironmentAndStatusZero) {
  std::string help = sh(launcher_bin() + " --help; echo \"status=$?\"");
  EXPECT_NE(help.find("Usage: launcher <html-file-or-url> <socket> [title] [WxH] [version]\n"),
            std::string::npos) << help;
  EXPECT_NE(help.find("launcher --open <socket> <app-exe> [arg]\n"), std::string::npos);
  for (const char* var : {"OVALIS_APP_ID", "OVALIS_DEBUG", "OVALIS_DOWNLOADS", "OVALIS_POPUPS",
                          "OVALIS_TEST_AUTODLG", "--version"})
    EXPECT_NE(help.find(var), std::string::npos) << var;
  EXPECT_NE(help.find("\nstatus=0\n"), std::string::npos);

  std::string version = sh(launcher_bin() + " --version; echo \"status=$?\"");
  // The one version number is the project's VERSION file.
  std::string number = read_text(source_file("VERSION"));
  number.erase(number.find_last_not_of(" \n") + 1);
  ASSERT_FALSE(number.empty());
  EXPECT_EQ(version, "launcher " + number + "\nstatus=0\n");
  // Anything after --help is an ordinary command line again.
  std::string two = sh(launcher_bin() + " --help x 2>&1; echo \"status=$?\"");
  EXPECT_NE(two.find("status=1"), std::string::npos) << two;
}

// The text of the first fenced block of a language in a markdown file.
std::string fenced(const std::string& doc, const std::string& lang) {
  size_t at = doc.find("```" + lang + "\n");
  if (at == std::string::npos) return "";
  at += 4 + lang.size();
  return doc.substr(at, doc.find("```", at) - at);
}

// The walkthrough's whole application, page and Python backend, exactly as
// printed, run against the real launcher. A driver script injected into the
// page adds two notes that need escaping and quits once the page has seen
// both come back as they were written; anything else hangs until the
// time-out and fails.
TEST(FirstBackend, TheWalkthroughApplicationRunsAsPrinted) {
  std::string doc = read_text(source_file("docs/first-backend.md"));
  std::string page = fenced(doc, "html"), code = fenced(doc, "python");
  ASSERT_FALSE(page.empty());
  ASSERT_FALSE(code.empty());
  std::string dir = sh("mktemp -d | tr -d '\\n'");
  std::ofstream(dir + "/index.html") << page;
  std::ofstream(dir + "/notes.py") << code;
  std::ofstream(dir + "/drive.js") << R"JS(
addEventListener('load', () => {
  const first = 'tab\there "quoted" </script> \\ caf\u00e9', second = 'line\nbreak';
  ovalis.api.on('notes-changed', (d) => {
    if (d.notes.length !== 2) return;
    if (d.notes[0] !== first || d.notes[1] !== second) return;
    Promise.all([ovalis.win.getState(), ovalis.api.call('notes.list'),
                 ovalis.api.call('no.such').catch((e) => e.message)])
      .then(([state, list, refused]) => {
        if (typeof state.chrome === 'object' && list.length === 2 && /no such method/.test(refused))
          ovalis.api.call('quit');
      });
  });
  ovalis.api.call('notes.add', { text: first }).then(() => ovalis.api.call('notes.add', { text: second }));
});
)JS";
  std::string out = sh("cd " + dir + " && OVALIS_LAUNCHER=" + launcher_bin() +
                       " OVALIS_INJECT=\"$(cat drive.js)\" timeout 60 python3 notes.py index.html "
                       ">/dev/null 2>&1; echo \"status=$?\"; rm -rf " + dir);
  EXPECT_EQ(out, "status=0\n");
}

// A page call the backend answers with a dialog of its own choosing.
std::string dialog_result(Backend& b, const std::string& dlg) {
  b.send("EVAL " + wire_escape(
                       "window.__d=ovalis.api.call('pick',{}).then(v=>['ok',v],e=>['err',e])"));
  auto call = b.expect_prefix("CALL ");
  if (!call) return "no call";
  b.send("DLG " + parse_call(*call)->id + " " + dlg);
  return b.page_eval("window.__d", "main", 12000).value_or("no answer");
}

TEST(DialogHook, AnswersBackendDialogsWithTheGivenTextAndPaths) {
  Backend* b = start_page({.env = {{"OVALIS_TEST_AUTODLG", "yes\ttext:Ada \"L\"\tpath:/tmp/a b.txt"
                                                           "\tpath:/tmp/c.md"}}});
  ASSERT_TRUE(b);
  EXPECT_EQ(dialog_result(*b, "confirm\tSure?"), R"(["ok",true])");
  EXPECT_EQ(dialog_result(*b, "alert\tNote"), R"(["ok",true])");
  EXPECT_EQ(dialog_result(*b, "prompt\tName?\tdefault"), R"(["ok","Ada \"L\""])");
  EXPECT_EQ(dialog_result(*b, "open\ttxt"), R"(["ok","/tmp/a b.txt"])");
  EXPECT_EQ(dialog_result(*b, "save\ttxt\tx.txt\tdownloads"), R"(["ok","/tmp/a b.txt"])");
  EXPECT_EQ(dialog_result(*b, "openmulti\t"), R"(["ok",["/tmp/a b.txt","/tmp/c.md"]])");
  // The page's own dialogs take the prompt text too.
  EXPECT_EQ(b->page_eval("prompt('Name?','x')", "main", 12000), R"("Ada \"L\"")");
  stop_page(b);

  b = start_page({.env = {{"OVALIS_TEST_AUTODLG", "cancel"}}});
  ASSERT_TRUE(b);
  EXPECT_EQ(dialog_result(*b, "confirm\tSure?"), R"(["ok",false])");
  EXPECT_EQ(dialog_result(*b, "alert\tNote"), R"(["ok",true])");
  EXPECT_EQ(dialog_result(*b, "prompt\tName?\tdefault"), R"(["ok",null])");
  EXPECT_EQ(dialog_result(*b, "dir\t"), R"(["ok",null])");
  stop_page(b);

  // "yes" alone: prompts keep their default text, choosers choose nothing.
  b = start_page({.env = {{"OVALIS_TEST_AUTODLG", "yes"}}});
  ASSERT_TRUE(b);
  EXPECT_EQ(dialog_result(*b, "prompt\tName?\tdefault"), R"(["ok","default"])");
  EXPECT_EQ(dialog_result(*b, "open\t"), R"(["ok",null])");
  stop_page(b);
}

}  // namespace
