// The tracking stream: a PipeWire video stream on its own thread loop, from
// which only the cursor metadata is read. Pixel data is never mapped.
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <cstdio>

#include "input/mousetrack.h"

std::atomic<bool> g_mt_active{false}, g_mt_have{false};
std::atomic<int> g_mt_px{0}, g_mt_py{0};
std::atomic<int> g_mt_off_x{0}, g_mt_off_y{0}, g_mt_log_w{0}, g_mt_log_h{0};
std::atomic<int> g_mt_buf_w{0}, g_mt_buf_h{0};

namespace {

pw_thread_loop* g_mt_pw_loop = nullptr;
pw_context* g_mt_pw_ctx = nullptr;
pw_core* g_mt_pw_core = nullptr;
pw_stream* g_mt_pw_stream = nullptr;
spa_hook g_mt_pw_listener;

// Cursor and bitmap headers plus an RGBA bitmap of w by h.
constexpr int cursor_meta_size(int w, int h) {
  return static_cast<int>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + w * h * 4;
}

void mt_on_param_changed(void*, uint32_t id, const spa_pod* param) {
  if (id != SPA_PARAM_Format || !param) return;
  uint32_t media_type = 0, media_subtype = 0;
  if (spa_format_parse(param, &media_type, &media_subtype) < 0 ||
      media_type != SPA_MEDIA_TYPE_video)
    return;
  spa_video_info_raw info{};
  if (media_subtype == SPA_MEDIA_SUBTYPE_raw && spa_format_video_raw_parse(param, &info) >= 0) {
    g_mt_buf_w.exchange(static_cast<int>(info.size.width));
    g_mt_buf_h.exchange(static_cast<int>(info.size.height));
  }
  uint8_t buf[256];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buf, sizeof buf);
  const spa_pod* params[1];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
      SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
      SPA_POD_CHOICE_RANGE_Int(cursor_meta_size(64, 64), cursor_meta_size(0, 0),
                               cursor_meta_size(512, 512))));
  pw_stream_update_params(g_mt_pw_stream, params, 1);
}

void mt_on_process(void*) {
  pw_buffer* newest = nullptr;
  while (pw_buffer* b = pw_stream_dequeue_buffer(g_mt_pw_stream)) {
    if (newest) pw_stream_queue_buffer(g_mt_pw_stream, newest);
    newest = b;
  }
  if (!newest) return;
  spa_buffer* sb = newest->buffer;
  const spa_meta* meta = nullptr;
  for (uint32_t i = 0; sb && i < sb->n_metas; ++i) {
    if (sb->metas[i].type == SPA_META_Cursor) {
      meta = &sb->metas[i];
      break;
    }
  }
  // A block too short for the cursor header is not read at all; the buffer
  // still goes back to the producer.
  if (meta && meta->data && meta->size >= sizeof(spa_meta_cursor)) {
    const auto* cur = static_cast<const spa_meta_cursor*>(meta->data);
    if (cur->id != 0) {
      MtPoint p = mt_to_global(cur->position.x, cur->position.y, g_mt_buf_w.load(),
                               g_mt_buf_h.load(), g_mt_log_w.load(), g_mt_log_h.load(),
                               g_mt_off_x.load(), g_mt_off_y.load());
      g_mt_px.exchange(p.x);
      g_mt_py.exchange(p.y);
      g_mt_have.exchange(true);
    }
  }
  pw_stream_queue_buffer(g_mt_pw_stream, newest);
}

void mt_on_state_changed(void*, pw_stream_state, pw_stream_state state, const char* error) {
  if (state == PW_STREAM_STATE_ERROR)
    std::fprintf(stderr, "ovalis: mouse tracking stream failed: %s\n", error ? error : "");
}

const pw_stream_events g_mt_stream_events = [] {
  pw_stream_events e{};
  e.version = 2;
  e.state_changed = mt_on_state_changed;
  e.param_changed = mt_on_param_changed;
  e.process = mt_on_process;
  return e;
}();

bool connect_locked(int fd, uint32_t node) {
  g_mt_pw_core = pw_context_connect_fd(g_mt_pw_ctx, fd, nullptr, 0);
  if (!g_mt_pw_core) return false;
  g_mt_pw_stream = pw_stream_new(g_mt_pw_core, "ovalis mouse tracking",
                                 pw_properties_new(PW_KEY_MEDIA_TYPE, "Video",
                                                   PW_KEY_MEDIA_CATEGORY, "Capture",
                                                   PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  if (!g_mt_pw_stream) return false;
  pw_stream_add_listener(g_mt_pw_stream, &g_mt_pw_listener, &g_mt_stream_events, nullptr);

  uint8_t buf[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buf, sizeof buf);
  spa_rectangle def_size = SPA_RECTANGLE(1920, 1080), min_size = SPA_RECTANGLE(1, 1),
                max_size = SPA_RECTANGLE(16384, 16384);
  spa_fraction def_rate = SPA_FRACTION(30, 1), min_rate = SPA_FRACTION(0, 1),
               max_rate = SPA_FRACTION(1000, 1);
  const spa_pod* params[1];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
      SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                             SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&def_size, &min_size, &max_size),
      SPA_FORMAT_VIDEO_framerate,
      SPA_POD_CHOICE_RANGE_Fraction(&def_rate, &min_rate, &max_rate)));
  return pw_stream_connect(g_mt_pw_stream, PW_DIRECTION_INPUT, node, PW_STREAM_FLAG_AUTOCONNECT,
                           params, 1) >= 0;
}

}  // namespace

bool mt_pw_connect(int fd, uint32_t node) {
  static bool pw_ready = false;
  if (!pw_ready) {
    pw_init(nullptr, nullptr);
    pw_ready = true;
  }
  g_mt_pw_loop = pw_thread_loop_new("ovalis-mousetrack", nullptr);
  if (g_mt_pw_loop)
    g_mt_pw_ctx = pw_context_new(pw_thread_loop_get_loop(g_mt_pw_loop), nullptr, 0);
  if (!g_mt_pw_ctx || pw_thread_loop_start(g_mt_pw_loop) < 0) {
    close(fd);
    mt_pw_teardown();
    return false;
  }
  pw_thread_loop_lock(g_mt_pw_loop);
  bool ok = connect_locked(fd, node);
  pw_thread_loop_unlock(g_mt_pw_loop);
  if (!ok) mt_pw_teardown();
  return ok;
}

void mt_pw_teardown() {
  if (g_mt_pw_loop) pw_thread_loop_stop(g_mt_pw_loop);
  if (g_mt_pw_stream) pw_stream_destroy(g_mt_pw_stream);
  g_mt_pw_stream = nullptr;
  if (g_mt_pw_core) pw_core_disconnect(g_mt_pw_core);
  g_mt_pw_core = nullptr;
  if (g_mt_pw_ctx) pw_context_destroy(g_mt_pw_ctx);
  g_mt_pw_ctx = nullptr;
  if (g_mt_pw_loop) pw_thread_loop_destroy(g_mt_pw_loop);
  g_mt_pw_loop = nullptr;
}
