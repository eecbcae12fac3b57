// The sampler: a bank of decoded sounds, loaded on detached threads, and one
// PipeWire output stream whose real-time callback mixes the voices.
//
// Two locks, never held together: g_smp_bank_mutex guards the bank (main
// thread and loaders), g_smp_mutex the voice table and master target (main
// thread and the mixing callback).
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "audio/audio.h"
#include "audio/sampler_decode.h"
#include "audio/sampler_mix.h"
#include "core/app.h"
#include "core/dispatch.h"
#include "core/wire.h"

std::string g_smp_node;

namespace {

std::mutex g_smp_bank_mutex;
std::map<std::string, std::shared_ptr<SmpSound>> g_smp_bank;

std::mutex g_smp_mutex;
std::array<SmpVoice, kSmpSlots> g_smp_voices;
float g_smp_master_target = 1.0f;
float g_smp_master_cur = 1.0f;
uint64_t g_smp_serial = 1;

pw_thread_loop* g_smp_loop = nullptr;
pw_context* g_smp_ctx = nullptr;
pw_core* g_smp_core = nullptr;
pw_stream* g_smp_stream = nullptr;
spa_hook g_smp_listener;

void smp_on_process(void*) {
  pw_buffer* b = pw_stream_dequeue_buffer(g_smp_stream);
  if (!b) return;
  spa_data& d = b->buffer->datas[0];
  uint32_t n = d.maxsize / 8;
  if (n > kSmpMaxFrames) n = kSmpMaxFrames;
  // Filling only what the graph asks for keeps latency at one quantum.
  if (b->requested > 0 && b->requested < n) n = static_cast<uint32_t>(b->requested);
  if (d.data && n > 0) {
    float* out = static_cast<float*>(d.data);
    {
      std::lock_guard<std::mutex> lock(g_smp_mutex);
      smp_mix(g_smp_voices.data(), g_smp_voices.size(), g_smp_master_target, g_smp_master_cur,
              out, n);
    }
    d.chunk->offset = 0;
    d.chunk->stride = 8;
    d.chunk->size = n * 8;
  }
  pw_stream_queue_buffer(g_smp_stream, b);
}

const pw_stream_events g_smp_stream_events = [] {
  pw_stream_events e{};
  e.version = PW_VERSION_STREAM_EVENTS;
  e.process = smp_on_process;
  return e;
}();

bool smp_start_stream() {
  static bool inited = false;
  if (!inited) {
    pw_init(nullptr, nullptr);
    inited = true;
  }
  g_smp_node = "ovalis-sampler-" + std::to_string(getpid());
  g_smp_loop = pw_thread_loop_new("ovalis-sampler", nullptr);
  if (!g_smp_loop) {
    g_smp_node.clear();
    return false;
  }
  g_smp_ctx = pw_context_new(pw_thread_loop_get_loop(g_smp_loop), nullptr, 0);
  if (!g_smp_ctx || pw_thread_loop_start(g_smp_loop) != 0) {
    smp_stop();
    return false;
  }
  pw_thread_loop_lock(g_smp_loop);
  bool ok = false;
  g_smp_core = pw_context_connect(g_smp_ctx, nullptr, 0);
  if (g_smp_core) {
    const std::string& app = !g_app_id.empty() ? g_app_id : g_app_name;
    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Game",
        PW_KEY_NODE_NAME, g_smp_node.c_str(), PW_KEY_APP_NAME, app.c_str(), nullptr);
    if (!g_eq_sink.empty()) pw_properties_set(props, PW_KEY_TARGET_OBJECT, g_eq_sink.c_str());
    g_smp_stream = pw_stream_new(g_smp_core, "ovalis sampler", props);
    if (g_smp_stream) {
      pw_stream_add_listener(g_smp_stream, &g_smp_listener, &g_smp_stream_events, nullptr);
      uint8_t pod_buf[1024];
      spa_pod_builder pb = SPA_POD_BUILDER_INIT(pod_buf, sizeof pod_buf);
      spa_audio_info_raw info{};
      info.format = SPA_AUDIO_FORMAT_F32_LE;
      info.rate = kSmpRate;
      info.channels = 2;
      info.position[0] = SPA_AUDIO_CHANNEL_FL;
      info.position[1] = SPA_AUDIO_CHANNEL_FR;
      const spa_pod* params[1] = {spa_format_audio_raw_build(&pb, SPA_PARAM_EnumFormat, &info)};
      ok = pw_stream_connect(g_smp_stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                             pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT |
                                             PW_STREAM_FLAG_MAP_BUFFERS |
                                             PW_STREAM_FLAG_RT_PROCESS),
                             params, 1) == 0;
    }
  }
  pw_thread_loop_unlock(g_smp_loop);
  if (!ok) smp_stop();
  return ok;
}

void do_sampler_load(const std::string& key, const std::string& name, const std::string& path) {
  if (name.empty() || path.empty()) {
    got_unsupported(key, "sampler: LOAD needs a name and a path");
    return;
  }
  if (!g_smp_stream && !smp_start_stream()) {
    got_unsupported(key, "sampler: PipeWire output unavailable");
    return;
  }
  std::thread([key, name, path] {
    auto sound = std::make_shared<SmpSound>();
    std::string error;
    bool ok = false;
    try {
      ok = smp_decode(path, *sound, &error);
    } catch (const std::bad_alloc&) {
      // Every load is answered, also one the machine has no memory for.
      error = "sampler: not enough memory to load " + path;
    }
    if (!ok) {
      got_unsupported(key, error);
      return;
    }
    std::string json = "{\"ok\":true,\"frames\":" + std::to_string(sound->frames) +
                       ",\"channels\":" + std::to_string(sound->channels) + "}";
    std::shared_ptr<SmpSound> old;
    {
      std::lock_guard<std::mutex> lock(g_smp_bank_mutex);
      std::shared_ptr<SmpSound>& slot = g_smp_bank[name];
      old = std::move(slot);
      slot = std::move(sound);
    }
    send_got(key, json);
  }).detach();
}

