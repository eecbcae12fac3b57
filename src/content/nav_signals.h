// Web view signal handlers shared between the files of navigation, popups
// and dialogs; connected together by nav_policy_setup_view.
#pragma once

#include <webkit2/webkit2.h>

GtkWidget* on_create_webview(WebKitWebView* view, WebKitNavigationAction* action, gpointer);
gboolean on_script_dialog(WebKitWebView* view, WebKitScriptDialog* dialog, gpointer);
