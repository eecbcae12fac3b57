// A screenshot of the whole X11 screen, read straight from the root window.
#include <gdk/gdk.h>

#include <string>

#include "capture/capture.h"
#include "capture/temp_png.h"
#include "core/dispatch.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "windows/windows.h"

namespace {

// Nothing when there is no X11 root window to read (Wayland keeps other
// clients' pixels to itself).
GObj<GdkPixbuf> read_root_window() {
  if (!on_x11()) return nullptr;
  GdkWindow* root = gdk_get_default_root_window();
  if (!root) return nullptr;
  int w = gdk_window_get_width(root), h = gdk_window_get_height(root);
  if (w <= 0 || h <= 0) return nullptr;
  return GObj<GdkPixbuf>(gdk_pixbuf_get_from_window(root, 0, 0, w, h));
}

}  // namespace

void do_capture(std::string_view id) {
  GObj<GdkPixbuf> shot = read_root_window();
  if (!shot) {
    got_unsupported(id, "screen capture needs an X11 session (Wayland: unsupported)");
    return;
  }
  std::string path = save_temp_png(shot.get(), "capture");
  if (path.empty()) {
    got_unsupported(id, "could not save capture");
    return;
  }
  send_got(id, "{\"ok\":true,\"path\":" + json_escape(path) +
                   ",\"width\":" + std::to_string(gdk_pixbuf_get_width(shot.get())) +
                   ",\"height\":" + std::to_string(gdk_pixbuf_get_height(shot.get())) + "}");
}
