// The media proxy on a loopback HTTP port. The engine hands media element
// addresses to its media player, which loads only http(s), blob and file
// addresses: on an "ovalis-media" address it gives up with a format error
// (after one small request to sniff the type), whatever the scheme's
// registration or answer. So the same proxy is served here too, on
// 127.0.0.1, under a path secret to this run (other local processes cannot
// use it), with the same trust decision; ovalis.proxyURL gives this
// address. Media players ask for byte ranges, so ranges are passed
// upstream, or answered by skipping through a body that the upstream sends
// whole. Bodies are relayed with at most two chunks in hand, one being read
// while the other is written: a page that stops reading stops the upstream
// too, and a page that goes away closes it.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/random.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "content/content.h"
#include "content/media_range.h"
#include "content/media_rules.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "webview/webview.h"

namespace {

GSocketService* g_mhttp_service = nullptr;
guint16 g_mhttp_port = 0;
std::string g_mhttp_secret;
int g_mhttp_open = 0;

constexpr size_t kHeadMax = 16 << 10;
constexpr size_t kChunk = 256 << 10;
// Connections at once; beyond this a request is turned away.
constexpr int kMaxOpen = 64;
// Seconds a client may take to send its request head.
constexpr guint kHeadTimeout = 15;

struct Relay {
  GObj<GSocketConnection> conn;
  std::string head;
  char rbuf[4096];
  GObj<GCancellable> cancel{g_cancellable_new()};
  GObj<SoupMessage> msg;
  GObj<GInputStream> body;
  std::optional<ByteRange> asked;
  std::string target;  // the request's path and query
  bool head_only = false;
  bool chunked = false;
  uint64_t skip = 0;
  int64_t left = -1;  // body bytes still to send; -1 until the upstream ends
  // Two buffers: one being written to the page, one being filled.
  std::vector<char> buf[2];
  int fill_idx = 0;
  const char* ready = nullptr;  // a read chunk waiting for the write to finish
  size_t ready_len = 0;
  bool reading = false, writing = false, eof = false, failed = false;
  std::string out;    // response head or chunk framing being written
  char frame[24];
  GOutputVector vec[3];

  GInputStream* in() { return g_io_stream_get_input_stream(G_IO_STREAM(conn.get())); }
  GOutputStream* out_stream() { return g_io_stream_get_output_stream(G_IO_STREAM(conn.get())); }
};

std::string random_key() {
  unsigned char b[16];
  size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = getrandom(b + got, sizeof b - got, 0);
    if (n <= 0) return {};
    got += static_cast<size_t>(n);
  }
  static const char hex[] = "0123456789abcdef";
  std::string k;
  for (unsigned char c : b) {
    k += hex[c >> 4];
    k += hex[c & 15];
  }
  return k;
}

void relay_end(Relay* r) {
  g_cancellable_cancel(r->cancel.get());
  if (r->body) g_input_stream_close_async(r->body.get(), G_PRIORITY_DEFAULT, nullptr, nullptr, nullptr);
  g_io_stream_close(G_IO_STREAM(r->conn.get()), nullptr, nullptr);
  --g_mhttp_open;
  delete r;
}

const char* reason_phrase(int status) {
  const char* p = soup_status_get_phrase(static_cast<guint>(status));
  return p ? p : "Status";
}

std::string head_line(int status) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason_phrase(status) + "\r\n";
}

void on_final_write(GObject* src, GAsyncResult* res, gpointer data) {
  g_output_stream_write_all_finish(G_OUTPUT_STREAM(src), res, nullptr, nullptr);
  relay_end(static_cast<Relay*>(data));
}

// A complete small answer, after which the connection closes.
void respond_text(Relay* r, int status, const std::string& text) {
  r->out = head_line(status);
  r->out += "Content-Type: text/plain; charset=utf-8\r\nAccess-Control-Allow-Origin: *\r\n"
            "Content-Length: " + std::to_string(text.size()) + "\r\nConnection: close\r\n\r\n";
  if (!r->head_only) r->out += text;
  g_output_stream_write_all_async(r->out_stream(), r->out.data(), r->out.size(), G_PRIORITY_DEFAULT,
                                  nullptr, on_final_write, r);
}

void pump(Relay* r);

void on_chunk_written(GObject* src, GAsyncResult* res, gpointer data) {
  auto* r = static_cast<Relay*>(data);
  GError* raw = nullptr;
  bool ok = r->chunked ? g_output_stream_writev_all_finish(G_OUTPUT_STREAM(src), res, nullptr, &raw)
                       : g_output_stream_write_all_finish(G_OUTPUT_STREAM(src), res, nullptr, &raw);
  GErr err(raw);
  r->writing = false;
  if (!ok) {
    // The page closed the connection: the element went away or seeks
    // elsewhere. The upstream is dropped with it.
    r->failed = true;
    g_cancellable_cancel(r->cancel.get());
  }
  pump(r);
}

