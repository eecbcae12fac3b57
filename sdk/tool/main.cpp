// ovalis: create, run, develop and package ovalis applications.
#include <glib.h>
#include <unistd.h>

#include <cstring>

#include "tool.h"

#ifndef OVALIS_VERSION
#define OVALIS_VERSION "0"
#endif

namespace tool {

const char* const kHelpMain =
    "Usage: ovalis <command> [options] [arguments]\n"
    "\n"
    "Create, run, develop and package ovalis applications: a web page shown\n"
    "by launcher and a native backend, described by the application's\n"
    "ovalis.json.\n"
    "\n"
    "Commands:\n"
    "  new <dir>        write a new, runnable application\n"
    "  dev [dir]        run the application for development: reload the page\n"
    "                   and restart the backend when their files change\n"
    "  run [dir]        run the application (what installed packages call)\n"
    "  check [dir]      check the application's ovalis.json\n"
    "  package [dir]    build a Debian package and a relocatable tarball\n"
    "  test [dir] -- command\n"
    "                   run end-to-end tests through WebDriver against the\n"
    "                   application\n"
    "  help [command]   show the help of a command\n"
    "\n"
    "Options:\n"
    "  -h, --help       show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Every command takes --help. [dir] is the application folder, the one\n"
    "holding ovalis.json; it defaults to the current folder.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  the work failed (a build, a package tool, the application)\n"
    "  2  bad command line or bad ovalis.json\n"
    "\n"
    "See docs/first-app.md for a walk from 'ovalis new' to an installed\n"
    "package, and docs/ovalis-json.md for the configuration file.\n";

const char* const kHelpCheck =
    "Usage: ovalis check [dir]\n"
    "\n"
    "Reads dir/ovalis.json (default: ./ovalis.json) the way the backend\n"
    "libraries do and reports the first problem: the field, and what was\n"
    "expected. Prints the application's id and version when the file is good.\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this help and exit\n"
    "\n"
    "Exit status: 0 the file is good, 2 it is not (or bad usage).\n";

const char* const kHelpRun =
    "Usage: ovalis run [--build] [dir] [-- backend-arguments...]\n"
    "\n"
    "Runs the application in dir (default: the current folder): starts the\n"
    "backend command of its ovalis.json in the application folder, with\n"
    "OVALIS_APP_DIR naming that folder; the backend then starts launcher.\n"
    "This is what the program of an installed package calls.\n"
    "\n"
    "Options:\n"
    "  --build      run the build command (backend.build) first\n"
    "  -h, --help   show this help and exit\n"
    "\n"
    "Environment:\n"
    "  OVALIS_LAUNCHER   the launcher program to start (default: the one\n"
    "                    installed beside ovalis, else launcher on PATH)\n"
    "\n"
    "Exit status: the backend's own status; 1 when it cannot be started or\n"
    "the build fails; 2 for bad usage or a bad ovalis.json.\n";

namespace {

bool is_help(const std::string& a) { return a == "-h" || a == "--help"; }

}  // namespace

int cmd_check(const Args& args) {
  std::string dir;
  for (auto& a : args) {
    if (is_help(a)) return g_print("%s", kHelpCheck), kOk;
    if (a.starts_with("-")) return usage_error("check", "unknown option " + a);
    if (!dir.empty()) return usage_error("check", "more than one folder given");
    dir = a;
  }
  auto c = load("check", dir);
  if (!c) return kUsage;
  g_print("%s: ok (%s %s)\n", c->file.c_str(), c->id.c_str(), c->version.c_str());
  return kOk;
}

int cmd_run(const Args& args) {
  std::string dir;
  bool build = false;
  Args extra;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      extra.assign(args.begin() + long(i) + 1, args.end());
      break;
    }
    if (is_help(a)) return g_print("%s", kHelpRun), kOk;
    if (a == "--build") {
      build = true;
      continue;
    }
    if (a.starts_with("-")) return usage_error("run", "unknown option " + a);
    if (!dir.empty()) return usage_error("run", "more than one folder given");
    dir = a;
  }
  auto c = load("run", dir);
  if (!c) return kUsage;
  if (build && !build_app("run", *c)) return kFailed;
  Args argv = backend_argv(*c);
  argv.insert(argv.end(), extra.begin(), extra.end());
  for (auto& [k, v] : backend_env(*c)) g_setenv(k.c_str(), v.c_str(), TRUE);
  if (chdir(c->dir.c_str()) != 0)
    return fail("run", "cannot enter " + c->dir + ": " + g_strerror(errno));
  std::vector<char*> av;
  for (auto& a : argv) av.push_back(const_cast<char*>(a.c_str()));
  av.push_back(nullptr);
  // The backend takes this process over: signals from the desktop reach it directly.
  execvp(av[0], av.data());
  return fail("run", "cannot start the backend " + argv[0] + ": " + g_strerror(errno));
}

}  // namespace tool

int main(int argc, char** argv) {
  using namespace tool;
  // Under `ovalis dev`, the backend starts this program in place of the launcher.
  const char* real = g_getenv("OVALIS_DEV_REAL_LAUNCHER");
  // Its arguments are the launcher's: a page and the backend's socket.
  if (real && *real && argc >= 3 && g_file_test(argv[2], G_FILE_TEST_EXISTS) &&
      !g_file_test(argv[2], G_FILE_TEST_IS_DIR))
    return dev_shim(argc, argv);

  g_set_prgname("ovalis");
  Args rest;
  for (int i = 2; i < argc; ++i) rest.emplace_back(argv[i]);
  std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd.empty()) {
    g_printerr("%s", kHelpMain);
    return kUsage;
  }
  if (cmd == "-h" || cmd == "--help") return g_print("%s", kHelpMain), kOk;
  if (cmd == "--version") return g_print("ovalis %s\n", OVALIS_VERSION), kOk;
  if (cmd == "help") {
    if (rest.empty()) return g_print("%s", kHelpMain), kOk;
    cmd = rest[0];
    rest = {"--help"};
  }
  if (cmd == "new") return cmd_new(rest);
  if (cmd == "dev") return cmd_dev(rest);
  if (cmd == "run") return cmd_run(rest);
  if (cmd == "check") return cmd_check(rest);
  if (cmd == "package") return cmd_package(rest);
  if (cmd == "test") return cmd_test(rest);
  g_printerr("ovalis: unknown command '%s'\nTry 'ovalis --help'.\n", cmd.c_str());
  return kUsage;
}
