// Answers to the backend's "GET" queries, each from the feature that owns
// the data.
#include "app/root.h"
#include "core/dispatch.h"
#include "desktop/desktop.h"
#include "menus/menus.h"
#include "windows/windows.h"

void do_get(std::string_view rest) {
  size_t sp = rest.find(' ');
  if (sp == std::string_view::npos) return;
  std::string_view id = rest.substr(0, sp);
  std::string_view key = rest.substr(sp + 1);
  if (key == "windows") return send_got(id, windows_json());
  if (key == "win") return send_got(id, win_state_json("main"));
  if (key.starts_with("win:")) return send_got(id, win_state_json(key.substr(4)));
  if (key == "mouse") return send_got(id, mouse_json("main"));
  if (key.starts_with("mouse:")) return send_got(id, mouse_json(key.substr(6)));
  if (key == "fgscreen") return send_got(id, fgscreen_json());
  if (key == "screens") return send_got(id, screens_json());
  if (key == "clipboard") return send_got(id, clipboard_json(false));
  if (key == "clipboard:count") return send_got(id, clipboard_json(true));
  if (key == "idle") return send_got(id, idle_json());
  if (key == "battery") return send_got(id, battery_json());
  if (key.starts_with("item:")) return send_got(id, item_json(key.substr(5), false));
  if (key.starts_with("item@")) return send_got(id, item_json(key.substr(5), true));
  // Keys this build has no data for answer null, so the backend never waits.
  send_got(id, "null");
}
