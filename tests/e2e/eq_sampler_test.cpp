// The equalizer and the sampler against the session's real PipeWire: the
// chain's nodes and parameters as pw-cli sees them, stream routing in the
// metadata, and the sampler's sound as recorded from the null sink.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include "harness.h"

using namespace e2e;

namespace {

// A name made to break out of shell words, awk patterns and regexes.
std::string hostile_name(const std::string& marker) {
  return "ov'q\"$(touch " + marker + ")`touch " + marker + "`;|.*";
}

bool poll(const std::function<bool()>& ok, int ms = 8000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (ok()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return ok();
}

// The id of the node with exactly this name in "pw-cli ls Node", or "".
std::string node_id(const std::string& name) {
  setenv("T_NODE", name.c_str(), 1);
  std::string id = sh(
      "pw-cli ls Node 2>/dev/null | awk '/^[[:space:]]*id [0-9]+/{i=$2; gsub(/[^0-9]/,\"\",i)} "
      "$1 == \"node.name\" {v=$0; sub(/^[^\"]*\"/,\"\",v); sub(/\"$/,\"\",v); "
      "if (v == ENVIRON[\"T_NODE\"]) {print i; exit}}'");
  while (!id.empty() && id.back() == '\n') id.pop_back();
  return id;
}

std::string props(const std::string& id) { return sh("pw-cli enum-params " + id + " Props 2>/dev/null"); }

// The value that follows String "<key>" in an enum-params listing.
std::string param_after(const std::string& listing, const std::string& key) {
  size_t p = listing.rfind("String \"" + key + "\"");
  if (p == std::string::npos) return "";
  size_t nl = listing.find('\n', p);
  size_t end = listing.find('\n', nl + 1);
  std::string line = listing.substr(nl + 1, end - nl - 1);
  size_t sp = line.find_last_of(' ');
  return line.substr(sp + 1);
}

std::string target_of(const std::string& id) {
  std::string md = sh("pw-metadata 2>/dev/null");
  std::string key = "id:" + id + " key:'target.object' value:'";
  size_t p = md.find(key);
  if (p == std::string::npos) return "";
  p += key.size();
  return md.substr(p, md.find('\'', p) - p);
}

pid_t spawn(const std::vector<std::string>& args, const std::string& out = "/dev/null") {
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    FILE* f = std::fopen(out.c_str(), "w");
    if (f) dup2(fileno(f), 1);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  pid = 0;
}

// Child pid of launcher running pw-cli, or "".
std::string pw_cli_child(pid_t parent) {
  std::string p = sh("pgrep -P " + std::to_string(parent) + " -x pw-cli");
  while (!p.empty() && p.back() == '\n') p.pop_back();
  return p;
}

// A recording of the null sink's monitor: stereo float frames.
class Recorder {
 public:
  explicit Recorder(const std::string& path) : path_(path) {
    pid_ = spawn({"parec", "-d", "ovalis_null.monitor", "--format=float32le", "--rate=48000",
                  "--channels=2", "--raw", "--latency-msec=20"},
                 path);
  }
  ~Recorder() { stop(pid_); }
  std::vector<float> samples() const {
    std::ifstream in(path_, std::ios::binary);
    std::vector<char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> s(b.size() / 4);
    if (!s.empty()) std::memcpy(s.data(), b.data(), s.size() * 4);
    return s;
  }
  // Median absolute level of each side over the last ms of the recording;
  // the median ignores the odd gap a loaded machine leaves in the stream.
  std::pair<double, double> level(int ms = 100) const {
    std::vector<float> s = samples();
    size_t frames = s.size() / 2, n = std::min<size_t>(frames, 48 * ms);
    if (!n) return {0.0, 0.0};
    std::vector<float> l(n), r(n);
    for (size_t i = 0; i < n; ++i) {
      l[i] = std::fabs(s[2 * (frames - n + i)]);
      r[i] = std::fabs(s[2 * (frames - n + i) + 1]);
    }
    std::nth_element(l.begin(), l.begin() + n / 2, l.end());
    std::nth_element(r.begin(), r.begin() + n / 2, r.end());
    return {l[n / 2], r[n / 2]};
  }
  // Waits until the recent level satisfies ok.
  bool wait_level(const std::function<bool(double, double)>& ok, int ms = 8000) const {
    return poll([&] {
      auto [l, r] = level();
      return ok(l, r);
    }, ms);
  }

 private:
  std::string path_;
  pid_t pid_ = 0;
};

class EqSampler : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string(sh("mktemp -d"));
    while (!dir_->empty() && dir_->back() == '\n') dir_->pop_back();
    marker_ = new std::string(*dir_ + "/pwned");
    app_id_ = new std::string(hostile_name(*marker_));
    b_ = new Backend();
    if (!b_->start({.env = {{"OVALIS_NO_MAIN_WINDOW", "1"}, {"OVALIS_APP_ID", *app_id_}}})) {
      delete b_;
      b_ = nullptr;
    }
  }
  static void TearDownTestSuite() {
    if (b_) {
      b_->send("QUIT");
      EXPECT_EQ(b_->wait_exit(10000), 0);
      delete b_;
      b_ = nullptr;
    }
    sh("rm -rf '" + *dir_ + "'");
  }
  void SetUp() override { ASSERT_NE(b_, nullptr); }

