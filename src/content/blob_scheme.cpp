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

#include "content/content.h"
#include "content/media_rules.h"
#include "core/gobj.h"
#include "core/wire.h"

namespace {

constexpr guint64 kMaxUpload = guint64(1) << 30;
// Uploads still in the directory (the backend removes what it has read).
constexpr int kMaxWaitingUploads = 256;
// Offers the page has not fetched yet.
constexpr size_t kMaxOffers = 256;
constexpr gint64 kOfferLifeUs = 60 * G_USEC_PER_SEC;
constexpr size_t kCopyChunk = 1 << 20;

std::string g_blob_dir;

struct Offer {
  int fd = -1;
  guint64 size = 0;
  gint64 expires = 0;
};
std::map<std::string, Offer, std::less<>> g_blob_offers;
guint g_blob_sweep = 0;

void close_offer(Offer &o) {
  if (o.fd >= 0)
    close(o.fd);
  o.fd = -1;
}

bool valid_id(std::string_view id) {
  if (id.empty() || id.size() > 64)
    return false;
  for (char c : id)
    if (!g_ascii_isalnum(c) && c != '_' && c != '-')
      return false;
  return true;
}

std::string random_id() {
  unsigned char b[16];
  if (getrandom(b, sizeof b, 0) != static_cast<ssize_t>(sizeof b)) {
    for (auto &x : b)
      x = static_cast<unsigned char>(g_random_int());
  }
  std::string id = "u";
  static const char hex[] = "0123456789abcdef";
  for (unsigned char x : b) {
    id += hex[x >> 4];
    id += hex[x & 15];
  }
  return id;
}

// ---- answers ----

void respond(WebKitURISchemeRequest *req, int status, const std::string &type,
             GInputStream *body, gint64 length) {
  GObj<WebKitURISchemeResponse> resp(
      webkit_uri_scheme_response_new(body, length));
  webkit_uri_scheme_response_set_status(resp.get(), static_cast<guint>(status),
                                        nullptr);
  webkit_uri_scheme_response_set_content_type(resp.get(), type.c_str());
  SoupMessageHeaders *h =
      soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_append(h, "Content-Type", type.c_str());
  soup_message_headers_append(h, "Access-Control-Allow-Origin", "*");
  soup_message_headers_append(h, "Access-Control-Allow-Methods", "GET, POST");
  soup_message_headers_append(h, "Cache-Control", "no-store");
  soup_message_headers_append(h, "Content-Security-Policy", "sandbox");
  webkit_uri_scheme_response_set_http_headers(resp.get(),
                                              h); // takes the headers
  webkit_uri_scheme_request_finish_with_response(req, resp.get());
}

void respond_json(WebKitURISchemeRequest *req, int status,
                  const std::string &json) {
  GBytes *b = g_bytes_new(json.data(), json.size());
  GObj<GInputStream> s(g_memory_input_stream_new_from_bytes(b));
  g_bytes_unref(b);
  respond(req, status, "application/json", s.get(),
          static_cast<gint64>(json.size()));
}

void respond_error(WebKitURISchemeRequest *req, int status,
                   const std::string &message) {
  std::string json = "{\"message\":";
  json_escape_to(json, message);
  json += '}';
  respond_json(req, status, json);
}

// ---- the upload directory ----

const std::string &blob_dir() {
  if (!g_blob_dir.empty())
    return g_blob_dir;
  // Prefer the runtime directory: it is private to the user and in memory.
  const char *base = g_getenv("XDG_RUNTIME_DIR");
  if (!base || !*base || access(base, W_OK) != 0)
    base = g_get_tmp_dir();
  GChars tmpl(g_build_filename(base, "ovalis-blob-XXXXXX", nullptr));
  if (g_mkdtemp_full(tmpl.get(), 0700))
    g_blob_dir = tmpl.get();
  return g_blob_dir;
}

int waiting_uploads() {
  GDir *d = g_dir_open(g_blob_dir.c_str(), 0, nullptr);
  if (!d)
    return 0;
  int n = 0;
  while (g_dir_read_name(d))
    ++n;
  g_dir_close(d);
  return n;
}

struct Upload {
  GObj<WebKitURISchemeRequest> request;
  GObj<GInputStream> body;
  std::string id, path;
  int fd = -1;
};

// Copies the body into the file on a worker thread, so a big upload does
// not hold up the main loop; the result is the size, or -1 with an error.
void copy_body(GTask *task, gpointer, gpointer data, GCancellable *cancel) {
  auto *up = static_cast<Upload *>(data);
  std::unique_ptr<char[]> buf(new char[kCopyChunk]);
  guint64 total = 0;
  for (;;) {
    GError *raw = nullptr;
    gssize n = up->body ? g_input_stream_read(up->body.get(), buf.get(),
                                              kCopyChunk, cancel, &raw)
                        : 0;
    if (n < 0)
      return g_task_return_error(task, raw);
    if (n == 0)
      break;
    total += static_cast<guint64>(n);
    if (total > kMaxUpload)
      return g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_NO_SPACE,
                                     "the bytes are larger than 1 GiB");
    for (gssize done = 0; done < n;) {
      ssize_t w =
          write(up->fd, buf.get() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR)
        continue;
      if (w <= 0)
        return g_task_return_new_error(
            task, G_IO_ERROR, g_io_error_from_errno(errno),
            "cannot write the bytes: %s", g_strerror(errno));
      done += w;
    }
  }
  g_task_return_int(task, static_cast<gssize>(total));
}

