// Desktop services: the theme and sleep observers and the idle time.
#pragma once

#include <string>

// Reports the current theme ("SYS theme dark|light") at start-up.
void report_initial_theme();
// Subscribes to theme changes and to sleep and wake.
void install_system_observers();

// The "idle" query: seconds since the last user input, when the desktop tells.
std::string idle_json();
