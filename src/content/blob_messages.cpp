// The launcher side of the web-process extension's bytes messages. The
// extension writes a page's upload straight into a file launcher opened, and
// reads an offer straight from the file the backend gave; only descriptors
// and small answers cross here. Each request names the document's key, and
// only the document that owns it, in the view that sent the message, gets a
// file.
//
//   ovalis-bytes-open    (key, size)  -> (id, "", size) and the new file
//   ovalis-bytes-written (id, size)   -> (id, "", size) once announced
//   ovalis-bytes-get     (key, id)    -> ("", "", size) and the offer's file
//
// An error answer is ("", message, 0) without a file.
#include <gio/gunixfdlist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "content/blob_store.h"
#include "content/content.h"
#include "core/gobj.h"
#include "webview/webview.h"
#include "windows/windows.h"

namespace {

struct OpenUpload {
  std::string path;
  std::string window;
  std::string origin;
  guint64 size = 0;
};
// Upload files handed to the extension and not yet reported written.
std::map<std::string, OpenUpload, std::less<>> g_open_uploads;
constexpr size_t kMaxOpenUploads = 64;

void reply(WebKitUserMessage* msg, const std::string& id, const std::string& error, guint64 size,
           int fd = -1) {
  GVariant* params = g_variant_new("(sst)", id.c_str(), error.c_str(), size);
  WebKitUserMessage* r;
  if (fd >= 0) {
    GObj<GUnixFDList> fds(g_unix_fd_list_new());
    g_unix_fd_list_append(fds.get(), fd, nullptr);  // a duplicate goes over
    r = webkit_user_message_new_with_fd_list(webkit_user_message_get_name(msg), params, fds.get());
  } else {
    r = webkit_user_message_new(webkit_user_message_get_name(msg), params);
  }
  webkit_user_message_send_reply(msg, r);  // takes the floating reply
}

using Admitted = std::function<void(const std::string& window, const std::string& origin)>;

// Runs `then` when the key names a live document shown in this view;
// answers the message with a refusal otherwise.
void admit(WebKitWebView* view, WebKitUserMessage* msg, const std::string& key, Admitted then) {
  auto hold_view =
      std::shared_ptr<WebKitWebView>(WEBKIT_WEB_VIEW(g_object_ref(view)), g_object_unref);
  auto hold_msg =
      std::shared_ptr<WebKitUserMessage>(WEBKIT_USER_MESSAGE(g_object_ref(msg)), g_object_unref);
  await_document_key(key, [hold_view, hold_msg, key, then](bool found, const std::string& origin) {
    std::string window;
    if (!found || !proxy_key_origin(key, nullptr, &window) || is_bridgeless(hold_view.get()) ||
        ovalis_winid_for_wv(hold_view.get()) != window)
      return reply(hold_msg.get(), "", "only the application's own pages may move bytes", 0);
    then(window, origin);
  });
}

void on_open(WebKitWebView* view, WebKitUserMessage* msg, const char* key, guint64 size) {
  auto hold_msg =
      std::shared_ptr<WebKitUserMessage>(WEBKIT_USER_MESSAGE(g_object_ref(msg)), g_object_unref);
  admit(view, msg, key, [hold_msg, size](const std::string& window, const std::string& origin) {
    if (g_open_uploads.size() >= kMaxOpenUploads)
      return reply(hold_msg.get(), "", "too many uploads at once", 0);
    std::string id, path, error;
    int status = 0;
    int fd = blob_create_upload(size, &id, &path, &error, &status);
    if (fd < 0) return reply(hold_msg.get(), "", error, 0);
    g_open_uploads[id] = OpenUpload{path, window, origin, size};
    reply(hold_msg.get(), id, "", size, fd);
    close(fd);
  });
}

void on_written(WebKitWebView* view, WebKitUserMessage* msg, const char* id, guint64 size) {
  auto it = g_open_uploads.find(id);
  if (it == g_open_uploads.end() || it->second.window != ovalis_winid_for_wv(view))
    return reply(msg, "", "no such upload", 0);
  OpenUpload up = it->second;
  g_open_uploads.erase(it);
  struct stat st {};
  if (lstat(up.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<guint64>(st.st_size) != size || size != up.size) {
    unlink(up.path.c_str());
    return reply(msg, "", "the bytes did not arrive whole", 0);
  }
  // The backend hears of the file before the page can name it in a call.
  blob_announce(id, size, up.path, up.origin);
  reply(msg, id, "", size);
}

void on_get(WebKitWebView* view, WebKitUserMessage* msg, const char* key, const char* id) {
  auto hold_msg =
      std::shared_ptr<WebKitUserMessage>(WEBKIT_USER_MESSAGE(g_object_ref(msg)), g_object_unref);
  std::string want = id;
  admit(view, msg, key, [hold_msg, want](const std::string&, const std::string&) {
    guint64 size = 0;
    int fd = blob_valid_id(want) ? blob_take_offer(want, &size) : -1;
    if (fd < 0)
      return reply(hold_msg.get(), "",
                   "no such bytes (never offered, fetched already, or expired): " + want, 0);
    reply(hold_msg.get(), "", "", size, fd);
    close(fd);
  });
}

gboolean on_user_message(WebKitWebView* view, WebKitUserMessage* msg, gpointer) {
  const char* name = webkit_user_message_get_name(msg);
  if (!name || !g_str_has_prefix(name, "ovalis-bytes-")) return FALSE;
  GVariant* p = webkit_user_message_get_parameters(msg);
  const char* a = nullptr;
  const char* b = nullptr;
  guint64 n = 0;
  if (p && g_variant_is_of_type(p, G_VARIANT_TYPE("(st)"))) {
    g_variant_get(p, "(&st)", &a, &n);
    if (!g_strcmp0(name, "ovalis-bytes-open")) return on_open(view, msg, a, n), TRUE;
    if (!g_strcmp0(name, "ovalis-bytes-written")) return on_written(view, msg, a, n), TRUE;
  } else if (p && g_variant_is_of_type(p, G_VARIANT_TYPE("(ss)"))) {
    g_variant_get(p, "(&s&s)", &a, &b);
    if (!g_strcmp0(name, "ovalis-bytes-get")) return on_get(view, msg, a, b), TRUE;
  }
  reply(msg, "", "a malformed bytes message", 0);
  return TRUE;
}

}  // namespace

void blob_setup_view(WebKitWebView* view) {
  g_signal_connect(view, "user-message-received", G_CALLBACK(on_user_message), nullptr);
}

void blob_forget_window(const std::string& window, GtkWidget*) {
  for (auto it = g_open_uploads.begin(); it != g_open_uploads.end();) {
    if (it->second.window == window) {
      unlink(it->second.path.c_str());
      it = g_open_uploads.erase(it);
    } else {
      ++it;
    }
  }
}
