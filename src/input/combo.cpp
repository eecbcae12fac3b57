#include "input/combo.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <map>
#include <vector>

namespace {

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::vector<std::string_view> split_plus(std::string_view s) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t p = s.find('+', start);
    parts.push_back(s.substr(start, p == std::string_view::npos ? std::string_view::npos : p - start));
    if (p == std::string_view::npos) break;
    start = p + 1;
  }
  return parts;
}

enum class Mod { Key, Cmd, Ctrl, Alt, Shift, Super };

Mod modifier_of(const std::string& lower) {
  if (lower == "cmd" || lower == "command" || lower == "meta") return Mod::Cmd;
  if (lower == "ctrl" || lower == "control") return Mod::Ctrl;
  if (lower == "alt" || lower == "opt" || lower == "option") return Mod::Alt;
  if (lower == "shift") return Mod::Shift;
  if (lower == "win" || lower == "super") return Mod::Super;
  return Mod::Key;
}

const std::map<std::string, unsigned long, std::less<>>& named_keys() {
  static const std::map<std::string, unsigned long, std::less<>> table = {
      {"enter", XK_Return},   {"return", XK_Return},    {"tab", XK_Tab},
      {"space", XK_space},    {"esc", XK_Escape},       {"escape", XK_Escape},
      {"delete", XK_BackSpace}, {"backspace", XK_BackSpace}, {"forwarddelete", XK_Delete},
      {"up", XK_Up},          {"down", XK_Down},        {"left", XK_Left},
      {"right", XK_Right},    {"home", XK_Home},        {"end", XK_End},
      {"pageup", XK_Prior},   {"pagedown", XK_Next},    {"quote", XK_apostrophe},
  };
  return table;
}

}  // namespace

std::string canonical_key(std::string_view name) {
  if (name.size() == 1) {
    switch (name[0]) {
      case '\'': return "quote";
      case ',': return "comma";
      case '-': return "minus";
      case '.': return "period";
      case '/': return "slash";
      case ';': return "semicolon";
      case '=': return "equal";
      case '[': return "bracketleft";
      case '\\': return "backslash";
      case ']': return "bracketright";
      case '`': return "grave";
      default: return std::string(name);
    }
  }
  if (name == "enter") return "return";
  if (name == "esc") return "escape";
  if (name == "delete" || name == "del") return "backspace";
  if (name == "apostrophe") return "quote";
  if (name == "equals") return "equal";
  if (name == "backtick") return "grave";
  if (name == "pgup") return "pageup";
  if (name == "pgdn") return "pagedown";
  return std::string(name);
}

Combo read_combo(std::string_view combo) {
  Combo c;
  int keys = 0;
  bool empty_part = false;
  for (std::string_view part : split_plus(combo)) {
    if (part.empty()) {
      empty_part = true;
      continue;
    }
    std::string lower = ascii_lower(part);
    switch (modifier_of(lower)) {
      case Mod::Cmd: c.cmd = true; break;
      case Mod::Ctrl: c.ctrl = true; break;
      case Mod::Alt: c.alt = true; break;
      case Mod::Shift: c.shift = true; break;
      case Mod::Super: c.super = true; break;
      case Mod::Key:
        c.key = canonical_key(lower);
        ++keys;
        break;
    }
  }
  c.valid = keys == 1 && !empty_part;
  if (!c.valid) c.key.clear();
  return c;
}

unsigned long keysym_for_name(std::string_view name) {
  const auto& table = named_keys();
  if (auto it = table.find(name); it != table.end()) return it->second;
  if (name.size() >= 2 && name[0] == 'f' &&
      name.find_first_not_of("0123456789", 1) == std::string_view::npos) {
    // Bounded before converting, so a long run of digits cannot overflow.
    std::string_view digits = name.substr(1);
    while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
    if (digits.size() > 2) return 0;
    int n = std::stoi(std::string(digits));
    return n >= 1 && n <= 35 ? XK_F1 - 1 + n : 0;
  }
  std::string z(name);
  KeySym ks = XStringToKeysym(z.c_str());
  return ks == NoSymbol ? 0 : ks;
}

ComboX parse_combo(std::string_view combo) {
  ComboX x;
  Combo c = read_combo(combo);
  if (!c.valid) return x;
  if (c.cmd || c.ctrl) x.mask |= ControlMask;
  if (c.alt) x.mask |= Mod1Mask;
  if (c.shift) x.mask |= ShiftMask;
  if (c.super) x.mask |= Mod4Mask;
  x.keysym = keysym_for_name(c.key);
  x.ok = x.keysym != 0;
  return x;
}

std::string portal_trigger(std::string_view combo) {
  std::string mods, key;
  for (std::string_view part : split_plus(combo)) {
    const char* word = nullptr;
    switch (modifier_of(ascii_lower(part))) {
      case Mod::Cmd:
      case Mod::Ctrl: word = "CTRL"; break;
      case Mod::Alt: word = "ALT"; break;
      case Mod::Shift: word = "SHIFT"; break;
      case Mod::Super: word = "LOGO"; break;
      case Mod::Key: key = std::string(part); break;
    }
    if (word) {
      if (!mods.empty()) mods += '+';
      mods += word;
    }
  }
  if (mods.empty()) return key;
  return mods + "+" + key;
}