  std::string file(const std::string& name) { return *dir_ + "/" + name; }
  void sox(const std::string& args) { ASSERT_EQ(std::system(("sox -q " + args).c_str()), 0) << args; }
  std::string load(const std::string& key, const std::string& name, const std::string& path) {
    b_->send("SAMPLER " + key + " LOAD\t" + name + "\t" + path);
    auto l = b_->expect_prefix("GOT " + key + " ", 15000);
    return l ? l->substr(5 + key.size()) : "<none>";
  }
  std::string sink() { return "ovalis-eq-" + std::to_string(b_->pid()); }

  static Backend* b_;
  static std::string* dir_;
  static std::string* marker_;
  static std::string* app_id_;
};
Backend* EqSampler::b_ = nullptr;
std::string* EqSampler::dir_ = nullptr;
std::string* EqSampler::marker_ = nullptr;
std::string* EqSampler::app_id_ = nullptr;

TEST_F(EqSampler, LoadsFilesAndReportsErrors) {
  sox("-n -r 44100 -c 1 " + file("tone.wav") + " synth 0.5 sine 440");
  sox("-n -r 48000 -c 2 " + file("tone.flac") + " synth 0.25 sine 440 sine 660");
  sox("-n -r 48000 -c 2 " + file("tone.mp3") + " synth 0.5 sine 440");
  sox("-n -r 48000 -c 6 " + file("six.wav") + " synth 0.1 sine 440");
  sox("-n -r 48000 -c 1 " + file("empty.wav") + " trim 0 0");
  std::ofstream(file("junk.wav")) << "not a sound file";

  // Resampled to 48 kHz: half a second at 44.1 kHz is about 24000 frames.
  std::string r = load("w", "tone", file("tone.wav"));
  ASSERT_EQ(r.rfind("{\"ok\":true,\"frames\":", 0), 0u) << r;
  long frames = std::strtol(r.c_str() + 20, nullptr, 10);
  EXPECT_NEAR(frames, 24000, 100) << r;
  EXPECT_NE(r.find("\"channels\":1}"), std::string::npos) << r;
  EXPECT_EQ(load("f", "flac", file("tone.flac")), "{\"ok\":true,\"frames\":12000,\"channels\":2}");
  r = load("m", "mp3", file("tone.mp3"));
  EXPECT_EQ(r.rfind("{\"ok\":true,\"frames\":", 0), 0u) << r;
  EXPECT_NE(r.find("\"channels\":2}"), std::string::npos) << r;
  EXPECT_EQ(load("6", "six", file("six.wav")), "{\"ok\":true,\"frames\":4800,\"channels\":2}");

  EXPECT_EQ(load("e1", "x", ""), R"({"ok":false,"error":"sampler: LOAD needs a name and a path"})");
  EXPECT_EQ(load("e2", "x", file("junk.wav")),
            "{\"ok\":false,\"error\":\"sampler: can't decode " + file("junk.wav") + " (wav/mp3/flac)\"}");
  EXPECT_EQ(load("e3", "x", file("empty.wav")),
            "{\"ok\":false,\"error\":\"sampler: " + file("empty.wav") + " decoded to no audio\"}");
  EXPECT_FALSE(node_id("ovalis-sampler-" + std::to_string(b_->pid())).empty());
}

