// "SOUND": the display bell, a named desktop sound or a sound file, played
// once by the first player that starts.
#include <gtk/gtk.h>

#include "audio/audio.h"
#include "audio/child_proc.h"
#include "core/dispatch.h"
#include "core/wire.h"

namespace {

bool is_file(const std::string& p) { return g_file_test(p.c_str(), G_FILE_TEST_IS_REGULAR); }

}  // namespace

void do_sound(std::string_view key, std::string_view payload) {
  std::string name = wire_unescape(payload);
  if (name.empty()) {
    if (GdkDisplay* d = gdk_display_get_default()) gdk_display_beep(d);
    send_got(key, "{\"ok\":true}");
    return;
  }
  std::string path = name;
  if (!is_file(path)) {
    for (const char* ext : {".oga", ".ogg", ".wav"}) {
      std::string themed = "/usr/share/sounds/freedesktop/stereo/" + name + ext;
      if (is_file(themed)) {
        path = themed;
        break;
      }
    }
  }
  if (!is_file(path)) {
    send_got(key, "{\"ok\":false}");
    return;
  }
  // A relative file name such as "-d" must reach the player as a file.
  if (path[0] == '-') path.insert(0, "./");
  for (const char* player : {"paplay", "pw-play", "aplay"}) {
    std::string bin = tool_path(player);
    if (!bin.empty() && spawn_quiet({bin, path})) {
      send_got(key, "{\"ok\":true}");
      return;
    }
  }
  send_got(key, "{\"ok\":false}");
}
