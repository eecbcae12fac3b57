// The reference for the benchmarks: a GTK window with a WebKitGTK view and
// one script-message handler, doing the same jobs as launcher with nothing
// else. It answers page calls in-process and reports to the driver over a
// Unix socket: "FIRST" at the first script message, then the page's result.
//
//   bare_engine <page-url> <socket> [document-start script]
#include <gtk/gtk.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <cstring>
#include <string>

static int g_fd = -1;
static bool g_first = true;

static void report(const std::string& line) {
  std::string l = line + "\n";
  if (write(g_fd, l.data(), l.size()) < 0) _exit(1);
}

static void on_message(WebKitUserContentManager*, WebKitJavascriptResult* r, gpointer view) {
  if (g_first) {
    g_first = false;
    report("FIRST");
  }
  char* text = jsc_value_to_string(webkit_javascript_result_get_js_value(r));
  if (g_str_has_prefix(text, "RESULT ")) {
    report(text);
  } else if (g_str_has_prefix(text, "{\"id\":")) {
    // {"id":N,"method":...,"params":{...}}: echo the params back.
    long id = std::strtol(text + 6, nullptr, 10);
    const char* params = std::strstr(text, "\"params\":");
    std::string p = params ? std::string(params + 9, std::strlen(params + 9) - 1) : "null";
    std::string js = "window.__benchResolve(" + std::to_string(id) + "," + p + ")";
    webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view), js.data(), -1, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
  }
  g_free(text);
}

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  gtk_init(&argc, &argv);
  g_fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, argv[2], sizeof addr.sun_path - 1);
  if (connect(g_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 1;

  GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(win), 960, 640);
  WebKitUserContentManager* ucm = webkit_user_content_manager_new();
  // A document-start message marks "page scripts are running", the same
  // moment launcher's client script makes its first call.
  WebKitUserScript* s = webkit_user_script_new(
      "window.webkit.messageHandlers.bench.postMessage('start')",
      WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr,
      nullptr);
  webkit_user_content_manager_add_script(ucm, s);
  webkit_user_script_unref(s);
  if (argc > 3) {
    s = webkit_user_script_new(argv[3], WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(ucm, s);
    webkit_user_script_unref(s);
  }
  GtkWidget* view = webkit_web_view_new_with_user_content_manager(ucm);
  g_signal_connect(ucm, "script-message-received::bench", G_CALLBACK(on_message), view);
  webkit_user_content_manager_register_script_message_handler(ucm, "bench");
  gtk_container_add(GTK_CONTAINER(win), view);
  g_signal_connect(win, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  g_signal_connect(view, "load-changed",
                   G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent ev, gpointer) {
                     if (ev == WEBKIT_LOAD_COMMITTED) report("COMMIT");
                   }),
                   nullptr);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  gtk_widget_show_all(win);

  // The driver closing its end means: stop.
  GIOChannel* ch = g_io_channel_unix_new(g_fd);
  g_io_add_watch(ch, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR),
                 [](GIOChannel*, GIOCondition, gpointer) -> gboolean {
                   char b[64];
                   if (read(g_fd, b, sizeof b) <= 0) gtk_main_quit();
                   return TRUE;
                 },
                 nullptr);
  gtk_main();
  _exit(0);
}
