// launcher's web-process extension: moves page bytes to and from files
// without the engine's network path in between. That path hands a
// response to the page 8 KiB at a time through several processes, a few
// tens of MB/s; here the bytes go straight between the page's array
// buffer and a file descriptor launcher passes over.
//
// The top document of each page gets window.__ovalisBytes with two
// functions; frames get nothing. Both take the document's proxy key, which
// launcher checks against the document it knows before it hands out a
// file, and a callback (error, result):
//   put(u8, key, cb)  writes the bytes to a new upload file; result {id, size}
//   get(id, key, cb)  reads an offered file whole; result a Uint8Array
#include <errno.h>
#include <gio/gunixfdlist.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <webkit2/webkit-web-extension.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

struct Pending {
  JSCValue* data = nullptr;  // put: the page's Uint8Array, kept alive until written
  JSCValue* cb = nullptr;
  WebKitWebPage* page = nullptr;
  ~Pending() {
    if (data) g_object_unref(data);
    if (cb) g_object_unref(cb);
  }
};

void finish_error(Pending* p, const std::string& message) {
  JSCContext* ctx = jsc_value_get_context(p->cb);
  JSCValue* err = jsc_value_new_string(ctx, message.c_str());
  JSCValue* r = jsc_value_function_call(p->cb, JSC_TYPE_VALUE, err, G_TYPE_NONE);
  if (r) g_object_unref(r);
  g_object_unref(err);
}

void finish_ok(Pending* p, JSCValue* result) {
  JSCContext* ctx = jsc_value_get_context(p->cb);
  JSCValue* none = jsc_value_new_null(ctx);
  JSCValue* r =
      jsc_value_function_call(p->cb, JSC_TYPE_VALUE, none, JSC_TYPE_VALUE, result, G_TYPE_NONE);
  if (r) g_object_unref(r);
  g_object_unref(none);
}

// The reply's error text, or "" with its parameters and, when `fd` is
// given, the file descriptor it must carry.
std::string take_reply(WebKitWebPage* page, GAsyncResult* res, GVariant** params, int* fd) {
  GError* error = nullptr;
  WebKitUserMessage* reply = webkit_web_page_send_message_to_view_finish(page, res, &error);
  if (!reply) {
    std::string m = error ? error->message : "no answer from launcher";
    if (error) g_error_free(error);
    return m;
  }
  GVariant* p = webkit_user_message_get_parameters(reply);
  const char* err = "";
  if (p && g_variant_is_of_type(p, G_VARIANT_TYPE("(sst)"))) {
    g_variant_get_child(p, 1, "&s", &err);
    *params = g_variant_ref(p);
  } else {
    err = "a malformed answer from launcher";
  }
  std::string out = err;
  GUnixFDList* fds = webkit_user_message_get_fd_list(reply);
  if (out.empty() && fd) {
    *fd = fds && g_unix_fd_list_get_length(fds) > 0 ? g_unix_fd_list_get(fds, 0, nullptr) : -1;
    if (*fd < 0) out = "launcher sent no file";
  }
  g_object_unref(reply);
  return out;
}

// Fresh memory is faulted in a page at a time as the read fills it; asking
// the kernel for all of it first is much cheaper where faults are dear
// (virtual machines). Kernels before 5.14 refuse, and nothing changes.
void populate(char* p, gsize n) {
  constexpr int kPopulateWrite = 23;  // MADV_POPULATE_WRITE
  uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t start = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) & ~(page - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, kPopulateWrite);
}

