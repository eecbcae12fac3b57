// Synthetic keystrokes through XTest, on a display connection of our own
// (not the toolkit's), opened once and kept.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdint>

#include "input/combo.h"
#include "input/input.h"

namespace {

Display* xtest_display() {
  // A function-local static: initialised once, thread-safe; may stay null.
  static Display* dpy = XOpenDisplay(nullptr);
  return dpy;
}

struct ModKey {
  uint32_t mask;
  KeySym sym;
};
// Pressed and released in this same order.
constexpr ModKey kModKeys[] = {
    {ControlMask, XK_Control_L}, {Mod1Mask, XK_Alt_L}, {ShiftMask, XK_Shift_L},
    {Mod4Mask, XK_Super_L}};

void post_modifiers(Display* dpy, uint32_t mask, bool press) {
  for (const ModKey& m : kModKeys) {
    if (!(mask & m.mask)) continue;
    // A keyboard map without this modifier key: keycode 0 is no key at all.
    KeyCode kc = XKeysymToKeycode(dpy, m.sym);
    if (kc) XTestFakeKeyEvent(dpy, kc, press ? True : False, CurrentTime);
  }
}

}  // namespace

bool do_keystroke(std::string_view combo) {
  Display* dpy = xtest_display();
  int ev = 0, err = 0, major = 0, minor = 0;
  if (!dpy || !XTestQueryExtension(dpy, &ev, &err, &major, &minor)) return false;
  ComboX x = parse_combo(combo);
  if (!x.ok) return false;
  KeyCode kc = XKeysymToKeycode(dpy, x.keysym);
  if (!kc) return false;
  post_modifiers(dpy, x.mask, true);
  XTestFakeKeyEvent(dpy, kc, True, CurrentTime);
  XTestFakeKeyEvent(dpy, kc, False, CurrentTime);
  post_modifiers(dpy, x.mask, false);
  XFlush(dpy);
  return true;
}
