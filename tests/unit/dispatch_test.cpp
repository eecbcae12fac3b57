#include <gtest/gtest.h>

#include "core/dispatch.h"

namespace {

TEST(Dispatch, PrefixOrderBetweenRelatedKeywords) {
  EXPECT_EQ(match_command("EVAL@* x=1").cmd, Cmd::EvalAll);
  EXPECT_EQ(match_command("EVAL@* x=1").rest, "x=1");
  auto e = match_command("EVAL@w2 a b");
  EXPECT_EQ(e.cmd, Cmd::Eval);
  EXPECT_EQ(e.win, "w2");
  EXPECT_EQ(e.rest, "a b");
  EXPECT_EQ(match_command("AUDIOTAP STOP").cmd, Cmd::AudioTapStop);
  auto tap = match_command("AUDIOTAP 4 start");
  EXPECT_EQ(tap.cmd, Cmd::AudioTap);
  EXPECT_EQ(tap.id, "4");
  EXPECT_EQ(match_command("MOUSETRACK STOP").cmd, Cmd::MouseTrackStop);
  EXPECT_EQ(match_command("SAYSTOP").cmd, Cmd::SayStop);
  EXPECT_EQ(match_command("SAY 3 hello").cmd, Cmd::Say);
  EXPECT_EQ(match_command("AUDIOFILTERS 1\t2").cmd, Cmd::AudioFilters);
  EXPECT_EQ(match_command("AUDIOFILTERSET 0\t1").cmd, Cmd::AudioFilterSet);
  EXPECT_EQ(match_command("AUDIOFILTERSETX").cmd, Cmd::None);
  EXPECT_EQ(match_command("PDF 3 /tmp/x.pdf").cmd, Cmd::Pdf);
  EXPECT_EQ(match_command("PDF@w 3 /tmp/x.pdf").cmd, Cmd::PdfAt);
}

TEST(Dispatch, TargetForm) {
  auto bare = match_command("TITLE");
  EXPECT_EQ(bare.cmd, Cmd::Title);
  EXPECT_EQ(bare.win, "main");
  EXPECT_EQ(bare.rest, "");
  auto spaced = match_command("TITLE@w2 Hello world");
  EXPECT_EQ(spaced.win, "w2");
  EXPECT_EQ(spaced.rest, "Hello world");
  auto noblank = match_command("SIZE@w3");
  EXPECT_EQ(noblank.win, "w3");
  EXPECT_EQ(noblank.rest, "");
  auto main = match_command("SIZE 800 600");
  EXPECT_EQ(main.win, "main");
  EXPECT_EQ(main.rest, "800 600");
  EXPECT_EQ(match_command("TITLEBAR x").cmd, Cmd::None);
  EXPECT_EQ(match_command("WINOPX").cmd, Cmd::None);
}

TEST(Dispatch, RequestFormNeedsTheBlank) {
  auto r = match_command("OCR 12 img");
  EXPECT_EQ(r.cmd, Cmd::Ocr);
  EXPECT_EQ(r.id, "12");
  EXPECT_EQ(r.rest, "img");
  auto only_id = match_command("VOICES 9");
  EXPECT_EQ(only_id.cmd, Cmd::Voices);
  EXPECT_EQ(only_id.id, "9");
  EXPECT_EQ(only_id.rest, "");
  EXPECT_EQ(match_command("OCR").cmd, Cmd::None);
  EXPECT_EQ(match_command("OCRX 1").cmd, Cmd::None);
}

TEST(Dispatch, ExactAndAtForms) {
  EXPECT_EQ(match_command("QUIT").cmd, Cmd::Quit);
  EXPECT_EQ(match_command("QUIT now").cmd, Cmd::None);
  EXPECT_EQ(match_command("QUIT\r").cmd, Cmd::None);
  auto p = match_command("PRINT");
  EXPECT_EQ(p.cmd, Cmd::Print);
  EXPECT_EQ(p.win, "main");
  EXPECT_EQ(match_command("PRINT@w2").win, "w2");
  EXPECT_EQ(match_command("PRINTX").cmd, Cmd::None);
  EXPECT_EQ(match_command("MENUBEGIN@w1").cmd, Cmd::MenuBegin);
}

TEST(Dispatch, UnknownAndCaseSensitive) {
  EXPECT_EQ(match_command("FOO bar").cmd, Cmd::None);
  EXPECT_EQ(match_command("quit").cmd, Cmd::None);
  EXPECT_EQ(match_command("").cmd, Cmd::None);
  EXPECT_EQ(match_command("GET").cmd, Cmd::None);
  EXPECT_EQ(match_command("GET 1 windows").rest, "1 windows");
  EXPECT_EQ(match_command("AI available 7").rest, "7");
}

TEST(Dispatch, RetIsFirstSoItsPayloadNeverMatchesOtherRows) {
  EXPECT_EQ(match_command("RET main:1 0 QUIT").cmd, Cmd::Ret);
  EXPECT_EQ(match_command("RET main:1 0 QUIT").rest, "main:1 0 QUIT");
}

}  // namespace
