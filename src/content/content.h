// Web content control: navigation events and origins.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

// Writes the "NAV" event of a page load (start, commit, finish, fail, crash).
void nav_event(WebKitWebView* view, const char* kind, const char* url,
               const char* error = nullptr);

// "scheme://host[:port]", "file://" or "null".
std::string origin_from_uri(const char* uri);
