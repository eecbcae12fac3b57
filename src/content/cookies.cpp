// "COOKIES": get, set and delete on the shared cookie store that every web
// view uses. The engine works asynchronously; each operation answers with
// one GOT line when it has finished.
#include <libsoup/soup.h>

#include <cstdlib>
#include <memory>

#include "content/content.h"
#include "core/dispatch.h"
#include "core/gobj.h"
#include "core/wire.h"

namespace {

struct CookieOp {
  std::string reqid;
  std::string name;
  std::string domain;
  std::string path;
  int remaining = 0;
  int total = 0;
};

WebKitCookieManager* cookie_manager() {
  WebKitWebsiteDataManager* dm =
      webkit_web_context_get_website_data_manager(webkit_web_context_get_default());
  return webkit_website_data_manager_get_cookie_manager(dm);
}

void answer_error(const CookieOp& op, const GError* err, const char* fallback) {
  got_unsupported(op.reqid, err && err->message && *err->message ? err->message : fallback);
}

void cookie_json_to(std::string& out, SoupCookie* c) {
  out += "{\"name\":";
  json_escape_to(out, soup_cookie_get_name(c) ? soup_cookie_get_name(c) : "");
  out += ",\"value\":";
  json_escape_to(out, soup_cookie_get_value(c) ? soup_cookie_get_value(c) : "");
  out += ",\"domain\":";
  json_escape_to(out, soup_cookie_get_domain(c) ? soup_cookie_get_domain(c) : "");
  out += ",\"path\":";
  json_escape_to(out, soup_cookie_get_path(c) ? soup_cookie_get_path(c) : "");
  out += ",\"expires\":";
  if (GDateTime* exp = soup_cookie_get_expires(c))
    out += std::to_string(static_cast<long long>(g_date_time_to_unix(exp)) * 1000);
  else
    out += "null";
  out += soup_cookie_get_secure(c) ? ",\"secure\":true" : ",\"secure\":false";
  out += soup_cookie_get_http_only(c) ? ",\"httpOnly\":true" : ",\"httpOnly\":false";
  out += ",\"sameSite\":";
  switch (soup_cookie_get_same_site_policy(c)) {
    case SOUP_SAME_SITE_POLICY_NONE: out += "\"none\""; break;
    case SOUP_SAME_SITE_POLICY_LAX: out += "\"lax\""; break;
    case SOUP_SAME_SITE_POLICY_STRICT: out += "\"strict\""; break;
    default: out += "null"; break;
  }
  out += '}';
}

void free_cookie_list(GList* list) { g_list_free_full(list, (GDestroyNotify)soup_cookie_free); }

void answer_list(const CookieOp& op, GList* list) {
  std::string json = "{\"ok\":true,\"cookies\":[";
  for (GList* l = list; l; l = l->next) {
    if (l != list) json += ',';
    cookie_json_to(json, static_cast<SoupCookie*>(l->data));
  }
  json += "]}";
  free_cookie_list(list);
  send_got(op.reqid, json);
}

void on_got_cookies(GObject* src, GAsyncResult* res, gpointer data) {
  std::unique_ptr<CookieOp> op(static_cast<CookieOp*>(data));
  GError* raw = nullptr;
  GList* list = webkit_cookie_manager_get_cookies_finish(WEBKIT_COOKIE_MANAGER(src), res, &raw);
  GErr err(raw);
  if (err) return answer_error(*op, err.get(), "get_cookies failed");
  answer_list(*op, list);
}

void on_got_all_cookies(GObject* src, GAsyncResult* res, gpointer data) {
  std::unique_ptr<CookieOp> op(static_cast<CookieOp*>(data));
  GError* raw = nullptr;
  GList* list = webkit_cookie_manager_get_all_cookies_finish(WEBKIT_COOKIE_MANAGER(src), res, &raw);
  GErr err(raw);
  if (err) return answer_error(*op, err.get(), "get_all_cookies failed");
  answer_list(*op, list);
}

void on_added(GObject* src, GAsyncResult* res, gpointer data) {
  std::unique_ptr<CookieOp> op(static_cast<CookieOp*>(data));
  GError* raw = nullptr;
  gboolean ok = webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(src), res, &raw);
  GErr err(raw);
  if (!ok || err) return answer_error(*op, err.get(), "add_cookie failed");
  send_got(op->reqid, "{\"ok\":true}");
}

