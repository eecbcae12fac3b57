// Downloads of every web view: where each file goes (by the mode the
// backend chose at start-up) and its life as "DOWNLOAD" lines.
#include <glib/gstdio.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>

#include "content/content.h"
#include "content/modal.h"
#include "content/content_text.h"
#include "core/app.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "windows/windows.h"

namespace {

struct DlInfo {
  long long id = 0;
  std::string url;
  std::string filename;
  std::string path;
  gint64 last_progress = 0;
};

std::map<WebKitDownload*, DlInfo> g_dl_info;
long long g_download_seq = 0;

constexpr gint64 kProgressEveryUs = 250000;

void download_event(long long id, const std::string& url, const std::string& filename,
                    const std::string& path, const char* state, const std::string& error,
                    long long bytes, long long total) {
  std::string line = "DOWNLOAD {\"id\":" + std::to_string(id) + ",\"url\":";
  json_escape_to(line, url);
  line += ",\"filename\":";
  json_escape_to(line, filename);
  line += ",\"path\":";
  if (path.empty()) line += "null";
  else json_escape_to(line, path);
  line += ",\"state\":\"";
  line += state;
  line += '"';
  if (bytes >= 0) line += ",\"bytes\":" + std::to_string(bytes) + ",\"total\":" + std::to_string(total);
  if (!error.empty()) {
    line += ",\"error\":";
    json_escape_to(line, error);
  }
  line += '}';
  pipe_write_line(line);
}

void event_for(const DlInfo& d, const char* state, const std::string& error = "",
               long long bytes = -1, long long total = -1) {
  download_event(d.id, d.url, d.filename, d.path, state, error, bytes, total);
}

std::string download_url(WebKitDownload* download) {
  WebKitURIResponse* resp = webkit_download_get_response(download);
  const char* u = resp ? webkit_uri_response_get_uri(resp) : nullptr;
  if (!u) {
    WebKitURIRequest* req = webkit_download_get_request(download);
    u = req ? webkit_uri_request_get_uri(req) : nullptr;
  }
  return u ? u : "";
}

// Refuses the download and reports it once; it never gets a record.
gboolean refuse(WebKitDownload* download, const std::string& url, const std::string& name,
                const char* state, const std::string& error = "") {
  download_event(++g_download_seq, url, name, "", state, error, -1, -1);
  webkit_download_cancel(download);
  return TRUE;
}

// Mode "ask": the user picks the file; "" when cancelled.
std::string ask_destination(const std::string& dir, const std::string& name) {
  GtkWidget* d = gtk_file_chooser_dialog_new(
      g_app_name.c_str(), g_win ? GTK_WINDOW(g_win) : nullptr, GTK_FILE_CHOOSER_ACTION_SAVE,
      "Cancel", GTK_RESPONSE_CANCEL, "Save", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_modal(GTK_WINDOW(d), TRUE);
  GtkFileChooser* fc = GTK_FILE_CHOOSER(d);
  gtk_file_chooser_set_do_overwrite_confirmation(fc, TRUE);
  gtk_file_chooser_set_current_folder(fc, dir.c_str());
  gtk_file_chooser_set_current_name(fc, name.c_str());
  test_autodlg_arm();
  int resp = run_modal(GTK_DIALOG(d));
  GChars chosen(gtk_file_chooser_get_filename(fc));
  gtk_widget_destroy(d);
  return resp == GTK_RESPONSE_ACCEPT && chosen ? std::string(chosen.get()) : std::string();
}

// A name is taken when anything exists there, or when a running download
// already writes to it (its file may not exist yet).
bool path_taken(const std::string& path) {
  GStatBuf st;
  if (g_lstat(path.c_str(), &st) == 0) return true;  // a dangling link counts too
  for (auto& [dl, info] : g_dl_info)
    if (info.path == path) return true;
  return false;
}

gboolean on_decide_destination(WebKitDownload* download, const char* suggested, gpointer) {
  std::string url = download_url(download);
  std::string mode = g_downloads_mode.empty() ? "auto" : g_downloads_mode;
  std::string name = suggested && *suggested ? suggested : "download";
  if (mode == "deny") return refuse(download, url, name, "denied");

  std::string dir = downloads_dir();
  std::string path;
  bool overwrite = false;
  std::string mkdir_error;
  bool have_dir = make_downloads_dir(&mkdir_error);
  if (mode == "ask") {
    path = ask_destination(dir, name);
    if (path.empty()) return refuse(download, url, name, "cancelled");
    name = path.substr(path.rfind('/') + 1);
    overwrite = true;  // the chooser asked before replacing a file
  } else {
    if (!have_dir) return refuse(download, url, name, "failed", mkdir_error);
    WebKitURIResponse* resp = webkit_download_get_response(download);
    const char* mime = resp ? webkit_uri_response_get_mime_type(resp) : nullptr;
    name = download_base_name(name, mime ? mime : "");
    name = free_download_name(name, [&](const std::string& n) { return path_taken(dir + "/" + n); });
    path = dir + "/" + name;
  }

  DlInfo info{++g_download_seq, url, name, path, 0};
  g_dl_info[download] = info;
  webkit_download_set_allow_overwrite(download, overwrite);
  GChars uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
  webkit_download_set_destination(download, uri ? uri.get() : path.c_str());
  event_for(info, "started");
  return TRUE;
}

void on_download_data(WebKitDownload* download, guint64, gpointer) {
  auto it = g_dl_info.find(download);
  if (it == g_dl_info.end()) return;
  gint64 now = g_get_monotonic_time();
  if (now - it->second.last_progress < kProgressEveryUs) return;
  it->second.last_progress = now;
  WebKitURIResponse* resp = webkit_download_get_response(download);
  guint64 len = resp ? webkit_uri_response_get_content_length(resp) : 0;
  long long total = len >= 1 ? static_cast<long long>(len) : -1;
  event_for(it->second, "progress", "",
            static_cast<long long>(webkit_download_get_received_data_length(download)), total);
}

void on_download_failed(WebKitDownload* download, GError* error, gpointer) {
  auto it = g_dl_info.find(download);
  if (it == g_dl_info.end()) return;
  std::string msg = error && error->message && *error->message ? error->message : "download failed";
  event_for(it->second, "failed", msg);
  g_dl_info.erase(it);
}

void on_download_finished(WebKitDownload* download, gpointer) {
  auto it = g_dl_info.find(download);
  if (it == g_dl_info.end()) return;
  event_for(it->second, "done");
  g_dl_info.erase(it);
}

void on_download_started(WebKitWebContext*, WebKitDownload* download, gpointer) {
  g_signal_connect(download, "decide-destination", G_CALLBACK(on_decide_destination), nullptr);
  g_signal_connect(download, "received-data", G_CALLBACK(on_download_data), nullptr);
  g_signal_connect(download, "failed", G_CALLBACK(on_download_failed), nullptr);
  g_signal_connect(download, "finished", G_CALLBACK(on_download_finished), nullptr);
}

}  // namespace

std::string downloads_dir() {
  const char* xdg = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  if (xdg && *xdg) return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "/tmp") + "/Downloads";
}

bool make_downloads_dir(std::string* error) {
  std::string dir = downloads_dir();
  if (g_mkdir_with_parents(dir.c_str(), 0755) == 0) return true;
  if (error) *error = "Error creating folder " + dir + ": " + g_strerror(errno);
  return false;
}

void downloads_install() {
  g_signal_connect(webkit_web_context_get_default(), "download-started",
                   G_CALLBACK(on_download_started), nullptr);
}
