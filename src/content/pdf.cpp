// Silent export of a window's page to a PDF file, answered with GOT.
//
// The export writes to a fresh file beside the target and renames it into
// place only when the print operation finished without error and wrote
// something. A file that was at the path before therefore never turns a
// failed export into a reported success, and a failed export leaves that
// old file as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "content/content.h"
#include "core/dispatch.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "windows/windows.h"

namespace {

struct PdfJob {
  std::string reqid;
  std::string path;
  std::string tmp;
  std::string target;  // path made absolute
  bool failed = false;
};

void answer_failed(std::string_view reqid) {
  send_got(reqid, "{\"ok\":false,\"error\":\"pdf failed\"}");
}

// The mode a newly created file gets under the process's umask.
mode_t new_file_mode() {
  std::ifstream st("/proc/self/status");
  std::string line;
  while (std::getline(st, line))
    if (line.rfind("Umask:", 0) == 0)
      return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  return 0644;
}

void on_pdf_failed(WebKitPrintOperation*, GError*, gpointer data) {
  static_cast<PdfJob*>(data)->failed = true;
}

void on_pdf_finished(WebKitPrintOperation* op, gpointer data) {
  std::unique_ptr<PdfJob> job(static_cast<PdfJob*>(data));
  GObj<WebKitPrintOperation> release(op);  // the reference taken when the export started
  g_signal_handlers_disconnect_by_data(op, data);
  struct stat sb{};
  bool wrote = !job->failed && stat(job->tmp.c_str(), &sb) == 0 && S_ISREG(sb.st_mode) &&
               sb.st_size > 0;
  if (!wrote || std::rename(job->tmp.c_str(), job->target.c_str()) != 0) {
    unlink(job->tmp.c_str());
    return answer_failed(job->reqid);
  }
  std::string json = "{\"ok\":true,\"path\":";
  json_escape_to(json, job->path);
  json += ",\"error\":null}";
  send_got(job->reqid, json);
}

}  // namespace

void do_pdf(std::string_view reqid, std::string_view escaped_path, std::string_view window) {
  std::string path = wire_unescape(escaped_path);
  if (path.empty()) return send_got(reqid, "{\"ok\":false,\"error\":\"no path\"}");
  WebKitWebView* view = wv_for(window);
  if (!view) return send_got(reqid, "{\"ok\":false,\"error\":\"no such window\"}");

  // A relative path names a file in the current folder, as it would for any tool.
  GChars abs(g_canonicalize_filename(path.c_str(), nullptr));
  GChars dir(g_path_get_dirname(abs.get()));
  GChars base(g_path_get_basename(abs.get()));
  std::string tmpl = std::string(dir.get()) + "/." + base.get() + ".XXXXXX";
  int fd = g_mkstemp(tmpl.data());
  if (fd < 0) return answer_failed(reqid);
  fchmod(fd, new_file_mode());
  close(fd);
  GChars uri(g_filename_to_uri(tmpl.c_str(), nullptr, nullptr));
  if (!uri) {
    unlink(tmpl.c_str());
    return answer_failed(reqid);
  }

  GObj<GtkPrintSettings> settings(gtk_print_settings_new());
  gtk_print_settings_set_printer(settings.get(), "Print to File");
  gtk_print_settings_set(settings.get(), GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
  gtk_print_settings_set(settings.get(), GTK_PRINT_SETTINGS_OUTPUT_URI, uri.get());

  WebKitPrintOperation* op = webkit_print_operation_new(view);
  webkit_print_operation_set_print_settings(op, settings.get());
  auto* job = new PdfJob{std::string(reqid), path, tmpl, abs.get()};
  g_signal_connect(op, "failed", G_CALLBACK(on_pdf_failed), job);
  g_signal_connect(op, "finished", G_CALLBACK(on_pdf_finished), job);
  webkit_print_operation_print(op);
}

void do_pdf_at(std::string_view rest) {
  // "<winid> <reqid> <path>"
  size_t sp = rest.find(' ');
  if (sp == std::string_view::npos) return;
  std::string_view win = rest.substr(0, sp);
  std::string_view after = rest.substr(sp + 1);
  size_t sp2 = after.find(' ');
  std::string_view reqid = after.substr(0, sp2);
  std::string_view path = sp2 == std::string_view::npos ? std::string_view() : after.substr(sp2 + 1);
  do_pdf(reqid, path, win);
}
