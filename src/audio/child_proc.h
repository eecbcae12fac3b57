// Starting the desktop tools the tap, sounds and speech lean on. Children
// never inherit the backend socket or the standard input. argv[0] may be a
// bare name (looked up on PATH) or a full path.
#pragma once

#include <glib.h>

#include <string>
#include <vector>

// Full path of a tool on PATH, or "" when there is none.
std::string tool_path(const char* name);

// Starts argv, all output to /dev/null, and does not wait for it. False when it could not be started.
bool spawn_quiet(const std::vector<std::string>& argv);

// Starts argv for the caller to watch and reap:
// errors to /dev/null, standard output to a pipe when out_fd is given, else
// to /dev/null. 0 when it could not be started.
GPid spawn_watched(const std::vector<std::string>& argv, int* out_fd);

// Runs argv to its end, output to /dev/null; false when it did not start,
// failed, or was killed for running past limit_ms.
bool run_and_wait(const std::vector<std::string>& argv, int limit_ms);

// Runs argv to its end and returns its standard output; "" when it failed
// or was killed for running past limit_ms.
std::string run_output(const std::vector<std::string>& argv, int limit_ms);

// `sh -c <script> sh <args...>`: the arguments reach the script as $1 ...,
// so outside text is never parsed as shell code. Not waited for.
void run_sh(const char* script, const std::vector<std::string>& args = {});
