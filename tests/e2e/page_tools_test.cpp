// Find in page, PDF export and cookies on one shared launcher.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "harness.h"
#include "http_server.h"

using namespace e2e;

namespace {

std::string read_file(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

HttpResponse cookie_route(const HttpRequest& req) {
  HttpResponse r;
  r.headers = {{"Content-Type", "text/html"}};
  if (req.path == "/cookies.html") {
    r.headers.push_back({"Set-Cookie", "sid=abc; Path=/"});
    r.headers.push_back({"Set-Cookie", "pref=dark; Path=/; Max-Age=3600; SameSite=Strict"});
    r.headers.push_back({"Set-Cookie", "tok=x1; Path=/; HttpOnly"});
  }
  r.body = "<!doctype html><title>cookies</title><body>cookies</body>";
  return r;
}

class PageTools : public testing::Test {
 protected:
  static void SetUpTestSuite() { page = start_page({.target = page_path("find.html")}); }
  static void TearDownTestSuite() { stop_page(page); }
  void SetUp() override { ASSERT_TRUE(page); }

  // A FIND with a backend call id ("q<n>") is answered as "GOT <n> ...".
  std::string find(const std::string& args) {
    std::string id = std::to_string(++seq);
    page->send("FIND q" + id + " " + args);
    auto l = page->expect_prefix("GOT " + id + " ");
    return l ? l->substr(5 + id.size()) : "(no answer)";
  }
  std::string request(const std::string& line_without_id, int timeout_ms = 15000) {
    std::string id = "t" + std::to_string(++seq);
    size_t sp = line_without_id.find(' ');
    std::string line = sp == std::string::npos
                           ? line_without_id + " " + id
                           : line_without_id.substr(0, sp) + " " + id + line_without_id.substr(sp);
    page->send(line);
    auto l = page->expect_prefix("GOT " + id + " ", timeout_ms);
    return l ? l->substr(5 + id.size()) : "(no answer)";
  }
  static Backend* page;
  static int seq;
};
Backend* PageTools::page = nullptr;
int PageTools::seq = 0;

std::string found(int n, int active) {
  return "{\"found\":true,\"matches\":" + std::to_string(n) + ",\"activeMatch\":" +
         std::to_string(active) + "}";
}
const std::string kNotFound = "{\"found\":false,\"matches\":0,\"activeMatch\":0}";

TEST_F(PageTools, FindCountsAndWrapsBothWays) {
  EXPECT_EQ(find("foo\t1\t0"), found(3, 1));
  EXPECT_EQ(find("foo\t1\t0"), found(3, 2));
  EXPECT_EQ(find("foo\t1\t0"), found(3, 3));
  EXPECT_EQ(find("foo\t1\t0"), found(3, 1));  // wrapped
  EXPECT_EQ(find("foo\t0\t0"), found(3, 3));  // back from 1 wraps to the last
  EXPECT_EQ(find("foo\t0\t0"), found(3, 2));
  // Only the case mode changes: a new search with its own count.
  EXPECT_EQ(find("foo\t1\t1"), found(2, 1));
  // A fresh backwards search starts at the last match.
  EXPECT_EQ(find("Foo\t0\t0"), found(3, 3));
  EXPECT_EQ(find("nowhere-in-page\t1\t0"), kNotFound);
  EXPECT_EQ(find("\t1\t0"), kNotFound);
  page->send("STOPFIND q999");
  EXPECT_TRUE(page->expect_prefix("GOT 999 true"));
}

TEST_F(PageTools, FindAnswersThePagesOwnCallAndResetsOnReload) {
  page->send("EVAL window.__f = null; ovalis.win.find('foo').then(r => window.__f = r)");
  auto call = page->expect([](const std::string& l) {
    auto c = parse_call(l);
    return c && call_method(*c) == "win.find";
  });
  ASSERT_TRUE(call);
  std::string id = parse_call(*call)->id;
  page->send("FIND " + id + " foo\t1\t0");
  std::optional<std::string> r;
  for (int i = 0; i < 100 && (r = page->page_eval("window.__f")) == "null"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(r, found(3, 1));
  EXPECT_EQ(find("foo\t1\t0"), found(3, 2));
  page->send("RELOAD");
  ASSERT_TRUE(serve_load_calls(*page));
  ASSERT_TRUE(page->wait_page_ready());
  EXPECT_EQ(find("foo\t1\t0"), found(3, 1));  // a new document starts a new search
}

TEST_F(PageTools, PdfExportHoldsThePageText) {
  std::string path = page->dir() + "/report.pdf";
  EXPECT_EQ(request("PDF " + path), "{\"ok\":true,\"path\":\"" + path + "\",\"error\":null}");
  std::string text = sh("pdftotext '" + path + "' - 2>/dev/null");
  EXPECT_NE(text.find("Quarterly report"), std::string::npos) << text;
  EXPECT_NE(text.find("plain text for the exported document"), std::string::npos);
  // No temporary file is left beside it.
  EXPECT_EQ(sh("ls -A '" + page->dir() + "' | grep -c '^\\.report'"), "0\n");
}

TEST_F(PageTools, PdfExportReplacesAnOldFileAndNeverReportsAFailureAsSuccess) {
  std::string path = page->dir() + "/old.pdf";
  std::ofstream(path) << "an old file, not a PDF";
  EXPECT_EQ(request("PDF@main " + path), "{\"ok\":true,\"path\":\"" + path + "\",\"error\":null}");
  EXPECT_EQ(read_file(path).rfind("%PDF", 0), 0u);
  EXPECT_NE(sh("pdftotext '" + path + "' -").find("Quarterly report"), std::string::npos);

  // A file already at the path does not make a failed export a success:
  // nothing can be written beside /proc/version.
  ASSERT_EQ(access("/proc/version", F_OK), 0);
  EXPECT_EQ(request("PDF /proc/version"), "{\"ok\":false,\"error\":\"pdf failed\"}");
  // Nor does an export into a folder that is not there.
  EXPECT_EQ(request("PDF " + page->dir() + "/missing/dir/x.pdf"),
            "{\"ok\":false,\"error\":\"pdf failed\"}");
}

TEST_F(PageTools, PdfErrors) {
  EXPECT_EQ(request("PDF "), "{\"ok\":false,\"error\":\"no path\"}");
  EXPECT_EQ(request("PDF@w9 /tmp/a.pdf"), "{\"ok\":false,\"error\":\"no such window\"}");
}

TEST_F(PageTools, CookiesSetGetAndDelete) {
  EXPECT_EQ(request("COOKIES purge"), "{\"ok\":false,\"error\":\"bad cookies op\"}");
  EXPECT_EQ(request("COOKIES set\tsid\tv1\t.example.test\t/\t4102444800123\t1\t1\tstrict"),
            "{\"ok\":true}");
  EXPECT_EQ(request("COOKIES set\tsid\tv2\texample.test\t/\t\t\t\tlax"), "{\"ok\":true}");
  std::string all = request("COOKIES get");
  EXPECT_NE(all.find("{\"name\":\"sid\",\"value\":\"v1\",\"domain\":\".example.test\",\"path\":\"/\","
                     "\"expires\":4102444800000,\"secure\":true,\"httpOnly\":true,"
                     "\"sameSite\":\"strict\"}"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("{\"name\":\"sid\",\"value\":\"v2\",\"domain\":\"example.test\",\"path\":\"/\","
                     "\"expires\":null,\"secure\":false,\"httpOnly\":false,\"sameSite\":\"lax\"}"),
            std::string::npos)
      << all;
  // The host-only cookie goes alone; the domain cookie needs its leading dot.
  EXPECT_EQ(request("COOKIES delete\tsid\texample.test\t/"), "{\"ok\":true,\"removed\":1}");
  EXPECT_EQ(request("COOKIES delete\tsid\texample.test\t/"), "{\"ok\":true,\"removed\":0}");
  all = request("COOKIES get\thttps://www.example.test/");
  EXPECT_NE(all.find("\"value\":\"v1\""), std::string::npos) << all;
  EXPECT_EQ(all.find("\"value\":\"v2\""), std::string::npos) << all;
  EXPECT_EQ(request("COOKIES delete\tsid\t.example.test\t/"), "{\"ok\":true,\"removed\":1}");
  EXPECT_EQ(request("COOKIES delete\tsid\t.example.test\t"), "{\"ok\":true,\"removed\":0}");
}

TEST(Cookies, ResponsesWithSetCookieReachTheStore) {
  HttpServer server(cookie_route);
  Backend* b = start_page({.target = server.url("/cookies.html")});
  ASSERT_TRUE(b);
  std::string page = server.url("/");
  b->send("COOKIES c1 get\t" + page);
  auto got = b->expect_prefix("GOT c1 ");
  ASSERT_TRUE(got);
  EXPECT_NE(got->find("{\"name\":\"sid\",\"value\":\"abc\",\"domain\":\"127.0.0.1\",\"path\":\"/\","
                      "\"expires\":null,\"secure\":false,\"httpOnly\":false"),
            std::string::npos)
      << *got;
  EXPECT_NE(got->find("\"name\":\"tok\",\"value\":\"x1\""), std::string::npos);
  EXPECT_NE(got->find("\"httpOnly\":true"), std::string::npos);
  // Max-Age=3600 becomes an absolute expiry about an hour from now.
  size_t at = got->find("\"name\":\"pref\"");
  ASSERT_NE(at, std::string::npos);
  long long exp = std::atoll(got->c_str() + got->find("\"expires\":", at) + 10);
  long long now_ms = static_cast<long long>(time(nullptr)) * 1000;
  EXPECT_GT(exp, now_ms + 3500 * 1000LL);
  EXPECT_LT(exp, now_ms + 3700 * 1000LL);
  EXPECT_NE(got->find("\"sameSite\":\"strict\"", at), std::string::npos);

  b->send("COOKIES c2 delete\tsid\t127.0.0.1\t/");
  EXPECT_TRUE(b->expect_prefix("GOT c2 {\"ok\":true,\"removed\":1}"));
  EXPECT_EQ(b->page_eval("document.cookie.split('; ').sort().join(';')"), "\"pref=dark\"");
  stop_page(b);
}

}  // namespace
