// The runtime core's own commands.
#pragma once

#include <string_view>

void do_ret(std::string_view rest);
void do_eval_all(std::string_view rest);
void do_eval(std::string_view win, std::string_view rest);
void do_title(std::string_view win, std::string_view rest);
void do_size(std::string_view win, std::string_view rest);
void do_reload();
void do_perm(std::string_view id, std::string_view name);

// "GET <id> <key>": answers one query with one GOT line.
void do_get(std::string_view rest);
