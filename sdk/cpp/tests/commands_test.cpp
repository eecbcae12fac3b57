// Lines built by the backend library, read back with the launcher's own
// keyword table and field rules: each must reach the intended command with
// its fields intact, whatever text the caller passes.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "core/dispatch.h"
#include "core/wire.h"
#include "menus/menu_build.h"
#include "ovalis/commands.h"
#include "ovalis/json.h"
#include "ovalis/wire.h"

namespace {

namespace l = ovalis::line;

const std::string kNasty = "a\tb\nc\\d\re \"q\"";

TEST(SdkLines, RequestsReachTheirCommandWithTheirId) {
  struct Case {
    std::string line;
    Cmd cmd;
  };
  const Case cases[] = {
      {l::shell("7", "open", "/tmp/x y"), Cmd::Shell},
      {l::login_set("8", true), Cmd::Login},
      {l::power("9", true, true, kNasty), Cmd::Power},
      {l::secret("10", "set", kNasty, "acc", kNasty), Cmd::Secret},
      {l::cookies("11", "get", {"https://example.org"}), Cmd::Cookies},
      {l::capture("12"), Cmd::Capture},
      {l::pickcolor("13"), Cmd::PickColor},
      {l::thumb("14", kNasty, 64), Cmd::Thumb},
      {l::spotlight("15", kNasty), Cmd::Spotlight},
      {l::sound("16", ""), Cmd::Sound},
      {l::say("17", kNasty, "", 0.5), Cmd::Say},
      {l::voices("18"), Cmd::Voices},
      {l::keystroke("19", "ctrl+v"), Cmd::Keystroke},
      {l::mousetrack("20", ""), Cmd::MouseTrack},
      {l::audiotap("21", true, 80), Cmd::AudioTap},
      {l::permission("22", false, "camera"), Cmd::PermChk},
      {l::permission("23", true, "camera"), Cmd::PermReq},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.line.find_first_of("\r\n"), std::string::npos) << c.line;
    CmdMatch m = match_command(c.line);
    EXPECT_EQ(m.cmd, c.cmd) << c.line;
    EXPECT_FALSE(m.id.empty()) << c.line;
  }
  EXPECT_EQ(match_command(l::pdf("w2", "5", "/tmp/a b.pdf")).cmd, Cmd::PdfAt);
  EXPECT_EQ(match_command(l::pdf("main", "5", "/tmp/a.pdf")).cmd, Cmd::Pdf);
  EXPECT_EQ(match_command(l::hkreg("6", "k", "ctrl+k")).cmd, Cmd::HkReg);
  EXPECT_EQ(match_command(l::sampler_load("6", "kick", "/s.wav")).cmd, Cmd::Sampler);
  EXPECT_EQ(match_command(l::get("3", "win:w2")).cmd, Cmd::Get);
  // Stop lines must not be read as the request form of the same keyword.
  EXPECT_EQ(match_command(l::audiotap_stop()).cmd, Cmd::AudioTapStop);
  EXPECT_EQ(match_command(l::mousetrack_stop()).cmd, Cmd::MouseTrackStop);
  EXPECT_EQ(match_command(l::saystop()).cmd, Cmd::SayStop);
  EXPECT_EQ(match_command(l::audio_filter_set(0, 100, 1, 3)).cmd, Cmd::AudioFilterSet);
  EXPECT_EQ(match_command(l::audio_filters({})).cmd, Cmd::AudioFilters);
}

TEST(SdkLines, EscapedFieldsSurviveTheLaunchersSplitAndUnescape) {
  // Matches point into the line, so the line must outlive them.
  std::string sec = l::secret("1", "set", kNasty, "acc", kNasty);
  CmdMatch m = match_command(sec);
  auto f = split_tabs(m.rest);
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0], "set");
  EXPECT_EQ(wire_unescape(f[1]), kNasty);
  EXPECT_EQ(wire_unescape(f[3]), kNasty);

  ovalis::line::ClipData d;
  d.text = kNasty;
  d.paths = {"/a\tb", "/c"};
  std::string clip = l::clipwrite(d);
  auto cf = split_tabs(clip.substr(std::string("CLIPWRITE ").size()));
  ASSERT_EQ(cf.size(), 6u);
  EXPECT_EQ(wire_unescape(cf[0]), kNasty);
  EXPECT_EQ(wire_unescape(cf[4]), "/a\tb");

  // A script with line breaks runs as written.
  std::string ev = l::eval("w2", "a=1;\nb='\\t'");
  CmdMatch e = match_command(ev);
  EXPECT_EQ(e.cmd, Cmd::Eval);
  EXPECT_EQ(e.win, "w2");
  EXPECT_EQ(wire_unescape(e.rest), "a=1;\nb='\\t'");
}

TEST(SdkLines, PlainFieldsNeverSplitOrBreakTheLine) {
  // Text the launcher takes as it stands loses its control characters
  // instead of adding fields or lines.
  std::string t = l::title("main", kNasty);
  EXPECT_EQ(t.find_first_of("\r\n\t"), std::string::npos);
  CmdMatch m = match_command(t);
  EXPECT_EQ(m.cmd, Cmd::Title);

  ovalis::line::NotifyAction act{"reply", "Re\"ply"};
  std::string n = l::notify("n1", kNasty, "body", "", false, {act});
  auto f = split_tabs(n.substr(std::string("NOTIFY ").size()));
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[0], "n1");
  EXPECT_EQ(f[4], "0");
  EXPECT_EQ(json_find_str(wire_unescape(f[5]), "title"), "Re\"ply");

  ovalis::line::WindowSpec w;
  w.id = "w2";
  w.target = "/p/index.html";
  w.title = kNasty;
  w.width = 640;
  w.height = 480;
  w.parent = "main";
  w.show = false;
  auto wf = split_tabs(l::winopen(w).substr(std::string("WINOPEN ").size()));
  ASSERT_EQ(wf.size(), 17u);
  EXPECT_EQ(wf[3], "640x480");
  EXPECT_EQ(wf[14], "main");
  EXPECT_EQ(wf[16], "0");

  // A window id with a blank cannot be addressed: no line at all. Nor is a
  // window opened whose id could break out of the page's quoted literal.
  EXPECT_EQ(l::winop("a b", "zoom"), "");
  for (const char* bad : {"", "main", "a'b", "a\\b", "a b", "a:1", "a@b"}) {
    w.id = bad;
    EXPECT_EQ(l::winopen(w), "") << bad;
  }
}

