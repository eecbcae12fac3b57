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

// ---- media proxy, permissions, find, print, PDF, cookies ----

// Registers the "ovalis-media" scheme on the default web context.
void media_scheme_register();

// The handler of "ovalis-media" requests.
void media_scheme_cb(WebKitURISchemeRequest* request, gpointer);

// Whether an origin may use a feature ("proxy", "camera", "microphone"),
// by the OVALIS_MEDIA_ORIGINS rules read on the first check.
bool media_trusted(std::string_view key, std::string_view origin);

// Camera, microphone, screen and device-list requests of a page.
gboolean on_permission_request(WebKitWebView* view, WebKitPermissionRequest* request, gpointer);

// Connects the permission handler of a new web view.
void permissions_setup_view(WebKitWebView* view);

// "FIND <callid> <text>\t<forward>\t<matchcase>" (rest after the keyword).
void do_find_line(std::string_view rest);
void do_find(std::string_view callid, const std::string& text, bool forward, bool match_case);
// "STOPFIND <callid>".
void do_stopfind(std::string_view callid);
// Resets the find state when a page commits; drops it when a window goes.
void find_setup_view(WebKitWebView* view);
void find_window_gone(const std::string& id, GtkWidget* window);

// "PRINT" / "PRINT@<winid>": the print dialog for that window.
void do_print(std::string_view window);

// "PDF <reqid> <path>" and "PDF@<winid> <reqid> <path>" (rest after "PDF@").
void do_pdf(std::string_view reqid, std::string_view path, std::string_view window);
void do_pdf_at(std::string_view rest);

// "COOKIES <reqid> <op>\t<f1>...".
void do_cookies(std::string_view reqid, std::string_view rest);