void on_copied(GObject *, GAsyncResult *res, gpointer data) {
  std::unique_ptr<Upload> up(static_cast<Upload *>(data));
  GError *raw = nullptr;
  gssize size = g_task_propagate_int(G_TASK(res), &raw);
  GErr err(raw);
  close(up->fd);
  if (err) {
    unlink(up->path.c_str());
    return respond_error(
        up->request.get(),
        g_error_matches(err.get(), G_IO_ERROR, G_IO_ERROR_NO_SPACE) ? 413 : 500,
        err->message);
  }
  // The backend hears of the file before the page can name it in a call.
  std::string line = "BLOB {\"id\":\"" + up->id +
                     "\",\"size\":" + std::to_string(size) + ",\"path\":";
  json_escape_to(line, up->path);
  line += '}';
  pipe_write_line(line);
  respond_json(up->request.get(), 200,
               "{\"id\":\"" + up->id + "\",\"size\":" + std::to_string(size) +
                   "}");
}

void start_upload(WebKitURISchemeRequest *req) {
  if (blob_dir().empty())
    return respond_error(req, 500, "no directory for the bytes");
  if (waiting_uploads() >= kMaxWaitingUploads)
    return respond_error(req, 507,
                         "too many bytes are waiting for the backend");
  auto up = std::make_unique<Upload>();
  up->request = gobj_ref(req);
  up->body.reset(webkit_uri_scheme_request_get_http_body(req));
  up->id = random_id();
  up->path = g_blob_dir + "/" + up->id;
  up->fd =
      open(up->path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (up->fd < 0)
    return respond_error(
        req, 500, std::string("cannot store the bytes: ") + g_strerror(errno));
  Upload *raw = up.release(); // the callback owns it
  GTask *task = g_task_new(nullptr, nullptr, on_copied, raw);
  g_task_set_task_data(task, raw, nullptr);
  g_task_run_in_thread(task, copy_body);
  g_object_unref(task);
}

// ---- offers ----

void sweep_offers() {
  gint64 now = g_get_monotonic_time();
  for (auto it = g_blob_offers.begin(); it != g_blob_offers.end();) {
    if (it->second.expires <= now) {
      close_offer(it->second);
      it = g_blob_offers.erase(it);
    } else {
      ++it;
    }
  }
}

gboolean on_sweep(gpointer) {
  sweep_offers();
  if (!g_blob_offers.empty())
    return G_SOURCE_CONTINUE;
  g_blob_sweep = 0;
  return G_SOURCE_REMOVE;
}

void drop_oldest_offer() {
  auto oldest = g_blob_offers.begin();
  for (auto it = g_blob_offers.begin(); it != g_blob_offers.end(); ++it)
    if (it->second.expires < oldest->second.expires)
      oldest = it;
  if (oldest == g_blob_offers.end())
    return;
  close_offer(oldest->second);
  g_blob_offers.erase(oldest);
}

// Reads an offered file whole on a worker thread; the page then gets it
// from memory, in the engine's small reads, without a thread per read.
void read_offer(GTask *task, gpointer, gpointer data, GCancellable *) {
  auto *o = static_cast<Offer *>(data);
  if (o->size > G_MAXSIZE / 2)
    return g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_NO_SPACE,
                                   "the bytes are too large");
  size_t size = static_cast<size_t>(o->size);
  char *buf = static_cast<char *>(g_try_malloc(size ? size : 1));
  if (!buf)
    return g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_NO_SPACE,
                                   "out of memory");
  size_t got = 0;
  while (got < size) {
    ssize_t n = pread(o->fd, buf + got, size - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break; // a file cut short after the offer gives what it has
    got += static_cast<size_t>(n);
  }
  g_task_return_pointer(task, g_bytes_new_take(buf, got),
                        reinterpret_cast<GDestroyNotify>(g_bytes_unref));
}

struct Serve {
  GObj<WebKitURISchemeRequest> request;
  Offer offer;
};

void on_offer_read(GObject *, GAsyncResult *res, gpointer data) {
  std::unique_ptr<Serve> s(static_cast<Serve *>(data));
  close_offer(s->offer);
  GError *raw = nullptr;
  auto *bytes =
      static_cast<GBytes *>(g_task_propagate_pointer(G_TASK(res), &raw));
  GErr err(raw);
  if (!bytes)
    return respond_error(s->request.get(), 500,
                         err ? err->message : "cannot read the bytes");
  gint64 n = static_cast<gint64>(g_bytes_get_size(bytes));
  GObj<GInputStream> stream(g_memory_input_stream_new_from_bytes(bytes));
  g_bytes_unref(bytes);
  respond(s->request.get(), 200, "application/octet-stream", stream.get(), n);
}

