#include <gtest/gtest.h>

#include <clocale>

#include "core/wire.h"

namespace {

std::vector<std::string> frame(const std::vector<std::string>& chunks) {
  LineFramer f;
  std::vector<std::string> out;
  for (auto& c : chunks) f.feed(c.data(), c.size(), [&](std::string&& l) { out.push_back(l); });
  return out;
}

TEST(Framing, LinesSplitAcrossReadsAreJoined) {
  EXPECT_EQ(frame({"QU", "IT\n"}), (std::vector<std::string>{"QUIT"}));
  EXPECT_EQ(frame({"A\nB", "C\n", "D"}), (std::vector<std::string>{"A", "BC"}));
}

TEST(Framing, BlankLinesAreDroppedAndCarriageReturnKept) {
  EXPECT_TRUE(frame({"\n\n\n"}).empty());
  EXPECT_EQ(frame({"GET 1 x\r\n"}), (std::vector<std::string>{"GET 1 x\r"}));
}

TEST(Framing, EveryByteBoundaryGivesTheSameLines) {
  std::string stream = "EVAL a\\nb\n\nTITLE x y\r\nQUIT\n";
  auto whole = frame({stream});
  for (size_t cut = 0; cut <= stream.size(); ++cut)
    EXPECT_EQ(frame({stream.substr(0, cut), stream.substr(cut)}), whole) << cut;
  std::vector<std::string> bytes;
  for (char c : stream) bytes.emplace_back(1, c);
  EXPECT_EQ(frame(bytes), whole);
}

TEST(Framing, HugeLineInSmallChunksIsLinear) {
  LineFramer f;
  std::string chunk(4096, 'x');
  size_t got = 0;
  for (int i = 0; i < 4096; ++i)  // 16 MiB
    f.feed(chunk.data(), chunk.size(), [&](std::string&&) { ++got; });
  f.feed("\n", 1, [&](std::string&& l) { got = l.size(); });
  EXPECT_EQ(got, 4096u * 4096u);
  EXPECT_TRUE(f.pending().empty());
}

TEST(Escaping, UnescapeRules) {
  EXPECT_EQ(wire_unescape("\\n\\\\x"), "\n\\x");
  EXPECT_EQ(wire_unescape("a\\"), "a\\");
  EXPECT_EQ(wire_unescape("\\t\\r\\q\\\""), "\t\rq\"");
  EXPECT_EQ(wire_unescape(""), "");
}

TEST(Escaping, RoundTripThroughBackendEscaping) {
  auto esc = [](const std::string& s) {
    std::string o;
    for (char c : s) {
      if (c == '\\') o += "\\\\";
      else if (c == '\n') o += "\\n";
      else if (c == '\t') o += "\\t";
      else if (c == '\r') o += "\\r";
      else o += c;
    }
    return o;
  };
  for (std::string s : std::vector<std::string>{"plain", "a\nb\tc\rd\\e", "\\\\n", "end\\", std::string("nul\0x", 5)})
    EXPECT_EQ(wire_unescape(esc(s)), s);
}

TEST(Fields, SplitKeepsEmptyFields) {
  EXPECT_EQ(split_tabs("\t\t"), (std::vector<std::string>{"", "", ""}));
  EXPECT_EQ(split_tabs(""), (std::vector<std::string>{""}));
  EXPECT_EQ(split_tabs("a\\tb\tc"), (std::vector<std::string>{"a\\tb", "c"}));
  auto f = split_tabs("a\tb");
  EXPECT_EQ(tab_field(f, 1), "b");
  EXPECT_EQ(tab_field(f, 5), "");
}

TEST(Json, EscapeControlQuoteAndBackslash) {
  EXPECT_EQ(json_escape("\"\t\x01"), "\"\\\"\\t\\u0001\"");
  EXPECT_EQ(json_escape("a\\b\nc\r\x08\x7f"), "\"a\\\\b\\nc\\r\\u0008\x7f\"");
  EXPECT_EQ(json_escape("h\xc3\xa9"), "\"h\xc3\xa9\"");
  EXPECT_EQ(json_escape(std::string("a\0b", 3)), "\"a\\u0000b\"");
}

TEST(Json, InvalidUtf8IsRepaired) {
  std::string out = json_escape("a\xff" "b\xc3");
  EXPECT_TRUE(g_utf8_validate(out.data(), static_cast<gssize>(out.size()), nullptr));
  EXPECT_EQ(out, "\"a\xef\xbf\xbd" "b\xef\xbf\xbd\"");
  std::string with_nul = json_escape(std::string("\xff\0\xfe", 3));
  EXPECT_EQ(with_nul, "\"\xef\xbf\xbd\\u0000\xef\xbf\xbd\"");
}

// Text is scanned eight bytes at a time; what needs escaping, a character
// of several bytes and a byte that is not UTF-8 must be found at every
// position, straddling a group of eight included.
TEST(Json, EscapeFindsEveryByteAtEveryPosition) {
  for (size_t at = 0; at < 17; ++at) {
    std::string plain(17, 'a');
    std::string quoted = plain;
    quoted[at] = '"';
    EXPECT_EQ(json_escape(quoted), "\"" + plain.substr(0, at) + "\\\"" + plain.substr(at + 1) + "\"");
    std::string accented = plain.substr(0, at) + "\xc3\xa9" + plain.substr(at);
    EXPECT_EQ(json_escape(accented), "\"" + accented + "\"");
    std::string broken = plain.substr(0, at) + "\xff" + plain.substr(at);
    EXPECT_EQ(json_escape(broken), "\"" + plain.substr(0, at) + "\xef\xbf\xbd" + plain.substr(at) + "\"");
  }
  // A surrogate's encoding and an overlong form are not UTF-8 either.
  EXPECT_EQ(json_escape("abcdefgh\xed\xa0\x80"), "\"abcdefgh\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\"");
  EXPECT_EQ(json_escape(std::string("\xc0\xaf", 2)), "\"\xef\xbf\xbd\xef\xbf\xbd\"");
}

TEST(Json, ValueEndAcceptsOnlyStrictJson) {
  for (std::string ok : {"0", "-1.5e+3", "\"a\\u00e9\\n\"", "true", "null", "[]", "{}",
                         " [1, {\"a\": [false, \"x\"]}, -0.0]", "{\"k\":\"\\\"})\"}"})
    EXPECT_EQ(json_value_end(ok), ok.size()) << ok;
  for (std::string bad : {"", "01", "1.", "-", ".5", "tru", "[1,]", "{a:1}", "{\"a\"}", "\"\\x\"",
                          "\"open", "[1", "\"\\u12g4\"", "{\"a\":1,}", "'s'", "\"a\nb\"", "undefined"})
    EXPECT_NE(json_value_end(bad), bad.size()) << bad;
  // The end of the first value, whatever follows it.
  EXPECT_EQ(json_value_end("{\"a\":1})", 0), 7u);
  EXPECT_EQ(json_value_end(std::string(600, '[') + std::string(600, ']')), std::string_view::npos);
}

TEST(Json, FindStr) {
  EXPECT_EQ(json_find_str(R"({"title":"say \"hi\"\n"})", "title"), "say \"hi\"n");
  EXPECT_EQ(json_find_str(R"({"title":12})", "title"), "");
  EXPECT_EQ(json_find_str(R"({"a":{"title": 	"inner"}})", "title"), "inner");
  EXPECT_EQ(json_find_str(R"({"title" :"x"})", "title"), "");
  EXPECT_EQ(json_find_str(R"({"t":"unterminated)", "t"), "unterminated");
  EXPECT_EQ(json_find_str(R"({"t":"trailing\)", "t"), "trailing");
  EXPECT_EQ(json_find_str("", "t"), "");
}

TEST(Json, FindNum) {
  EXPECT_DOUBLE_EQ(json_find_num(R"({"w":-12.5e1,"h":3})", "w"), -125);
  EXPECT_DOUBLE_EQ(json_find_num(R"({"w": 7})", "w"), 7);
  EXPECT_DOUBLE_EQ(json_find_num(R"({"w":"7"})", "w"), 0);
  EXPECT_DOUBLE_EQ(json_find_num(R"({"x":1})", "w"), 0);
  EXPECT_DOUBLE_EQ(json_find_num(R"({"w":)", "w"), 0);
}

// The toolkit switches to the user's locale at start; German writes a
// decimal comma, which must never reach or be expected on the wire.
TEST(Json, NumbersKeepTheirPointInAnyLocale) {
  std::string saved = setlocale(LC_NUMERIC, nullptr);
  bool german = setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  EXPECT_DOUBLE_EQ(ascii_num("0.5"), 0.5);
  EXPECT_DOUBLE_EQ(ascii_num(" -1.25e1 dB"), -12.5);
  EXPECT_DOUBLE_EQ(ascii_num("x1"), 0);
  EXPECT_DOUBLE_EQ(ascii_num(""), 0);
  EXPECT_DOUBLE_EQ(json_find_num(R"({"gain":0.75})", "gain"), 0.75);
  EXPECT_EQ(ascii_num_text(0.5), "0.5");
  EXPECT_EQ(ascii_num_text(-1234.5678), "-1234.57");
  EXPECT_EQ(ascii_num_text(2.0 / 3, 3), "0.667");
  setlocale(LC_NUMERIC, saved.c_str());
  if (!german) GTEST_SKIP() << "no de_DE.UTF-8 locale (scripts/install-deps generates it)";
}

}  // namespace
