// Back-pressure for proxied media bodies. The web view reads a custom
// scheme's stream as fast as the stream delivers and queues every chunk as a
// message to the web process; with a fast upstream the queue, and this
// process, grew with the body. The paced stream lets only a bounded window of
// bytes run ahead of what the web process has taken in. It learns that by
// evaluating a trivial script in the view: scripts travel on the same ordered
// channel as the body chunks, so when the answer comes back, every chunk
// handed out before it has been received on the other side.
#include "content/media_pacing.h"

#include <gio/gio.h>

#include "core/gobj.h"

namespace {

// At most this much of the body is in flight towards the web process.
constexpr guint64 kWindow = 8 << 20;
// A new mark is taken after this many bytes.
constexpr guint64 kMarkEvery = 1 << 20;

}  // namespace

struct MediaPaced {
  GInputStream parent;
  GInputStream* base;
  GWeakRef view;
  guint64 out;       // bytes handed to the reader
  guint64 received;  // bytes the web process has confirmed
  guint64 mark;      // the count a pending confirmation stands for
  bool marking;
  // A read held back until the window opens again.
  GTask* held;
  void* held_buffer;
  gsize held_count;
  int held_priority;
};

struct MediaPacedClass {
  GInputStreamClass parent_class;
};

G_DEFINE_TYPE(MediaPaced, media_paced, G_TYPE_INPUT_STREAM)

namespace {

MediaPaced* paced(gpointer p) { return reinterpret_cast<MediaPaced*>(p); }

void on_base_read(GObject* source, GAsyncResult* res, gpointer data);

void forward_read(MediaPaced* self, GTask* task, void* buffer, gsize count, int priority) {
  g_input_stream_read_async(self->base, buffer, count, priority, g_task_get_cancellable(task),
                            on_base_read, task);
}

bool window_full(const MediaPaced* self) { return self->out - self->received >= kWindow; }

void take_mark(MediaPaced* self);

void on_mark_seen(GObject* source, GAsyncResult* res, gpointer data) {
  GObj<MediaPaced> self(paced(data));
  // An error (the page went away, a script failure) still means the web
  // process got this far, or will never take more: either way stop waiting.
  GErr err;
  GError* raw = nullptr;
  if (JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &raw))
    g_object_unref(v);
  err.reset(raw);
  self->received = self->mark;
  self->marking = false;
  take_mark(self.get());
  if (self->held && !window_full(self.get())) {
    GTask* task = self->held;
    self->held = nullptr;
    forward_read(self.get(), task, self->held_buffer, self->held_count, self->held_priority);
  }
}

void take_mark(MediaPaced* self) {
  if (self->marking || self->out - self->received < kMarkEvery) return;
  GObj<WebKitWebView> view(static_cast<WebKitWebView*>(g_weak_ref_get(&self->view)));
  if (!view) {
    // No view to ask: nothing left to pace for.
    self->received = self->out;
    return;
  }
  self->marking = true;
  self->mark = self->out;
  webkit_web_view_evaluate_javascript(view.get(), "0", -1, "ovalis-media-pacing", nullptr, nullptr,
                                      on_mark_seen, g_object_ref(self));
}

void on_base_read(GObject* source, GAsyncResult* res, gpointer data) {
  GTask* task = G_TASK(data);
  MediaPaced* self = paced(g_task_get_source_object(task));
  GError* err = nullptr;
  gssize n = g_input_stream_read_finish(G_INPUT_STREAM(source), res, &err);
  if (n < 0) {
    g_task_return_error(task, err);
  } else {
    self->out += static_cast<guint64>(n);
    take_mark(self);
    g_task_return_int(task, n);
  }
  g_object_unref(task);
}

void paced_read_async(GInputStream* stream, void* buffer, gsize count, int priority,
                      GCancellable* cancellable, GAsyncReadyCallback cb, gpointer data) {
  MediaPaced* self = paced(stream);
  GTask* task = g_task_new(stream, cancellable, cb, data);
  if (window_full(self) && !self->held) {
    self->held = task;
    self->held_buffer = buffer;
    self->held_count = count;
    self->held_priority = priority;
    return;
  }
  forward_read(self, task, buffer, count, priority);
}

gssize paced_read_finish(GInputStream*, GAsyncResult* res, GError** error) {
  return g_task_propagate_int(G_TASK(res), error);
}

// Blocking reads are not paced: nothing waits on the main loop for them.
gssize paced_read(GInputStream* stream, void* buffer, gsize count, GCancellable* c, GError** error) {
  MediaPaced* self = paced(stream);
  gssize n = g_input_stream_read(self->base, buffer, count, c, error);
  if (n > 0) self->out += static_cast<guint64>(n);
  return n;
}

gboolean paced_close(GInputStream* stream, GCancellable* c, GError** error) {
  MediaPaced* self = paced(stream);
  return self->base ? g_input_stream_close(self->base, c, error) : TRUE;
}

void paced_dispose(GObject* obj) {
  MediaPaced* self = paced(obj);
  if (self->held) {
    GTask* task = self->held;
    self->held = nullptr;
    g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_CLOSED, "the stream was closed");
    g_object_unref(task);
  }
  // The parent closes a stream nobody closed, and closing goes through to
  // the upstream body: it must still be there then.
  G_OBJECT_CLASS(media_paced_parent_class)->dispose(obj);
  g_clear_object(&self->base);
}

void paced_finalize(GObject* obj) {
  g_weak_ref_clear(&paced(obj)->view);
  G_OBJECT_CLASS(media_paced_parent_class)->finalize(obj);
}

}  // namespace

static void media_paced_init(MediaPaced* self) { g_weak_ref_init(&self->view, nullptr); }

static void media_paced_class_init(MediaPacedClass* klass) {
  GObjectClass* obj = G_OBJECT_CLASS(klass);
  obj->dispose = paced_dispose;
  obj->finalize = paced_finalize;
  GInputStreamClass* in = G_INPUT_STREAM_CLASS(klass);
  in->read_fn = paced_read;
  in->read_async = paced_read_async;
  in->read_finish = paced_read_finish;
  in->close_fn = paced_close;
}

GInputStream* media_paced_stream_new(GInputStream* base, WebKitWebView* view) {
  auto* self = paced(g_object_new(media_paced_get_type(), nullptr));
  self->base = G_INPUT_STREAM(g_object_ref(base));
  g_weak_ref_set(&self->view, view);
  return G_INPUT_STREAM(self);
}
