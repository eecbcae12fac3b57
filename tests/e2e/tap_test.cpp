// The audio tap against a real PipeWire with a null sink: tones played into
// the session must come back, decoded from the "AUDIOTAP" lines, at their
// frequency and level. Runs in a session of its own (--pipewire).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "harness.h"
#include "pcm_probe.h"

using namespace e2e;

namespace {

// An application id that would run a command, or break out of quotes, if it
// ever reached a shell or an awk program as code.
const char kAppId[] = "e2e tap;$(touch /tmp/ovalis-tap-pwned)'\"`x`";
const char kPwned[] = "/tmp/ovalis-tap-pwned";

std::string nodes() { return run_out({"pw-cli", "ls", "Node"}); }
size_t node_count(const std::string& name) {
  std::string all = nodes(), want = "node.name = \"" + name + "\"\n";
  size_t n = 0;
  for (size_t at = all.find(want); at != std::string::npos; at = all.find(want, at + 1)) ++n;
  return n;
}
bool has_node(const std::string& name) { return node_count(name) > 0; }
void make_sink(const std::string& name_literal) {
  run_out({"pw-cli", "create-node", "adapter",
           "{ factory.name=support.null-audio-sink node.name=" + name_literal +
               " media.class=Audio/Sink object.linger=true audio.position=[FL FR] }"});
}

class Tap : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (run_out({"pw-cli", "info", "0"}).empty()) return;
    b_ = start_page({.env = {{"OVALIS_APP_ID", kAppId}}});
  }
  static void TearDownTestSuite() {
    if (b_) stop_page(b_);
  }
  void SetUp() override {
    if (!b_) GTEST_SKIP() << "no PipeWire in this session (run under test-session --pipewire)";
    b_->collect(0);
  }
  void TearDown() override {
    if (!b_) return;
    b_->send("AUDIOTAP STOP");
    for (GPid& p : players_) stop_bg(p);
    drain();
  }
  // Lets lines already on their way arrive, then forgets them.
  static void drain() { b_->collect(300); }

  static std::string start(const std::string& key, const std::string& payload) {
    b_->send("AUDIOTAP " + key + " " + payload);
    auto l = b_->expect_prefix("GOT " + key + " ");
    // Chunks of an earlier tap arrived before the answer.
    b_->collect(0);
    return l ? l->substr(5 + key.size()) : "";
  }
  static std::optional<TapChunk> next_chunk(int timeout_ms = 3000) {
    auto l = b_->expect_prefix("AUDIOTAP ", timeout_ms);
    if (!l) return std::nullopt;
    return parse_tap(*l);
  }
  // The left channel of chunks that carry sound, after the first (which
  // may hold the tone's start), about a second's worth.
  static std::vector<std::vector<double>> sound(int within_ms = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(within_ms);
    std::vector<std::vector<double>> out;
    bool first = true;
    while (std::chrono::steady_clock::now() < deadline && out.size() < 12) {
      auto c = next_chunk();
      if (!c) break;
      auto left = channel(c->pcm, 0);
      if (rms(left) < 1000) continue;
      if (!first) out.push_back(std::move(left));
      first = false;
    }
    return out;
  }
  // The tone is there at its level in (nearly) every loud chunk, and the
  // other frequency is not.
  static void expect_tone(const std::vector<std::vector<double>>& chunks, double hz,
                          double absent_hz, double amplitude) {
    ASSERT_GE(chunks.size(), 6u) << "the tone never reached the tap\n" << run_out({"pw-link", "-l"});
    int good = 0;
    for (auto& c : chunks) {
      double level = rms(c) * std::sqrt(2.0);
      if (std::abs(level - amplitude) < amplitude * 0.2 &&
          tone_amplitude(c, absent_hz, 44100) < tone_amplitude(c, hz, 44100) * 0.1)
        ++good;
    }
    EXPECT_GE(good, static_cast<int>(chunks.size()) - 2);
  }

  static Backend* b_;
  std::vector<GPid> players_;
};
Backend* Tap::b_ = nullptr;

const char kStarted[] = R"({"ok":true,"sampleRate":44100,"channels":2})";

// The session also has a microphone (ovalis_mic), which is the default
// source: the system scope must hear the output, not the microphone.
TEST_F(Tap, SystemScopeSendsSilenceThenTheDefaultMonitorsTone) {
  ASSERT_EQ(start("s1", "system\t\t0"), kStarted);
  // Nothing plays: a silent chunk still comes every interval, of 20 ms.
  auto c = next_chunk();
  ASSERT_TRUE(c);
  EXPECT_EQ(c->rate, 44100);
  EXPECT_EQ(c->channels, 2);
  EXPECT_EQ(c->frames, 882);
  EXPECT_EQ(c->pcm, std::string(882 * 4, '\0'));
  EXPECT_GT(c->ms, 0);
  EXPECT_FALSE(has_node("ovalis-tap-" + std::to_string(b_->pid())));

  ASSERT_EQ(start("s2", "system\t\t1000"), kStarted);
  c = next_chunk(3000);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->frames, 22050);

  ASSERT_EQ(start("s3", "other\t\t80"), kStarted);
  players_.push_back(play_named("e2e-system-tone", make_tone(b_->dir(), 440, 6)));
  expect_tone(sound(), 440, 1000, 16384);
}

