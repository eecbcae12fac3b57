// Web content control: navigation events and permissions.
#pragma once

#include <webkit2/webkit2.h>

#include <string>
#include <string_view>

// Writes the "NAV" event of a page load (start, commit, finish, fail, crash).
void nav_event(WebKitWebView* view, const char* kind, const char* url,
               const char* error = nullptr);

// Connects the navigation events of a new web view.
void nav_setup_view(WebKitWebView* view);

// "PERMCHK <id> <name>" and "PERMREQ <id> <name>".
void do_perm(std::string_view id, std::string_view name);
