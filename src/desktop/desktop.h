// Desktop services: the theme and sleep observers and the idle time.
#pragma once

#include <string>

// Reports the current theme ("SYS theme dark|light") at start-up.
void report_initial_theme();
// Subscribes to theme changes and to sleep and wake.
void install_system_observers();

// The "idle" query: seconds since the last user input, when the desktop tells.
std::string idle_json();

// ---- secrets, shell and login items ----

#include <string_view>

// "SECRET <id> <op>\t<service>\t<account>\t<value>": the Secret Service.
void do_secret(std::string_view id, std::string_view rest);
// "SHELL <id> <op>\t<target>": open, reveal or trash.
void do_shell(std::string_view id, std::string_view rest);
// "LOGIN <id> get|set <v>": the autostart entry of the application.
void do_login(std::string_view id, std::string_view rest);
