// Now playing, driven by playerctl, a real MPRIS client: what the backend
// describes shows up on the session bus, and the client's commands come
// back as "MEDIAKEY" lines.
#include <gtest/gtest.h>

#include "harness.h"
#include "pcm_probe.h"

using namespace e2e;

namespace {

const char kPlayer[] = "notes_app_beta";

std::string ctl(std::vector<std::string> args) {
  args.insert(args.begin(), {"playerctl", "-p", kPlayer});
  std::string out = run_out(args);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}
bool listed() {
  std::string l = run_out({"playerctl", "-l"});
  return l.find(std::string(kPlayer) + "\n") != std::string::npos;
}
std::string get_prop(const std::string& iface, const std::string& name) {
  std::string out = run_out({"gdbus", "call", "--session", "--dest",
                             std::string("org.mpris.MediaPlayer2.") + kPlayer, "--object-path",
                             "/org/mpris/MediaPlayer2", "--method",
                             "org.freedesktop.DBus.Properties.Get", iface, name});
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

class NowPlaying : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    b_ = start_page({.extra_args = {"Notes Beta"}, .env = {{"OVALIS_APP_ID", "notes-app.beta"}}});
  }
  static void TearDownTestSuite() {
    if (b_) stop_page(b_);
  }
  void SetUp() override {
    ASSERT_TRUE(b_);
    b_->collect(0);
  }
  static void show(const std::string& json) {
    b_->send("NOWPLAYING " + wire_escape(json));
  }
  static std::string key_line(int timeout_ms = 5000) {
    auto l = b_->expect_prefix("MEDIAKEY ", timeout_ms);
    return l ? *l : "(none)";
  }
  static Backend* b_;
};
Backend* NowPlaying::b_ = nullptr;

TEST_F(NowPlaying, TrackAndStatusReachAnMprisClient) {
  EXPECT_FALSE(listed());
  show(R"({"title":"Song \"One\"","artist":"Band","album":"LP","duration":215.5,"elapsed":30,"playing":true})");
  ASSERT_TRUE(eventually(listed, 5000));
  EXPECT_EQ(ctl({"status"}), "Playing");
  EXPECT_EQ(ctl({"metadata", "title"}), "Song \"One\"");
  EXPECT_EQ(ctl({"metadata", "artist"}), "Band");
  EXPECT_EQ(ctl({"metadata", "album"}), "LP");
  EXPECT_EQ(ctl({"metadata", "mpris:length"}), "215500000");
  EXPECT_EQ(ctl({"metadata", "mpris:trackid"}), "'/org/ovalis/track/0'");
  EXPECT_EQ(get_prop("org.mpris.MediaPlayer2.Player", "Position"), "(<int64 30000000>,)");
  EXPECT_EQ(get_prop("org.mpris.MediaPlayer2", "Identity"), "(<'Notes Beta'>,)");
  EXPECT_EQ(get_prop("org.mpris.MediaPlayer2", "CanQuit"), "(<false>,)");
  EXPECT_EQ(get_prop("org.mpris.MediaPlayer2.Player", "CanSeek"), "(<true>,)");
  EXPECT_EQ(get_prop("org.mpris.MediaPlayer2.Player", "Volume"), "(<1.0>,)");

  // "playing" spelled with a space is not "true"; no duration, no length.
  show(R"({"title":"Two","playing": true,"duration":0})");
  EXPECT_TRUE(eventually([] { return ctl({"status"}) == "Paused"; }, 3000));
  EXPECT_EQ(ctl({"metadata", "title"}), "Two");
  EXPECT_EQ(ctl({"metadata", "mpris:length"}), "");
  show(R"({"title":"Three","elapsed":30})");
  EXPECT_TRUE(eventually([] { return ctl({"status"}) == "Playing"; }, 3000));
}

TEST_F(NowPlaying, ClientCommandsBecomeMediaKeys) {
  show(R"({"title":"Song","elapsed":30,"playing":true})");
  ASSERT_TRUE(eventually(listed, 5000));
  const std::pair<const char*, const char*> cases[] = {
      {"play-pause", "MEDIAKEY toggle"}, {"play", "MEDIAKEY play"},
      {"pause", "MEDIAKEY pause"},       {"stop", "MEDIAKEY pause"},
      {"next", "MEDIAKEY next"},         {"previous", "MEDIAKEY previous"},
  };
  for (auto& [cmd, line] : cases) {
    ctl({cmd});
    EXPECT_EQ(key_line(), line) << cmd;
  }
  // Seek is relative to the last reported position; SetPosition absolute.
  ctl({"position", "10+"});
  EXPECT_EQ(key_line(), "MEDIAKEY seek\t40.000");
  ctl({"position", "12.5"});
  EXPECT_EQ(key_line(), "MEDIAKEY seek\t12.500");
  std::string raised = run_out({"gdbus", "call", "--session", "--dest",
                                std::string("org.mpris.MediaPlayer2.") + kPlayer,
                                "--object-path", "/org/mpris/MediaPlayer2", "--method",
                                "org.mpris.MediaPlayer2.Raise"});
  EXPECT_EQ(raised, "()\n");
  EXPECT_TRUE(b_->collect(300, [](const std::string& l) { return l.rfind("MEDIAKEY", 0) == 0; })
                  .empty());
}

TEST_F(NowPlaying, ClearWithdrawsThePlayerAndAnUpdateBringsItBack) {
  show(R"({"title":"Song"})");
  ASSERT_TRUE(eventually(listed, 5000));
  b_->send("NOWPLAYING clear");
  EXPECT_TRUE(eventually([] { return !listed(); }, 5000));
  b_->send("NOWPLAYING clear");
  b_->send("NOWPLAYING");
  show(R"({"title":"Again","artist":"B"})");
  EXPECT_TRUE(eventually(listed, 5000));
  EXPECT_EQ(ctl({"metadata", "title"}), "Again");
  EXPECT_EQ(ctl({"status"}), "Playing");
  // Cleared state does not linger: no album, no length.
  EXPECT_EQ(ctl({"metadata", "album"}), "");
}

}  // namespace
