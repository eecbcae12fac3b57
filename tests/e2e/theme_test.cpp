// The desktop's light or dark style, as the real desktop portal (with its
// GTK backend) reports it from the GNOME interface settings.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

void set_scheme(const char* value) {
  sh(std::string("gsettings set org.gnome.desktop.interface color-scheme ") + value);
}

TEST(Theme, FollowsTheDesktopStyle) {
  set_scheme("default");
  Backend b;
  ASSERT_TRUE(b.start());
  EXPECT_EQ(b.expect_prefix("SYS theme "), "SYS theme light");
  set_scheme("prefer-dark");
  EXPECT_EQ(b.expect_prefix("SYS theme "), "SYS theme dark");
  set_scheme("prefer-light");
  EXPECT_EQ(b.expect_prefix("SYS theme "), "SYS theme light");
  // Other settings that change meanwhile are not theme changes.
  sh("gsettings set org.gnome.desktop.interface font-name 'DejaVu Sans 12'");
  set_scheme("prefer-dark");
  EXPECT_EQ(b.expect_prefix("SYS theme "), "SYS theme dark");
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);

  // A launcher started on a dark desktop says so at once.
  Backend dark;
  ASSERT_TRUE(dark.start());
  EXPECT_EQ(dark.expect_prefix("SYS theme "), "SYS theme dark");
  dark.send("QUIT");
  EXPECT_EQ(dark.wait_exit(), 0);
}

}  // namespace
