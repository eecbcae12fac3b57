// The `ovalis` command: shared helpers of its sub-commands.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ovalis/config.h"

namespace tool {

// Exit statuses of every sub-command.
constexpr int kOk = 0;
constexpr int kFailed = 1;  // the work itself failed
constexpr int kUsage = 2;   // bad command line or bad ovalis.json

using Env = std::vector<std::pair<std::string, std::string>>;
using Args = std::vector<std::string>;

// "ovalis <cmd>: <message>" on standard error; returns status.
int fail(std::string_view cmd, const std::string& message, int status = kFailed);
// The usage error form, pointing at --help.
int usage_error(std::string_view cmd, const std::string& message);

// Sub-commands: argv after the sub-command's name.
int cmd_new(const Args& args);
int cmd_dev(const Args& args);
int cmd_run(const Args& args);
int cmd_check(const Args& args);
int cmd_package(const Args& args);
int cmd_test(const Args& args);
// The launcher stand-in that `ovalis dev` puts between backend and launcher.
int dev_shim(int argc, char** argv);

// Help texts, complete enough to become manual pages.
extern const char* const kHelpMain;
extern const char* const kHelpNew;
extern const char* const kHelpDev;
extern const char* const kHelpRun;
extern const char* const kHelpCheck;
extern const char* const kHelpPackage;
extern const char* const kHelpTest;

// Folder of this executable.
std::string exe_dir();
std::string self_exe();
// Where the matching launcher, shared data (share/ovalis) and language
// libraries are: beside this program when it runs from its build tree,
// else the installed places.
std::string launcher_path();
std::string data_dir();
// The JavaScript library (package ovalis-backend) that new applications link.
std::string node_library();
// Variables that let a backend find the libraries of this tree or
// installation (PKG_CONFIG_PATH, PYTHONPATH, OVALIS_LAUNCHER).
Env sdk_env();

// Reads ovalis.json from dir (empty: current folder); prints the error.
std::optional<ovalis::AppConfig> load(std::string_view cmd, const std::string& dir);

// Runs a command to its end with the given extra environment, in cwd;
// standard streams are inherited. Returns the exit status, or -1 when it
// could not be started (message printed).
int run_command(std::string_view cmd, const Args& argv, const std::string& cwd, const Env& env = {});
// Runs the application's build command when it has one; false on failure.
bool build_app(std::string_view cmd, const ovalis::AppConfig& c);

bool write_file(const std::string& path, std::string_view content, int mode = 0644,
                std::string* error = nullptr);
bool read_file(const std::string& path, std::string* out);

// Debian package name from the application id.
std::string package_name(const std::string& id);
// The environment a backend runs with under `ovalis run` and `ovalis dev`.
Env backend_env(const ovalis::AppConfig& c);
// The backend's argv with the program resolved against the application folder.
Args backend_argv(const ovalis::AppConfig& c);

}  // namespace tool
