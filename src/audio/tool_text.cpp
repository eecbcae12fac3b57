#include "audio/tool_text.h"

#include <glib.h>

#include <cmath>
#include <cstdio>

#include "core/gobj.h"
#include "core/wire.h"

int tap_clamp_interval(long ms) {
  if (ms < 20) return 20;
  if (ms > 500) return 500;
  return static_cast<int>(ms);
}

size_t tap_chunk_frames(int interval_ms) {
  return static_cast<size_t>(interval_ms) * kTapRate / 1000;
}

void tap_buffer_append(std::string& buf, std::string_view data) {
  buf.append(data);
  if (buf.size() > kTapMaxBytes) buf.erase(0, buf.size() / 2);
}

bool tap_take_chunk(std::string& buf, size_t bytes, std::string& chunk) {
  if (bytes == 0 || buf.size() < bytes) return false;
  if (buf.size() > 4 * bytes) buf.erase(0, buf.size() - bytes);
  chunk.assign(buf, 0, bytes);
  buf.erase(0, bytes);
  return true;
}

std::string tap_event_line(std::string_view pcm, long long mono_ms) {
  GChars b64(g_base64_encode(reinterpret_cast<const guchar*>(pcm.data()), pcm.size()));
  char tail[96];
  std::snprintf(tail, sizeof tail, "\t%d\t%d\t%d\t%lld", kTapRate, kTapChannels,
                static_cast<int>(pcm.size() / kTapFrameBytes), mono_ms);
  std::string line = "AUDIOTAP ";
  line += b64.get();
  line += tail;
  return line;
}

// pw-cli lists each node as "id <n>, type ..." followed by indented
// "key = "value"" lines. The value is printed as it is, quotes and all, so
// a name is only trusted when the whole line has the expected shape.
const char kTapCleanupScript[] =
    "pw-cli ls Node 2>/dev/null | awk '/^[[:space:]]*id [0-9]+/{id=$2; gsub(/[^0-9]/,\"\",id)} "
    "/^[[:space:]]*node\\.name = \"ovalis-tap-[0-9]+\"$/{p=$0; sub(/.*ovalis-tap-/,\"\",p); "
    "sub(/\".*/,\"\",p); print id, p}' | while read n p; do kill -0 \"$p\" 2>/dev/null || "
    "pw-cli destroy \"$n\" >/dev/null 2>&1; done";

const char kTapDestroyScript[] =
    "pw-cli ls Node 2>/dev/null | OVALIS_NODE=\"$1\" awk '/^[[:space:]]*id [0-9]+/{id=$2; "
    "gsub(/[^0-9]/,\"\",id)} {l=$0; sub(/^[[:space:]]+/,\"\",l)} "
    "l == \"node.name = \\\"\" ENVIRON[\"OVALIS_NODE\"] \"\\\"\" {print id}' | while read n; do "
    "pw-cli destroy \"$n\" >/dev/null 2>&1; done";

std::string say_rate_arg(double rate) {
  if (!(rate > 0)) return "0";  // also NaN
  double r = std::trunc(200 * rate - 100);
  if (r > 1e9) r = 1e9;  // far beyond what spd-say takes, and still an int
  return std::to_string(static_cast<long>(r));
}

bool say_voice_is_lang(std::string_view voice) {
  if (voice.empty() || voice.size() > 6) return false;
  for (char c : voice)
    if (!g_ascii_isalpha(c) && c != '-' && c != '_') return false;
  return true;
}

std::vector<std::string> say_args(std::string_view text, std::string_view voice, double rate) {
  std::vector<std::string> args = {"-w", "-r", say_rate_arg(rate)};
  if (!voice.empty()) {
    args.push_back(say_voice_is_lang(voice) ? "-l" : "-y");
    args.emplace_back(voice);
  }
  // A text such as "-C" or "--stop" would otherwise be taken as an option.
  args.push_back("--");
  args.emplace_back(text);
  return args;
}

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view rstrip(std::string_view s) {
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// Drops the last blank-separated word; returns it.
std::string_view pop_word(std::string_view& s) {
  size_t at = s.size();
  while (at > 0 && !blank(s[at - 1])) --at;
  std::string_view word = s.substr(at);
  s = s.substr(0, at);
  return word;
}

}  // namespace

std::string voices_json(std::string_view listing) {
  std::string out = "[";
  bool first_line = true, any = false;
  size_t start = 0;
  for (size_t nl; (nl = listing.find('\n', start)) != std::string_view::npos; start = nl + 1) {
    std::string_view line = listing.substr(start, nl - start);
    if (first_line) {  // the column header
      first_line = false;
      continue;
    }
    line = rstrip(line);
    if (line.empty()) continue;
    pop_word(line);  // the variant
    line = rstrip(line);
    std::string_view lang = pop_word(line);
    line = rstrip(line);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || lang.empty()) continue;
    if (any) out += ',';
    any = true;
    out += "{\"id\":";
    json_escape_to(out, line);
    out += ",\"name\":";
    json_escape_to(out, line);
    out += ",\"lang\":";
    json_escape_to(out, lang);
    out += ",\"quality\":\"default\"}";
  }
  out += ']';
  return out;
}

bool nowplaying_playing(std::string_view json) {
  size_t at = json.find("\"playing\":");
  if (at == std::string_view::npos) return true;
  return json.substr(at + 10, 4) == "true";
}

std::string mpris_bus_name(std::string_view app_id, std::string_view app_name) {
  std::string_view src = app_id.empty() ? app_name : app_id;
  std::string tail;
  for (char c : src) tail += g_ascii_isalnum(c) ? c : '_';
  // A bus name element may not be empty or start with a digit; such a name
  // would be refused outright and the player never appear.
  if (tail.empty() || g_ascii_isdigit(tail[0])) tail.insert(0, "_");
  return "org.mpris.MediaPlayer2." + tail;
}

std::string mediakey_seek_line(double seconds) {
  char num[G_ASCII_DTOSTR_BUF_SIZE];
  g_ascii_formatd(num, sizeof num, "%.3f", seconds);
  return std::string("MEDIAKEY seek\t") + num;
}
