// Bytes between page and backend as files. The text protocol would cost an
// escaping or Base64 pass and a trip through one line each way; here only a
// reference travels in calls and answers, and the bytes go through a file:
//
//  * Upward, the page POSTs its bytes to "ovalis-blob://b/"; they are
//    written to a new file in a private directory, the backend is told with
//    "BLOB {id,size,path}", and the page calls its method naming the id.
//  * Downward, the backend writes a file and offers it with
//    "BLOB <id> <mode> <path>"; the page fetches "ovalis-blob://b/<id>" once.
//
// Both requests must carry the proxy key of a committed document that has
// the bridge; embedded frames never see one.
#include <fcntl.h>
#include <libsoup/soup.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "content/blob_store.h"
#include "content/content.h"
#include "content/media_rules.h"
#include "core/gobj.h"
#include "core/wire.h"

namespace {

constexpr size_t kCopyChunk = 1 << 20;
// ---- answers ----

void respond(WebKitURISchemeRequest* req, int status, const std::string& type, GInputStream* body,
             gint64 length) {
  GObj<WebKitURISchemeResponse> resp(webkit_uri_scheme_response_new(body, length));
  webkit_uri_scheme_response_set_status(resp.get(), static_cast<guint>(status), nullptr);
  webkit_uri_scheme_response_set_content_type(resp.get(), type.c_str());
  SoupMessageHeaders* h = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_append(h, "Content-Type", type.c_str());
  soup_message_headers_append(h, "Access-Control-Allow-Origin", "*");
  soup_message_headers_append(h, "Access-Control-Allow-Methods", "GET, POST");
  soup_message_headers_append(h, "Cache-Control", "no-store");
  soup_message_headers_append(h, "Content-Security-Policy", "sandbox");
  webkit_uri_scheme_response_set_http_headers(resp.get(),
                                              h);  // takes the headers
  webkit_uri_scheme_request_finish_with_response(req, resp.get());
}

void respond_json(WebKitURISchemeRequest* req, int status, const std::string& json) {
  GBytes* b = g_bytes_new(json.data(), json.size());
  GObj<GInputStream> s(g_memory_input_stream_new_from_bytes(b));
  g_bytes_unref(b);
  respond(req, status, "application/json", s.get(), static_cast<gint64>(json.size()));
}

void respond_error(WebKitURISchemeRequest* req, int status, const std::string& message) {
  std::string json = "{\"message\":";
  json_escape_to(json, message);
  json += '}';
  respond_json(req, status, json);
}

struct Upload {
  GObj<WebKitURISchemeRequest> request;
  GObj<GInputStream> body;
  std::string id, path, origin;
  int fd = -1;
};

// Copies the body into the file on a worker thread, so a big upload does
// not hold up the main loop; the result is the size, or -1 with an error.
void copy_body(GTask* task, gpointer, gpointer data, GCancellable* cancel) {
  auto* up = static_cast<Upload*>(data);
  std::unique_ptr<char[]> buf(new char[kCopyChunk]);
  guint64 total = 0;
  for (;;) {
    GError* raw = nullptr;
    gssize n =
        up->body ? g_input_stream_read(up->body.get(), buf.get(), kCopyChunk, cancel, &raw) : 0;
    if (n < 0) return g_task_return_error(task, raw);
    if (n == 0) break;
    total += static_cast<guint64>(n);
    if (total > kBlobMaxUpload)
      return g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_NO_SPACE,
                                     "the bytes are larger than 1 GiB");
    for (gssize done = 0; done < n;) {
      ssize_t w = write(up->fd, buf.get() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0)
        return g_task_return_new_error(task, G_IO_ERROR, g_io_error_from_errno(errno),
                                       "cannot write the bytes: %s", g_strerror(errno));
      done += w;
    }
  }
  g_task_return_int(task, static_cast<gssize>(total));
}

void on_copied(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Upload> up(static_cast<Upload*>(data));
  GError* raw = nullptr;
  gssize size = g_task_propagate_int(G_TASK(res), &raw);
  GErr err(raw);
  close(up->fd);
  if (err) {
    unlink(up->path.c_str());
    return respond_error(up->request.get(),
                         g_error_matches(err.get(), G_IO_ERROR, G_IO_ERROR_NO_SPACE) ? 413 : 500,
                         err->message);
  }
  // The backend hears of the file before the page can name it in a call.
  blob_announce(up->id, static_cast<guint64>(size), up->path, up->origin);
  respond_json(up->request.get(), 200,
               "{\"id\":\"" + up->id + "\",\"size\":" + std::to_string(size) + "}");
}

