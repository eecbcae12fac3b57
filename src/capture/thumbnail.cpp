// Thumbnails of image files for pages, made for double-density screens and
// never larger than the image itself.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "capture/capture.h"
#include "capture/temp_png.h"
#include "core/dispatch.h"
#include "core/gobj.h"
#include "core/wire.h"

namespace {

constexpr long kMaxThumbSize = 2048;

long thumb_size(const std::string& field) {
  if (field.empty()) return 256;
  char* end = nullptr;
  long s = std::strtol(field.c_str(), &end, 10);
  if (end == field.c_str() || s < 1) return 256;
  // Thumbnails are for showing, at twice this size at most: a larger size
  // would only load the whole image, however big it is.
  return std::min(s, kMaxThumbSize);
}

// Loads at the target size where the image is larger: a camera photo then
// never has to sit in memory at full size, and loaders that can decode at
// a reduced size (JPEG) do so.
GObj<GdkPixbuf> load_thumbnail(const std::string& path, long size) {
  int w = 0, h = 0;
  if (!gdk_pixbuf_get_file_info(path.c_str(), &w, &h) || w <= 0 || h <= 0) return nullptr;
  double f = 2.0 * static_cast<double>(size) / std::max(w, h);
  GObj<GdkPixbuf> img;
  if (f > 1) {
    img.reset(gdk_pixbuf_new_from_file(path.c_str(), nullptr));
  } else {
    int tw = std::max(1, static_cast<int>(w * f));
    int th = std::max(1, static_cast<int>(h * f));
    img.reset(gdk_pixbuf_new_from_file_at_scale(path.c_str(), tw, th, FALSE, nullptr));
  }
  if (!img) return nullptr;
  // Photos from cameras and phones say how they are meant to be turned.
  return GObj<GdkPixbuf>(gdk_pixbuf_apply_embedded_orientation(img.get()));
}

}  // namespace

void do_thumb(std::string_view id, std::string_view rest) {
  std::vector<std::string> f = split_tabs(rest);
  std::string path = wire_unescape(tab_field(f, 0));
  long size = thumb_size(tab_field(f, 1));
  GStatBuf st;
  if (path.empty() || g_stat(path.c_str(), &st) != 0) {
    got_unsupported(id, "no such file");
    return;
  }
  GObj<GdkPixbuf> thumb = load_thumbnail(path, size);
  std::string out = thumb ? save_temp_png(thumb.get(), "thumb") : "";
  if (out.empty()) {
    got_unsupported(id, "no thumbnail");
    return;
  }
  send_got(id, "{\"ok\":true,\"path\":" + json_escape(out) +
                   ",\"width\":" + std::to_string(gdk_pixbuf_get_width(thumb.get())) +
                   ",\"height\":" + std::to_string(gdk_pixbuf_get_height(thumb.get())) + "}");
}
