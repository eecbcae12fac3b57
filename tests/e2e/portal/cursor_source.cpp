// A screen-cast stand-in for the tests: a PipeWire video source whose
// buffers carry cursor metadata. It writes its node id into the file named
// by its argument once the node exists, and each line "<id> <x> <y>" on standard input sets the cursor that the
// following frames carry (id 0 means no cursor).
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kWidth = 640, kHeight = 360;

struct Source {
  pw_main_loop* loop = nullptr;
  pw_stream* stream = nullptr;
  spa_hook listener{};
  spa_source* timer = nullptr;
  std::string pending;
  uint32_t cursor_id = 1;
  int x = 0, y = 0;
  bool announced = false;
  const char* id_file = nullptr;
};

constexpr int cursor_meta_size(int w, int h) {
  return static_cast<int>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + w * h * 4;
}

void on_state(void* data, pw_stream_state, pw_stream_state state, const char* error) {
  auto* s = static_cast<Source*>(data);
  if (state == PW_STREAM_STATE_ERROR) {
    std::fprintf(stderr, "cursor_source: %s\n", error ? error : "stream error");
    pw_main_loop_quit(s->loop);
  }
  if (!s->announced && (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING)) {
    s->announced = true;
    std::string tmp = std::string(s->id_file) + ".tmp";
    if (FILE* f = std::fopen(tmp.c_str(), "w")) {
      std::fprintf(f, "%u\n", pw_stream_get_node_id(s->stream));
      std::fclose(f);
      std::rename(tmp.c_str(), s->id_file);
    }
  }
}

void on_param_changed(void* data, uint32_t id, const spa_pod* param) {
  auto* s = static_cast<Source*>(data);
  if (id != SPA_PARAM_Format || !param) return;
  uint8_t buf[512];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buf, sizeof buf);
  const spa_pod* params[2];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
      SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
      SPA_PARAM_BUFFERS_size, SPA_POD_Int(kWidth * kHeight * 4), SPA_PARAM_BUFFERS_stride,
      SPA_POD_Int(kWidth * 4), SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd)));
  params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
      SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
      SPA_POD_CHOICE_RANGE_Int(cursor_meta_size(64, 64), cursor_meta_size(0, 0),
                               cursor_meta_size(512, 512))));
  pw_stream_update_params(s->stream, params, 2);
}

void on_process(void* data) {
  auto* s = static_cast<Source*>(data);
  pw_buffer* b = pw_stream_dequeue_buffer(s->stream);
  if (!b) return;
  spa_buffer* sb = b->buffer;
  if (auto* c = static_cast<spa_meta_cursor*>(
          spa_buffer_find_meta_data(sb, SPA_META_Cursor, sizeof(spa_meta_cursor)))) {
    c->id = s->cursor_id;
    c->flags = 0;
    c->position.x = s->x;
    c->position.y = s->y;
    c->hotspot.x = 0;
    c->hotspot.y = 0;
    c->bitmap_offset = 0;
  }
  if (sb->n_datas > 0 && sb->datas[0].chunk) {
    sb->datas[0].chunk->offset = 0;
    sb->datas[0].chunk->size = kWidth * kHeight * 4;
    sb->datas[0].chunk->stride = kWidth * 4;
  }
  pw_stream_queue_buffer(s->stream, b);
}

void on_timer(void* data, uint64_t) {
  auto* s = static_cast<Source*>(data);
  if (pw_stream_get_state(s->stream, nullptr) == PW_STREAM_STATE_STREAMING)
    pw_stream_trigger_process(s->stream);
}

void on_stdin(void* data, int fd, uint32_t mask) {
  auto* s = static_cast<Source*>(data);
  char buf[256];
  ssize_t n = (mask & SPA_IO_IN) ? read(fd, buf, sizeof buf) : 0;
  if (n <= 0) {
    pw_main_loop_quit(s->loop);
    return;
  }
  s->pending.append(buf, static_cast<size_t>(n));
  size_t nl;
  while ((nl = s->pending.find('\n')) != std::string::npos) {
    unsigned id = 0;
    int x = 0, y = 0;
    if (std::sscanf(s->pending.c_str(), "%u %d %d", &id, &x, &y) == 3) {
      s->cursor_id = id;
      s->x = x;
      s->y = y;
    }
    s->pending.erase(0, nl + 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: cursor_source <node-id-file>\n", stderr);
    return 2;
  }
  pw_init(&argc, &argv);
  Source s;
  s.id_file = argv[1];
  s.loop = pw_main_loop_new(nullptr);
  pw_loop* loop = pw_main_loop_get_loop(s.loop);
  static const pw_stream_events events = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = on_state;
    e.param_changed = on_param_changed;
    e.process = on_process;
    return e;
  }();
  s.stream = pw_stream_new_simple(
      loop, "ovalis test screen",
      pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video",
                        PW_KEY_MEDIA_CATEGORY, "Source", PW_KEY_MEDIA_ROLE, "Screen", nullptr),
      &events, &s);
  uint8_t buf[512];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buf, sizeof buf);
  spa_rectangle size = SPA_RECTANGLE(kWidth, kHeight);
  spa_fraction rate = SPA_FRACTION(30, 1);
  const spa_pod* params[1];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
      SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format, SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size,
      SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
  if (pw_stream_connect(s.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                        static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER |
                                                     PW_STREAM_FLAG_MAP_BUFFERS |
                                                     PW_STREAM_FLAG_ALLOC_BUFFERS),
                        params, 1) < 0) {
    std::fputs("cursor_source: connect failed\n", stderr);
    return 1;
  }
  pw_loop_add_io(loop, 0, SPA_IO_IN | SPA_IO_HUP, false, on_stdin, &s);
  s.timer = pw_loop_add_timer(loop, on_timer, &s);
  timespec first{0, 1}, every{0, 1000000000 / 30};
  pw_loop_update_timer(loop, s.timer, &first, &every, false);
  pw_main_loop_run(s.loop);
  pw_stream_destroy(s.stream);
  pw_main_loop_destroy(s.loop);
  pw_deinit();
  return 0;
}