void start_upload(WebKitURISchemeRequest* req, GInputStream* body, const std::string& origin) {
  auto up = std::make_unique<Upload>();
  std::string error;
  int status = 500;
  up->fd = blob_create_upload(0, &up->id, &up->path, &error, &status);
  if (up->fd < 0) return respond_error(req, status, error);
  up->request = gobj_ref(req);
  up->body = gobj_ref(body);
  up->origin = origin;
  Upload* raw = up.release();  // the callback owns it
  GTask* task = g_task_new(nullptr, nullptr, on_copied, raw);
  g_task_set_task_data(task, raw, nullptr);
  g_task_run_in_thread(task, copy_body);
  g_object_unref(task);
}
struct Serve {
  GObj<WebKitURISchemeRequest> request;
  int fd = -1;
  guint64 size = 0;
};

// Reads an offered file whole on a worker thread; the page then gets it
// from memory, in the engine's small reads, without a thread per read.
void read_offer(GTask* task, gpointer, gpointer data, GCancellable*) {
  auto* o = static_cast<Serve*>(data);
  if (o->size > G_MAXSIZE / 2)
    return g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_NO_SPACE,
                                   "the bytes are too large");
  size_t size = static_cast<size_t>(o->size);
  char* buf = static_cast<char*>(g_try_malloc(size ? size : 1));
  if (!buf) return g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_NO_SPACE, "out of memory");
  size_t got = 0;
  while (got < size) {
    ssize_t n = pread(o->fd, buf + got, size - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // a file cut short after the offer gives what it has
    got += static_cast<size_t>(n);
  }
  g_task_return_pointer(task, g_bytes_new_take(buf, got),
                        reinterpret_cast<GDestroyNotify>(g_bytes_unref));
}

void on_offer_read(GObject*, GAsyncResult* res, gpointer data) {
  std::unique_ptr<Serve> s(static_cast<Serve*>(data));
  close(s->fd);
  GError* raw = nullptr;
  auto* bytes = static_cast<GBytes*>(g_task_propagate_pointer(G_TASK(res), &raw));
  GErr err(raw);
  if (!bytes)
    return respond_error(s->request.get(), 500, err ? err->message : "cannot read the bytes");
  gint64 n = static_cast<gint64>(g_bytes_get_size(bytes));
  GObj<GInputStream> stream(g_memory_input_stream_new_from_bytes(bytes));
  g_bytes_unref(bytes);
  respond(s->request.get(), 200, "application/octet-stream", stream.get(), n);
}

void serve_offer(WebKitURISchemeRequest* req, std::string_view id) {
  auto* s = new Serve{gobj_ref(req)};
  s->fd = blob_take_offer(id, &s->size);
  if (s->fd < 0) {
    delete s;
    return respond_error(
        req, 404, "no such bytes (never offered, fetched already, or expired): " + std::string(id));
  }
  GTask* task = g_task_new(nullptr, nullptr, on_offer_read, s);
  g_task_set_task_data(task, s, nullptr);
  g_task_run_in_thread(task, read_offer);
  g_object_unref(task);
}

// ---- the scheme ----

void on_request(WebKitURISchemeRequest* req, gpointer) {
  const char* uri = webkit_uri_scheme_request_get_uri(req);
  std::string key = proxy_key_of(uri ? uri : "");
  const char* m = webkit_uri_scheme_request_get_http_method(req);
  std::string method = m ? m : "GET";
  const char* p = webkit_uri_scheme_request_get_path(req);
  std::string path = p ? p : "";
  SoupMessageHeaders* h = webkit_uri_scheme_request_get_http_headers(req);
  const char* accept = h ? soup_message_headers_get_one(h, "Accept") : nullptr;
  // Bytes are data for script, never a document something navigates to.
  if (key.empty() || (accept && std::strstr(accept, "text/html")))
    return respond_error(req, 403, "only the application's own pages may move bytes");
  // The engine gives the body only while the request is being handed over.
  std::shared_ptr<GInputStream> body;
  if (method == "POST")
    body.reset(webkit_uri_scheme_request_get_http_body(req), [](GInputStream* s) {
      if (s) g_object_unref(s);
    });
  auto hold = gobj_ref(req);
  await_document_key(
      key, [hold = std::shared_ptr<WebKitURISchemeRequest>(hold.release(), g_object_unref), method,
            path, body](bool found, const std::string& origin) {
        WebKitURISchemeRequest* r = hold.get();
        if (!found) return respond_error(r, 403, "only the application's own pages may move bytes");
        if (method == "POST" && (path == "/" || path.empty())) return start_upload(r, body.get(), origin);
        if (method == "GET" && path.size() > 1) {
          GChars id(g_uri_unescape_string(path.c_str() + 1, nullptr));
          if (id && blob_valid_id(id.get())) return serve_offer(r, id.get());
        }
        respond_error(r, 400, "not a bytes request: " + method + " " + path);
      });
}
}  // namespace
void blob_scheme_register() {
  webkit_web_context_register_uri_scheme(webkit_web_context_get_default(), "ovalis-blob",
                                         on_request, nullptr, nullptr);
}
