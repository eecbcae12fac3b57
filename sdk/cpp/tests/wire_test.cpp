#include <gtest/gtest.h>

#include <string>

#include "ovalis/json.h"
#include "ovalis/wire.h"

using namespace ovalis;

namespace {

// The launcher's reading of an escaped field: "\n", "\t", "\r", and
// backslash + any other byte stands for that byte.
std::string unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char e = s[++i];
    out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
  }
  return out;
}

TEST(DemoJson, DecodesEscapesAndSurrogates) {
  auto v = json_parse(R"({"s":"a\"b\\c\n\u00e9\ud83d\ude00","lone":"\ud800x","n":-1.5e2})");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->get("s")->str(), "a\"b\\c\n\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(v->get("lone")->str(), "\xEF\xBF\xBDx");
  EXPECT_EQ(v->get("n")->num(), -150);
}

TEST(DemoJson, RejectsMalformedText) {
  for (const char* bad : {"", "{", "[1,]", "{\"a\":1,}", "01", "1.", "\"abc", "\"a\nb\"",
                          "[1] x", "{\"a\" 1}", "tru", "\"\\x\"", "-"})
    EXPECT_FALSE(json_parse(bad)) << bad;
  std::string deep(300, '[');
  deep += std::string(300, ']');
  EXPECT_FALSE(json_parse(deep));  // refused rather than exhausting the stack
  std::string ok(200, '[');
  ok += std::string(200, ']');
  EXPECT_TRUE(json_parse(ok));
}

TEST(DemoJson, DumpIsOneLineAndRoundTrips) {
  Json j = JsonObject{{"t", Json("line1\nline2\r\t\x01 \xE2\x80\xA8")},
                      {"bad", Json(std::string("\xFF" "ok"))},
                      {"n", Json(1700000000123LL)},
                      {"f", Json(0.5)},
                      {"a", Json(JsonArray{Json(true), Json(nullptr)})}};
  std::string text = json_dump(j);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_NE(text.find("\"n\":1700000000123"), std::string::npos);
  EXPECT_NE(text.find("\\u2028"), std::string::npos);
  auto back = json_parse(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->get("t")->str(), "line1\nline2\r\t\x01 \xE2\x80\xA8");
  EXPECT_EQ(back->get("bad")->str(), "\xEF\xBF\xBDok");  // invalid UTF-8 made valid
  std::string again = json_dump(*back);
  EXPECT_EQ(json_dump(*json_parse(again)), again);
}

TEST(DemoWire, ParsesACallLine) {
  // What the launcher writes for ovalis.api.call('demo.echo', {text:"hi \"you\"\n"}).
  std::string payload = R"({"method":"demo.echo","params":{"text":"hi \"you\"\n"}})";
  std::string line = "w2:17 [" + json_quote(payload) + ",\"file://\"]";
  auto c = parse_call(line);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->call_id, "w2:17");
  EXPECT_EQ(c->window, "w2");
  EXPECT_EQ(c->origin, "file://");
  EXPECT_EQ(c->method, "demo.echo");
  EXPECT_TRUE(c->error.empty());
  EXPECT_EQ(c->params.get("text")->str(), "hi \"you\"\n");

  auto noparams = parse_call("main:1 [" + json_quote(R"({"method":"quit"})") + ",\"file://\"]");
  ASSERT_TRUE(noparams);
  EXPECT_TRUE(noparams->params.is_null());
}

TEST(DemoWire, BadCallsStillNameTheirCallId) {
  for (const char* rest : {"main:4", "main:4 nonsense", "main:4 [\"not json\",\"file://\"]",
                           "main:4 [\"[1,2]\",\"file://\"]", "main:4 [\"{\\\"params\\\":1}\"]"}) {
    auto c = parse_call(rest);
    ASSERT_TRUE(c) << rest;
    EXPECT_EQ(c->call_id, "main:4");
    EXPECT_FALSE(c->error.empty()) << rest;
  }
  EXPECT_FALSE(parse_call(""));
  EXPECT_FALSE(parse_call("nocolon [\"{}\"]"));
  EXPECT_FALSE(parse_call("main: [\"{}\"]"));
}

TEST(DemoWire, EventLinesSurviveTheLaunchersUnescaping) {
  Json data = JsonObject{{"text", Json("back\\slash \"q\" \n end\ttab")}};
  auto line = emit_line("main", "tick", data);
  ASSERT_TRUE(line);
  ASSERT_TRUE(line->starts_with("EVAL "));
  EXPECT_EQ(line->find_first_of("\r\n"), std::string::npos);
  std::string script = unescape(line->substr(5));
  EXPECT_EQ(script, "window.__emit&&window.__emit({event:\"tick\",data:" + json_dump(data) + "})");

  auto other = emit_line("w2", "tick", Json());
  ASSERT_TRUE(other);
  EXPECT_TRUE(other->starts_with("EVAL@w2 "));
  EXPECT_FALSE(emit_line("a b", "tick", Json()));
}

TEST(DemoWire, PageTextCannotStartANewCommand) {
  EXPECT_EQ(one_line("Hi\nQUIT\r\x7f\tx"), "Hi QUIT   x");
  EXPECT_EQ(*targeted("TITLE", "main"), "TITLE");
  EXPECT_EQ(*targeted("TITLE", ""), "TITLE");
  EXPECT_EQ(*targeted("SIZE", "w2"), "SIZE@w2");
  EXPECT_FALSE(targeted("TITLE", "w 2"));
  EXPECT_EQ(ret_line("main:3", false, JsonObject{{"message", Json("x\ny")}}),
            "RET main:3 1 {\"message\":\"x\\ny\"}");
}

}  // namespace

namespace {

TEST(SdkWire, UnescapeAndSplitFollowTheLaunchersRules) {
  EXPECT_EQ(wire_unescape("\\n\\\\x"), "\n\\x");
  EXPECT_EQ(wire_unescape("a\\"), "a\\");
  EXPECT_EQ(split_tabs("\t\t").size(), 3u);
  EXPECT_EQ(split_tabs("").size(), 1u);
  std::string all;
  for (int c = 1; c < 128; ++c) all += static_cast<char>(c);
  EXPECT_EQ(wire_unescape(wire_escape(all)), all);
}

}  // namespace