TEST_F(EqSampler, PlaysWithPanAndFadesOnStop) {
  sox("-n -r 48000 -c 1 " + file("dc.wav") + " synth 1 sine 0 dcshift 0.5");
  ASSERT_EQ(load("d", "dc", file("dc.wav")), "{\"ok\":true,\"frames\":48000,\"channels\":1}");
  Recorder rec(file("pan.raw"));
  b_->send("SAMPLER PLAY 1\tdc\t1\t-1\t1\t1");
  EXPECT_TRUE(rec.wait_level([](double l, double r) { return l > 0.45 && r < 0.01; }))
      << rec.level().first << " " << rec.level().second;
  // Equal-power pan to 0.5: cos and sin of 3/8 of a half turn.
  b_->send("SAMPLER SET 1\t_\t0.5\t_");
  EXPECT_TRUE(rec.wait_level([](double l, double r) {
    return std::fabs(l - 0.5 * 0.38268) < 0.02 && std::fabs(r - 0.5 * 0.92388) < 0.02;
  })) << rec.level().first << " " << rec.level().second;

  b_->send("SAMPLER STOP 1");
  ASSERT_TRUE(rec.wait_level([](double l, double r) { return l + r < 1e-4; }));
  // The tail of the sound decays over hundreds of frames instead of jumping to 0.
  std::vector<float> s = rec.samples();
  size_t last_loud = 0, first_quiet = 0;
  for (size_t i = 0; i + 1 < s.size() / 2; ++i)
    if (s[2 * i + 1] > 0.4f) last_loud = i;
  for (size_t i = last_loud; i < s.size() / 2; ++i)
    if (s[2 * i + 1] < 0.01f) {
      first_quiet = i;
      break;
    }
  ASSERT_GT(last_loud, 0u);
  EXPECT_GT(first_quiet - last_loud, 300u);
  float jump = 0;
  for (size_t i = last_loud; i < first_quiet; ++i) jump = std::max(jump, s[2 * i + 1] - s[2 * i + 3]);
  EXPECT_LT(jump, 0.01f);
}

TEST_F(EqSampler, ThirtyThirdVoiceReleasesTheOldest) {
  Recorder rec(file("steal.raw"));
  b_->send("SAMPLER MASTER 1");
  b_->send("SAMPLER PLAY 100\tdc\t1\t-1\t1\t1");
  for (int i = 1; i < 32; ++i) b_->send("SAMPLER PLAY " + std::to_string(100 + i) + "\tdc\t0\t0\t1\t1");
  ASSERT_TRUE(rec.wait_level([](double l, double) { return l > 0.45; }));
  // 32 sounding: the first voice still plays.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_GT(rec.level().first, 0.45);
  b_->send("SAMPLER PLAY 200\tdc\t0\t0\t1\t1");
  EXPECT_TRUE(rec.wait_level([](double l, double) { return l < 1e-4; }));
  b_->send("SAMPLER STOPALL");
}

