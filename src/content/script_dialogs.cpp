// The page's own alert, confirm, prompt and leave-page confirmations, and
// the automation hook that answers modal dialogs in tests.
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "content/content.h"
#include "content/modal.h"
#include "content/nav_signals.h"
#include "core/app.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "webview/webview.h"
#include "windows/windows.h"

namespace {

constexpr int kOk = GTK_RESPONSE_OK, kCancel = GTK_RESPONSE_CANCEL;

// What the automation hook answers: its value is tab-separated words,
// "cancel" to cancel every dialog, "text:<text>" for what prompts answer,
// "path:<path>" (repeatable) for what file choosers answer; any other word
// just says yes.
struct AutoAnswers {
  bool cancel = false;
  bool has_text = false;
  std::string text;
  std::vector<std::string> paths;
};

AutoAnswers g_autodlg;
// The dialog the hook was armed for, when known; cleared when it goes.
GtkWidget* g_autodlg_target = nullptr;
int g_autodlg_budget = 0;
guint g_autodlg_timer = 0;

// The hook's answers, or nothing when the variable is unset or empty.
std::optional<AutoAnswers> autodlg_answers() {
  const char* v = std::getenv("OVALIS_TEST_AUTODLG");
  if (!v || !*v) return std::nullopt;
  AutoAnswers a;
  for (const std::string& word : split_tabs(v)) {
    if (word == "cancel") a.cancel = true;
    else if (word.starts_with("text:")) a.has_text = true, a.text = word.substr(5);
    else if (word.starts_with("path:")) a.paths.push_back(word.substr(5));
  }
  return a;
}

void set_autodlg_target(GtkWidget* dialog) {
  if (g_autodlg_target)
    g_object_remove_weak_pointer(G_OBJECT(g_autodlg_target),
                                 reinterpret_cast<gpointer*>(&g_autodlg_target));
  g_autodlg_target = dialog;
  if (dialog)
    g_object_add_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer*>(&g_autodlg_target));
}

gboolean test_autodlg_tick(gpointer) {
  GList* tops = gtk_window_list_toplevels();
  GtkWidget* found = nullptr;
  // Another modal dialog left open (a print dialog, say) must not take the
  // answer meant for the one the hook was armed for.
  if (g_autodlg_target && gtk_widget_get_visible(g_autodlg_target)) found = g_autodlg_target;
  for (GList* l = tops; l && !found && !g_autodlg_target; l = l->next) {
    GtkWidget* w = GTK_WIDGET(l->data);
    if (GTK_IS_DIALOG(w) && gtk_widget_get_visible(w) && gtk_window_get_modal(GTK_WINDOW(w)))
      found = w;
  }
  g_list_free(tops);
  if (found) {
    bool cancel = g_autodlg.cancel;
    auto* entry = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(found), "ovalis-entry"));
    if (entry && !cancel && g_autodlg.has_text)
      gtk_entry_set_text(GTK_ENTRY(entry), g_autodlg.text.c_str());
    int code = GTK_IS_FILE_CHOOSER_DIALOG(found) ? (cancel ? kCancel : GTK_RESPONSE_ACCEPT)
                                                 : (cancel ? kCancel : kOk);
    g_autodlg_timer = 0;
    set_autodlg_target(nullptr);
    gtk_dialog_response(GTK_DIALOG(found), code);
    return G_SOURCE_REMOVE;
  }
  if (--g_autodlg_budget > 0) return G_SOURCE_CONTINUE;
  g_autodlg_timer = 0;
  set_autodlg_target(nullptr);
  return G_SOURCE_REMOVE;
}

// The heading names the page that shows the dialog: the host of the
// window's committed document (a load in progress does not count), or the
// application name for its own pages. A frame inside the page gets a
// heading that names no one, so it cannot speak in the page's name.
std::string heading_for(WebKitWebView* view, bool from_page) {
  if (!from_page) return "Embedded content";
  std::string origin = committed_origin(view);
  size_t sep = origin.find("://");
  std::string host = sep == std::string::npos ? "" : origin.substr(sep + 3);
  if (size_t colon = host.rfind(':'); colon != std::string::npos && host.find(']') == std::string::npos)
    host.resize(colon);
  return host.empty() ? g_app_name : host;
}

void on_view_gone(GtkWidget*, gpointer flag) { *static_cast<bool*>(flag) = true; }

