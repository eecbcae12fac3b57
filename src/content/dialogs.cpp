// Native dialogs a page asks for through the backend ("DLG"): file and
// folder choosers, alert, confirm and prompt. Each resolves the page call
// itself when it closes; while it runs, other lines keep being handled.
#include <string>
#include <vector>

#include "content/content.h"
#include "content/modal.h"
#include "content/content_text.h"
#include "core/app.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "webview/webview.h"
#include "windows/windows.h"

namespace {

constexpr int kOk = GTK_RESPONSE_OK, kCancel = GTK_RESPONSE_CANCEL,
              kAccept = GTK_RESPONSE_ACCEPT;

GtkWindow* main_parent() { return g_win ? GTK_WINDOW(g_win) : nullptr; }

std::string or_default(const std::string& s, const char* dflt) { return s.empty() ? dflt : s; }

std::string file_chooser(const std::string& op, const std::vector<std::string>& f) {
  GtkFileChooserAction act = op == "dir"    ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                             : op == "save" ? GTK_FILE_CHOOSER_ACTION_SAVE
                                            : GTK_FILE_CHOOSER_ACTION_OPEN;
  GObj<GtkFileChooserNative> native(
      gtk_file_chooser_native_new(g_app_name.c_str(), main_parent(), act, nullptr, nullptr));
  GtkFileChooser* fc = GTK_FILE_CHOOSER(native.get());
  if (op == "openmulti") gtk_file_chooser_set_select_multiple(fc, TRUE);
  if (op == "save") {
    gtk_file_chooser_set_do_overwrite_confirmation(fc, TRUE);
    if (tab_field(f, 3) == "downloads" && make_downloads_dir())
      gtk_file_chooser_set_current_folder(fc, downloads_dir().c_str());
    if (std::string name = tab_field(f, 2); !name.empty())
      gtk_file_chooser_set_current_name(fc, name.c_str());
  }

  GObj<GtkFileFilter> filter;
  ExtFilter spec;
  if (op != "dir" && !tab_field(f, 1).empty()) {
    spec = ext_filter_for(tab_field(f, 1));
    if (!spec.name.empty()) {
      filter.reset(GTK_FILE_FILTER(g_object_ref_sink(gtk_file_filter_new())));
      gtk_file_filter_set_name(filter.get(), spec.name.c_str());
      for (const std::string& p : spec.patterns) gtk_file_filter_add_pattern(filter.get(), p.c_str());
      gtk_file_chooser_add_filter(fc, filter.get());
      GtkFileFilter* all = gtk_file_filter_new();
      gtk_file_filter_set_name(all, "All files");
      gtk_file_filter_add_pattern(all, "*");
      gtk_file_chooser_add_filter(fc, all);
    }
  }

  g_idle_add(present_file_chooser_x11, nullptr);
  gint resp = run_modal_native(GTK_NATIVE_DIALOG(native.get()));
  if (resp != kAccept) return "null";
  if (op == "openmulti") {
    std::string out = "[";
    GSList* files = gtk_file_chooser_get_filenames(fc);
    for (GSList* l = files; l; l = l->next) {
      if (out.size() > 1) out += ',';
      json_escape_to(out, static_cast<const char*>(l->data));
    }
    g_slist_free_full(files, g_free);
    return out + "]";
  }
  GChars chosen(gtk_file_chooser_get_filename(fc));
  if (!chosen) return "null";
  std::string path = chosen.get();
  if (op == "save" && filter && gtk_file_chooser_get_filter(fc) == filter.get())
    path = with_default_ext(path, spec.default_ext);
  return json_escape(path);
}

int run_front(GtkWidget* dialog) {
  present_dialog_x11(dialog);
  return run_modal(GTK_DIALOG(dialog));
}

std::string message_box(bool confirm, const std::vector<std::string>& f) {
  std::string message = or_default(tab_field(f, 1), g_app_name.c_str());
  std::string detail = dialog_detail_text(tab_field(f, 2));
  GtkWidget* d = gtk_message_dialog_new(main_parent(), GTK_DIALOG_MODAL,
                                        confirm ? GTK_MESSAGE_QUESTION : GTK_MESSAGE_INFO,
                                        GTK_BUTTONS_NONE, "%s", message.c_str());
  if (!detail.empty())
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(d), "%s", detail.c_str());
  if (confirm)
    gtk_dialog_add_button(GTK_DIALOG(d), or_default(tab_field(f, 4), "Cancel").c_str(), kCancel);
  gtk_dialog_add_button(GTK_DIALOG(d), or_default(tab_field(f, 3), "OK").c_str(), kOk);
  gtk_dialog_set_default_response(GTK_DIALOG(d), kOk);
  test_autodlg_arm(d);
  int resp = run_front(d);
  gtk_widget_destroy(d);
  if (!confirm) return "true";
  return resp == kOk ? "true" : "false";
}

std::string prompt_box(const std::vector<std::string>& f) {
  std::string message = or_default(tab_field(f, 1), g_app_name.c_str());
  GtkWidget* d = gtk_dialog_new_with_buttons(
      g_app_name.c_str(), main_parent(), GTK_DIALOG_MODAL,
      or_default(tab_field(f, 4), "Cancel").c_str(), kCancel,
      or_default(tab_field(f, 3), "OK").c_str(), kOk, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(d), kOk);
  GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(d));
  gtk_container_set_border_width(GTK_CONTAINER(area), 12);
  gtk_box_set_spacing(GTK_BOX(area), 8);
  GtkWidget* label = gtk_label_new(message.c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_box_pack_start(GTK_BOX(area), label, FALSE, FALSE, 0);
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(entry), tab_field(f, 2).c_str());
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  gtk_box_pack_start(GTK_BOX(area), entry, FALSE, FALSE, 0);
  g_object_set_data(G_OBJECT(d), "ovalis-entry", entry);
  gtk_widget_show_all(d);
  test_autodlg_arm(d);
  int resp = run_front(d);
  std::string text = gtk_entry_get_text(GTK_ENTRY(entry));
  gtk_widget_destroy(d);
  return resp == kOk ? json_escape(text) : "null";
}

}  // namespace

void do_dlg(std::string_view rest) {
  size_t sp = rest.find(' ');
  if (sp == std::string_view::npos) return;
  std::string callid(rest.substr(0, sp));
  std::vector<std::string> f = split_tabs(rest.substr(sp + 1));
  std::string op = tab_field(f, 0);
  std::string result;
  if (op == "open" || op == "openmulti" || op == "dir" || op == "save")
    if (std::optional<std::string> automatic = test_autodlg_chooser(op))
      result = *automatic;
    else
      result = file_chooser(op, f);
  else if (op == "alert" || op == "confirm")
    result = message_box(op == "confirm", f);
  else if (op == "prompt")
    result = prompt_box(f);
  else
    return reply_to_call(callid, 1, json_escape("unknown dialog op: " + op));
  reply_to_call(callid, 0, result);
}
