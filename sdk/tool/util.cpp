#include <glib.h>
#include <glib/gstdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "tool.h"

#ifndef OVALIS_BUILD_DIR
#error "OVALIS_BUILD_DIR must name the build tree"
#endif
#ifndef OVALIS_SOURCE_DIR
#error "OVALIS_SOURCE_DIR must name the source tree"
#endif

namespace tool {

int fail(std::string_view cmd, const std::string& message, int status) {
  g_printerr("ovalis %.*s: %s\n", int(cmd.size()), cmd.data(), message.c_str());
  return status;
}

int usage_error(std::string_view cmd, const std::string& message) {
  g_printerr("ovalis %.*s: %s\nTry 'ovalis %.*s --help'.\n", int(cmd.size()), cmd.data(),
             message.c_str(), int(cmd.size()), cmd.data());
  return kUsage;
}

std::string self_exe() {
  gchar* p = g_file_read_link("/proc/self/exe", nullptr);
  std::string s = p ? p : "ovalis";
  g_free(p);
  return s;
}

std::string exe_dir() {
  gchar* d = g_path_get_dirname(self_exe().c_str());
  std::string s = d;
  g_free(d);
  return s;
}

namespace {

// True when this program is the one in the build tree, next to the
// launcher built with it.
bool in_build_tree() {
  static const bool yes = [] {
    gchar* a = g_canonicalize_filename(exe_dir().c_str(), nullptr);
    gchar* b = g_canonicalize_filename(OVALIS_BUILD_DIR, nullptr);
    bool same = g_strcmp0(a, b) == 0;
    g_free(a);
    g_free(b);
    return same;
  }();
  return yes;
}

std::string prepend_path(const char* var, const std::string& dir) {
  const char* old = g_getenv(var);
  return old && *old ? dir + ":" + old : dir;
}

}  // namespace

std::string launcher_path() {
  const char* env = g_getenv("OVALIS_LAUNCHER");
  if (env && *env) return env;
  std::string beside = exe_dir() + "/launcher";
  if (g_file_test(beside.c_str(), G_FILE_TEST_IS_EXECUTABLE)) return beside;
  return "launcher";
}

std::string data_dir() {
  if (in_build_tree()) return std::string(OVALIS_SOURCE_DIR) + "/share/ovalis";
  return exe_dir() + "/../share/ovalis";
}

std::string node_library() {
  if (in_build_tree()) return std::string(OVALIS_SOURCE_DIR) + "/sdk/node";
  gchar* p = g_canonicalize_filename((exe_dir() + "/../share/nodejs/ovalis-backend").c_str(), nullptr);
  std::string s = p;
  g_free(p);
  return s;
}

Env sdk_env() {
  Env env;
  if (in_build_tree()) {
    env.emplace_back("PKG_CONFIG_PATH", prepend_path("PKG_CONFIG_PATH", std::string(OVALIS_BUILD_DIR) +
                                                                            "/sdk/cpp/pkgconfig"));
    env.emplace_back("PYTHONPATH", prepend_path("PYTHONPATH", std::string(OVALIS_SOURCE_DIR) + "/sdk/python"));
  }
  env.emplace_back("OVALIS_LAUNCHER", launcher_path());
  return env;
}

std::optional<ovalis::AppConfig> load(std::string_view cmd, const std::string& dir) {
  std::string err;
  (void)cmd;
  auto c = ovalis::load_app_config(dir, &err);
  // The message names the file first, like a compiler's.
  if (!c) g_printerr("%s\n", err.c_str());
  return c;
}

int run_command(std::string_view cmd, const Args& argv, const std::string& cwd, const Env& env) {
  std::vector<char*> av;
  for (auto& a : argv) av.push_back(const_cast<char*>(a.c_str()));
  av.push_back(nullptr);
  gchar** envp = g_get_environ();
  for (auto& [k, v] : env) envp = g_environ_setenv(envp, k.c_str(), v.c_str(), TRUE);
  GError* err = nullptr;
  gint status = 0;
  gboolean ok = g_spawn_sync(cwd.empty() ? nullptr : cwd.c_str(), av.data(), envp,
                             GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_CHILD_INHERITS_STDIN |
                                         G_SPAWN_CHILD_INHERITS_STDOUT | G_SPAWN_CHILD_INHERITS_STDERR),
                             nullptr, nullptr, nullptr, nullptr, &status, &err);
  g_strfreev(envp);
  if (!ok) {
    fail(cmd, "cannot run " + argv[0] + ": " + err->message);
    g_error_free(err);
    return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

bool build_app(std::string_view cmd, const ovalis::AppConfig& c) {
  if (c.backend.build.empty()) return true;
  int st = run_command(cmd, c.backend.build, c.dir, sdk_env());
  if (st == 0) return true;
  if (st > 0) fail(cmd, "the build command (backend.build) failed with status " + std::to_string(st));
  return false;
}

bool write_file(const std::string& path, std::string_view content, int mode, std::string* error) {
  gchar* dir = g_path_get_dirname(path.c_str());
  g_mkdir_with_parents(dir, 0755);
  g_free(dir);
  GError* err = nullptr;
  if (!g_file_set_contents(path.c_str(), content.data(), gssize(content.size()), &err)) {
    if (error) *error = err->message;
    g_error_free(err);
    return false;
  }
  g_chmod(path.c_str(), mode);
  return true;
}

bool read_file(const std::string& path, std::string* out) {
  gchar* data = nullptr;
  gsize len = 0;
  if (!g_file_get_contents(path.c_str(), &data, &len, nullptr)) return false;
  out->assign(data, len);
  g_free(data);
  return true;
}

std::string package_name(const std::string& id) {
  // Debian names: lower case, digits, "+", "-", "."; "_" is not allowed.
  std::string s;
  for (char ch : id) s += ch == '_' || ch == '.' ? '-' : g_ascii_tolower(ch);
  return s;
}

Env backend_env(const ovalis::AppConfig& c) {
  Env env = sdk_env();
  env.emplace_back("OVALIS_APP_DIR", c.dir);
  return env;
}

Args backend_argv(const ovalis::AppConfig& c) {
  Args argv = c.backend.command;
  // A program with a slash is the application's own; anything else is looked up on PATH.
  if (argv[0].find('/') != std::string::npos && !g_path_is_absolute(argv[0].c_str()))
    argv[0] = c.dir + "/" + argv[0];
  return argv;
}

}  // namespace tool
