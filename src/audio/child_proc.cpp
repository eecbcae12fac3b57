#include "audio/child_proc.h"

#include "core/gobj.h"

namespace {

std::vector<char*> c_argv(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  for (const std::string& a : argv) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

// Every start searches PATH: a bare name such as "sh" must run, and a full
// path is taken as it is anyway.
constexpr auto kQuiet = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDIN_FROM_DEV_NULL |
                                                 G_SPAWN_STDOUT_TO_DEV_NULL |
                                                 G_SPAWN_STDERR_TO_DEV_NULL);

}  // namespace

std::string tool_path(const char* name) {
  GChars p(g_find_program_in_path(name));
  return p ? p.get() : "";
}

bool spawn_quiet(const std::vector<std::string>& argv) {
  auto args = c_argv(argv);
  // Without DO_NOT_REAP_CHILD GLib reaps the child itself.
  return g_spawn_async(nullptr, args.data(), nullptr, kQuiet, nullptr, nullptr, nullptr, nullptr);
}

GPid spawn_watched(const std::vector<std::string>& argv, int* out_fd) {
  auto args = c_argv(argv);
  int flags = G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDIN_FROM_DEV_NULL |
              G_SPAWN_STDERR_TO_DEV_NULL;
  if (!out_fd) flags |= G_SPAWN_STDOUT_TO_DEV_NULL;
  GPid pid = 0;
  if (!g_spawn_async_with_pipes(nullptr, args.data(), nullptr, static_cast<GSpawnFlags>(flags),
                                nullptr, nullptr, &pid, nullptr, out_fd, nullptr, nullptr))
    return 0;
  return pid;
}

bool run_and_wait(const std::vector<std::string>& argv) {
  auto args = c_argv(argv);
  return g_spawn_sync(nullptr, args.data(), nullptr, kQuiet, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr);
}

std::string run_output(const std::vector<std::string>& argv) {
  auto args = c_argv(argv);
  char* out = nullptr;
  int status = 0;
  auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDIN_FROM_DEV_NULL |
                                        G_SPAWN_STDERR_TO_DEV_NULL);
  if (!g_spawn_sync(nullptr, args.data(), nullptr, flags, nullptr, nullptr, &out, nullptr, &status,
                    nullptr))
    return "";
  GChars held(out);
  return g_spawn_check_wait_status(status, nullptr) && out ? out : "";
}

void run_sh(const char* script, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"sh", "-c", script, "sh"};
  argv.insert(argv.end(), args.begin(), args.end());
  spawn_quiet(argv);
}