void send_bytes(Relay* r, const char* p, size_t n) {
  r->writing = true;
  if (!r->chunked) {
    g_output_stream_write_all_async(r->out_stream(), p, n, G_PRIORITY_DEFAULT, nullptr,
                                    on_chunk_written, r);
    return;
  }
  int len = std::snprintf(r->frame, sizeof r->frame, "%zx\r\n", n);
  r->vec[0] = {r->frame, static_cast<gsize>(len)};
  r->vec[1] = {p, n};
  r->vec[2] = {"\r\n", 2};
  g_output_stream_writev_all_async(r->out_stream(), r->vec, 3, G_PRIORITY_DEFAULT, nullptr,
                                   on_chunk_written, r);
}

void on_body_read(GObject* src, GAsyncResult* res, gpointer data) {
  auto* r = static_cast<Relay*>(data);
  GError* raw = nullptr;
  gssize n = g_input_stream_read_finish(G_INPUT_STREAM(src), res, &raw);
  GErr err(raw);
  r->reading = false;
  if (n < 0) {
    // Closing without the final chunk, or short of the length, tells the
    // page the body was cut off rather than complete.
    r->failed = true;
  } else if (n == 0) {
    r->eof = true;
  } else {
    const char* p = r->buf[r->fill_idx].data();
    size_t len = static_cast<size_t>(n);
    if (r->skip > 0) {
      size_t drop = static_cast<size_t>(std::min<uint64_t>(r->skip, len));
      r->skip -= drop;
      p += drop;
      len -= drop;
    }
    if (r->left >= 0 && static_cast<uint64_t>(len) > static_cast<uint64_t>(r->left))
      len = static_cast<size_t>(r->left);
    if (r->left > 0) r->left -= static_cast<int64_t>(len);
    r->ready = p;
    r->ready_len = len;
  }
  pump(r);
}

// Reads the next chunk while the last one is being written, so the
// upstream and the page both keep moving; never more than two chunks are
// held, so a page that stops reading stops the upstream.
void pump(Relay* r) {
  if (r->failed) {
    if (!r->reading && !r->writing) relay_end(r);
    return;
  }
  if (!r->writing && r->ready) {
    const char* p = r->ready;
    size_t n = r->ready_len;
    r->ready = nullptr;
    r->fill_idx ^= 1;  // the next read goes to the other buffer
    if (n > 0) send_bytes(r, p, n);
  }
  bool done = r->eof || r->left == 0;
  if (!r->reading && !r->ready && !done) {
    r->reading = true;
    std::vector<char>& b = r->buf[r->fill_idx];
    if (b.empty()) b.resize(kChunk);
    g_input_stream_read_async(r->body.get(), b.data(), b.size(), G_PRIORITY_DEFAULT,
                              r->cancel.get(), on_body_read, r);
    return;
  }
  if (done && !r->reading && !r->writing && !r->ready) {
    if (r->eof && r->chunked) {
      r->out = "0\r\n\r\n";
      g_output_stream_write_all_async(r->out_stream(), r->out.data(), r->out.size(),
                                      G_PRIORITY_DEFAULT, nullptr, on_final_write, r);
      return;
    }
    // A body that ended short of its length closes short of it too.
    relay_end(r);
  }
}

void on_head_written(GObject* src, GAsyncResult* res, gpointer data) {
  auto* r = static_cast<Relay*>(data);
  if (!g_output_stream_write_all_finish(G_OUTPUT_STREAM(src), res, nullptr, nullptr) ||
      r->head_only || r->left == 0)
    return relay_end(r);
  pump(r);
}

