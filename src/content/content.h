// Web content control: navigation events and permissions.
#pragma once

#include <webkit2/webkit2.h>

#include <optional>
#include <functional>
#include <string>
#include <string_view>

// Writes the "NAV" event of a page load (start, commit, finish, fail, crash).
void nav_event(WebKitWebView* view, const char* kind, const char* url,
               const char* error = nullptr);

// Connects the navigation events of a new web view.
void nav_setup_view(WebKitWebView* view);

// "PERMCHK <id> <name>" and "PERMREQ <id> <name>".
void do_perm(std::string_view id, std::string_view name);

// ---- navigation policy, popups, dialogs, downloads ----

// Connects the policy, new-window and script-dialog handlers of a new web view.
void nav_policy_setup_view(WebKitWebView* view);

// Answers a pending navigation question: 0 allow, 1 deny, 2 open externally.
void nav_resolve(const std::string& id, int action);
// "NAVR <navid> <verdict>" and "POPUPR <qid> <verdict>".
void do_navr(std::string_view rest);
void do_popupr(std::string_view rest);
// Runs and drops the continuation of a pending popup question.
void popup_resolve(const std::string& qid, const std::string& verdict);

// Opens an address with the desktop's default handler; failures stay silent.
void launch_default_for_uri(const std::string& uri);

// "DLG <callid> <op>\t<f1>\t<f2>\t<f3>\t<f4>": runs the dialog and resolves
// the page call with its result.
void do_dlg(std::string_view rest);

// Answers the next modal dialog by itself when OVALIS_TEST_AUTODLG is set:
// "cancel" cancels it, any other value says OK; a "text:<text>" word is
// typed into a prompt first (an entry kept as "ovalis-entry" on the dialog).
// Given the dialog, it answers that one; otherwise the first modal one.
void test_autodlg_arm(GtkWidget* dialog = nullptr);
// With OVALIS_TEST_AUTODLG set, the answer of a backend file chooser op
// ("open", "openmulti", "dir", "save") without showing it: the "path:"
// words (an array for "openmulti"), or null when cancelled or none is
// given. Nothing when the variable is unset, so the chooser runs.
std::optional<std::string> test_autodlg_chooser(std::string_view op);

// The user's downloads folder (not created here).
std::string downloads_dir();
// Makes the downloads folder (mode 0755, with its parents) when it is
// missing, as the first download or a save dialog opened there needs it.
// False, with the reason in *error, when it cannot be made.
bool make_downloads_dir(std::string* error = nullptr);
// Connects the default web context's downloads (once, at start-up).
void downloads_install();

// ---- media proxy, permissions, find, print, PDF, cookies ----

// Registers the "ovalis-media" scheme on the default web context.
void media_scheme_register();

// The handler of "ovalis-media" requests.
void media_scheme_cb(WebKitURISchemeRequest* request, gpointer);

// Decides whether a proxy request may be served, now or (for an address
// whose document key is not known yet) a little later; `done` runs once,
// with the origin the decision was made for.
using MediaAdmitted = void (*)(WebKitURISchemeRequest* req, bool trusted,
                               const std::string& origin);
void media_proxy_admit(WebKitURISchemeRequest* req, MediaAdmitted done);
// The origin a proxy request names for diagnostics: its Origin header, or
// the committed document of its view.
std::string media_request_origin(WebKitURISchemeRequest* req);
// The same decision for a request that reached the proxy another way: the
// address it asked for and its Origin header ("" when it sent none).
void media_proxy_judge(std::string_view uri, const std::string& origin_header,
                       std::function<void(bool trusted, const std::string& origin)> done);

// Runs `done` once the document that owns a proxy key is known: at once,
// or within a few seconds of its load commit (a page can use its key before
// launcher has learnt it). `found` is false for a key no live document owns.
using KeyFound = std::function<void(bool found, const std::string& origin)>;
void await_document_key(const std::string& key, KeyFound done);

// Bytes between page and backend as files: the "ovalis-blob" scheme the page
// uploads to and fetches from, and "BLOB <id> <mode> <path>", the backend's
// offer of a file's bytes.
void blob_scheme_register();
void do_blob(std::string_view rest);
// Removes launcher's upload directory with whatever is left in it.
void blob_stop();
// The web-process extension's bytes messages of a new view, and the uploads
// a closed window left open.
void blob_setup_view(WebKitWebView* view);
void blob_forget_window(const std::string& window, GtkWidget* widget);

// The engine's media player loads only http(s) addresses, so the proxy is
// also served on a loopback HTTP port, under a secret path for this run;
// pages get its address from ovalis.proxyURL. Starts it and arranges for
// every new view to learn the address.
void media_http_start();
void media_proxy_note_refusal(const std::string& origin, const char* reason);
// The http(s) address after the first "u=", percent-decoded; "" when bad.
std::string media_proxy_target(const char* uri);
// The HTTP session every proxied fetch goes through.
SoupSession* media_proxy_session();

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
