// Global hotkeys: registration and the X11 path, a passive grab on the root
// window read through a GDK event filter. Elsewhere the portal takes over
// (gs_portal.cpp).
// The keyword table names a command None, which Xlib defines as a macro:
// the project headers come first.
#include "core/dispatch.h"
#include "core/wire.h"
#include "input/combo.h"
#include "input/hotkeys_internal.h"
#include "input/input.h"
#include "windows/windows.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <cstdint>
#include <cstdio>
#include <map>

namespace {

struct Hotkey {
  uint8_t keycode = 0;
  uint32_t mask = 0;
};

std::map<std::string, Hotkey, std::less<>> g_hotkeys;
bool g_hotkey_filter_installed = false;

// The modifiers a press is compared on: Shift, Control, Mod1, Mod4. Lock and
// NumLock (Mod2) are left out so that they never block a hotkey.
constexpr uint32_t kHotkeyMods = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;

void grab_key(Display* dpy, Window window, uint8_t keycode, uint32_t mods, bool grab) {
  static const uint32_t extras[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
  for (uint32_t extra : extras) {
    if (grab)
      XGrabKey(dpy, keycode, mods | extra, window, False, GrabModeAsync, GrabModeAsync);
    else
      XUngrabKey(dpy, keycode, mods | extra, window);
  }
}

// Several ids may share one combination, and the server keeps a single grab
// for them: it is released only when no other id still needs it.
void release_grab(Display* dpy, Window root, const std::string& id, const Hotkey& hk) {
  for (const auto& [other, o] : g_hotkeys)
    if (other != id && o.keycode == hk.keycode && o.mask == hk.mask) return;
  grab_key(dpy, root, hk.keycode, hk.mask, false);
}

GdkFilterReturn hotkey_filter(GdkXEvent* xevent, GdkEvent*, gpointer) {
  auto* e = static_cast<XEvent*>(xevent);
  if (e->type != KeyPress) return GDK_FILTER_CONTINUE;
  for (const auto& [id, hk] : g_hotkeys) {
    if (hk.keycode == e->xkey.keycode && hk.mask == (e->xkey.state & kHotkeyMods)) {
      pipe_write_line("HOTKEY " + id);
      return GDK_FILTER_REMOVE;
    }
  }
  return GDK_FILTER_CONTINUE;
}

void install_filter(GdkDisplay* display, Display* dpy, Window root) {
  if (g_hotkey_filter_installed) return;
  // Added to the mask the toolkit already selected on the root window
  // (property and structure changes), never in place of it.
  XWindowAttributes wa{};
  long mask = KeyPressMask;
  if (XGetWindowAttributes(dpy, root, &wa)) mask |= wa.your_event_mask;
  XSelectInput(dpy, root, mask);
  GdkWindow* groot = gdk_screen_get_root_window(gdk_display_get_default_screen(display));
  gdk_window_add_filter(groot, hotkey_filter, nullptr);
  g_hotkey_filter_installed = true;
}

std::string x11_register(const std::string& id, const std::string& combo) {
  GdkDisplay* display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display)) return "not an X11 display";
  Display* dpy = GDK_DISPLAY_XDISPLAY(display);
  ComboX x = parse_combo(combo);
  KeyCode keycode = x.ok ? XKeysymToKeycode(dpy, x.keysym) : 0;
  if (keycode == 0) return "unknown key";
  Window root = RootWindow(dpy, DefaultScreen(dpy));

  if (auto it = g_hotkeys.find(id); it != g_hotkeys.end()) {
    Hotkey old = it->second;
    g_hotkeys.erase(it);
    release_grab(dpy, root, id, old);
  }
  gdk_x11_display_error_trap_push(display);
  grab_key(dpy, root, keycode, x.mask, true);
  XFlush(dpy);
  if (gdk_x11_display_error_trap_pop(display)) {
    // Some variants may have been granted before one was refused.
    gdk_x11_display_error_trap_push(display);
    grab_key(dpy, root, keycode, x.mask, false);
    XFlush(dpy);
    gdk_x11_display_error_trap_pop_ignored(display);
    return "the system refused it (another app may hold it)";
  }
  g_hotkeys[id] = Hotkey{keycode, x.mask};
  install_filter(display, dpy, root);
  return "";
}

}  // namespace

std::string hotkey_register(const std::string& id, const std::string& combo) {
  std::string err;
  if (!read_combo(combo).valid) err = "needs exactly one key plus modifiers";
  else if (on_x11()) err = x11_register(id, combo);
  else gs_register(id, combo);
  if (!err.empty())
    std::fprintf(stderr, "ovalis: hotkey \"%s\" not registered: %s\n", combo.c_str(),
                 err.c_str());
  return err;
}

void do_hkreg(std::string_view rest) {
  size_t sp = rest.find(' ');
  std::string_view key = rest.substr(0, sp);
  std::vector<std::string> fields =
      sp == std::string_view::npos ? std::vector<std::string>{} : split_tabs(rest.substr(sp + 1));
  std::string err = hotkey_register(tab_field(fields, 0), tab_field(fields, 1));
  if (err.empty()) send_got(key, "{\"ok\":true}");
  else send_got(key, "{\"ok\":false,\"error\":" + json_escape(err) + "}");
}

void do_hkunreg(std::string_view id) {
  GdkDisplay* display = gdk_display_get_default();
  if (on_x11()) {
    if (!display || !GDK_IS_X11_DISPLAY(display)) return;
    auto it = g_hotkeys.find(id);
    if (it == g_hotkeys.end()) return;
    Display* dpy = GDK_DISPLAY_XDISPLAY(display);
    Hotkey hk = it->second;
    std::string name = it->first;
    g_hotkeys.erase(it);
    gdk_x11_display_error_trap_push(display);
    release_grab(dpy, RootWindow(dpy, DefaultScreen(dpy)), name, hk);
    XFlush(dpy);
    gdk_x11_display_error_trap_pop_ignored(display);
    return;
  }
  gs_unregister(std::string(id));
}
