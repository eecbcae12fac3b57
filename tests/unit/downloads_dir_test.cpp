#include <gtest/gtest.h>
#include <glib.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "content/content.h"

namespace {

struct EnvRestore {
  explicit EnvRestore(const char* n) : name(n) {
    if (const char* v = std::getenv(n)) old = v;
  }
  ~EnvRestore() {
    if (old) setenv(name, old->c_str(), 1);
    else unsetenv(name);
    g_reload_user_special_dirs_cache();
  }
  const char* name;
  std::optional<std::string> old;
};

// The desktop's own download folder comes first; that case is covered end to
// end, where each run has its own user-dirs file.
TEST(DownloadsDir, HomeThenTmpWithoutADesktopFolder) {
  EnvRestore home("HOME");
  const char* xdg = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  if (xdg && *xdg) GTEST_SKIP() << "this account has a download folder: " << xdg;
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(downloads_dir(), "/home/someone/Downloads");
  unsetenv("HOME");
  EXPECT_EQ(downloads_dir(), "/tmp/Downloads");
}

}  // namespace
