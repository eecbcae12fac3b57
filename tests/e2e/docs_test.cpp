// What the guides promise a newcomer: the command line's help and version,
// and the dialog hook an application's own tests rely on.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>
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
  // The one version number is the project's.
  std::smatch m;
  std::string cmake = read_text(source_file("CMakeLists.txt"));
  ASSERT_TRUE(std::regex_search(cmake, m, std::regex(R"(project\(launcher VERSION ([0-9.]+))")));
  EXPECT_EQ(version, "launcher " + m[1].str() + "\nstatus=0\n");
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

// ---- the example exchanges of the protocol guide ----
//
// The example exchanges of the protocol guide, run against the real
// launcher: every fenced block that the backend starts (its first line is
// "->") or that a page call starts ("<- CALL") is played line by line.
//
//   "-> line"  is sent, with "⇥" as a tab;
//   "<- line"  must arrive; "..." in it stands for any text; a "<- CALL"
//              line is first made by the page itself, and the call id it
//              gets stands in for the guide's id in later "->" lines;
//   "(the page's promise resolves with X)" must hold for the last call.
//
// Paths in the guide are stand-ins: /home/me/ is the session's home, /app/
// and /tmp/ are folders this test fills with the files the examples name.
// Blocks made only of "<-" lines list events that need a user or the
// desktop; their keywords must be ones launcher really writes. The answers
// of a few requests depend on desktop services this session does not run
// (the login manager, a browser, the screen-cast and screenshot portals,
// the machine's locate database):
// for those an answer with the right id is enough.

const std::string kResolves = "(the page's promise resolves with ";

struct GuideBlock {
  int line = 0;  // where the block starts in the guide, for messages
  std::vector<std::string> lines;
};

std::vector<GuideBlock> guide_blocks(const std::string& doc) {
  std::vector<GuideBlock> out;
  std::istringstream in(doc);
  std::string l;
  bool fenced = false;
  int n = 0;
  GuideBlock cur;
  while (std::getline(in, l)) {
    ++n;
    size_t a = l.find_first_not_of(' ');
    std::string t = a == std::string::npos ? "" : l.substr(a);
    if (t.rfind("```", 0) == 0) {
      if (fenced && !cur.lines.empty()) out.push_back(cur);
      fenced = !fenced;
      cur = {n + 1, {}};
      continue;
    }
    if (fenced && (t.rfind("-> ", 0) == 0 || t.rfind("<- ", 0) == 0 || t == "->" ||
                   t.rfind(kResolves, 0) == 0))
      cur.lines.push_back(t);
  }
  return out;
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
    s.replace(at, from.size(), to);
  return s;
}

// A received line matches a guide line with "..." as any text.
bool matches_guide(const std::string& got, const std::string& want) {
  std::vector<std::string> parts;
  for (size_t at = 0;;) {
    size_t dots = want.find("...", at);
    parts.push_back(want.substr(at, dots == std::string::npos ? std::string::npos : dots - at));
    if (dots == std::string::npos) break;
    at = dots + 3;
  }
  if (parts.size() == 1) return got == want;
  if (got.compare(0, parts.front().size(), parts.front()) != 0) return false;
  size_t pos = parts.front().size();
  for (size_t i = 1; i + 1 < parts.size(); ++i) {
    size_t at = got.find(parts[i], pos);
    if (at == std::string::npos) return false;
    pos = at + parts[i].size();
  }
  const std::string& last = parts.back();
  return got.size() >= pos + last.size() &&
         got.compare(got.size() - last.size(), last.size(), last) == 0;
}

