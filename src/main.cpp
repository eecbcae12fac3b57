#include <cstdio>
#include <cstring>

#include "app/root.h"

namespace {

// Plain text with "Usage:", "Options:" and the environment as sections, so
// manual pages can be made from it as it stands.
const char kHelp[] =
    "Usage: launcher <html-file-or-url> <socket> [title] [WxH] [version]\n"
    "  or:  launcher --open <socket> <app-exe> [arg]\n"
    "\n"
    "Shows the web page of an ovalis application in a window and connects it to\n"
    "the application's backend, which listens on the Unix-domain socket <socket>\n"
    "and drives launcher with a line protocol (the protocol guide, protocol.md,\n"
    "describes every line).\n"
    "\n"
    "The first form starts the application: <html-file-or-url> is an absolute\n"
    "file path or an http(s) URL; [title] names the window and the program\n"
    "(default \"ovalis\"); [WxH] is the content size (default 960x640); [version]\n"
    "is the application's version.\n"
    "\n"
    "The second form hands an open request to the instance listening on\n"
    "<socket>: {\"activate\":true} without [arg], {\"url\":...} for a URL, or\n"
    "{\"paths\":[...]} for a file. When none listens, it starts <app-exe> and\n"
    "retries for ten seconds.\n"
    "\n"
    "Options:\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Environment:\n"
    "  OVALIS_APP_ID          application id; also the program name\n"
    "  OVALIS_ACTIVATION      \"accessory\": no window at start, no taskbar entry\n"
    "  OVALIS_NO_MAIN_WINDOW  \"1\": no main window; the backend opens windows\n"
    "  OVALIS_DEFER_SHOW      \"1\": the main window appears when the backend shows\n"
    "                         it, or after 3 seconds\n"
    "  OVALIS_ICON            icon file of the main window\n"
    "  OVALIS_CHROME          tab-separated chrome fields of the main window\n"
    "  OVALIS_DEBUG           developer mode: web inspector on F12; \"open\" opens\n"
    "                         it at start; page-bridge diagnostics on stderr\n"
    "  OVALIS_INJECT          extra script for every page, after the client script\n"
    "  OVALIS_UA              user agent of the web views\n"
    "  OVALIS_DOWNLOADS       downloads: \"auto\" (default), \"ask\" or \"deny\"\n"
    "  OVALIS_POPUPS          popups: \"external\" (default), \"window\" or \"deny\"\n"
    "  OVALIS_MEDIA           \"camera\" and/or \"microphone\": allow pages those devices\n"
    "  OVALIS_MEDIA_ORIGINS   lines \"<key> <origin-glob>\" trusting origins with the\n"
    "                         media proxy, the camera or the microphone\n"
    "  OVALIS_AUTOMATION      \"1\": WebKitWebDriver may drive the application\n"
    "                         (docs/testing.md); otherwise its sessions are refused\n"
    "  OVALIS_TEST_AUTODLG    tests only: answers dialogs by itself (\"cancel\",\n"
    "                         \"yes\", \"text:<text>\", \"path:<path>\", tab-separated)\n"
    "  DISPLAY, WAYLAND_DISPLAY  at least one must be set\n"
    "\n"
    "Exit status: 0 normal end, 1 usage or socket failure, 3 no usable display.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("launcher " OVALIS_LAUNCHER_VERSION);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--open") == 0) return run_forward(argc, argv);
  return run_normal(argc, argv);
}
