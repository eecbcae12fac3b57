// The key-combination grammar shared by hotkeys and keystrokes: "ctrl+shift+k"
// and its aliases, read into modifier flags and one canonical key name, and
// turned into an X modifier mask and keysym. Pure code, no display needed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct Combo {
  std::string key;  // canonical key name; empty when invalid
  bool cmd = false, ctrl = false, alt = false, shift = false, super = false;
  bool valid = false;  // exactly one key part and no empty part
};

struct ComboX {
  uint32_t mask = 0;    // ControlMask, Mod1Mask, ShiftMask, Mod4Mask
  unsigned long keysym = 0;
  bool ok = false;      // keysym != 0
};

Combo read_combo(std::string_view combo);
std::string canonical_key(std::string_view name);
// The keysym of a key name: the named keys, F1..F35, then the X keysym names.
unsigned long keysym_for_name(std::string_view name);
ComboX parse_combo(std::string_view combo);

// The combination in the global-shortcuts portal's trigger syntax
// ("CTRL+SHIFT+K", "LOGO+space"): modifiers in the order written, then the
// key as written.
std::string portal_trigger(std::string_view combo);
