// Small tools for the audio suites: starting helper programs without a
// shell, making test tones, decoding "AUDIOTAP" lines and measuring a tone
// in 16-bit PCM.
#pragma once

#include <glib.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

// Starts argv (looked up on PATH) with its output discarded; 0 on failure.
inline GPid spawn_bg(const std::vector<std::string>& argv) {
  std::vector<char*> a;
  for (auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  GPid pid = 0;
  auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                        G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
  if (!g_spawn_async(nullptr, a.data(), nullptr, flags, nullptr, nullptr, &pid, nullptr)) return 0;
  return pid;
}

inline void stop_bg(GPid& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  pid = 0;
}

// Runs argv to its end without a shell; its standard output.
inline std::string run_out(const std::vector<std::string>& argv) {
  std::vector<char*> a;
  for (auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  char* out = nullptr;
  g_spawn_sync(nullptr, a.data(), nullptr,
               static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL),
               nullptr, nullptr, &out, nullptr, nullptr, nullptr);
  std::string s = out ? out : "";
  g_free(out);
  return s;
}

// A stereo sine tone file made by sox.
inline std::string make_tone(const std::string& dir, int hz, double seconds, double vol = 0.5) {
  std::string path = dir + "/tone" + std::to_string(hz) + ".wav";
  run_out({"sox", "-n", "-r", "48000", "-c", "2", path, "synth", std::to_string(seconds), "sine",
           std::to_string(hz), "vol", std::to_string(vol)});
  return path;
}

// Plays a file through a PipeWire stream with the given node name.
inline GPid play_named(const std::string& node_name, const std::string& file) {
  std::string esc;
  for (char c : node_name) {
    if (c == '"' || c == '\\') esc += '\\';
    esc += c;
  }
  return spawn_bg({"pw-cat", "--playback", "-P", "{ node.name = \"" + esc + "\" }", file});
}

struct TapChunk {
  std::string pcm;
  int rate = 0, channels = 0, frames = 0;
  long long ms = 0;
};

inline std::optional<TapChunk> parse_tap(const std::string& line) {
  if (line.rfind("AUDIOTAP ", 0) != 0) return std::nullopt;
  std::vector<std::string> f;
  size_t start = 9;
  for (size_t t; (t = line.find('\t', start)) != std::string::npos; start = t + 1)
    f.push_back(line.substr(start, t - start));
  f.push_back(line.substr(start));
  if (f.size() != 5) return std::nullopt;
  TapChunk c;
  gsize n = 0;
  guchar* raw = g_base64_decode(f[0].c_str(), &n);
  c.pcm.assign(reinterpret_cast<char*>(raw), n);
  g_free(raw);
  c.rate = std::atoi(f[1].c_str());
  c.channels = std::atoi(f[2].c_str());
  c.frames = std::atoi(f[3].c_str());
  c.ms = std::atoll(f[4].c_str());
  return c;
}

// One channel (0 left, 1 right) of interleaved stereo s16le.
inline std::vector<double> channel(const std::string& pcm, int ch) {
  std::vector<double> out;
  for (size_t i = 2 * ch; i + 1 < pcm.size(); i += 4) {
    auto lo = static_cast<uint8_t>(pcm[i]), hi = static_cast<uint8_t>(pcm[i + 1]);
    out.push_back(static_cast<int16_t>(lo | (hi << 8)));
  }
  return out;
}

inline double rms(const std::vector<double>& s) {
  double sum = 0;
  for (double v : s) sum += v * v;
  return s.empty() ? 0 : std::sqrt(sum / s.size());
}

// Amplitude of the component at hz (Goertzel).
inline double tone_amplitude(const std::vector<double>& s, double hz, double rate) {
  if (s.empty()) return 0;
  double w = 2 * M_PI * hz / rate, coeff = 2 * std::cos(w), p1 = 0, p2 = 0;
  for (double v : s) {
    double p0 = v + coeff * p1 - p2;
    p2 = p1;
    p1 = p0;
  }
  double power = p1 * p1 + p2 * p2 - coeff * p1 * p2;
  return 2 * std::sqrt(std::max(power, 0.0)) / s.size();
}

}  // namespace e2e
