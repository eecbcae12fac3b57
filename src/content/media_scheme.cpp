// The "ovalis-media" scheme: fetches remote http(s) media natively and
// streams it back to the page as a same-scheme response with permissive
// CORS, so pages can feed remote streams into their own audio processing.
#include <libsoup/soup.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "content/content.h"
#include "content/media_pacing.h"
#include "content/media_rules.h"
#include "core/gobj.h"
#include "webview/webview.h"

namespace {

SoupSession* g_media_session = nullptr;

// Stands for an unknown, open-ended length, so the web view keeps reading.
constexpr gint64 kOpenEnded = gint64(1) << 40;

constexpr const char* kRefused = "ovalis.proxyURL: this origin may not use the media proxy";

void finish_error(WebKitURISchemeRequest* req, const char* message) {
  GErr err(g_error_new_literal(WEBKIT_NETWORK_ERROR, 1, message));
  webkit_uri_scheme_request_finish_error(req, err.get());
}

void refuse(WebKitURISchemeRequest* req, const std::string& origin, const char* reason) {
  media_proxy_note_refusal(origin, reason);
  finish_error(req, kRefused);
}

struct MediaFetch {
  GObj<WebKitURISchemeRequest> request;
  GObj<SoupMessage> message;
};

void on_sent(GObject* source, GAsyncResult* res, gpointer data) {
  std::unique_ptr<MediaFetch> fetch(static_cast<MediaFetch*>(data));
  GError* raw = nullptr;
  GObj<GInputStream> body(soup_session_send_finish(SOUP_SESSION(source), res, &raw));
  GErr err(raw);
  if (!body) {
    webkit_uri_scheme_request_finish_error(fetch->request.get(), err.get());
    return;
  }
  gint64 length = kOpenEnded;
  std::string type = "application/octet-stream";
  SoupMessageHeaders* up =
      fetch->message ? soup_message_get_response_headers(fetch->message.get()) : nullptr;
  if (up) {
    // A decoded body is longer than the encoded length the upstream named.
    const char* enc = soup_message_headers_get_one(up, "Content-Encoding");
    bool decoded = enc && *enc && g_ascii_strcasecmp(enc, "identity") != 0;
    goffset n = soup_message_headers_get_content_length(up);
    if (n >= 1 && !decoded) length = n;
    const char* ct = soup_message_headers_get_one(up, "Content-Type");
    if (ct && *ct) type = ct;
  }
  GObj<GInputStream> paced(
      media_paced_stream_new(body.get(), webkit_uri_scheme_request_get_web_view(fetch->request.get())));
  GObj<WebKitURISchemeResponse> resp(webkit_uri_scheme_response_new(paced.get(), length));
  webkit_uri_scheme_response_set_status(resp.get(), 200, nullptr);
  webkit_uri_scheme_response_set_content_type(resp.get(), type.c_str());
  SoupMessageHeaders* extra = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_append(extra, "Content-Type", type.c_str());
  soup_message_headers_append(extra, "Access-Control-Allow-Origin", "*");
  soup_message_headers_append(extra, "Content-Security-Policy", "sandbox");
  webkit_uri_scheme_response_set_http_headers(resp.get(), extra);  // takes the headers
  webkit_uri_scheme_request_finish_with_response(fetch->request.get(), resp.get());
}

}  // namespace

bool media_trusted(std::string_view key, std::string_view origin) {
  static const std::vector<MediaRule> rules = [] {
    const char* env = std::getenv("OVALIS_MEDIA_ORIGINS");
    return parse_media_rules(env ? env : "");
  }();
  return media_rules_trust(rules, key, origin);
}

namespace {

void start_fetch(WebKitURISchemeRequest* req) {
  std::string target = media_proxy_target(webkit_uri_scheme_request_get_uri(req));
  if (target.empty()) return finish_error(req, "bad ovalis-media url");
  GObj<SoupMessage> msg(soup_message_new("GET", target.c_str()));
  if (!msg) return finish_error(req, "bad ovalis-media url");

  auto* fetch = new MediaFetch{gobj_ref(req), gobj_ref(msg.get())};
  soup_session_send_async(media_proxy_session(), msg.get(), G_PRIORITY_DEFAULT, nullptr, on_sent,
                          fetch);
}

void on_admitted(WebKitURISchemeRequest* req, bool trusted, const std::string& origin) {
  if (!trusted)
    return refuse(req, origin,
                  " (not trusted: allow media.proxy in ovalis.json \"api\".origins)");
  start_fetch(req);
}

}  // namespace

void media_proxy_note_refusal(const std::string& origin, const char* reason) {
  std::fprintf(stderr, "ovalis: ovalis-media proxy refused for %s%s\n", origin.c_str(), reason);
}

std::string media_proxy_target(const char* uri) {
  const char* u = uri ? std::strstr(uri, "u=") : nullptr;
  GChars target(u ? g_uri_unescape_string(u + 2, nullptr) : nullptr);
  if (!target || (!g_str_has_prefix(target.get(), "http://") &&
                  !g_str_has_prefix(target.get(), "https://")))
    return {};
  return target.get();
}

SoupSession* media_proxy_session() {
  // A media element holds a connection per range it reads and opens the
  // next before the last has closed; the default of two per host would
  // queue a seek behind them.
  if (!g_media_session)
    g_media_session = soup_session_new_with_options("max-conns-per-host", 16, "max-conns", 64, nullptr);
  return g_media_session;
}

void media_scheme_cb(WebKitURISchemeRequest* req, gpointer) {
  SoupMessageHeaders* h = webkit_uri_scheme_request_get_http_headers(req);
  const char* accept = h ? soup_message_headers_get_one(h, "Accept") : nullptr;
  // The proxy serves media, never a document a frame navigates to.
  if (accept && std::strstr(accept, "text/html"))
    return refuse(req, media_request_origin(req), " (document load)");
  media_proxy_admit(req, on_admitted);
}

void media_scheme_register() {
  WebKitWebContext* ctx = webkit_web_context_get_default();
  webkit_web_context_register_uri_scheme(ctx, "ovalis-media", media_scheme_cb, nullptr, nullptr);
  media_http_start();
}
