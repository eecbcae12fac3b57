#include <gtest/gtest.h>

#include <set>

#include "content/content_text.h"

namespace {

TEST(NavText, SchemesAndVerdicts) {
  EXPECT_EQ(uri_scheme("MailTo:x@y"), "mailto");
  EXPECT_EQ(uri_scheme(":x"), "");
  EXPECT_EQ(uri_scheme("nocolon"), "");
  for (const char* s : {"http", "HTTPS", "file", "about", "data", "blob", "javascript",
                        "Ovalis-Media"})
    EXPECT_TRUE(scheme_is_ours(s)) << s;
  EXPECT_FALSE(scheme_is_ours("mailto"));
  EXPECT_FALSE(scheme_is_ours("ovalis"));
  EXPECT_EQ(nav_action_for("deny"), 1);
  EXPECT_EQ(nav_action_for("external"), 2);
  EXPECT_EQ(nav_action_for("Deny"), 0);
  EXPECT_EQ(nav_action_for(""), 0);
  std::string_view id, verdict;
  EXPECT_FALSE(split_answer("n1", &id, &verdict));
  ASSERT_TRUE(split_answer("n1 external now", &id, &verdict));
  EXPECT_EQ(id, "n1");
  EXPECT_EQ(verdict, "external now");
  EXPECT_EQ(popup_action("deny", "window"), "deny");
  EXPECT_EQ(popup_action("window", "external"), "external");
  EXPECT_EQ(popup_action("", "bogus"), "bogus");
}

TEST(DownloadNames, ExtensionsFromTheMimeType) {
  EXPECT_EQ(download_base_name("report", "application/pdf; name=r"), "report.pdf");
  EXPECT_EQ(download_base_name("report", "Application/PDF"), "report");
  EXPECT_EQ(download_base_name("", "application/x-unknown"), "download");
  EXPECT_EQ(download_base_name("", "image/svg+xml"), "download.svg");
  EXPECT_EQ(download_base_name("a.bin", "application/pdf"), "a.bin");
  EXPECT_EQ(ext_for_mime("video/webm"), "webm");
  EXPECT_EQ(ext_for_mime(""), "");
}

TEST(DownloadNames, NumberingNeverTakesAnExistingName) {
  std::set<std::string> present = {"archive.tar.gz", "download", "report.pdf",
                                    "report (2).pdf"};
  auto taken = [&](const std::string& n) { return present.count(n) > 0; };
  EXPECT_EQ(free_download_name("archive.tar.gz", taken), "archive.tar (2).gz");
  EXPECT_EQ(free_download_name("download", taken), "download (2)");
  EXPECT_EQ(free_download_name("report.pdf", taken), "report (3).pdf");
  EXPECT_EQ(free_download_name("new.txt", taken), "new.txt");
  // Past the thousandth copy the numbering goes on instead of overwriting.
  present.clear();
  present.insert("x.txt");
  for (int n = 2; n <= 1000; ++n) present.insert("x (" + std::to_string(n) + ").txt");
  size_t lookups = 0;
  EXPECT_EQ(free_download_name("x.txt", [&](const std::string& n) { return ++lookups, taken(n); }),
            "x (1001).txt");
  EXPECT_LE(lookups, 25u);  // a flood of downloads must not make each one slower
}

TEST(DialogText, ExtensionFilters) {
  ExtFilter f = ext_filter_for("md,TXT");
  EXPECT_EQ(f.name, "*.md, *.TXT");
  EXPECT_EQ(f.patterns, (std::vector<std::string>{"*.md", "*.MD", "*.TXT"}));
  EXPECT_EQ(f.default_ext, "md");
  f = ext_filter_for(",, png ,");
  EXPECT_EQ(f.name, "*. png ");  // items are used as written
  EXPECT_EQ(f.default_ext, " png ");
  f = ext_filter_for(",,");
  EXPECT_TRUE(f.name.empty());
  EXPECT_TRUE(f.patterns.empty());
  EXPECT_EQ(with_default_ext("/d/notes", "md"), "/d/notes.md");
  EXPECT_EQ(with_default_ext("/d.x/notes", "md"), "/d.x/notes.md");
  EXPECT_EQ(with_default_ext("/d/notes.txt", "md"), "/d/notes.txt");
  EXPECT_EQ(with_default_ext("/d/notes", ""), "/d/notes");
}

TEST(DialogText, DetailEscapes) {
  EXPECT_EQ(dialog_detail_text("a\\nb"), "a\nb");
  EXPECT_EQ(dialog_detail_text("a\\\\nb"), "a\\nb");
  EXPECT_EQ(dialog_detail_text("a\\tb\\"), "a\\tb\\");
}

}  // namespace
