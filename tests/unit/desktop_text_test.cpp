#include <gtest/gtest.h>

#include <chrono>

#include "desktop/desktop_text.h"

namespace {

std::string describe(const std::vector<NotifyAction>& acts) {
  std::string out;
  for (auto& a : acts) out += "(" + a.key + "," + a.label + ")";
  return out;
}

TEST(NotifyActions, OpenComesFirstAndEmptyIdsAreSkipped) {
  EXPECT_EQ(describe(parse_notify_actions("")), "(default,Open)");
  EXPECT_EQ(describe(parse_notify_actions(R"([{"id":"a","title":""},{"id":"","title":"x"}])")),
            "(default,Open)(a,a)");
  EXPECT_EQ(describe(parse_notify_actions(R"([{"title":"Reply","id":"reply"},{"id":"no"}])")),
            "(default,Open)(reply,Reply)(no,no)");
}

TEST(NotifyActions, EscapesAndKeysOutsideTheObject) {
  // A backslash takes the next character literally; a key found only in a
  // later object does not belong to this one.
  EXPECT_EQ(describe(parse_notify_actions(R"([{"id":"q\"x","title":"a\nb"}])")),
            "(default,Open)(q\"x,anb)");
  EXPECT_EQ(describe(parse_notify_actions(R"([{"title":"T"},{"id":"b"}])")),
            "(default,Open)(b,b)");
  // Unclosed objects and a dangling key end the scan without reading past the text.
  EXPECT_EQ(describe(parse_notify_actions(R"([{"id":"a"},{"id":"b")")), "(default,Open)(a,a)");
  EXPECT_EQ(describe(parse_notify_actions(R"({"id":})")), "(default,Open)");
  EXPECT_EQ(describe(parse_notify_actions("{\"id\":\"tail\\")), "(default,Open)");
}

TEST(BadgeAndProgress, OnlyWholeNumbersShowABadge) {
  int64_t n = -1;
  EXPECT_TRUE(parse_badge_count("3", &n));
  EXPECT_EQ(n, 3);
  EXPECT_TRUE(parse_badge_count("-12", &n));
  EXPECT_EQ(n, -12);
  for (const char* bad : {"", "x3", "3x", " 3", "99999999999999999999"})
    EXPECT_FALSE(parse_badge_count(bad, &n)) << bad;

  EXPECT_DOUBLE_EQ(parse_progress("0.5"), 0.5);
  EXPECT_DOUBLE_EQ(parse_progress("7"), 1.0);
  EXPECT_DOUBLE_EQ(parse_progress("inf"), 1.0);
  EXPECT_DOUBLE_EQ(parse_progress("-0.2"), -0.2);
  EXPECT_DOUBLE_EQ(parse_progress(""), -1.0);
  EXPECT_DOUBLE_EQ(parse_progress("nan"), -1.0);
}

TEST(Battery, StatusAndCapacity) {
  EXPECT_EQ(battery_fields_json("87\n", "Charging\n"),
            R"({"percent":87,"charging":true,"plugged":true,"minutesRemaining":null})");
  EXPECT_EQ(battery_fields_json("100", "Not charging\r\n"),
            R"({"percent":100,"charging":false,"plugged":true,"minutesRemaining":null})");
  EXPECT_EQ(battery_fields_json("5", "Discharging"),
            R"({"percent":5,"charging":false,"plugged":false,"minutesRemaining":null})");
  EXPECT_EQ(battery_fields_json("", "Full"),
            R"({"percent":null,"charging":false,"plugged":true,"minutesRemaining":null})");
}

TEST(Battery, ACapacityThatIsNoPlainNumberIsNull) {
  // Each of these inserted verbatim would break the answer's JSON.
  for (const char* cap : {"unknown", "1,5", "87}", "-3", "0x20", "1e3", "\"9\"", "12 34"})
    EXPECT_EQ(battery_fields_json(cap, "Full").rfind("{\"percent\":null,", 0), 0u) << cap;
  // Leading zeros are not JSON either; the value itself is kept.
  EXPECT_EQ(battery_fields_json("050", "").rfind("{\"percent\":50,", 0), 0u);
}

TEST(Utf8, BadBytesAreReplaced) {
  EXPECT_EQ(utf8_valid("h\xc3\xa9"), "h\xc3\xa9");
  std::string fixed = utf8_valid("a\xff" "b");
  EXPECT_EQ(fixed.front(), 'a');
  EXPECT_EQ(fixed.back(), 'b');
  EXPECT_NE(fixed.find("\xef\xbf\xbd"), std::string::npos);
}

}  // namespace

namespace {

TEST(NotifyActions, AHugeListWithoutKeysIsScannedQuickly) {
  std::string many;
  for (int i = 0; i < 200000; ++i) many += "{}";
  many += R"({"id":"last"})";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(parse_notify_actions(many).back().key, "last");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
