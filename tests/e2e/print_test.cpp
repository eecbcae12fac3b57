// The print dialog prints to a real CUPS queue of the test session; the job
// that CUPS writes out holds the page's text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "harness.h"

using namespace e2e;

namespace {

std::string read_file(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

TEST(Print, DialogPrintsThePageToTheCupsQueue) {
  E2E_X11_ONLY("confirms the print dialog through xdotool");
  const char* out = std::getenv("OVALIS_SESSION_PRINT_OUT");
  ASSERT_TRUE(out) << "needs scripts/test-session --cups";
  Backend* b = start_page({.target = page_path("find.html")});
  ASSERT_TRUE(b);
  // PRINT for a window that does not exist does nothing.
  std::string sock = std::getenv("CUPS_SERVER");
  std::string access_log = sock.substr(0, sock.rfind('/')) + "/log/access_log";
  size_t before = read_file(access_log).size();
  b->send("PRINT@nosuch");
  b->send("PRINT");
  unsigned long dlg = find_window({.pid = b->pid(), .name = "Print"}, 20000);
  ASSERT_NE(dlg, 0u);
  // The session's queue is the default printer, so the dialog's default
  // button prints there.
  std::string w = std::to_string(dlg);
  // Keys go to the dialog once it has asked the scheduler about the queue,
  // so the queue, not "Print to File", is the printer selected.
  ASSERT_TRUE(eventually(
      [&] {
        std::string log = read_file(access_log);
        return log.size() > before &&
               log.find("GET /printers/ovalis.ppd", before) != std::string::npos;
      },
      20000)) << read_file(access_log).substr(before);
  // The dialog may still be filling its printer list when the first key
  // arrives; press again until it closes.
  ASSERT_TRUE(eventually(
      [&] {
        if (!find_windows({.pid = b->pid(), .name = "Print", .report = false}, 0).empty())
          sh("xdotool windowactivate --sync " + w + " >/dev/null 2>&1; xdotool key Return; sleep 1");
        // Written and no longer queued: the job is complete.
        return !read_file(out).empty() && sh("lpstat -o ovalis 2>/dev/null").empty();
      },
      60000)) << sh("ls -la \"$HOME\"; lpstat -o; lpstat -W completed -o");
  // The queue's driver hands the job on as PostScript, re-encoding the
  // fonts, so the text comes back as glyphs rather than letters: check the
  // document is one page with the page's three blocks of text.
  std::string job = read_file(out);
  EXPECT_EQ(job.rfind("%!PS", 0), 0u);
  EXPECT_NE(job.find("%%Pages: 1"), std::string::npos);
  std::string text = sh("ps2pdf '" + std::string(out) + "' - 2>/dev/null | pdftotext - - 2>/dev/null");
  int blocks = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t e = text.find('\n', pos);
    if (e == std::string::npos) e = text.size();
    if (text.find_first_not_of(" \f\r", pos) < e) ++blocks;
    pos = e + 1;
  }
  EXPECT_EQ(blocks, 3) << text;
  EXPECT_TRUE(eventually([&] { return find_windows({.pid = b->pid(), .name = "Print", .report = false}, 0).empty(); }));
  stop_page(b);
}

}  // namespace
