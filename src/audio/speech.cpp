// Speech through the desktop's speech dispatcher: "SAY" speaks with
// `spd-say -w` and answers when that child ends, "SAYSTOP" cuts it short,
// "VOICES" lists the installed voices.
#include <signal.h>
#include <unistd.h>

#include <glib-unix.h>

#include <cstdlib>
#include <set>

#include "audio/audio.h"
#include "audio/child_proc.h"
#include "audio/tool_text.h"
#include "core/dispatch.h"
#include "core/wire.h"

namespace {

GPid g_say_pid = 0;

void on_say_exit(GPid pid, gint status, gpointer data) {
  std::string* key = static_cast<std::string*>(data);
  if (pid == g_say_pid) g_say_pid = 0;
  send_got(*key, status == 0 ? "{\"ok\":true}" : "{\"ok\":false}");
  delete key;
  g_spawn_close_pid(pid);
}

// One pending "VOICES": owned by its callbacks, freed by voices_finish.
struct VoicesCtx {
  std::string key;
  GPid pid = 0;
  int fd = -1;
  guint watch = 0;
  guint timeout = 0;
  std::string out;
  bool finished = false;
};

// Listing children not yet reaped: only these may still be signalled, so a
// pid the system has handed to another process is never hit.
std::set<GPid> g_voices_live;

void on_voices_exit(GPid pid, gint, gpointer) {
  g_voices_live.erase(pid);
  g_spawn_close_pid(pid);
}

void voices_finish(VoicesCtx* ctx) {
  if (ctx->finished) return;
  ctx->finished = true;
  if (ctx->watch) g_source_remove(ctx->watch);
  if (ctx->timeout) g_source_remove(ctx->timeout);
  if (ctx->fd >= 0) close(ctx->fd);
  // Its own child watch reaps it.
  if (ctx->pid && g_voices_live.count(ctx->pid)) kill(ctx->pid, SIGTERM);
  send_got(ctx->key, "{\"ok\":true,\"voices\":" + voices_json(ctx->out) + "}");
  delete ctx;
}

gboolean voices_readable(int fd, GIOCondition cond, gpointer data) {
  auto* ctx = static_cast<VoicesCtx*>(data);
  bool done = drain_pipe(fd, ctx->out);
  if (done || (cond & (G_IO_HUP | G_IO_ERR))) {
    if (!done) drain_pipe(fd, ctx->out);
    ctx->watch = 0;
    voices_finish(ctx);
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

gboolean voices_timeout(gpointer data) {
  auto* ctx = static_cast<VoicesCtx*>(data);
  ctx->timeout = 0;
  voices_finish(ctx);
  return G_SOURCE_REMOVE;
}

}  // namespace

void do_say(std::string_view key, std::string_view payload) {
  std::vector<std::string> f = split_tabs(payload);
  std::string text = wire_unescape(tab_field(f, 0));
  std::string voice = wire_unescape(tab_field(f, 1));
  double rate = g_ascii_strtod(tab_field(f, 2).c_str(), nullptr);
  std::string spd = tool_path("spd-say");
  if (spd.empty()) {
    send_got(key, "{\"ok\":false}");
    return;
  }
  std::vector<std::string> argv = say_args(text, voice, rate);
  argv.insert(argv.begin(), spd);
  GPid pid = spawn_watched(argv, nullptr);
  if (!pid) {
    send_got(key, "{\"ok\":false}");
    return;
  }
  g_say_pid = pid;
  g_child_watch_add(pid, on_say_exit, new std::string(key));
}

void do_saystop() {
  if (g_say_pid) kill(g_say_pid, SIGTERM);
  if (std::string spd = tool_path("spd-say"); !spd.empty()) spawn_quiet({spd, "-S"});
}

void do_voices(std::string_view key) {
  std::string spd = tool_path("spd-say");
  int fd = -1;
  GPid pid = spd.empty() ? 0 : spawn_watched({spd, "-L"}, &fd);
  if (!pid) {
    send_got(key, "{\"ok\":true,\"voices\":[]}");
    return;
  }
  g_voices_live.insert(pid);
  g_child_watch_add(pid, on_voices_exit, nullptr);
  g_unix_set_fd_nonblocking(fd, TRUE, nullptr);
  auto* ctx = new VoicesCtx{.key = std::string(key), .pid = pid, .fd = fd};
  ctx->watch = g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                             voices_readable, ctx);
  ctx->timeout = g_timeout_add(4000, voices_timeout, ctx);
}
