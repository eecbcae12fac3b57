// Pointer tracking state shared between the portal dialogue (main thread)
// and the PipeWire stream thread: plain atomics, written there, read here.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<bool> g_mt_active, g_mt_have;
extern std::atomic<int> g_mt_px, g_mt_py;
extern std::atomic<int> g_mt_off_x, g_mt_off_y, g_mt_log_w, g_mt_log_h;
extern std::atomic<int> g_mt_buf_w, g_mt_buf_h;

// Connects the tracking stream to a node of the portal's PipeWire remote;
// takes the descriptor. False when any step failed (everything is undone).
bool mt_pw_connect(int fd, uint32_t node);
// Stops the stream thread and frees every PipeWire object there is.
void mt_pw_teardown();

// A cursor position in buffer pixels, in the global logical space: scaled
// when the stream's size differs from the monitor's logical size, rounded,
// and moved by the monitor's position.
struct MtPoint {
  int x, y;
};
inline MtPoint mt_to_global(double x, double y, int buf_w, int buf_h, int log_w, int log_h,
                            int off_x, int off_y) {
  if (buf_w > 0 && log_w > 0 && buf_w != log_w) x = x * log_w / buf_w;
  if (buf_h > 0 && log_h > 0 && buf_h != log_h) y = y * log_h / buf_h;
  return {off_x + static_cast<int>(x + 0.5), off_y + static_cast<int>(y + 0.5)};
}