bool write_all(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

void on_put_written(GObject*, GAsyncResult* res, gpointer data) {
  auto* p = static_cast<Pending*>(data);
  GVariant* params = nullptr;
  std::string err = take_reply(p->page, res, &params, nullptr);
  if (!err.empty()) {
    finish_error(p, err);
  } else {
    const char* id = nullptr;
    guint64 size = 0;
    g_variant_get(params, "(&s&st)", &id, nullptr, &size);
    JSCContext* ctx = jsc_value_get_context(p->cb);
    JSCValue* obj = jsc_value_new_object(ctx, nullptr, nullptr);
    JSCValue* idv = jsc_value_new_string(ctx, id);
    JSCValue* sizev = jsc_value_new_number(ctx, static_cast<double>(size));
    jsc_value_object_set_property(obj, "id", idv);
    jsc_value_object_set_property(obj, "size", sizev);
    finish_ok(p, obj);
    g_object_unref(idv);
    g_object_unref(sizev);
    g_object_unref(obj);
  }
  if (params) g_variant_unref(params);
  delete p;
}

void on_put_opened(GObject*, GAsyncResult* res, gpointer data) {
  auto* p = static_cast<Pending*>(data);
  GVariant* params = nullptr;
  int fd = -1;
  std::string err = take_reply(p->page, res, &params, &fd);
  const char* id = nullptr;
  gsize size = 0;
  const char* bytes = nullptr;
  if (err.empty()) {
    g_variant_get(params, "(&s&st)", &id, nullptr, nullptr);
    // The pointer is taken only now, with no script run since: a buffer the
    // page has detached in the meantime reads as empty, never as freed memory.
    bytes = static_cast<const char*>(jsc_value_typed_array_get_data(p->data, &size));
    size = bytes ? jsc_value_typed_array_get_size(p->data) : 0;
    if (!write_all(fd, bytes, size)) err = std::string("cannot write the bytes: ") + g_strerror(errno);
    close(fd);
  }
  if (!err.empty()) {
    finish_error(p, err);
    if (params) g_variant_unref(params);
    delete p;
    return;
  }
  WebKitUserMessage* msg = webkit_user_message_new(
      "ovalis-bytes-written", g_variant_new("(st)", id, static_cast<guint64>(size)));
  g_variant_unref(params);
  webkit_web_page_send_message_to_view(p->page, msg, nullptr, on_put_written, p);
}

void on_get_reply(GObject*, GAsyncResult* res, gpointer data) {
  auto* p = static_cast<Pending*>(data);
  GVariant* params = nullptr;
  int fd = -1;
  std::string err = take_reply(p->page, res, &params, &fd);
  if (!err.empty()) {
    finish_error(p, err);
  } else {
    // Read straight into the page's own array: the engine does not let an
    // array buffer wrap memory it did not allocate.
    struct stat st {};
    gsize size = fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<gsize>(st.st_size) : 0;
    JSCContext* ctx = jsc_value_get_context(p->cb);
    JSCValue* u8 = jsc_value_new_typed_array(ctx, JSC_TYPED_ARRAY_UINT8, size);
    gsize len = 0;
    auto* buf = u8 ? static_cast<char*>(jsc_value_typed_array_get_data(u8, &len)) : nullptr;
    if (!buf && size > 0) {
      finish_error(p, "out of memory for the bytes");
    } else {
      populate(buf, size);
      gsize got = 0;
      while (got < size) {
        ssize_t n = pread(fd, buf + got, size - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<gsize>(n);
      }
      if (got == size) {
        finish_ok(p, u8);
      } else {
        // A file cut short after the offer: hand over what it held.
        JSCValue* whole = jsc_value_typed_array_get_buffer(u8);
        JSCValue* part = jsc_value_new_typed_array_with_buffer(whole, JSC_TYPED_ARRAY_UINT8, 0,
                                                               static_cast<gssize>(got));
        finish_ok(p, part);
        g_object_unref(part);
        g_object_unref(whole);
      }
    }
    if (u8) g_object_unref(u8);
  }
  if (fd >= 0) close(fd);
  if (params) g_variant_unref(params);
  delete p;
}

void bytes_put(JSCValue* data, const char* key, JSCValue* cb, gpointer page) {
  if (!jsc_value_is_function(cb)) return;
  auto* p = new Pending{nullptr, JSC_VALUE(g_object_ref(cb)), WEBKIT_WEB_PAGE(page)};
  if (!jsc_value_is_typed_array(data) ||
      jsc_value_typed_array_get_type(data) != JSC_TYPED_ARRAY_UINT8) {
    finish_error(p, "put takes a Uint8Array");
    delete p;
    return;
  }
  p->data = JSC_VALUE(g_object_ref(data));
  WebKitUserMessage* msg = webkit_user_message_new(
      "ovalis-bytes-open",
      g_variant_new("(st)", key ? key : "",
                    static_cast<guint64>(jsc_value_typed_array_get_size(data))));
  webkit_web_page_send_message_to_view(p->page, msg, nullptr, on_put_opened, p);
}

void bytes_get(const char* id, const char* key, JSCValue* cb, gpointer page) {
  if (!jsc_value_is_function(cb)) return;
  auto* p = new Pending{nullptr, JSC_VALUE(g_object_ref(cb)), WEBKIT_WEB_PAGE(page)};
  WebKitUserMessage* msg = webkit_user_message_new(
      "ovalis-bytes-get", g_variant_new("(ss)", key ? key : "", id ? id : ""));
  webkit_web_page_send_message_to_view(p->page, msg, nullptr, on_get_reply, p);
}

void on_window_cleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                       gpointer) {
  if (!webkit_frame_is_main_frame(frame)) return;
  JSCContext* ctx = webkit_frame_get_js_context_for_script_world(frame, world);
  JSCValue* global = jsc_context_get_global_object(ctx);
  JSCValue* obj = jsc_value_new_object(ctx, nullptr, nullptr);
  JSCValue* put =
      jsc_value_new_function(ctx, "put", G_CALLBACK(bytes_put), page, nullptr, G_TYPE_NONE, 3,
                             JSC_TYPE_VALUE, G_TYPE_STRING, JSC_TYPE_VALUE);
  JSCValue* get =
      jsc_value_new_function(ctx, "get", G_CALLBACK(bytes_get), page, nullptr, G_TYPE_NONE, 3,
                             G_TYPE_STRING, G_TYPE_STRING, JSC_TYPE_VALUE);
  // Read-only and fixed: page script cannot swap either for its own.
  jsc_value_object_define_property_data(obj, "put", JSC_VALUE_PROPERTY_ENUMERABLE, put);
  jsc_value_object_define_property_data(obj, "get", JSC_VALUE_PROPERTY_ENUMERABLE, get);
  jsc_value_object_define_property_data(global, "__ovalisBytes", JSC_VALUE_PROPERTY_ENUMERABLE,
                                        obj);
  g_object_unref(get);
  g_object_unref(put);
  g_object_unref(obj);
  g_object_unref(global);
  g_object_unref(ctx);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension*) {
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(on_window_cleared), nullptr);
}
