// Temporary PNG files. The names are predictable and the folder is shared,
// so the file is opened exclusively rather than by name through fopen.
#include "capture/temp_png.h"

#include <fcntl.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <cerrno>

#include "core/gobj.h"

namespace {

gboolean write_all(const gchar* buf, gsize count, GError** error, gpointer data) {
  int fd = *static_cast<int*>(data);
  while (count > 0) {
    ssize_t n = write(fd, buf, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      g_set_error_literal(error, G_FILE_ERROR, g_file_error_from_errno(errno), "write failed");
      return FALSE;
    }
    buf += n;
    count -= static_cast<gsize>(n);
  }
  return TRUE;
}

}  // namespace

std::string save_temp_png(GdkPixbuf* image, const char* kind) {
  std::string path = std::string(g_get_tmp_dir()) + "/ovalis-" + kind + "-" +
                     std::to_string(getpid()) + "-" + std::to_string(g_get_monotonic_time()) +
                     ".png";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return "";
  GError* raw = nullptr;
  bool ok = gdk_pixbuf_save_to_callback(image, write_all, &fd, "png", &raw, nullptr);
  GErr err(raw);
  if (close(fd) != 0) ok = false;
  if (!ok) {
    g_unlink(path.c_str());
    return "";
  }
  return path;
}
