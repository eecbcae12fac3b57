// The audio tap: a recorder child writes raw PCM of the rendered output to a
// pipe, the main loop collects it and sends it out in regular chunks. With
// the "app" scope only this application's streams are heard: they are
// linked, beside their normal route, into a private null sink that the
// recorder listens to.
#include "audio/audio.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <glib-unix.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "audio/child_proc.h"
#include "audio/tool_text.h"
#include "core/app.h"
#include "core/dispatch.h"
#include "core/wire.h"

namespace {

GPid g_tap_pid = 0;
int g_tap_fd = -1;
guint g_tap_watch = 0;
guint g_tap_timer = 0;
guint g_tap_link_timer = 0;
int g_tap_interval = 80;
std::string g_tap_sink;
std::string g_tap_buf;
std::mutex g_tap_mutex;

const char kRecordPcm[] = "{ stream.capture.sink=true }";

// The tools the tap waits for talk to the sound server; when it hangs they
// would too, and the whole program with them.
constexpr int kToolLimitMs = 3000;

// PulseAudio takes "@DEFAULT_MONITOR@" as the default sink's monitor, but
// PipeWire's pulse server hands out the default source for it, so a desktop
// with a microphone would be tapping the microphone. Naming the default
// sink's monitor is right on both; the alias stays for when pactl is absent.
std::string default_monitor() {
  if (std::string pactl = tool_path("pactl"); !pactl.empty()) {
    std::string sink = run_output({pactl, "get-default-sink"}, kToolLimitMs);
    while (!sink.empty() && g_ascii_isspace(sink.back())) sink.pop_back();
    if (!sink.empty() && sink.find('\n') == std::string::npos) return sink + ".monitor";
  }
  return "@DEFAULT_MONITOR@";
}

gboolean tap_link_tick(gpointer) {
  if (g_tap_sink.empty() || g_app_id.empty()) return G_SOURCE_CONTINUE;
  const std::string& smp = g_smp_node;
  for (const char* c : {"FL", "FR"}) {
    std::string in = g_tap_sink + ":playback_" + c;
    // No shell: the application id reaches pw-link as one argument.
    spawn_quiet({"pw-link", g_app_id + ":output_" + c, in});
    if (!smp.empty()) spawn_quiet({"pw-link", smp + ":output_" + c, in});
  }
  return G_SOURCE_CONTINUE;
}

gboolean tap_readable(int fd, GIOCondition cond, gpointer) {
  ssize_t n = 0;
  char buf[16384];
  if (cond & G_IO_IN) {
    n = read(fd, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return G_SOURCE_CONTINUE;
  }
  if (n <= 0) {
    g_tap_watch = 0;
    return G_SOURCE_REMOVE;
  }
  std::lock_guard<std::mutex> lock(g_tap_mutex);
  tap_buffer_append(g_tap_buf, std::string_view(buf, static_cast<size_t>(n)));
  return G_SOURCE_CONTINUE;
}

gboolean tap_tick(gpointer) {
  size_t bytes = tap_chunk_frames(g_tap_interval) * kTapFrameBytes;
  std::string chunk;
  bool taken;
  {
    std::lock_guard<std::mutex> lock(g_tap_mutex);
    taken = tap_take_chunk(g_tap_buf, bytes, chunk);
  }
  // Nothing playing still sends a chunk, of silence, every interval.
  if (!taken) chunk.assign(bytes, '\0');
  pipe_write_line(tap_event_line(chunk, g_get_monotonic_time() / 1000));
  return G_SOURCE_CONTINUE;
}

void on_tap_child_exit(GPid pid, gint status, gpointer) {
  if (pid == g_tap_pid) {
    std::fprintf(stderr, "[ovalis] audio capture exited (status %d) \u2014 stopping tap\n", status);
    g_tap_pid = 0;
    tap_stop();
  }
  g_spawn_close_pid(pid);
}

void remove_source(guint& id) {
  if (id) g_source_remove(id);
  id = 0;
}

// wait: the sink is gone when this returns, so a restart can create one of
// the same name without the old removal catching it.
void tap_stop_impl(bool wait) {
  remove_source(g_tap_timer);
  remove_source(g_tap_link_timer);
  remove_source(g_tap_watch);
  if (g_tap_fd >= 0) close(g_tap_fd);
  g_tap_fd = -1;
  if (g_tap_pid) {
    kill(g_tap_pid, SIGTERM);
    // The child watch stays and reaps it; it no longer counts as the tap.
    g_tap_pid = 0;
  }
  if (!g_tap_sink.empty()) {
    if (wait) run_and_wait({"sh", "-c", kTapDestroyScript, "sh", g_tap_sink}, kToolLimitMs);
    else run_sh(kTapDestroyScript, {g_tap_sink});
    g_tap_sink.clear();
  }
  std::lock_guard<std::mutex> lock(g_tap_mutex);
  g_tap_buf.clear();
}

}  // namespace

void tap_stop() { tap_stop_impl(false); }

void do_audiotap(std::string_view key, std::string_view payload) {
  std::vector<std::string> f = split_tabs(payload);
  std::string scope = tab_field(f, 0);
  long interval = std::strtol(tab_field(f, 2).c_str(), nullptr, 10);
  tap_stop_impl(true);

  std::string pw_cli = tool_path("pw-cli"), pw_cat = tool_path("pw-cat");
  std::string pw_link = tool_path("pw-link");
  std::vector<std::string> rec;
  if (scope == "app" && !pw_cli.empty() && !pw_cat.empty() && !pw_link.empty() &&
      !g_app_id.empty()) {
    run_sh(kTapCleanupScript);
    g_tap_sink = "ovalis-tap-" + std::to_string(getpid());
    run_and_wait({pw_cli, "create-node", "adapter",
                  "{ factory.name=support.null-audio-sink node.name=" + g_tap_sink +
                      " media.class=Audio/Sink object.linger=true audio.position=[FL FR] }"},
                 kToolLimitMs);
    rec = {pw_cat,   "--record", "--format", "s16",      "--rate",     "44100", "--channels",
           "2",      "-P",       kRecordPcm, "--target", g_tap_sink, "-"};
    tap_link_tick(nullptr);
    g_tap_link_timer = g_timeout_add(250, tap_link_tick, nullptr);
  } else if (std::string parec = tool_path("parec"); !parec.empty()) {
    rec = {parec, "-d", default_monitor(), "--format=s16le", "--rate=44100", "--channels=2",
           "--raw"};
  } else if (!pw_cat.empty()) {
    rec = {pw_cat, "--record", "--format", "s16", "--rate", "44100", "--channels", "2",
           "-P",   kRecordPcm, "-"};
  } else {
    send_got(key,
             "{\"ok\":false,\"code\":\"unsupported\",\"message\":\"no parec or pw-cat on PATH\"}");
    return;
  }

  int fd = -1;
  GPid pid = spawn_watched(rec, &fd);
  if (!pid) {
    send_got(key, "{\"ok\":false,\"code\":\"failed\"}");
    return;
  }
  g_tap_pid = pid;
  g_tap_fd = fd;
  g_unix_set_fd_nonblocking(fd, TRUE, nullptr);
  g_tap_interval = tap_clamp_interval(interval);
  g_child_watch_add(pid, on_tap_child_exit, nullptr);
  g_tap_watch = g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                              tap_readable, nullptr);
  g_tap_timer = g_timeout_add(static_cast<guint>(g_tap_interval), tap_tick, nullptr);
  send_got(key, "{\"ok\":true,\"sampleRate\":44100,\"channels\":2}");
}