TEST(SdkLines, MenusNestAndCarryFlags) {
  using ovalis::line::MenuItem;
  MenuItem checked = MenuItem::item("t", "Ticks");
  checked.checked = true;
  checked.disabled = true;
  auto lines = l::menubar("", {{"File", {MenuItem::item("n", "New", "Shift+N"),
                                         MenuItem::sub("r", "Recent", {MenuItem::item("a", "A")}),
                                         MenuItem::separator(), checked}},
                               {"", {}, "edit"}});
  std::vector<std::string> want = {"MENUBEGIN", "MENU File", "ITEM n\tNew\tShift+N\t\t",
                                   "SUB r\tRecent\t", "ITEM a\tA\t\t\t", "SUBEND", "SEP",
                                   "ITEM t\tTicks\t\tcd\t", "MENUROLE edit", "ROLEITEM standard", "MENUEND"};
  EXPECT_EQ(lines, want);
  // An Edit menu with entries of its own gets those instead of the usual set;
  // the launcher reads each of them as a stock entry of the Edit menu.
  auto own = l::menubar("main", {{"", {MenuItem::stock("copy"), MenuItem::stock("paste")}, "edit"}});
  std::vector<std::string> want_own = {"MENUBEGIN@main", "MENUROLE edit", "ROLEITEM copy", "ROLEITEM paste",
                                       "MENUEND"};
  EXPECT_EQ(own, want_own);

  // Read back by the launcher's menu builder, the stock Edit menu survives
  // with its entries (an empty one would be dropped at MENUEND).
  auto edit = l::menubar("", {{"", {}, "edit"}});
  build_menu_begin("");
  BuildStep last = BuildStep::Pass;
  for (size_t i = 1; i < edit.size(); ++i) last = build_feed(edit[i]);
  EXPECT_EQ(last, BuildStep::MenuDone);
  ASSERT_EQ(g_build_menubar.size(), 1u);
  EXPECT_EQ(g_build_menubar[0].title, "Edit");
  ASSERT_EQ(g_build_menubar[0].items.size(), 1u);
  EXPECT_EQ(stock_items_for(g_build_menubar[0].items[0].role).size(), 7u);  // six and a separator
  EXPECT_EQ(l::menubar("w2", {})[0], "MENUBEGIN@w2");
  EXPECT_EQ(l::menu_update("", "t", std::nullopt, false, std::nullopt), "MENUUPD t\t\t0\t");
  EXPECT_EQ(match_command(l::menu_update("w2", "t", "x", {}, {})).cmd, Cmd::MenuUpdAt);
}

TEST(SdkLines, DialogsAndNumbers) {
  std::string d = l::dlg("main:3", "confirm", {"Sure?", "line1\nline2", "Yes", "No"});
  CmdMatch m = match_command(d);
  EXPECT_EQ(m.cmd, Cmd::Dlg);
  EXPECT_EQ(d, "DLG main:3 confirm\tSure?\tline1\\nline2\tYes\tNo");
  EXPECT_EQ(l::sampler_set(4, 0.5, std::nullopt, std::nullopt), "SAMPLER SET 4\t0.5\t_\t_");
  EXPECT_EQ(l::audio_filters({{"peaking", 1000, 1.5, -3, std::nullopt}, {"linear", 0, 0, 2, 1}}),
            "AUDIOFILTERS peaking,1000,1.5,-3\tlinear,0,0,2,1");
  EXPECT_EQ(l::badge(std::nullopt), "BADGE ");
  EXPECT_EQ(l::progress(std::nullopt), "PROGRESS");
  EXPECT_EQ(l::progress(0.25), "PROGRESS 0.25");
  // A backend in a decimal-comma locale still writes points.
  std::string saved = setlocale(LC_NUMERIC, nullptr);
  if (setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
    EXPECT_EQ(l::sampler_set(4, 0.5, std::nullopt, std::nullopt), "SAMPLER SET 4\t0.5\t_\t_");
    EXPECT_EQ(ovalis::json_dump(ovalis::Json(0.25)), "0.25");
    EXPECT_DOUBLE_EQ(ovalis::json_parse("1.5")->num(), 1.5);
  }
  setlocale(LC_NUMERIC, saved.c_str());
}

TEST(SdkFraming, LinesCutAcrossReads) {
  ovalis::LineFramer f;
  std::vector<std::string> got;
  auto take = [&](std::string_view l) { got.emplace_back(l); };
  f.feed("GO", take);
  f.feed("T 1 {}\n\n\nSYS th", take);
  EXPECT_EQ(got, std::vector<std::string>{"GOT 1 {}"});
  f.feed("eme dark\r\n", take);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1], "SYS theme dark\r");  // a carriage return is not a line end
  EXPECT_EQ(f.pending(), 0u);

  auto g = ovalis::parse_got("17 {\"ok\":true}");
  ASSERT_TRUE(g);
  EXPECT_EQ(g->id, "17");
  EXPECT_TRUE(g->value.bool_or("ok"));
  EXPECT_FALSE(ovalis::parse_got("17"));
}

}  // namespace
