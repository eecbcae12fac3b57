#include <glib.h>
#include <gtest/gtest.h>

#include "app/root.h"

namespace {

TEST(OpenRequest, ThreeMessageShapes) {
  EXPECT_EQ(open_request_message(""), "{\"activate\":true}");
  EXPECT_EQ(open_request_message("https://example.org/a?b=\"c\""),
            "{\"url\":\"https://example.org/a?b=\\\"c\\\"\"}");
  EXPECT_EQ(open_request_message("file:///tmp/a%20b.txt"), "{\"paths\":[\"/tmp/a b.txt\"]}");
  EXPECT_EQ(open_request_message("notes.txt"), "{\"paths\":[\"notes.txt\"]}");
  // An unparsable file URI is passed on as it stands.
  EXPECT_EQ(open_request_message("file://host:bad/%zz"), "{\"paths\":[\"file://host:bad/%zz\"]}");
}

TEST(OpenRequest, ExistingPathWithSchemeLikeTextIsAPath) {
  char dir[] = "/tmp/ovalis-open-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  std::string odd = std::string(dir) + "/x://y";
  ASSERT_EQ(g_mkdir_with_parents(odd.c_str(), 0700), 0);
  EXPECT_EQ(open_request_message(odd), "{\"paths\":[\"" + odd + "\"]}");
  std::string cmd = std::string("rm -rf ") + dir;
  ASSERT_EQ(system(cmd.c_str()), 0);
}

TEST(SizeArg, HalfScannedSetsWidthOnly) {
  int w = 960, h = 640;
  parse_size_arg("800x", &w, &h);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 640);
  w = 960;
  parse_size_arg("abc", &w, &h);
  EXPECT_EQ(w, 960);
  EXPECT_EQ(h, 640);
  parse_size_arg("1024x768", &w, &h);
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 768);
}

}  // namespace
