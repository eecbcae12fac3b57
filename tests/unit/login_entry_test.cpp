// The login item's desktop entry, read back by GLib the way a desktop reads
// autostart entries: hostile names stay one value, hostile paths one program.
#include <gio/gdesktopappinfo.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "desktop/login_entry.h"

namespace {

TEST(LoginEntry, PlainEntryHasTheFixedLines) {
  EXPECT_EQ(autostart_entry_text("Notes", "/usr/bin/notes"),
            "[Desktop Entry]\nType=Application\nName=Notes\nExec=\"/usr/bin/notes\"\n"
            "Terminal=false\nX-GNOME-Autostart-enabled=true\n");
}

TEST(LoginEntry, HostileNamesStayOneValue) {
  for (std::string name : {"Notes\nExec=/bin/evil\nX-Evil=1", " lead\\ing\tblank\r", "[Desktop Entry]"}) {
    GKeyFile* kf = g_key_file_new();
    std::string text = autostart_entry_text(name, "/usr/bin/notes");
    ASSERT_TRUE(g_key_file_load_from_data(kf, text.data(), text.size(), G_KEY_FILE_NONE, nullptr));
    gsize n = 0;
    gchar** keys = g_key_file_get_keys(kf, "Desktop Entry", &n, nullptr);
    EXPECT_EQ(n, 5u) << text;
    g_strfreev(keys);
    gchar* got = g_key_file_get_string(kf, "Desktop Entry", "Name", nullptr);
    EXPECT_STREQ(got, name.c_str());
    g_free(got);
    g_key_file_free(kf);
  }
}

// Launches the entry through GIO and returns the $0 the program saw; dir
// holds the entry and the output and has a plain name.
std::string launched_as(const std::string& dir, const std::string& exe) {
  std::string out = dir + "/argv0";
  std::string script = "#!/bin/sh\nprintf '%s|%s' \"$0\" \"$#\" > '" + out + "'\n";
  EXPECT_TRUE(g_file_set_contents(exe.c_str(), script.c_str(), -1, nullptr));
  g_chmod(exe.c_str(), 0755);
  std::string entry = dir + "/app.desktop";
  std::string text = autostart_entry_text("App", exe);
  EXPECT_TRUE(g_file_set_contents(entry.c_str(), text.c_str(), -1, nullptr));
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(entry.c_str());
  if (!info) return "<entry did not load>";
  GError* err = nullptr;
  bool ok = g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, &err);
  g_object_unref(info);
  if (!ok) {
    std::string msg = err->message;
    g_error_free(err);
    return "<launch failed: " + msg + ">";
  }
  gchar* got = nullptr;
  // The shell creates the file before printf fills it: wait for the text.
  for (int i = 0; i < 500 && !got; ++i) {
    if (g_file_get_contents(out.c_str(), &got, nullptr, nullptr) && *got) break;
    g_free(got);
    got = nullptr;
    g_usleep(10000);
  }
  std::string s = got ? got : "<never ran>";
  g_free(got);
  g_unlink(out.c_str());
  g_unlink(exe.c_str());
  g_unlink(entry.c_str());
  return s;
}

TEST(LoginEntry, HostilePathsStartExactlyThatProgram) {
  gchar* base = g_dir_make_tmp("ovalis-login-XXXXXX", nullptr);
  ASSERT_NE(base, nullptr);
  std::string sub = std::string(base) + "/my \"app\" $HOME `id` back\\slash it's;|&\nnext";
  ASSERT_EQ(g_mkdir(sub.c_str(), 0755), 0);
  for (std::string name : {"plain", "with space", "dollar$x", "tick`x`", "quote\"x", "back\\x"}) {
    std::string exe = sub + "/" + name;
    EXPECT_EQ(launched_as(base, exe), exe + "|0");
  }
  g_rmdir(sub.c_str());
  g_rmdir(base);
  g_free(base);
}

// GLib's loader checks the program before it expands "%%", so a path with
// "%" is checked here as text: doubled, as the field-code rule wants.
TEST(LoginEntry, PercentIsNoFieldCode) {
  std::string t = autostart_entry_text("A", "/opt/100%u/run");
  EXPECT_NE(t.find("\nExec=\"/opt/100%%u/run\"\n"), std::string::npos) << t;
}

TEST(LoginEntry, FileNameStaysInTheAutostartFolder) {
  EXPECT_EQ(autostart_file_name("notes"), "notes.desktop");
  EXPECT_EQ(autostart_file_name(""), "ovalis-app.desktop");
  EXPECT_EQ(autostart_file_name("../../.bashrc/x"), ".._.._.bashrc_x.desktop");
}

}  // namespace
