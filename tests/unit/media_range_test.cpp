#include <gtest/gtest.h>

#include "content/media_range.h"

namespace {

TEST(MediaRange, ParsesOneRangeAndIgnoresWhatHttpLetsAServerIgnore) {
  auto r = parse_byte_range("bytes=100-");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->start, 100u);
  EXPECT_FALSE(r->end);
  EXPECT_EQ(byte_range_header(*r), "bytes=100-");
  r = parse_byte_range(" Bytes=5-9");
  ASSERT_TRUE(r);
  EXPECT_EQ(byte_range_header(*r), "bytes=5-9");
  r = parse_byte_range("bytes=-500");
  ASSERT_TRUE(r && r->suffix);
  EXPECT_EQ(byte_range_header(*r), "bytes=-500");
  for (const char* bad : {"", "bytes=", "bytes=9-5", "bytes=-0", "items=0-1", "bytes=0-1,5-6",
                          "bytes=a-", "bytes=+1-", "bytes=99999999999999999999-"})
    EXPECT_FALSE(parse_byte_range(bad)) << bad;
}

TEST(MediaRange, UpstreamRangesPassThroughAndWholeBodiesAreSkippedThrough) {
  // No range asked: always 200, ranges offered when the length is known.
  ProxyPlan p = plan_proxy_reply(std::nullopt, {404, 12, ""});
  EXPECT_EQ(p.status, 200);
  EXPECT_EQ(p.length, 12);
  EXPECT_TRUE(p.ranges);
  EXPECT_FALSE(plan_proxy_reply(std::nullopt, {200, -1, ""}).ranges);

  ByteRange from100{100, std::nullopt, false};
  p = plan_proxy_reply(from100, {206, 900, "bytes 100-999/1000"});
  EXPECT_EQ(p.status, 206);
  EXPECT_EQ(p.length, 900);
  EXPECT_EQ(p.skip, 0u);
  EXPECT_EQ(p.content_range, "bytes 100-999/1000");
  // A partial answer without a usable Content-Range cannot be placed.
  EXPECT_EQ(plan_proxy_reply(from100, {206, 900, "bytes 100-99/1000"}).status, 502);

  // The upstream ignored the range: drop what comes before it.
  p = plan_proxy_reply(ByteRange{100, 199, false}, {200, 1000, ""});
  EXPECT_EQ(p.status, 206);
  EXPECT_EQ(p.skip, 100u);
  EXPECT_EQ(p.length, 100);
  EXPECT_EQ(p.content_range, "bytes 100-199/1000");
  p = plan_proxy_reply(ByteRange{300, std::nullopt, true}, {200, 1000, ""});
  EXPECT_EQ(p.content_range, "bytes 700-999/1000");
  EXPECT_EQ(p.skip, 700u);
  p = plan_proxy_reply(ByteRange{5000, std::nullopt, true}, {200, 1000, ""});
  EXPECT_EQ(p.content_range, "bytes 0-999/1000");
  p = plan_proxy_reply(ByteRange{1000, std::nullopt, false}, {200, 1000, ""});
  EXPECT_EQ(p.status, 416);
  EXPECT_EQ(p.length, 0);
  EXPECT_EQ(p.content_range, "bytes */1000");

  // Endless or unknown length: the stream from its start, no ranges.
  p = plan_proxy_reply(from100, {200, -1, ""});
  EXPECT_EQ(p.status, 200);
  EXPECT_EQ(p.skip, 0u);
  EXPECT_EQ(p.length, -1);
  EXPECT_FALSE(p.ranges);
  EXPECT_EQ(plan_proxy_reply(from100, {416, 0, "bytes */50"}).status, 416);
}

}  // namespace