// The files the guide's examples name, in a folder of their own.
class GuideExamples : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = std::getenv("HOME") ? std::getenv("HOME") : "/tmp";
    root_ = sh("mktemp -d | tr -d '\\n'");
    for (const char* d : {"/app/sounds", "/app/icons", "/tmp"}) g_mkdir_with_parents((root_ + d).c_str(), 0700);
    std::ofstream(root_ + "/app/page.html")
        << "<!doctype html><title>page</title><p>panel one, panel two, panel three</p>";
    save_image(root_ + "/app/icon.png", "png", 32, 32);
    save_image(root_ + "/app/icons/busy.png", "png", 32, 32);
    save_image(home_ + "/photo.jpg", "jpeg", 1024, 768);
    std::ofstream(home_ + "/notes.txt") << "notes\n";
    std::ofstream(home_ + "/old.txt") << "old\n";
    std::ofstream(home_ + "/report.pdf") << "%PDF-1.4\n";
    write_wav(root_ + "/app/sounds/kick.wav", 24000);
  }
  static void TearDownTestSuite() {
    if (b_) stop_page(b_);
    sh("rm -rf " + root_);
  }
  static void save_image(const std::string& path, const char* type, int w, int h) {
    GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
    gdk_pixbuf_fill(pb, 0x5b5bd6ff);
    gdk_pixbuf_save(pb, path.c_str(), type, nullptr, nullptr);
    g_object_unref(pb);
  }
  // Mono 16-bit PCM at 48 kHz.
  static void write_wav(const std::string& path, uint32_t frames) {
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    f << "RIFF";
    u32(36 + frames * 2);
    f << "WAVEfmt ";
    u32(16), u16(1), u16(1), u32(48000), u32(96000), u16(2), u16(16);
    f << "data";
    u32(frames * 2);
    for (uint32_t i = 0; i < frames; ++i) u16(static_cast<uint16_t>((i % 100) * 300));
  }
  static Backend* running() {
    if (b_ && b_->running()) return b_;
    delete b_;
    b_ = start_page({.target = root_ + "/app/page.html",
                     .extra_args = {"Guide"},
                     .env = {{"OVALIS_TEST_AUTODLG",
                              "yes\ttext:Ada\tpath:" + home_ + "/Downloads/notes.txt"}}});
    return b_;
  }
  // The guide's stand-in paths made real.
  static std::string real_paths(std::string s) {
    s = replace_all(s, "\xE2\x87\xA5", "\t");
    s = replace_all(s, "/home/me/", home_ + "/");
    return replace_all(s, "/app/", root_ + "/app/");
  }
  static void play(const GuideBlock& blk) {
    Backend* b = running();
    ASSERT_TRUE(b) << "launcher did not start for the block at line " << blk.line;
    b->collect(150);
    std::vector<std::pair<std::string, std::string>> swaps;  // guide text -> real text
    // Call ids end at a blank or at the end of the line.
    auto swapped = [&](std::string s) {
      s += ' ';
      for (auto& [from, to] : swaps) s = replace_all(s, from, to);
      s.pop_back();
      return s;
    };
    std::map<std::string, std::string> request_kw;  // request id -> keyword
    std::string last_call;  // the real id of the page's last call
    for (const std::string& gl : blk.lines) {
      if (gl.rfind(kResolves, 0) == 0) {
        std::string want = real_paths(gl.substr(kResolves.size(), gl.size() - kResolves.size() - 1));
        auto value = b->page_eval("window.__guide[" + json_quote(last_call) + "]");
        EXPECT_TRUE(value && matches_guide(*value, want))
            << "guide block at line " << blk.line << ": the call resolved with "
            << value.value_or("nothing") << ", not " << want;
        continue;
      }
      std::string guide_text = gl.size() > 3 ? gl.substr(3) : "";
      if (gl.rfind("->", 0) == 0) {
        // Files written under /tmp go to this test's folder instead.
        std::smatch m;
        std::string rest = guide_text;
        std::regex tmp_path(R"(/tmp/[^\s"\t\xE2]+)");
        while (std::regex_search(rest, m, tmp_path)) {
          swaps.emplace_back(m[0].str(), root_ + m[0].str());
          rest = m.suffix();
        }
        std::string text = swapped(real_paths(guide_text));
        std::istringstream words(text);
        std::string kw, w;
        words >> kw;
        for (int i = 0; i < 2 && words >> w; ++i)
          if (!w.empty() && w.find_first_not_of("0123456789") == std::string::npos) request_kw[w] = kw;
        b->send(text);
        if (text == "QUIT") {
          EXPECT_EQ(b->wait_exit(), 0) << "guide line " << blk.line;
          return;
        }
        continue;
      }
      std::string text = swapped(real_paths(guide_text));
      if (text.rfind("CALL ", 0) == 0) {
        auto want = parse_call(text);
        ASSERT_TRUE(want) << "guide line " << blk.line << ": unreadable call " << text;
        // The page's own start-up calls come by themselves; others the
        // page is made to call, in the window the guide names.
        std::string method = call_method(*want);
        std::string win = want->id.substr(0, want->id.find(':'));
        if (method != "client.hello" && method != "client.capabilities" && method != "win.getState")
          b->send((win == "main" ? "EVAL " : "EVAL@" + win + " ") +
                  "(window.__guide=window.__guide||{})[" + json_quote(want->id) +
                  "]=window.__invoke(" + wire_escape(json_quote(want->payload)) + ")");
        auto got = b->expect([&](const std::string& l) {
          auto c = parse_call(l);
          return c && c->payload == want->payload;
        });
        ASSERT_TRUE(got) << "guide line " << blk.line << ": the page's call never came: " << text;
        swaps.emplace_back(want->id + " ", parse_call(*got)->id + " ");
        last_call = want->id;
        continue;
      }
      static const std::set<std::string> kDesktopAnswers = {"POWER", "SHELL", "PICKCOLOR",
                                                            "MOUSETRACK", "SPOTLIGHT"};
      std::optional<std::string> got;
      if (text.rfind("GOT ", 0) == 0 &&
          kDesktopAnswers.count(request_kw[text.substr(4, text.find(' ', 4) - 4)]))
        got = b->expect_prefix(text.substr(0, text.find(' ', 4) + 1));
      else
        got = b->expect([&](const std::string& l) { return matches_guide(l, text); });
      if (!got) {
        std::string seen;
        std::vector<std::string> left = b->unconsumed();
        for (size_t i = 0; i < left.size() && i < 8; ++i) seen += "\n    " + left[i].substr(0, 300);
        ADD_FAILURE() << "guide block at line " << blk.line << ": expected\n    " << text
                      << "\n  received instead:" << seen;
        return;
      }
    }
  }
  static std::string json_quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    return out + "\"";
  }
  static std::string home_, root_;
  static Backend* b_;
};
std::string GuideExamples::home_, GuideExamples::root_;
Backend* GuideExamples::b_ = nullptr;

TEST_F(GuideExamples, EveryExchangeHappensAsPrinted) {
  E2E_X11_ONLY("the guide shows the answers of an X11 desktop");
  std::string doc = read_text(source_file("docs/protocol.md"));
  std::vector<GuideBlock> blocks = guide_blocks(doc);
  ASSERT_GT(blocks.size(), 20u);
  int played = 0, listed = 0;
  for (const GuideBlock& blk : blocks) {
    const std::string& first = blk.lines.front();
    if (first.rfind("->", 0) == 0 || first.rfind("<- CALL ", 0) == 0) {
      play(blk);
      ++played;
      continue;
    }
    // A list of events: each must be a line launcher writes.
    for (const std::string& gl : blk.lines) {
      std::string kw = gl.substr(3, gl.find_first_of(" \t", 3) - 3);
      std::string hit = sh("grep -rlF -- '\"" + kw + "' " + source_file("src") + " | head -1");
      EXPECT_FALSE(hit.empty()) << "guide line " << blk.line << ": launcher never writes " << kw;
    }
    ++listed;
  }
  std::printf("guide examples: %d exchanges played, %d event lists checked\n", played, listed);
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
