// Who may use the media proxy. The proxy fetches any address, so it serves
// only requests that come from a trusted document: an address made by
// ovalis.proxyURL carries the key of the document that made it, which
// embedded frames never see; a request without a key is judged by the
// Origin the engine puts on it, and one with neither (an image, a media
// element or a stylesheet inside an embedded frame) is refused, because its
// frame cannot be told from the page itself.
#include <libsoup/soup.h>

#include <cstring>
#include <memory>
#include <string>

#include "content/content.h"
#include "content/media_rules.h"
#include "core/gobj.h"
#include "webview/webview.h"

namespace {

// A page may build proxied addresses before launcher has learnt its key
// (the key arrives with the call token, just after the load commits).
constexpr guint kKeyPollMs = 40;
constexpr gint64 kKeyWaitUs = 3 * G_USEC_PER_SEC;

struct KeyWait {
  std::string key;
  gint64 deadline;
  KeyFound done;
};

std::string header(WebKitURISchemeRequest* req, const char* name) {
  SoupMessageHeaders* h = webkit_uri_scheme_request_get_http_headers(req);
  const char* v = h ? soup_message_headers_get_one(h, name) : nullptr;
  return v ? v : "";
}

// A key names its document; an Origin, when the engine sends one, must not
// contradict it (a frame that was handed an address is judged by itself).
bool judge_keyed(const std::string& o, const std::string& doc_origin) {
  if (!media_trusted("proxy", doc_origin)) return false;
  return o.empty() || o == "null" || o == doc_origin || media_trusted("proxy", o);
}

gboolean on_key_poll(gpointer data) {
  auto* w = static_cast<KeyWait*>(data);
  std::string origin;
  if (proxy_key_origin(w->key, &origin)) {
    w->done(true, origin);
    return G_SOURCE_REMOVE;
  }
  if (g_get_monotonic_time() < w->deadline) return G_SOURCE_CONTINUE;
  w->done(false, "an unknown document");
  return G_SOURCE_REMOVE;
}

}  // namespace

void await_document_key(const std::string& key, KeyFound done) {
  std::string origin;
  if (proxy_key_origin(key, &origin)) return done(true, origin);
  auto* w = new KeyWait{key, g_get_monotonic_time() + kKeyWaitUs, std::move(done)};
  g_timeout_add_full(G_PRIORITY_DEFAULT, kKeyPollMs, on_key_poll, w,
                     [](gpointer p) { delete static_cast<KeyWait*>(p); });
}

std::string media_request_origin(WebKitURISchemeRequest* req) {
  std::string o = header(req, "Origin");
  if (!o.empty()) return o;
  return committed_origin(webkit_uri_scheme_request_get_web_view(req));
}

void media_proxy_judge(std::string_view uri, const std::string& o,
                       std::function<void(bool trusted, const std::string& origin)> done) {
  std::string key = proxy_key_of(uri);
  if (!key.empty()) {
    return await_document_key(key,
                              [o, done = std::move(done)](bool found, const std::string& origin) {
                                done(found && judge_keyed(o, origin), origin);
                              });
  }
  if (!o.empty() && o != "null") return done(media_trusted("proxy", o), o);
  done(false, o.empty() ? "a request without origin or key" : o);
}

void media_proxy_admit(WebKitURISchemeRequest* req, MediaAdmitted done) {
  const char* uri = webkit_uri_scheme_request_get_uri(req);
  std::shared_ptr<WebKitURISchemeRequest> hold(
      static_cast<WebKitURISchemeRequest*>(g_object_ref(req)), g_object_unref);
  media_proxy_judge(
      uri ? uri : "", header(req, "Origin"),
      [hold, done](bool trusted, const std::string& origin) { done(hold.get(), trusted, origin); });
}
