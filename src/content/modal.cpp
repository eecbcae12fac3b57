#include "content/modal.h"

#include "core/app.h"

namespace {

constexpr guint kQuitPollMs = 100;

gboolean close_dialog_on_quit(gpointer dialog) {
  if (!g_quitting) return G_SOURCE_CONTINUE;
  gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
  return G_SOURCE_REMOVE;
}

gboolean close_native_on_quit(gpointer dialog) {
  if (!g_quitting) return G_SOURCE_CONTINUE;
  gtk_native_dialog_hide(GTK_NATIVE_DIALOG(dialog));
  return G_SOURCE_REMOVE;
}

}  // namespace

int run_modal(GtkDialog* dialog) {
  guint watch = g_timeout_add(kQuitPollMs, close_dialog_on_quit, dialog);
  int resp = gtk_dialog_run(dialog);
  if (g_main_context_find_source_by_id(nullptr, watch)) g_source_remove(watch);
  return resp;
}

int run_modal_native(GtkNativeDialog* dialog) {
  guint watch = g_timeout_add(kQuitPollMs, close_native_on_quit, dialog);
  int resp = gtk_native_dialog_run(dialog);
  if (g_main_context_find_source_by_id(nullptr, watch)) g_source_remove(watch);
  return resp;
}
