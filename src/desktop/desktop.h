// Desktop services: the theme and sleep observers and the idle time.
#pragma once

#include <string>

// Reports the current theme ("SYS theme dark|light") at start-up.
void report_initial_theme();
// Subscribes to theme changes and to sleep and wake.
void install_system_observers();

// The "idle" query: seconds since the last user input, when the desktop tells.
std::string idle_json();

// ---- clipboard, notifications, badge, power and battery ----------------

#include <string_view>

// Connects the clipboard's owner changes to the change counter (start-up).
void install_clipboard_observer();
// The clipboard object (a full read, which waits on the owner in nested
// loops), or only the change counter.
std::string clipboard_json(bool count_only);
// "CLIPWRITE <text>\t<html>\t<image>\t<fallback>\t<path>...".
void do_clipwrite(std::string_view payload);
// "CLIPWATCH <n>": watching while n > 0.
void do_clipwatch(std::string_view rest);

// "NOTIFY <id>\t<title>\t<body>\t<subtitle>\t<sound>\t<actions>".
void do_notify(std::string_view rest);

// "BADGE", "PROGRESS", "ATTENTION", "APPICON": rest is the text after the keyword.
void do_badge(std::string_view rest);
void do_progress(std::string_view rest);
void do_attention();
void do_appicon(std::string_view rest);

// "POWER <id> <state>\t<display>\t<reason>".
void do_power(std::string_view id, std::string_view args);

// The "battery" query: the first BAT* power supply, or null.
std::string battery_json();

// ---- secrets, shell and login items ----

// "SECRET <id> <op>\t<service>\t<account>\t<value>": the Secret Service.
void do_secret(std::string_view id, std::string_view rest);
// "SHELL <id> <op>\t<target>": open, reveal or trash.
void do_shell(std::string_view id, std::string_view rest);
// "LOGIN <id> get|set <v>": the autostart entry of the application.
void do_login(std::string_view id, std::string_view rest);
