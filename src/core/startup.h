// Start-up: the command line, the forwarding mode, and the normal start.
#pragma once

#include <string>

// "--open <socket> <app-exe> [arg]": the message for a running instance.
std::string open_request_message(const std::string& arg);

// Runs the forwarding mode; returns the exit status.
int run_forward(int argc, char** argv);

// Runs the normal mode; returns only on a start-up failure.
int run_normal(int argc, char** argv);

// Parses "WxH" as the fourth argument does; a half-scanned value sets the width only.
void parse_size_arg(const char* s, int* w, int* h);

// Reports the current theme ("SYS theme dark|light") and installs the
// observers of theme changes and sleep.
void report_initial_theme();
void install_system_observers();