TEST_F(EqSampler, ChainLoadsRoutesAndRetunesWithoutRestart) {
  // Two other streams: one named as the application, one decoy that a
  // pattern match on the hostile name would also catch.
  sox("-n -r 48000 -c 2 " + file("long.wav") + " synth 60 sine 0");
  std::string quoted;
  for (char c : *app_id_) quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
  std::string app_props = "{ \"node.name\": \"" + quoted + "\" }";
  pid_t app = spawn({"pw-play", "--properties", app_props, file("long.wav")});
  pid_t decoy = spawn({"pw-play", "--properties", "{ \"node.name\": \"decoy\" }", file("long.wav")});
  ASSERT_TRUE(poll([&] { return !node_id(*app_id_).empty() && !node_id("decoy").empty(); }));

  b_->send("AUDIOFILTERS bq_peaking,1000,1,3\tbq_highshelf,8000,0.7,-2");
  ASSERT_TRUE(poll([&] { return !node_id(sink()).empty() && !node_id(sink() + "-out").empty(); }));
  // pw-cli holds the module in its own context; the server sees its nodes.
  std::string dump = sh("pw-dump");
  EXPECT_NE(dump.find("\"node.name\": \"" + sink() + "\""), std::string::npos);
  EXPECT_NE(dump.find("\"node.description\": \"filter-chain-"), std::string::npos);
  std::string sid = node_id(sink());
  EXPECT_TRUE(poll([&] { return param_after(props(sid), "f1:Freq") == "8000.000000"; }))
      << props(sid);

  // The application's stream and the sampler's are routed; nothing else is.
  std::string app_id = node_id(*app_id_);
  std::string smp = node_id("ovalis-sampler-" + std::to_string(b_->pid()));
  EXPECT_TRUE(poll([&] { return target_of(app_id) == sink(); })) << sh("pw-metadata");
  EXPECT_TRUE(poll([&] { return target_of(smp) == sink(); })) << sh("pw-metadata");
  EXPECT_EQ(target_of(node_id("decoy")), "");
  EXPECT_EQ(target_of(node_id("ovalis_null")), "");
  EXPECT_NE(access(marker_->c_str(), F_OK), 0) << "a name ran as a command";

  // New values are pushed into the running chain by the same pw-cli child.
  std::string child = pw_cli_child(b_->pid());
  ASSERT_FALSE(child.empty());
  b_->send("AUDIOFILTERS bq_peaking,1500,1,6\tbq_highshelf,9000,0.7,-2");
  EXPECT_TRUE(poll([&] { return param_after(props(sid), "f0:Freq") == "1500.000000"; }))
      << props(sid);
  b_->send("AUDIOFILTERSET 1\t7000\t0.5\t-1");
  EXPECT_TRUE(poll([&] { return param_after(props(sid), "f1:Gain") == "-1.000000"; }));
  b_->send("AUDIOFILTERSET 2\t1\t1\t1");
  b_->send("AUDIOBALANCE 0.25");
  std::string out = node_id(sink() + "-out");
  EXPECT_TRUE(poll([&] {
    std::string p = props(out);
    size_t at = p.find("channelVolumes");
    return at != std::string::npos &&
           p.find("Float 0.750000", at) < p.find("Float 1.000000", at);
  })) << props(out);
  EXPECT_EQ(pw_cli_child(b_->pid()), child);
  EXPECT_EQ(node_id(sink()), sid);

  // A shape change rebuilds.
  b_->send("AUDIOFILTERS bq_peaking,1000,1,3,-4\tbq_highshelf,9000,0.7,-2");
  ASSERT_TRUE(poll([&] {
    std::string c = pw_cli_child(b_->pid());
    return !c.empty() && c != child;
  }));
  EXPECT_TRUE(poll([&] {
    std::string id = node_id(sink());
    return !id.empty() && param_after(props(id), "f0R:Gain") == "-4.000000" &&
           param_after(props(id), "f1L:Freq") == "9000.000000";
  }));

  // An empty list unloads the chain and hands the streams back.
  b_->send("AUDIOFILTERS");
  EXPECT_TRUE(poll([&] { return node_id(sink()).empty() && pw_cli_child(b_->pid()).empty(); }));
  EXPECT_TRUE(poll([&] { return target_of(app_id).empty() && target_of(smp).empty(); }))
      << sh("pw-metadata");
  EXPECT_NE(access(marker_->c_str(), F_OK), 0) << "a name ran as a command";
  stop(app);
  stop(decoy);
}

TEST_F(EqSampler, SamplerPlaysThroughTheChain) {
  // A low shelf cutting only the left side: the sampler's sound passes it.
  Recorder rec(file("chain.raw"));
  b_->send("AUDIOFILTERS bq_lowshelf,1000,0.7071,-6.0206,0");
  ASSERT_TRUE(poll([&] { return !node_id(sink()).empty(); }));
  b_->send("SAMPLER PLAY 7\tdc\t1\t0\t1\t1");
  EXPECT_TRUE(rec.wait_level([](double l, double r) {
    return l > 0.05 && l < 0.25 && std::fabs(r - 0.5 * 0.7071) < 0.02;
  }, 10000)) << rec.level().first << " " << rec.level().second;
  b_->send("SAMPLER STOPALL");
  b_->send("AUDIOFILTERS");
  EXPECT_TRUE(poll([&] { return node_id(sink()).empty(); }));
}

}  // namespace