void on_deleted(GObject* src, GAsyncResult* res, gpointer data) {
  auto* op = static_cast<CookieOp*>(data);
  GError* raw = nullptr;
  webkit_cookie_manager_delete_cookie_finish(WEBKIT_COOKIE_MANAGER(src), res, &raw);
  GErr err(raw);  // a failed deletion still counts as done
  if (--op->remaining > 0) return;
  std::unique_ptr<CookieOp> done(op);
  send_got(done->reqid, "{\"ok\":true,\"removed\":" + std::to_string(done->total) + "}");
}

void on_got_for_delete(GObject* src, GAsyncResult* res, gpointer data) {
  std::unique_ptr<CookieOp> op(static_cast<CookieOp*>(data));
  auto* cm = WEBKIT_COOKIE_MANAGER(src);
  GError* raw = nullptr;
  GList* list = webkit_cookie_manager_get_cookies_finish(cm, res, &raw);
  GErr err(raw);
  if (err) return answer_error(*op, err.get(), "get_cookies failed");
  std::vector<SoupCookie*> keep;
  for (GList* l = list; l; l = l->next) {
    auto* c = static_cast<SoupCookie*>(l->data);
    const char* n = soup_cookie_get_name(c);
    const char* d = soup_cookie_get_domain(c);
    const char* p = soup_cookie_get_path(c);
    if (n && d && p && op->name == n && op->domain == d && op->path == p) keep.push_back(c);
  }
  if (keep.empty()) {
    free_cookie_list(list);
    return send_got(op->reqid, "{\"ok\":true,\"removed\":0}");
  }
  op->total = op->remaining = static_cast<int>(keep.size());
  CookieOp* shared = op.release();
  for (SoupCookie* c : keep)
    webkit_cookie_manager_delete_cookie(cm, c, nullptr, on_deleted, shared);
  free_cookie_list(list);
}

}  // namespace

void do_cookies(std::string_view reqid, std::string_view rest) {
  std::vector<std::string> f = split_tabs(rest);
  std::string op_name = tab_field(f, 0);
  auto field = [&](size_t i) { return wire_unescape(tab_field(f, i)); };
  auto* op = new CookieOp{std::string(reqid)};
  WebKitCookieManager* cm = cookie_manager();

  if (op_name == "get") {
    std::string uri = field(1);
    if (!uri.empty())
      webkit_cookie_manager_get_cookies(cm, uri.c_str(), nullptr, on_got_cookies, op);
    else
      webkit_cookie_manager_get_all_cookies(cm, nullptr, on_got_all_cookies, op);
    return;
  }
  if (op_name == "set") {
    SoupCookie* c = soup_cookie_new(field(1).c_str(), field(2).c_str(), field(3).c_str(),
                                    field(4).c_str(), -1);
    std::string expiry = field(5);
    if (!expiry.empty()) {
      gint64 ms = g_ascii_strtoll(expiry.c_str(), nullptr, 10);
      if (GDateTime* t = g_date_time_new_from_unix_utc(ms / 1000)) {
        soup_cookie_set_expires(c, t);
        g_date_time_unref(t);
      }
    }
    soup_cookie_set_secure(c, field(6) == "1");
    soup_cookie_set_http_only(c, field(7) == "1");
    std::string same = field(8);
    if (same == "lax") soup_cookie_set_same_site_policy(c, SOUP_SAME_SITE_POLICY_LAX);
    if (same == "strict") soup_cookie_set_same_site_policy(c, SOUP_SAME_SITE_POLICY_STRICT);
    if (same == "none") soup_cookie_set_same_site_policy(c, SOUP_SAME_SITE_POLICY_NONE);
    webkit_cookie_manager_add_cookie(cm, c, nullptr, on_added, op);
    soup_cookie_free(c);
    return;
  }
  if (op_name == "delete") {
    op->name = field(1);
    op->domain = field(2);
    op->path = field(3);
    std::string host = op->domain.starts_with('.') ? op->domain.substr(1) : op->domain;
    std::string uri = "https://" + host + (op->path.empty() ? "/" : op->path);
    webkit_cookie_manager_get_cookies(cm, uri.c_str(), nullptr, on_got_for_delete, op);
    return;
  }
  delete op;
  send_got(reqid, "{\"ok\":false,\"error\":\"bad cookies op\"}");
}
