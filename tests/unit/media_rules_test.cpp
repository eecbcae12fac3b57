#include <gtest/gtest.h>

#include <chrono>

#include "content/media_rules.h"

namespace {

// The recursive definition the matcher must agree with.
bool reference_glob(std::string_view p, std::string_view t) {
  if (p.empty()) return t.empty();
  if (p[0] == '*') {
    for (size_t i = 0; i <= t.size(); ++i)
      if (reference_glob(p.substr(1), t.substr(i))) return true;
    return false;
  }
  return !t.empty() && p[0] == t[0] && reference_glob(p.substr(1), t.substr(1));
}

TEST(MediaGlob, StarsAndLiterals) {
  EXPECT_TRUE(media_glob("*", ""));
  EXPECT_TRUE(media_glob("*", "https://anything"));
  EXPECT_TRUE(media_glob("http://127.0.0.1:*", "http://127.0.0.1:5173"));
  EXPECT_TRUE(media_glob("http://127.0.0.1:*", "http://127.0.0.1:"));
  EXPECT_FALSE(media_glob("http://127.0.0.1:*", "http://127.0.0.1"));
  EXPECT_TRUE(media_glob("https://h", "https://h"));
  EXPECT_FALSE(media_glob("https://h", "https://h2"));
  EXPECT_FALSE(media_glob("https://H", "https://h"));  // case-sensitive
  EXPECT_TRUE(media_glob("https://*.example.com", "https://a.b.example.com"));
  EXPECT_FALSE(media_glob("https://*.example.com", "https://example.com"));
  EXPECT_FALSE(media_glob("?", "a"));  // no other wildcard
  EXPECT_TRUE(media_glob("?", "?"));
}

TEST(MediaGlob, AgreesWithTheRecursiveDefinition) {
  const char* pats[] = {"", "*", "**", "a*", "*a", "a*b", "*a*b*", "a**b", "*ab*ba*", "b*a*"};
  const char* texts[] = {"", "a", "b", "ab", "ba", "aab", "abba", "babab", "abab", "bbbb"};
  for (const char* p : pats)
    for (const char* t : texts) EXPECT_EQ(media_glob(p, t), reference_glob(p, t)) << p << " / " << t;
}

TEST(MediaGlob, ManyStarsStayFast) {
  std::string pat;
  for (int i = 0; i < 40; ++i) pat += "*a";
  pat += "b";
  std::string text(400, 'a');
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(media_glob(pat, text));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
}

TEST(MediaRules, LinesSplitAtTheFirstSpaceExactly) {
  auto rules = parse_media_rules("proxy http://127.0.0.1:*\ncamera\nmicrophone  https://m\n\ncamera https://*");
  ASSERT_EQ(rules.size(), 3u);
  EXPECT_EQ(rules[0].key, "proxy");
  EXPECT_EQ(rules[0].pattern, "http://127.0.0.1:*");
  EXPECT_EQ(rules[1].key, "microphone");
  EXPECT_EQ(rules[1].pattern, " https://m");  // two spaces: the pattern starts with one
  EXPECT_EQ(rules[2].key, "camera");
}

TEST(MediaRules, TrustByKeyAndWholeOrigin) {
  auto rules = parse_media_rules("proxy http://127.0.0.1:*\ncamera https://*\nmicrophone  https://m");
  EXPECT_TRUE(media_rules_trust({}, "camera", "file://"));
  EXPECT_FALSE(media_rules_trust({}, "proxy", "http://127.0.0.1:5173"));
  EXPECT_TRUE(media_rules_trust(rules, "proxy", "http://127.0.0.1:5173"));
  EXPECT_FALSE(media_rules_trust(rules, "camera", "http://127.0.0.1:5173"));
  EXPECT_FALSE(media_rules_trust(rules, "Proxy", "http://127.0.0.1:5173"));
  EXPECT_TRUE(media_rules_trust(rules, "camera", "https://h"));
  EXPECT_FALSE(media_rules_trust(rules, "microphone", "https://m"));
  EXPECT_FALSE(media_rules_trust(rules, "proxy", "null"));
}

}  // namespace
