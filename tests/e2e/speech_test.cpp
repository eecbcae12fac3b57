// Sounds and speech against the real desktop tools: PipeWire with a null
// sink and speech-dispatcher with espeak-ng (test-session --pipewire
// --speech). Whatever is said or played must be heard on the sink's monitor.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "harness.h"
#include "pcm_probe.h"

using namespace e2e;

namespace {

// Records the default sink's monitor into a file for the test's life.
class MonitorRecording {
 public:
  explicit MonitorRecording(const std::string& dir) : path_(dir + "/monitor.raw") {
    pid_ = spawn_bg({"sh", "-c",
                     "exec parec -d ovalis_null.monitor --format=s16le --rate=44100 "
                     "--channels=2 --raw >\"$1\"",
                     "sh", path_});
  }
  ~MonitorRecording() { stop_bg(pid_); }
  size_t size() const { return bytes().size(); }
  // The loudest sample recorded after byte offset `from`.
  double peak_since(size_t from) const {
    std::string b = bytes();
    double peak = 0;
    for (double v : channel(b.substr(std::min(from, b.size()) & ~size_t{3}), 0))
      peak = std::max(peak, std::abs(v));
    return peak;
  }
  // A stretch of 800 ms without sound arrives within the time given.
  bool falls_quiet(int within_ms) const {
    return eventually([&] {
      size_t from = size();
      std::this_thread::sleep_for(std::chrono::milliseconds(800));
      return peak_since(from) < 500;
    }, within_ms);
  }
  bool sound_since(size_t from, int within_ms) const {
    return eventually([&] { return peak_since(from) > 2000; }, within_ms);
  }

 private:
  std::string bytes() const {
    std::ifstream f(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  std::string path_;
  GPid pid_ = 0;
};

class Speech : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (run_out({"pw-cli", "info", "0"}).empty()) return;
    b_ = start_page();
    if (b_) rec_ = new MonitorRecording(b_->dir());
  }
  static void TearDownTestSuite() {
    delete rec_;
    rec_ = nullptr;
    if (b_) stop_page(b_);
  }
  void SetUp() override {
    if (!b_) GTEST_SKIP() << "no PipeWire in this session (run under test-session --pipewire --speech)";
    b_->collect(0);
  }
  static std::string answer(const std::string& key, int timeout_ms = 8000) {
    auto l = b_->expect_prefix("GOT " + key + " ", timeout_ms);
    return l ? l->substr(5 + key.size()) : "(no answer)";
  }
  static Backend* b_;
  static MonitorRecording* rec_;
};
Backend* Speech::b_ = nullptr;
MonitorRecording* Speech::rec_ = nullptr;

TEST_F(Speech, SoundsPlayByNameOrPathAndMissingOnesFail) {
  size_t at = rec_->size();
  b_->send("SOUND n1 bell");
  EXPECT_EQ(answer("n1"), "{\"ok\":true}");
  EXPECT_TRUE(rec_->sound_since(at, 5000)) << "the bell was not heard";

  std::string tone = make_tone(b_->dir(), 660, 1.5);
  ASSERT_TRUE(rec_->falls_quiet(8000));
  at = rec_->size();
  b_->send("SOUND n2 " + wire_escape(tone));
  EXPECT_EQ(answer("n2"), "{\"ok\":true}");
  EXPECT_TRUE(rec_->sound_since(at, 5000)) << "the file was not heard";

  b_->send("SOUND n3 no-such-sound");
  EXPECT_EQ(answer("n3"), "{\"ok\":false}");
  b_->send("SOUND n4 /nonexistent/x.wav");
  EXPECT_EQ(answer("n4"), "{\"ok\":false}");
  // No name: the display bell, nothing to play.
  b_->send("SOUND n5");
  EXPECT_EQ(answer("n5"), "{\"ok\":true}");
}

TEST_F(Speech, VoicesListEspeakNg) {
  // espeak-ng brings some thirteen thousand voices. On a loaded machine
  // spd-say can need longer than the four seconds a listing may take; then
  // the answer is an empty list, on time. A second try finds it warm.
  std::string got;
  for (int i = 1; i <= 2; ++i) {
    std::string key = "v" + std::to_string(i);
    auto asked = std::chrono::steady_clock::now();
    b_->send("VOICES " + key + " x");
    got = answer(key, 8000);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(5500));
    if (got != "{\"ok\":true,\"voices\":[]}") break;
  }
  if (got == "{\"ok\":true,\"voices\":[]}") {
    auto t0 = std::chrono::steady_clock::now();
    std::string direct = run_out({"spd-say", "-L"});
    EXPECT_GT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(3000))
        << "spd-say lists quickly here, yet VOICES answered no voices";
    EXPECT_NE(direct.find(" Afrikaans "), std::string::npos);
    return;
  }
  ASSERT_EQ(got.rfind("{\"ok\":true,\"voices\":[", 0), 0u) << got;
  EXPECT_NE(got.find(R"({"id":"Afrikaans","name":"Afrikaans","lang":"af","quality":"default"})"),
            std::string::npos)
      << got.substr(0, 300);
  size_t n = 0;
  for (size_t at = 0; (at = got.find("\"id\":", at)) != std::string::npos; ++at) ++n;
  EXPECT_GT(n, 1000u);
  EXPECT_EQ(got.substr(got.size() - 2), "]}");
}

TEST_F(Speech, SayIsHeardAndAnsweredWhenItEnds) {
  size_t at = rec_->size();
  b_->send("SAY s1 Hello from the speech test.\ten\t0.5");
  EXPECT_EQ(answer("s1", 20000), "{\"ok\":true}");
  // The dispatcher's audio may still be on its way when spd-say returns.
  EXPECT_TRUE(rec_->sound_since(at, 5000)) << "nothing was heard";

  // Text that looks like an option is spoken, not obeyed.
  ASSERT_TRUE(rec_->falls_quiet(8000));
  at = rec_->size();
  b_->send("SAY s2 --help\t\t0.75");
  EXPECT_EQ(answer("s2", 20000), "{\"ok\":true}");
  EXPECT_TRUE(rec_->sound_since(at, 5000)) << "\"--help\" was not spoken";
}

TEST_F(Speech, SayStopCutsSpeechShort) {
  std::string text;
  for (int i = 0; i < 12; ++i) text += "This sentence is long enough to keep talking for a while. ";
  size_t at = rec_->size();
  b_->send("SAY s3 " + text + "\t\t0.5");
  ASSERT_TRUE(rec_->sound_since(at, 15000)) << "speech never started";
  auto stopped = std::chrono::steady_clock::now();
  b_->send("SAYSTOP");
  EXPECT_EQ(answer("s3", 4000), "{\"ok\":false}");
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(4));
  // The dispatcher falls silent too, after the audio already on its way,
  // instead of finishing a text that takes half a minute.
  EXPECT_TRUE(rec_->falls_quiet(6000)) << "speech went on after SAYSTOP";
  // A stop with nothing speaking is harmless.
  b_->send("SAYSTOP");
  EXPECT_TRUE(b_->collect(300, [](const std::string& l) { return l.rfind("GOT ", 0) == 0; }).empty());
}

}  // namespace
