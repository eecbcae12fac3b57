#include <gtest/gtest.h>

#include <glib.h>

#include <cmath>

#include "audio/tool_text.h"

namespace {

using Args = std::vector<std::string>;

TEST(TapChunks, IntervalsAreClampedAndSized) {
  EXPECT_EQ(tap_chunk_frames(tap_clamp_interval(0)), 882u);
  EXPECT_EQ(tap_chunk_frames(tap_clamp_interval(-5)), 882u);
  EXPECT_EQ(tap_chunk_frames(tap_clamp_interval(80)), 3528u);
  EXPECT_EQ(tap_chunk_frames(tap_clamp_interval(1000)), 22050u);
}

TEST(TapChunks, ALateReaderSkipsToTheNewestChunk) {
  std::string buf, chunk;
  EXPECT_FALSE(tap_take_chunk(buf, 8, chunk));
  buf = "0123456";
  EXPECT_FALSE(tap_take_chunk(buf, 8, chunk));
  EXPECT_EQ(buf, "0123456");
  // Four chunks or fewer are sent in order, oldest first.
  buf = std::string(8, 'a') + std::string(8, 'b') + std::string(8, 'c') + std::string(8, 'd');
  ASSERT_TRUE(tap_take_chunk(buf, 8, chunk));
  EXPECT_EQ(chunk, std::string(8, 'a'));
  EXPECT_EQ(buf.size(), 24u);
  // More than four: only the newest chunk's worth survives.
  buf = std::string(32, 'o') + "12345678";
  ASSERT_TRUE(tap_take_chunk(buf, 8, chunk));
  EXPECT_EQ(chunk, "12345678");
  EXPECT_TRUE(buf.empty());
}

TEST(TapChunks, TheBufferNeverHoldsMoreThanFourSeconds) {
  std::string buf;
  tap_buffer_append(buf, std::string(kTapMaxBytes, 'x'));
  EXPECT_EQ(buf.size(), kTapMaxBytes);
  tap_buffer_append(buf, "yy");
  EXPECT_EQ(buf.size(), (kTapMaxBytes + 2) - (kTapMaxBytes + 2) / 2);
  EXPECT_EQ(buf.substr(buf.size() - 2), "yy");
}

TEST(TapChunks, EventLineCarriesBase64AndFrames) {
  std::string pcm("\x01\x00\xff\x7f\x00\x80\x10\x20", 8);
  std::string line = tap_event_line(pcm, 123456789012LL);
  EXPECT_EQ(line, "AUDIOTAP AQD/fwCAECA=\t44100\t2\t2\t123456789012");
  gsize n = 0;
  guchar* back = g_base64_decode("AQD/fwCAECA=", &n);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back), n), pcm);
  g_free(back);
}

TEST(Speech, RateAndVoiceArguments) {
  EXPECT_EQ(say_rate_arg(0), "0");
  EXPECT_EQ(say_rate_arg(-1), "0");
  EXPECT_EQ(say_rate_arg(NAN), "0");
  EXPECT_EQ(say_rate_arg(0.5), "0");
  EXPECT_EQ(say_rate_arg(0.25), "-50");
  EXPECT_EQ(say_rate_arg(0.75), "50");
  EXPECT_EQ(say_rate_arg(1), "100");
  EXPECT_EQ(say_rate_arg(2), "300");
  EXPECT_EQ(say_rate_arg(INFINITY), "1000000000");
  EXPECT_TRUE(say_voice_is_lang("en-AU"));
  EXPECT_TRUE(say_voice_is_lang("pt_BR"));
  EXPECT_FALSE(say_voice_is_lang("en-AU1"));
  EXPECT_FALSE(say_voice_is_lang("english"));
  EXPECT_FALSE(say_voice_is_lang("a b"));
  EXPECT_EQ(say_args("hi", "en-AU", 0.75), (Args{"-w", "-r", "50", "-l", "en-AU", "--", "hi"}));
  EXPECT_EQ(say_args("hi", "Mary Jane", 0), (Args{"-w", "-r", "0", "-y", "Mary Jane", "--", "hi"}));
  // Text that looks like an option stays text.
  EXPECT_EQ(say_args("-S", "", 0), (Args{"-w", "-r", "0", "--", "-S"}));
}

TEST(Speech, VoiceListing) {
  EXPECT_EQ(voices_json(""), "[]");
  EXPECT_EQ(voices_json("NAME LANGUAGE VARIANT\n"), "[]");
  std::string listing =
      "     NAME      LANGUAGE    VARIANT\n"
      "     Afrikaans       af       none\n"
      "\n"
      "  English (Great Britain)\ten-GB \t none  \n"
      "  two words\n"
      "  Mbrola  de\n"
      "  cut off  xx  none";
  EXPECT_EQ(voices_json(listing),
            "[{\"id\":\"Afrikaans\",\"name\":\"Afrikaans\",\"lang\":\"af\",\"quality\":\"default\"},"
            "{\"id\":\"English (Great Britain)\",\"name\":\"English (Great Britain)\","
            "\"lang\":\"en-GB\",\"quality\":\"default\"}]");
  EXPECT_EQ(voices_json("H\n  Say \"hi\"\\  zz  v\n"),
            "[{\"id\":\"Say \\\"hi\\\"\\\\\",\"name\":\"Say \\\"hi\\\"\\\\\",\"lang\":\"zz\","
            "\"quality\":\"default\"}]");
}

TEST(NowPlaying, PlayingFlagAndBusName) {
  EXPECT_TRUE(nowplaying_playing(R"({"title":"x"})"));
  EXPECT_TRUE(nowplaying_playing(R"({"playing":true})"));
  EXPECT_FALSE(nowplaying_playing(R"({"playing":false})"));
  EXPECT_FALSE(nowplaying_playing(R"({"playing":0})"));
  EXPECT_FALSE(nowplaying_playing(R"({"playing": true})"));
  EXPECT_FALSE(nowplaying_playing(R"({"playing":tru)"));
  EXPECT_EQ(mpris_bus_name("notes-app.beta", "Notes"), "org.mpris.MediaPlayer2.notes_app_beta");
  EXPECT_EQ(mpris_bus_name("", "My Notes"), "org.mpris.MediaPlayer2.My_Notes");
  EXPECT_EQ(mpris_bus_name("3d-view", "x"), "org.mpris.MediaPlayer2._3d_view");
  EXPECT_EQ(mpris_bus_name("", ""), "org.mpris.MediaPlayer2._");
  EXPECT_EQ(mpris_bus_name("\xc3\xa9t\xc3\xa9", ""), "org.mpris.MediaPlayer2.__t__");
}

TEST(NowPlaying, SeekLineIgnoresTheLocale) {
  EXPECT_EQ(mediakey_seek_line(40), "MEDIAKEY seek\t40.000");
  EXPECT_EQ(mediakey_seek_line(-1.5), "MEDIAKEY seek\t-1.500");
  EXPECT_EQ(mediakey_seek_line(12.34567), "MEDIAKEY seek\t12.346");
}

}  // namespace
