// Bursts, huge lines, bad bytes and a vanishing backend: every line is
// answered exactly once, in order, and nothing crashes or hangs.
#include <dirent.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "harness.h"

using namespace e2e;

namespace {

class Abuse : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(b_ = start_page()); }
  static void TearDownTestSuite() { stop_page(b_); }
  void SetUp() override { b_->collect(0); }
  static Backend* b_;
};
Backend* Abuse::b_ = nullptr;

TEST_F(Abuse, HundredThousandQueriesAnsweredOnceInOrder) {
  const int n = 100000;
  std::string burst;
  burst.reserve(n * 20);
  for (int i = 0; i < n; ++i) burst += "GET " + std::to_string(i) + " windows\n";
  b_->send_raw(burst);
  int next = 0;
  while (next < n) {
    auto line = b_->expect_prefix("GOT ", 30000);
    ASSERT_TRUE(line) << "stopped after " << next;
    ASSERT_EQ(*line, "GOT " + std::to_string(next) + " [\"main\"]");
    ++next;
  }
  EXPECT_TRUE(b_->collect(200, [](const std::string& l) { return l.rfind("GOT ", 0) == 0; })
                  .empty());
}

// A backend that writes all its requests before it reads any answer: the
// answers fill the socket meanwhile, and launcher must keep reading while
// it waits to write them, or both sides wait for ever.
TEST_F(Abuse, WriterThatNeverReadsCannotDeadlock) {
  const int n = 200000;
  std::string burst;
  for (int i = 0; i < n; ++i) burst += "GET " + std::to_string(i) + " windows\n";
  auto t0 = std::chrono::steady_clock::now();
  b_->send_without_reading(burst);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(25)) << "the writes stalled";
  auto last = b_->expect_prefix("GOT " + std::to_string(n - 1) + " ", 30000);
  ASSERT_TRUE(last);
  b_->collect(200);
}

TEST_F(Abuse, SixteenMegabyteEvalIsEvaluated) {
  std::string big(16 * 1024 * 1024, 'x');
  b_->send("EVAL window.__big='" + big + "'.length");
  EXPECT_EQ(b_->page_eval("window.__big", "main", 30000), std::to_string(big.size()));
}

TEST_F(Abuse, InvalidUtf8NeverBreaksTheOutgoingJson) {
  b_->send("TITLE bad \xff\xfe\xc3");
  b_->send("EVAL window.__u = 1; \xff");
  b_->send("RET main:99999 0 \"\xff\xfe\"");
  b_->send("EVAL window.__invoke('\\\\uDC00 \\\\uD800 end')");
  auto call = b_->expect([](const std::string& l) {
    return l.rfind("CALL ", 0) == 0 && l.find(" end") != std::string::npos;
  });
  ASSERT_TRUE(call);
  EXPECT_TRUE(g_utf8_validate(call->data(), static_cast<gssize>(call->size()), nullptr));
  auto c = parse_call(*call);
  ASSERT_TRUE(c);
  // Lone surrogates arrive as replacement characters, and nothing after them is lost.
  EXPECT_EQ(c->payload, "\xef\xbf\xbd \xef\xbf\xbd end");
  EXPECT_EQ(b_->page_eval("1"), "1");
}

