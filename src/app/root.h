// The composition root: the one place that knows every feature. It runs
// start-up in order, routes each backend line to the feature that performs
// it, routes the GET keys, and wires the hooks between features.
#pragma once

#include <string>
#include <string_view>

// "--open <socket> <app-exe> [arg]": the message for a running instance.
std::string open_request_message(const std::string& arg);

// Runs the forwarding mode; returns the exit status.
int run_forward(int argc, char** argv);

// Runs the normal mode; returns only on a start-up failure.
int run_normal(int argc, char** argv);

// Parses "WxH" as the fourth argument does; a half-scanned value sets the width only.
void parse_size_arg(const char* s, int* w, int* h);

// Handles one backend line on the main thread.
void handle_line(const std::string& line);

// "GET <id> <key>": answers one query with one GOT line.
void do_get(std::string_view rest);