struct ScriptDialogRef {
  explicit ScriptDialogRef(WebKitScriptDialog* d) : d(webkit_script_dialog_ref(d)) {}
  ~ScriptDialogRef() { webkit_script_dialog_unref(d); }
  ScriptDialogRef(const ScriptDialogRef&) = delete;
  ScriptDialogRef& operator=(const ScriptDialogRef&) = delete;
  WebKitScriptDialog* d;
};

}  // namespace

void test_autodlg_arm(GtkWidget* dialog) {
  std::optional<AutoAnswers> a = autodlg_answers();
  if (!a) return;
  g_autodlg = std::move(*a);
  set_autodlg_target(dialog);
  g_autodlg_budget = 30;
  // A dialog armed while another one waits takes over the one timer.
  if (g_autodlg_timer) g_source_remove(g_autodlg_timer);
  g_autodlg_timer = g_timeout_add(200, test_autodlg_tick, nullptr);
}

std::optional<std::string> test_autodlg_chooser(std::string_view op) {
  std::optional<AutoAnswers> a = autodlg_answers();
  if (!a) return std::nullopt;
  if (a->cancel || a->paths.empty()) return "null";
  if (op != "openmulti") return json_escape(a->paths.front());
  std::string out = "[";
  for (const std::string& p : a->paths) {
    if (out.size() > 1) out += ',';
    json_escape_to(out, p);
  }
  return out + "]";
}

gboolean on_script_dialog(WebKitWebView* view, WebKitScriptDialog* dialog, gpointer) {
  const char* msg = webkit_script_dialog_get_message(dialog);
  std::string message = msg ? msg : "";
  WebKitScriptDialogType kind = webkit_script_dialog_get_dialog_type(dialog);
  std::string heading =
      heading_for(view, kind == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM || take_dialog_mark(view));
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  GtkWindow* parent = GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : (g_win ? GTK_WINDOW(g_win) : nullptr);

  ScriptDialogRef hold(dialog);
  GObj<WebKitWebView> hold_view = gobj_ref(view);
  bool gone = false;
  gulong watch = g_signal_connect(view, "destroy", G_CALLBACK(on_view_gone), &gone);

  WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
  if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) {
    GtkWidget* d = gtk_dialog_new_with_buttons(heading.c_str(), parent, GTK_DIALOG_MODAL,
                                               "Cancel", kCancel, "OK", kOk, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(d), kOk);
    GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(d));
    gtk_container_set_border_width(GTK_CONTAINER(area), 12);
    gtk_box_set_spacing(GTK_BOX(area), 8);
    GtkWidget* label = gtk_label_new(message.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_box_pack_start(GTK_BOX(area), label, FALSE, FALSE, 0);
    GtkWidget* entry = gtk_entry_new();
    const char* dflt = webkit_script_dialog_prompt_get_default_text(dialog);
    gtk_entry_set_text(GTK_ENTRY(entry), dflt ? dflt : "");
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_box_pack_start(GTK_BOX(area), entry, FALSE, FALSE, 0);
    g_object_set_data(G_OBJECT(d), "ovalis-entry", entry);
    gtk_widget_show_all(d);
    test_autodlg_arm(d);
    int resp = run_modal(GTK_DIALOG(d));
    if (resp == kOk && !gone)
      webkit_script_dialog_prompt_set_text(dialog, gtk_entry_get_text(GTK_ENTRY(entry)));
    gtk_widget_destroy(d);
  } else {
    bool confirm = type == WEBKIT_SCRIPT_DIALOG_CONFIRM ||
                   type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM;
    GtkWidget* d = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL,
                                          confirm ? GTK_MESSAGE_QUESTION : GTK_MESSAGE_INFO,
                                          GTK_BUTTONS_NONE, "%s", heading.c_str());
    if (!message.empty())
      gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(d), "%s", message.c_str());
    if (confirm) gtk_dialog_add_button(GTK_DIALOG(d), "Cancel", kCancel);
    gtk_dialog_add_button(GTK_DIALOG(d), "OK", kOk);
    gtk_dialog_set_default_response(GTK_DIALOG(d), kOk);
    test_autodlg_arm(d);
    int resp = run_modal(GTK_DIALOG(d));
    if (confirm && !gone) webkit_script_dialog_confirm_set_confirmed(dialog, resp == kOk);
    gtk_widget_destroy(d);
  }

  if (g_signal_handler_is_connected(view, watch)) g_signal_handler_disconnect(view, watch);
  return TRUE;
}