double num(const std::string& s) { return ascii_num(s); }
int32_t voice_id(const std::string& s) {
  return static_cast<int32_t>(std::strtoul(s.c_str(), nullptr, 10));
}

void do_play(std::string_view rest) {
  std::vector<std::string> f = split_tabs(rest);
  std::shared_ptr<SmpSound> sound;
  {
    std::lock_guard<std::mutex> lock(g_smp_bank_mutex);
    auto it = g_smp_bank.find(tab_field(f, 1));
    if (it == g_smp_bank.end()) return;
    sound = it->second;
  }
  double rate = num(tab_field(f, 4));
  if (!(rate > 0)) rate = 1.0;
  // Sounds let go of are freed after the lock is released, so the mixing
  // thread never waits on a deallocation.
  std::vector<std::shared_ptr<SmpSound>> dropped(1);
  std::lock_guard<std::mutex> lock(g_smp_mutex);
  smp_voice_start(g_smp_voices.data(), g_smp_serial, std::move(sound), voice_id(tab_field(f, 0)),
                  static_cast<float>(num(tab_field(f, 2))), static_cast<float>(num(tab_field(f, 3))),
                  rate, tab_field(f, 5) == "1", &dropped[0]);
  // Slots that ended by themselves still hold their sound (the mixing thread
  // never frees); let those go here.
  for (SmpVoice& v : g_smp_voices)
    if (!v.active && v.sound) dropped.push_back(std::move(v.sound));
}

void do_set(std::string_view rest) {
  std::vector<std::string> f = split_tabs(rest);
  int32_t id = voice_id(tab_field(f, 0));
  std::string gain = tab_field(f, 1), pan = tab_field(f, 2), rate = tab_field(f, 3);
  std::lock_guard<std::mutex> lock(g_smp_mutex);
  for (SmpVoice& v : g_smp_voices) {
    if (!v.active || v.releasing || v.id != id) continue;
    if (gain != "_") v.gain = static_cast<float>(num(gain));
    if (pan != "_") v.pan = static_cast<float>(num(pan));
    if (rate != "_" && num(rate) > 0) v.rate = num(rate);
    smp_voice_targets(v);
    return;
  }
}

void do_stop(std::string_view rest) {
  int32_t id = voice_id(std::string(rest));
  std::lock_guard<std::mutex> lock(g_smp_mutex);
  for (SmpVoice& v : g_smp_voices) {
    if (v.active && v.id == id) {
      smp_voice_release(v);
      return;
    }
  }
}

void do_unload(std::string_view rest) {
  std::shared_ptr<SmpSound> sound;
  {
    std::lock_guard<std::mutex> lock(g_smp_bank_mutex);
    auto it = g_smp_bank.find(wire_unescape(rest));
    if (it == g_smp_bank.end()) return;
    sound = std::move(it->second);
    g_smp_bank.erase(it);
  }
  std::vector<std::shared_ptr<SmpSound>> dropped;
  std::lock_guard<std::mutex> lock(g_smp_mutex);
  for (SmpVoice& v : g_smp_voices) {
    if (v.sound != sound) continue;
    v.active = v.releasing = false;
    dropped.push_back(std::move(v.sound));
  }
}

}  // namespace

void do_sampler_line(std::string_view line) {
  if (line.starts_with("PLAY ")) {
    do_play(line.substr(5));
  } else if (line.starts_with("SET ")) {
    do_set(line.substr(4));
  } else if (line.starts_with("STOPALL")) {
    std::lock_guard<std::mutex> lock(g_smp_mutex);
    for (SmpVoice& v : g_smp_voices)
      if (v.active) smp_voice_release(v);
  } else if (line.starts_with("STOP ")) {
    do_stop(line.substr(5));
  } else if (line.starts_with("MASTER ")) {
    double m = num(std::string(line.substr(7)));
    float v = static_cast<float>(m < 0 ? 0 : (m > 8 ? 8 : m));
    if (!(m >= 0)) v = 0;
    std::lock_guard<std::mutex> lock(g_smp_mutex);
    g_smp_master_target = v;
  } else if (line.starts_with("UNLOAD ")) {
    do_unload(line.substr(7));
  } else {
    size_t sp = line.find(' ');
    if (sp == std::string_view::npos) return;
    std::vector<std::string> f = split_tabs(line.substr(sp + 1));
    do_sampler_load(std::string(line.substr(0, sp)), wire_unescape(tab_field(f, 1)),
                    wire_unescape(tab_field(f, 2)));
  }
}

void smp_stop() {
  if (g_smp_loop) pw_thread_loop_stop(g_smp_loop);
  if (g_smp_stream) pw_stream_destroy(g_smp_stream);
  g_smp_stream = nullptr;
  if (g_smp_core) pw_core_disconnect(g_smp_core);
  g_smp_core = nullptr;
  if (g_smp_ctx) pw_context_destroy(g_smp_ctx);
  g_smp_ctx = nullptr;
  if (g_smp_loop) pw_thread_loop_destroy(g_smp_loop);
  g_smp_loop = nullptr;
  g_smp_node.clear();
  std::lock_guard<std::mutex> lock(g_smp_bank_mutex);
  g_smp_bank.clear();
}