void on_upstream(GObject* src, GAsyncResult* res, gpointer data) {
  auto* r = static_cast<Relay*>(data);
  GError* raw = nullptr;
  r->body.reset(soup_session_send_finish(SOUP_SESSION(src), res, &raw));
  GErr err(raw);
  if (!r->body) {
    if (g_error_matches(err.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return relay_end(r);
    return respond_text(r, 502, err ? err->message : "upstream failed");
  }
  SoupMessageHeaders* up = soup_message_get_response_headers(r->msg.get());
  UpstreamHead uh;
  uh.status = static_cast<int>(soup_message_get_status(r->msg.get()));
  std::string type = "application/octet-stream";
  if (up) {
    const char* enc = soup_message_headers_get_one(up, "Content-Encoding");
    bool decoded = enc && *enc && g_ascii_strcasecmp(enc, "identity") != 0;
    if (!decoded && soup_message_headers_get_encoding(up) == SOUP_ENCODING_CONTENT_LENGTH)
      uh.length = soup_message_headers_get_content_length(up);
    if (const char* cr = soup_message_headers_get_one(up, "Content-Range")) uh.content_range = cr;
    const char* ct = soup_message_headers_get_one(up, "Content-Type");
    if (ct && *ct) type = ct;
  }
  ProxyPlan plan = plan_proxy_reply(r->asked, uh);
  r->skip = plan.skip;
  r->left = plan.length;
  r->chunked = plan.length < 0;

  r->out = head_line(plan.status);
  r->out += "Content-Type: " + type + "\r\n";
  r->out += "Access-Control-Allow-Origin: *\r\n"
            "Access-Control-Expose-Headers: Accept-Ranges, Content-Range, Content-Length\r\n"
            "Content-Security-Policy: sandbox\r\n"
            "Cache-Control: no-store\r\n";
  r->out += plan.ranges ? "Accept-Ranges: bytes\r\n" : "Accept-Ranges: none\r\n";
  if (!plan.content_range.empty()) r->out += "Content-Range: " + plan.content_range + "\r\n";
  r->out += r->chunked ? std::string("Transfer-Encoding: chunked\r\n")
                       : "Content-Length: " + std::to_string(plan.length) + "\r\n";
  r->out += "Connection: close\r\n\r\n";
  g_output_stream_write_all_async(r->out_stream(), r->out.data(), r->out.size(), G_PRIORITY_DEFAULT,
                                  nullptr, on_head_written, r);
}

void start_upstream(Relay* r);

// Whether a path starts with "/<secret>/", compared in constant time so
// that the answer's timing tells a local prober nothing about the secret.
bool secret_path(std::string_view p) {
  size_t n = g_mhttp_secret.size();
  if (p.size() < n + 2 || p[0] != '/' || p[n + 1] != '/') return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(p[i + 1] ^ g_mhttp_secret[i]);
  return diff == 0;
}

void handle_request(Relay* r, size_t head_end) {
  GSocket* sock = g_socket_connection_get_socket(r->conn.get());
  g_socket_set_timeout(sock, 0);
  SoupMessageHeaders* h = soup_message_headers_new(SOUP_MESSAGE_HEADERS_REQUEST);
  char* method_raw = nullptr;
  char* path_raw = nullptr;
  SoupHTTPVersion ver;
  guint st = soup_headers_parse_request(r->head.data(), static_cast<int>(head_end + 2), h,
                                        &method_raw, &path_raw, &ver);
  GChars method(method_raw), path(path_raw);
  std::unique_ptr<SoupMessageHeaders, void (*)(SoupMessageHeaders*)> hold(
      h, soup_message_headers_unref);
  if (st != SOUP_STATUS_OK || !method || !path) return respond_text(r, 400, "bad request");

  if (std::strcmp(method.get(), "OPTIONS") == 0) {
    r->out = head_line(204);
    r->out += "Access-Control-Allow-Origin: *\r\nAccess-Control-Allow-Methods: GET, HEAD\r\n"
              "Access-Control-Allow-Headers: Range\r\nAccess-Control-Max-Age: 600\r\n"
              "Content-Length: 0\r\nConnection: close\r\n\r\n";
    g_output_stream_write_all_async(r->out_stream(), r->out.data(), r->out.size(),
                                    G_PRIORITY_DEFAULT, nullptr, on_final_write, r);
    return;
  }
  r->head_only = std::strcmp(method.get(), "HEAD") == 0;
  if (!r->head_only && std::strcmp(method.get(), "GET") != 0)
    return respond_text(r, 405, "method not allowed");

  // "/<secret>/?k=<document key>&u=<address>"
  std::string_view p = path.get();
  if (!secret_path(p)) return respond_text(r, 404, "not found");

  const char* o = soup_message_headers_get_one(h, "Origin");
  std::string origin_header = o ? o : "";
  const char* accept = soup_message_headers_get_one(h, "Accept");
  if (accept && std::strstr(accept, "text/html")) {
    // The proxy serves media, never a document a frame navigates to.
    std::string origin = origin_header;
    if (origin.empty() && !proxy_key_origin(proxy_key_of(p), &origin)) origin = "null";
    media_proxy_note_refusal(origin, " (document load)");
    return relay_end(r);
  }
  if (const char* range = soup_message_headers_get_one(h, "Range")) r->asked = parse_byte_range(range);
  r->target = p;
  media_proxy_judge(p, origin_header, [r](bool trusted, const std::string& origin) {
    if (!trusted) {
      // Refused and bad targets end the connection unanswered: the page
      // sees a failed load, as it does on the scheme, and learns no more.
      media_proxy_note_refusal(
          origin, " (not trusted: allow media.proxy in ovalis.json \"api\".origins)");
      return relay_end(r);
    }
    start_upstream(r);
  });
}

void start_upstream(Relay* r) {
  std::string target = media_proxy_target(r->target.c_str());
  if (!target.empty()) r->msg.reset(soup_message_new("GET", target.c_str()));
  if (!r->msg) return relay_end(r);

  SoupMessageHeaders* uph = soup_message_get_request_headers(r->msg.get());
  // Lengths and ranges count the bytes as sent, so bodies come unencoded.
  soup_message_headers_replace(uph, "Accept-Encoding", "identity");
  if (r->asked) soup_message_headers_replace(uph, "Range", byte_range_header(*r->asked).c_str());
  soup_session_send_async(media_proxy_session(), r->msg.get(), G_PRIORITY_DEFAULT, r->cancel.get(),
                          on_upstream, r);
}

void read_head(Relay* r);

void on_head_read(GObject* src, GAsyncResult* res, gpointer data) {
  auto* r = static_cast<Relay*>(data);
  gssize n = g_input_stream_read_finish(G_INPUT_STREAM(src), res, nullptr);
  if (n <= 0) return relay_end(r);
  size_t from = r->head.size() < 3 ? 0 : r->head.size() - 3;
  r->head.append(r->rbuf, static_cast<size_t>(n));
  size_t end = r->head.find("\r\n\r\n", from);
  if (end != std::string::npos) return handle_request(r, end);
  if (r->head.size() > kHeadMax) return respond_text(r, 431, "request head too large");
  read_head(r);
}

void read_head(Relay* r) {
  g_input_stream_read_async(r->in(), r->rbuf, sizeof r->rbuf, G_PRIORITY_DEFAULT, nullptr,
                            on_head_read, r);
}

gboolean on_incoming(GSocketService*, GSocketConnection* conn, GObject*, gpointer) {
  auto* r = new Relay{gobj_ref(conn)};
  ++g_mhttp_open;
  if (g_mhttp_open > kMaxOpen) {
    r->out = head_line(503) + "Content-Length: 0\r\nConnection: close\r\n\r\n";
    g_output_stream_write_all_async(r->out_stream(), r->out.data(), r->out.size(),
                                    G_PRIORITY_DEFAULT, nullptr, on_final_write, r);
    return TRUE;
  }
  GSocket* sock = g_socket_connection_get_socket(conn);
  g_socket_set_timeout(sock, kHeadTimeout);
  // The head and each chunk go out as soon as they are written.
  g_socket_set_option(sock, IPPROTO_TCP, TCP_NODELAY, 1, nullptr);
  read_head(r);
  return TRUE;
}

// Every page in the view learns the proxy's address before its own
// scripts run.
void give_view_address(WebKitWebView* view) {
  if (!g_mhttp_service) return;
  WebKitUserContentManager* ucm = webkit_web_view_get_user_content_manager(view);
  if (!ucm || g_object_get_data(G_OBJECT(ucm), "ovalis-media-base")) return;
  g_object_set_data(G_OBJECT(ucm), "ovalis-media-base", GINT_TO_POINTER(1));
  std::string base = "http://127.0.0.1:" + std::to_string(g_mhttp_port) + "/" + g_mhttp_secret + "/";
  std::string js = "window.__OVALIS_MEDIA_BASE=" + json_escape(base) + ";";
  WebKitUserScript* s = webkit_user_script_new(js.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
                                               nullptr, nullptr);
  webkit_user_content_manager_add_script(ucm, s);
  webkit_user_script_unref(s);
}

}  // namespace

void media_http_start() {
  if (g_mhttp_service) return;
  g_mhttp_secret = random_key();
  if (g_mhttp_secret.empty()) return;
  GObj<GSocketService> service(g_socket_service_new());
  GObj<GInetAddress> lo(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
  GObj<GSocketAddress> addr(g_inet_socket_address_new(lo.get(), 0));
  GSocketAddress* bound = nullptr;
  GError* raw = nullptr;
  if (!g_socket_listener_add_address(G_SOCKET_LISTENER(service.get()), addr.get(),
                                     G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr, &bound,
                                     &raw)) {
    GErr err(raw);
    // Pages keep the "ovalis-media" scheme, which serves fetch.
    std::fprintf(stderr, "ovalis: media proxy: no loopback port: %s\n", err ? err->message : "?");
    return;
  }
  GObj<GSocketAddress> hold(bound);
  g_mhttp_port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
  g_signal_connect(service.get(), "incoming", G_CALLBACK(on_incoming), nullptr);
  g_socket_service_start(service.get());
  g_mhttp_service = service.release();
  add_view_setup(give_view_address);
}
