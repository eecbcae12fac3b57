// Where the web processes find launcher's extension: the directory named
// by OVALIS_WEB_EXTENSIONS_DIR, else "webext" beside the running binary (a
// build tree), else the installed one. WebKit loads every module in the
// directory, so it holds launcher's alone. Without one, pages move bytes
// through the "ovalis-blob" scheme instead.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/gobj.h"
#include "webview/webview.h"

#ifndef OVALIS_WEBEXT_DIR
#define OVALIS_WEBEXT_DIR ""
#endif

namespace {

bool has_module(const std::string& dir) {
  GChars path(g_build_filename(dir.c_str(), "libovalis-web-extension.so", nullptr));
  return g_file_test(path.get(), G_FILE_TEST_IS_REGULAR);
}

std::string extension_dir() {
  const char* env = g_getenv("OVALIS_WEB_EXTENSIONS_DIR");
  if (env) return env;  // set but empty: none
  GChars exe(g_file_read_link("/proc/self/exe", nullptr));
  if (exe) {
    GChars here(g_path_get_dirname(exe.get()));
    GChars beside(g_build_filename(here.get(), "webext", nullptr));
    if (has_module(beside.get())) return beside.get();
  }
  if (*OVALIS_WEBEXT_DIR && has_module(OVALIS_WEBEXT_DIR)) return OVALIS_WEBEXT_DIR;
  return "";
}

}  // namespace

void web_extensions_install() {
  std::string dir = extension_dir();
  if (dir.empty()) return;
  webkit_web_context_set_web_extensions_directory(webkit_web_context_get_default(), dir.c_str());
}