TEST_F(EqSampler, PlainGainsLoadAndARefusedChainIsDropped) {
  std::string smp = node_id("ovalis-sampler-" + std::to_string(b_->pid()));
  b_->send("AUDIOFILTERS linear,0,0,0.5,0.25\tbq_peaking,1000,1,3,3");
  ASSERT_TRUE(poll([&] { return !node_id(sink()).empty(); })) << b_->stderr_text();
  std::string sid = node_id(sink());
  EXPECT_TRUE(poll([&] {
    std::string p = props(sid);
    return param_after(p, "f0L:Gain 1") == "0.500000" && param_after(p, "f0R:Gain 1") == "0.250000";
  })) << props(sid);
  b_->send("AUDIOFILTERSET 0\t0\t0\t0.75");
  EXPECT_TRUE(poll([&] { return param_after(props(sid), "f0L:Gain 1") == "0.750000"; })) << props(sid);
  EXPECT_TRUE(poll([&] { return target_of(smp) == sink(); })) << sh("pw-metadata");

  // A label the server does not know: pw-cli stays up, but the chain is
  // dropped and the sampler's stream goes back to the default sink.
  b_->send("AUDIOFILTERS no_such_builtin,1,1,1");
  EXPECT_TRUE(poll([&] { return b_->stderr_text().find("filter chain was refused") != std::string::npos; }))
      << b_->stderr_text();
  EXPECT_TRUE(poll([&] { return pw_cli_child(b_->pid()).empty() && node_id(sink()).empty(); }));
  EXPECT_TRUE(poll([&] { return target_of(smp).empty(); })) << sh("pw-metadata");
  // The next good list builds afresh.
  b_->send("AUDIOFILTERS bq_peaking,1000,1,3");
  EXPECT_TRUE(poll([&] { return !node_id(sink()).empty(); }));
  b_->send("AUDIOFILTERS");
  EXPECT_TRUE(poll([&] { return node_id(sink()).empty(); }));
}

// The user's locale writes a decimal comma; the wire, the filter-chain text
// and the tools' arguments keep the point all the same.
TEST(EqSamplerLocale, NumbersMeanTheSameUnderACommaLocale) {
  if (sh("locale -a").find("de_DE.utf8") == std::string::npos)
    GTEST_SKIP() << "no de_DE.UTF-8 locale (scripts/install-deps generates it)";
  std::string dir = sh("mktemp -d");
  dir.pop_back();
  Backend b;
  ASSERT_TRUE(b.start({.env = {{"OVALIS_NO_MAIN_WINDOW", "1"}, {"OVALIS_APP_ID", "e2e-locale"},
                               {"LANG", "de_DE.UTF-8"}, {"LC_ALL", "de_DE.UTF-8"}}}));
  ASSERT_EQ(std::system(("sox -q -n -r 48000 -c 1 " + dir + "/dc.wav synth 1 sine 0 dcshift 0.5").c_str()), 0);
  b.send("SAMPLER l LOAD\tdc\t" + dir + "/dc.wav");
  ASSERT_TRUE(b.expect_prefix("GOT l {\"ok\":true", 15000));

  // Half gain, centred: 0.5 * 0.5 * cos(pi/4) on each side.
  Recorder rec(dir + "/de.raw");
  b.send("SAMPLER PLAY 9\tdc\t0.5\t0\t1\t1");
  EXPECT_TRUE(rec.wait_level([](double l, double r) {
    return std::fabs(l - 0.1768) < 0.02 && std::fabs(r - 0.1768) < 0.02;
  })) << rec.level().first << " " << rec.level().second;
  b.send("SAMPLER STOPALL");

  std::string sink = "ovalis-eq-" + std::to_string(b.pid());
  b.send("AUDIOFILTERS bq_peaking,1000,0.5,2.5");
  ASSERT_TRUE(poll([&] { return !node_id(sink).empty(); })) << b.stderr_text();
  std::string sid = node_id(sink);
  EXPECT_TRUE(poll([&] {
    std::string p = props(sid);
    return param_after(p, "f0:Q") == "0.500000" && param_after(p, "f0:Gain") == "2.500000";
  })) << props(sid);
  b.send("AUDIOBALANCE 0.25");
  std::string out = node_id(sink + "-out");
  EXPECT_TRUE(poll([&] {
    std::string p = props(out);
    size_t at = p.find("channelVolumes");
    return at != std::string::npos && p.find("Float 0.750000", at) < p.find("Float 1.000000", at);
  })) << props(out);
  b.send("AUDIOFILTERS");
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(10000), 0);
  sh("rm -rf '" + dir + "'");
}
