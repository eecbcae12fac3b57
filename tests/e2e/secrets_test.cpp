// Secrets against the real gnome-keyring Secret Service of the test session,
// cross-checked with secret-tool, which reads the same store.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

// The answer JSON of one request, or "<none>".
std::string ask(Backend& b, const std::string& id, const std::string& line) {
  b.send(line);
  auto got = b.expect_prefix("GOT " + id + " ", 10000);
  return got ? got->substr(5 + id.size()) : "<none>";
}

std::string q(const std::string& s) { return "'" + s + "'"; }

// secret-tool's view of the item, "" when there is none.
std::string lookup(const std::string& service, const std::string& account) {
  return sh("secret-tool lookup service " + q(service) + " account " + q(account) + " 2>/dev/null");
}

class Secrets : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    b_ = start_backend({.env = {{"OVALIS_NO_MAIN_WINDOW", "1"}}});
  }
  static void TearDownTestSuite() { stop_page(b_); }
  void SetUp() override { ASSERT_NE(b_, nullptr); }
  static Backend* b_;
};
Backend* Secrets::b_ = nullptr;

TEST_F(Secrets, SetReplacesGetReadsAndDeleteRemoves) {
  EXPECT_EQ(ask(*b_, "g0", "SECRET g0 get\tnotes\tnever-set"), R"({"ok":true,"value":null})");
  EXPECT_EQ(ask(*b_, "s1", "SECRET s1 set\tnotes\talice\tfirst"), R"({"ok":true})");
  EXPECT_EQ(ask(*b_, "s2", "SECRET s2 set\tnotes\talice\tsecond"), R"({"ok":true})");
  EXPECT_EQ(lookup("notes", "alice"), "second");
  // One item, labelled service/account.
  std::string all = sh("secret-tool search --all service notes account alice 2>&1");
  EXPECT_EQ(std::count(all.begin(), all.end(), '['), 1) << all;
  EXPECT_NE(all.find("label = notes/alice"), std::string::npos) << all;
  EXPECT_EQ(ask(*b_, "g1", "SECRET g1 get\tnotes\talice"), R"({"ok":true,"value":"second"})");
  // Another account of the same service is another item.
  EXPECT_EQ(ask(*b_, "g2", "SECRET g2 get\tnotes\tbob"), R"({"ok":true,"value":null})");

  EXPECT_EQ(ask(*b_, "d1", "SECRET d1 del\tnotes\talice"), R"({"ok":true})");
  EXPECT_EQ(lookup("notes", "alice"), "");
  EXPECT_EQ(ask(*b_, "g3", "SECRET g3 get\tnotes\talice"), R"({"ok":true,"value":null})");
  EXPECT_EQ(ask(*b_, "d2", "SECRET d2 del\tnotes\talice"), R"({"ok":true})");
}

TEST_F(Secrets, EscapedFieldsSurviveBothWays) {
  // Tab, line break, backslash and non-ASCII text in every field.
  EXPECT_EQ(ask(*b_, "s1", "SECRET s1 set\tmy\\tsvc\tan\\\\d\ttab\\there\\nline \xc3\xa9\\\\"),
            R"({"ok":true})");
  EXPECT_EQ(lookup("my\tsvc", "an\\d"), "tab\there\nline \xc3\xa9\\");
  EXPECT_EQ(ask(*b_, "g1", "SECRET g1 get\tmy\\tsvc\tan\\\\d"),
            R"({"ok":true,"value":"tab\there\nline é\\"})");
  // An item another program stored is read too.
  sh("printf 'from \"tool\"' | secret-tool store --label=x service other account carol");
  EXPECT_EQ(ask(*b_, "g2", "SECRET g2 get\tother\tcarol"), R"({"ok":true,"value":"from \"tool\""})");
  EXPECT_EQ(ask(*b_, "d1", "SECRET d1 del\tother\tcarol"), R"({"ok":true})");
  EXPECT_EQ(lookup("other", "carol"), "");
}

TEST_F(Secrets, UnknownOpIsRefused) {
  EXPECT_EQ(ask(*b_, "r1", "SECRET r1 list\tnotes\talice"),
            R"({"ok":false,"error":"bad secret op"})");
  EXPECT_EQ(ask(*b_, "r2", "AUTH r2 because"), R"({"ok":false})");
}

TEST(SecretsWithoutService, EveryOpAnswersNoSecretService) {
  Backend b;
  ASSERT_TRUE(b.start({.env = {{"OVALIS_NO_MAIN_WINDOW", "1"},
                               {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}}}));
  for (const char* op : {"get", "set", "del", "list"})
    EXPECT_EQ(ask(b, "n", std::string("SECRET n ") + op + "\ta\tb\tc"),
              R"({"ok":false,"error":"no secret service"})")
        << op;
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(), 0);
}

// Last: it locks the collection for the rest of the session.
TEST_F(Secrets, LockedCollectionHidesItemsAndRefusesWrites) {
  ASSERT_EQ(ask(*b_, "s1", "SECRET s1 set\tnotes\tdave\tkept"), R"({"ok":true})");
  std::string out = sh(
      "gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets "
      "--method org.freedesktop.Secret.Service.Lock \"['/org/freedesktop/secrets/collection/login']\" 2>&1");
  ASSERT_NE(out.find("/org/freedesktop/secrets/collection/login"), std::string::npos) << out;
  EXPECT_EQ(ask(*b_, "g1", "SECRET g1 get\tnotes\tdave"), R"({"ok":true,"value":null})");
  // The service's own words, without the D-Bus error name.
  EXPECT_EQ(ask(*b_, "s2", "SECRET s2 set\tnotes\tdave\tlost"),
            R"({"ok":false,"error":"Cannot create an item in a locked collection"})");
  EXPECT_EQ(ask(*b_, "d1", "SECRET d1 del\tnotes\tdave"), R"({"ok":true})");
}

}  // namespace
