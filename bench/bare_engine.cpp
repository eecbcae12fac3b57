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

#include <cstdlib>
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
    // {"id":N,"method":...,"params":{...}}
    auto* wv = WEBKIT_WEB_VIEW(view);
    long id = std::strtol(text + 6, nullptr, 10);
    const char* params = std::strstr(text, "\"params\":");
    const char* method = std::strstr(text, "\"method\":\"");
    std::string m = method ? std::string(method + 10, std::strcspn(method + 10, "\"")) : "";
    std::string answer;
    if (m == "bench.up") {
      answer = "{}";
    } else if (m == "bench.down") {
      // A text of n characters, made here as a backend would.
      const char* n = std::strstr(text, "\"n\":");
      size_t len = n ? std::strtoul(n + 4, nullptr, 10) : 0;
      std::string data(len, 'x');
      for (size_t i = 0; i < len; ++i) data[i] = "abcdefghijklmnopqrstuvwxyz0123456789"[i % 36];
      answer = "{\"data\":\"" + data + "\"}";
    } else if (m == "bench.events") {
      const char* n = std::strstr(text, "\"n\":");
      long count = n ? std::strtol(n + 4, nullptr, 10) : 0;
      for (long i = 0; i < count; ++i) {
        std::string js = "window.__emit({event:\"bench\",data:{\"i\":" + std::to_string(i) + "}})";
        webkit_web_view_evaluate_javascript(wv, js.data(), static_cast<gssize>(js.size()), nullptr,
                                            nullptr, nullptr, nullptr, nullptr);
      }
      answer = "{}";
    } else {
      // Echo the params back.
      answer = params ? std::string(params + 9, std::strlen(params + 9) - 1) : "null";
    }
    std::string js = "window.__benchResolve(" + std::to_string(id) + "," + answer + ")";
    webkit_web_view_evaluate_javascript(wv, js.data(), static_cast<gssize>(js.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
  }
  g_free(text);
}

// The engine's own custom scheme, the fastest way a host can move bytes:
// "GET bare://b/<n>" answers n bytes from memory, "POST bare://b/" reads the
// body whole and answers its length.
static void on_bare_scheme(WebKitURISchemeRequest* req, gpointer) {
  const char* method = webkit_uri_scheme_request_get_http_method(req);
  const char* path = webkit_uri_scheme_request_get_path(req);
  GInputStream* out;
  gint64 length;
  const char* type = "application/json";
  if (method && std::strcmp(method, "POST") == 0) {
    GInputStream* body = webkit_uri_scheme_request_get_http_body(req);
    static char buf[1 << 20];
    gsize total = 0;
    gssize n;
    while (body && (n = g_input_stream_read(body, buf, sizeof buf, nullptr, nullptr)) > 0) total += n;
    if (body) g_object_unref(body);
    std::string json = "{\"n\":" + std::to_string(total) + "}";
    length = static_cast<gint64>(json.size());
    out = g_memory_input_stream_new_from_data(g_strdup(json.c_str()), length, g_free);
  } else {
    // The bytes are made once and served from memory, as a host serving
    // data it already has.
    gsize n = path && path[0] == '/' ? std::strtoul(path + 1, nullptr, 10) : 0;
    static GBytes* bytes = nullptr;
    if (!bytes || g_bytes_get_size(bytes) != n) {
      if (bytes) g_bytes_unref(bytes);
      auto* data = static_cast<char*>(g_malloc(n ? n : 1));
      std::memset(data, 7, n);
      bytes = g_bytes_new_take(data, n);
    }
    length = static_cast<gint64>(n);
    out = g_memory_input_stream_new_from_bytes(bytes);
    type = "application/octet-stream";
  }
  WebKitURISchemeResponse* resp = webkit_uri_scheme_response_new(out, length);
  webkit_uri_scheme_response_set_content_type(resp, type);
  SoupMessageHeaders* h = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_append(h, "Access-Control-Allow-Origin", "*");
  webkit_uri_scheme_response_set_http_headers(resp, h);
  webkit_uri_scheme_request_finish_with_response(req, resp);
  g_object_unref(resp);
  g_object_unref(out);
}

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  gtk_init(&argc, &argv);
  g_fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, argv[2], sizeof addr.sun_path - 1);
  if (connect(g_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 1;

  webkit_web_context_register_uri_scheme(webkit_web_context_get_default(), "bare", on_bare_scheme,
                                         nullptr, nullptr);
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