void serve_offer(WebKitURISchemeRequest *req, std::string_view id) {
  sweep_offers();
  auto it = g_blob_offers.find(id);
  if (it == g_blob_offers.end())
    return respond_error(
        req, 404,
        "no such bytes (never offered, fetched already, or expired): " +
            std::string(id));
  auto *s = new Serve{gobj_ref(req), it->second};
  g_blob_offers.erase(it); // served once
  GTask *task = g_task_new(nullptr, nullptr, on_offer_read, s);
  g_task_set_task_data(task, &s->offer, nullptr);
  g_task_run_in_thread(task, read_offer);
  g_object_unref(task);
}

// ---- the scheme ----

void on_request(WebKitURISchemeRequest *req, gpointer) {
  const char *uri = webkit_uri_scheme_request_get_uri(req);
  std::string key = proxy_key_of(uri ? uri : "");
  const char *m = webkit_uri_scheme_request_get_http_method(req);
  std::string method = m ? m : "GET";
  const char *p = webkit_uri_scheme_request_get_path(req);
  std::string path = p ? p : "";
  SoupMessageHeaders *h = webkit_uri_scheme_request_get_http_headers(req);
  const char *accept = h ? soup_message_headers_get_one(h, "Accept") : nullptr;
  // Bytes are data for script, never a document something navigates to.
  if (key.empty() || (accept && std::strstr(accept, "text/html")))
    return respond_error(req, 403,
                         "only the application's own pages may move bytes");
  auto hold = gobj_ref(req);
  await_document_key(key, [hold = std::shared_ptr<WebKitURISchemeRequest>(
                               hold.release(), g_object_unref),
                           method, path](bool found, const std::string &) {
    WebKitURISchemeRequest *r = hold.get();
    if (!found)
      return respond_error(r, 403,
                           "only the application's own pages may move bytes");
    if (method == "POST" && (path == "/" || path.empty()))
      return start_upload(r);
    if (method == "GET" && path.size() > 1) {
      GChars id(g_uri_unescape_string(path.c_str() + 1, nullptr));
      if (id && valid_id(id.get()))
        return serve_offer(r, id.get());
    }
    respond_error(r, 400, "not a bytes request: " + method + " " + path);
  });
}

bool remove_tree(const std::string &dir) {
  GDir *d = g_dir_open(dir.c_str(), 0, nullptr);
  if (!d)
    return false;
  while (const char *name = g_dir_read_name(d))
    unlink((dir + "/" + name).c_str());
  g_dir_close(d);
  return rmdir(dir.c_str()) == 0;
}

} // namespace

void do_blob(std::string_view rest) {
  size_t a = rest.find(' ');
  size_t b = a == std::string_view::npos ? a : rest.find(' ', a + 1);
  if (b == std::string_view::npos) {
    std::fputs("ovalis: BLOB: expected \"BLOB <id> <mode> <path>\"\n", stderr);
    return;
  }
  std::string_view id = rest.substr(0, a), mode = rest.substr(a + 1, b - a - 1);
  std::string path = wire_unescape(rest.substr(b + 1));
  if (!valid_id(id) || (mode != "move" && mode != "keep") || path.empty() ||
      path[0] != '/') {
    std::fprintf(
        stderr, "ovalis: BLOB: bad id, mode or path in \"BLOB %.*s\"\n",
        static_cast<int>(std::min<size_t>(rest.size(), 200)), rest.data());
    return;
  }
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "ovalis: BLOB: cannot open %s as a regular file: %s\n",
                 path.c_str(),
                 fd < 0 ? g_strerror(errno) : "not a regular file");
    if (fd >= 0)
      close(fd);
    return;
  }
  if (mode == "move") {
    // Only the file that was opened goes, never one put there since.
    struct stat now {};
    if (lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev &&
        now.st_ino == st.st_ino)
      unlink(path.c_str());
  }
  sweep_offers();
  auto old = g_blob_offers.find(id);
  if (old != g_blob_offers.end()) {
    close_offer(old->second);
    g_blob_offers.erase(old);
  }
  while (g_blob_offers.size() >= kMaxOffers)
    drop_oldest_offer();
  g_blob_offers.emplace(std::string(id),
                        Offer{fd, static_cast<guint64>(st.st_size),
                              g_get_monotonic_time() + kOfferLifeUs});
  if (!g_blob_sweep)
    g_blob_sweep = g_timeout_add_seconds(10, on_sweep, nullptr);
}

void blob_scheme_register() {
  webkit_web_context_register_uri_scheme(webkit_web_context_get_default(),
                                         "ovalis-blob", on_request, nullptr,
                                         nullptr);
}

void blob_stop() {
  if (!g_blob_dir.empty())
    remove_tree(g_blob_dir);
}