// Answers, events and other scripts sent in one burst reach the page in the
// order they were sent, even though a burst goes to the page in few scripts;
// a handler that throws keeps no later event from the page.
TEST_F(Abuse, BurstOfAnswersEventsAndScriptsKeepsItsOrder) {
  b_->send("EVAL " + wire_escape(R"JS(window.__seen = [];
      ovalis.api.on('tick', (d) => { __seen.push('e' + d.n); if (d.n === 3) throw new Error('handler'); });
      window.__calls = [0, 1].map((i) => ovalis.api.call('ordered', {i}).then(() => __seen.push('r' + i)));)JS"));
  std::vector<std::string> ids;
  for (int i = 0; i < 2; ++i) {
    auto line = b_->expect([](const std::string& l) {
      auto c = parse_call(l);
      return c && call_method(*c) == "ordered";
    });
    ASSERT_TRUE(line);
    ids.push_back(parse_call(*line)->id);
  }
  auto event = [](int n) {
    return "EVAL window.__emit&&window.__emit({event:\"tick\",data:{\"n\":" + std::to_string(n) + "}})\n";
  };
  std::string burst = event(1) + "RET " + ids[0] + " 0 {}\n" + event(2) + event(3) +
                      "EVAL __seen.push('raw')\n" + event(4) + "RET " + ids[1] + " 0 {}\n" + event(5);
  b_->send_raw(burst);
  // Promise reactions run after the script that settled them, so an answer
  // shows up after the events of its own script: compare the order of the
  // events and scripts, and that each answer came after the lines before it.
  auto seen = b_->page_eval("Promise.all(__calls).then(() => __seen.join(' '))");
  ASSERT_TRUE(seen);
  std::string s = *seen;
  for (const char* part : {"e1", "e2", "e3", "raw", "e4", "e5", "r0", "r1"})
    EXPECT_NE(s.find(part), std::string::npos) << part << " missing from " << s;
  EXPECT_LT(s.find("e2"), s.find("e3"));
  EXPECT_LT(s.find("e3"), s.find("raw"));
  EXPECT_LT(s.find("raw"), s.find("e4"));
  EXPECT_LT(s.find("r0"), s.find("raw")) << s;
  EXPECT_LT(s.find("e4"), s.find("e5"));
}

TEST_F(Abuse, ThousandConcurrentCallsEachCallAndResolveOnce) {
  b_->send("EVAL " + wire_escape(R"JS(window.__res = new Map();
      window.__all = Promise.all(Array.from({length: 1000}, (_, i) =>
        ovalis.api.call('burst', {i}).then(v => { __res.set(i, (__res.get(i) || 0) + 1); return v.i === i; })))
      .then(oks => oks.every(Boolean));)JS"));
  std::set<std::string> ids;
  for (int i = 0; i < 1000; ++i) {
    auto line = b_->expect([](const std::string& l) {
      auto c = parse_call(l);
      return c && call_method(*c) == "burst";
    });
    ASSERT_TRUE(line) << i;
    auto c = parse_call(*line);
    EXPECT_TRUE(ids.insert(c->id).second) << "duplicate " << c->id;
    size_t at = c->payload.find("\"i\":");
    std::string i_text = c->payload.substr(at + 4, c->payload.find('}', at) - at - 4);
    b_->send("RET " + c->id + " 0 {\"i\":" + i_text + "}");
  }
  EXPECT_EQ(b_->page_eval("__all"), "true");
  EXPECT_EQ(b_->page_eval("[__res.size, [...__res.values()].every(n => n === 1)]"), "[1000,true]");
}

TEST_F(Abuse, LinesSplitAtEveryByteGiveTheSameResult) {
  std::string stream = "GET a windows\nEVAL window.__split = 'a\\\\tb'\n\nGET b windows\r\nGET c windows\n";
  for (char c : stream) {
    b_->send_raw(std::string(1, c));
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  EXPECT_EQ(b_->expect_prefix("GOT a "), "GOT a [\"main\"]");
  // "GET b windows\r" has the key "windows\r", which is not a known key.
  EXPECT_EQ(b_->expect_prefix("GOT b "), "GOT b null");
  EXPECT_EQ(b_->expect_prefix("GOT c "), "GOT c [\"main\"]");
  EXPECT_EQ(b_->page_eval("window.__split"), "\"a\\tb\"");
}

std::vector<pid_t> children_of(pid_t parent) {
  std::vector<pid_t> out;
  DIR* d = opendir("/proc");
  while (dirent* e = readdir(d)) {
    pid_t pid = static_cast<pid_t>(atoi(e->d_name));
    if (pid <= 0) continue;
    std::ifstream f("/proc/" + std::string(e->d_name) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    size_t rp = stat.rfind(')');
    if (rp == std::string::npos) continue;
    std::istringstream rest(stat.substr(rp + 2));
    char state;
    pid_t ppid;
    rest >> state >> ppid;
    if (ppid == parent) out.push_back(pid);
  }
  closedir(d);
  return out;
}

bool alive(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  size_t rp = stat.rfind(')');
  return rp != std::string::npos && stat[rp + 2] != 'Z';
}

TEST(AbuseAlone, BackendVanishingWithCallsPendingEndsCleanly) {
  Backend b;
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(serve_load_calls(b));
  ASSERT_TRUE(b.wait_page_ready());
  b.send("EVAL for (let i = 0; i < 50; i++) ovalis.api.call('pending', {i})");
  ASSERT_TRUE(b.expect_prefix("CALL "));
  auto kids = children_of(b.pid());
  EXPECT_FALSE(kids.empty());
  b.close_socket();
  EXPECT_EQ(b.wait_exit(), 0);
  for (int i = 0; i < 100; ++i) {
    bool any = false;
    for (pid_t k : kids) any |= alive(k);
    if (!any) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (pid_t k : kids) EXPECT_FALSE(alive(k)) << "stray child " << k;
}

}  // namespace