TEST_F(Tap, AppScopeHearsOnlyTheApplicationAndCleansUpAfterDeadProcesses) {
  std::remove(kPwned);
  // A sink of a process that is gone, and sinks whose names only look like
  // ours: only the first may be removed, and nothing may run.
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  std::string stale = "ovalis-tap-" + std::to_string(dead);
  make_sink(stale);
  make_sink("\"ovalis-tap-1$(touch /tmp/ovalis-tap-pwned)\"");
  make_sink("\"ovalis-tap-2\\\"; touch /tmp/ovalis-tap-pwned; \\\"\"");
  ASSERT_TRUE(eventually([&] { return has_node(stale); }, 5000));

  // A restart must not lose its new sink to the removal of the old one.
  ASSERT_EQ(start("a1", "app\t\t80"), kStarted);
  ASSERT_EQ(start("a2", "app\tignored\t50"), kStarted);
  std::string own = "ovalis-tap-" + std::to_string(b_->pid());
  EXPECT_TRUE(eventually([&] { return !has_node(stale); }, 5000)) << nodes();
  EXPECT_TRUE(has_node(own));
  EXPECT_TRUE(has_node("ovalis-tap-1$(touch /tmp/ovalis-tap-pwned)"));
  EXPECT_TRUE(has_node("ovalis-tap-2\"; touch /tmp/ovalis-tap-pwned; \""));

  // The application's tone is linked in; another program's is not.
  players_.push_back(play_named(kAppId, make_tone(b_->dir(), 1000, 8)));
  players_.push_back(play_named("e2e-someone-else", make_tone(b_->dir(), 300, 8)));
  expect_tone(sound(), 1000, 300, 16384);
  auto c = next_chunk();
  ASSERT_TRUE(c);
  EXPECT_EQ(c->frames, 2205);

  b_->send("AUDIOTAP STOP");
  EXPECT_TRUE(eventually([&] { return !has_node(own); }, 5000)) << nodes();
  drain();
  EXPECT_TRUE(b_->collect(400, [](const std::string& l) { return l.rfind("AUDIOTAP ", 0) == 0; })
                  .empty());
  EXPECT_NE(access(kPwned, F_OK), 0) << "a node name ran a command";
  run_out({"sh", "-c", "pw-cli ls Node | awk '/node.name = \"ovalis-tap-[12]/{print prev} "
                       "{prev=$2}' | tr -d , | xargs -r -n1 pw-cli destroy"});
}

// Every restart and every change of scope removes the sink it no longer
// uses before going on, so one application never holds more than one.
TEST_F(Tap, RestartsAndScopeChangesLeaveNoSinkBehind) {
  std::string own = "ovalis-tap-" + std::to_string(b_->pid());
  ASSERT_EQ(start("k1", "app\t\t80"), kStarted);
  ASSERT_EQ(start("k2", "app\t\t80"), kStarted);
  EXPECT_EQ(node_count(own), 1u) << nodes();
  ASSERT_EQ(start("k3", "system\t\t80"), kStarted);
  EXPECT_EQ(node_count(own), 0u) << nodes();
  ASSERT_EQ(start("k4", "app\t\t80"), kStarted);
  EXPECT_EQ(node_count(own), 1u) << nodes();
  b_->send("AUDIOTAP STOP");
  EXPECT_TRUE(eventually([&] { return node_count(own) == 0; }, 10000)) << nodes();
}

TEST_F(Tap, ARecorderThatDiesEndsTheTap) {
  ASSERT_EQ(start("d1", "system\t\t40"), kStarted);
  ASSERT_TRUE(next_chunk());
  std::string rec = run_out({"pgrep", "-P", std::to_string(b_->pid()), "parec"});
  ASSERT_FALSE(rec.empty());
  kill(std::atoi(rec.c_str()), SIGKILL);
  EXPECT_TRUE(eventually([] {
    return b_->stderr_text().find("[ovalis] audio capture exited (status 9) \u2014 stopping tap\n") !=
           std::string::npos;
  }, 5000));
  drain();
  EXPECT_TRUE(b_->collect(300, [](const std::string& l) { return l.rfind("AUDIOTAP ", 0) == 0; })
                  .empty());
}

// A sound server that hangs must not hang the program: the question about
// the default output has a time limit, after which the tap starts anyway.
TEST(TapHungServer, TheDefaultOutputQuestionIsBounded) {
  if (run_out({"sh", "-c", "command -v parec"}).empty()) GTEST_SKIP() << "no parec";
  char tmpl[] = "/tmp/ovalis-hung-XXXXXX";
  std::string bin = mkdtemp(tmpl);
  std::ofstream(bin + "/pactl") << "#!/bin/sh\nexec sleep 30\n";
  chmod((bin + "/pactl").c_str(), 0755);
  Backend* b = start_backend({.env = {{"PATH", bin + ":" + std::getenv("PATH")}}});
  ASSERT_TRUE(b);
  auto t0 = std::chrono::steady_clock::now();
  b->send("AUDIOTAP h1 system\t\t80");
  auto got = b->expect_prefix("GOT h1 ", 8000);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  EXPECT_TRUE(got);
  EXPECT_LT(ms.count(), 6000);
  b->send("AUDIOTAP STOP");
  stop_page(b);
  run_out({"rm", "-rf", bin});
}

}  // namespace
