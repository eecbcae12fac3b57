#include <gtest/gtest.h>

#include <X11/keysym.h>

#include "input/combo.h"
#include "input/mousetrack.h"

namespace {

TEST(Combo, ModifierAliasesAndCase) {
  Combo a = read_combo("Ctrl+Shift+K"), b = read_combo("control+shift+k");
  EXPECT_TRUE(a.valid && b.valid);
  EXPECT_EQ(a.key, "k");
  EXPECT_EQ(b.key, "k");
  EXPECT_TRUE(a.ctrl && a.shift && !a.cmd && !a.alt && !a.super);
  Combo all = read_combo("command+META+opt+option+WIN+super+x");
  EXPECT_TRUE(all.valid && all.cmd && all.alt && all.super && !all.ctrl && !all.shift);
  // cmd and ctrl both mean Control for X.
  EXPECT_EQ(parse_combo("cmd+k").mask, parse_combo("ctrl+k").mask);
  EXPECT_EQ(parse_combo("Ctrl+Shift+K").mask, 4u | 1u);
  EXPECT_EQ(parse_combo("alt+super+a").mask, 8u | 0x40u);
}

TEST(Combo, InvalidShapes) {
  for (const char* bad : {"ctrl++", "ctrl+", "ctrl+a+b", "shift", "super", "", "+a", "a++b"}) {
    Combo c = read_combo(bad);
    EXPECT_FALSE(c.valid) << bad;
    EXPECT_TRUE(c.key.empty()) << bad;
    EXPECT_FALSE(parse_combo(bad).ok) << bad;
  }
}

TEST(Combo, CanonicalKeys) {
  const std::pair<const char*, const char*> cases[] = {
      {"'", "quote"},     {",", "comma"},     {"-", "minus"},     {".", "period"},
      {"/", "slash"},     {";", "semicolon"}, {"=", "equal"},     {"[", "bracketleft"},
      {"\\", "backslash"}, {"]", "bracketright"}, {"`", "grave"}, {"x", "x"},
      {"enter", "return"}, {"esc", "escape"}, {"delete", "backspace"}, {"del", "backspace"},
      {"apostrophe", "quote"}, {"equals", "equal"}, {"backtick", "grave"},
      {"pgup", "pageup"}, {"pgdn", "pagedown"}, {"space", "space"}};
  for (auto [in, want] : cases) EXPECT_EQ(canonical_key(in), want) << in;
  EXPECT_EQ(read_combo("ctrl+PgUp").key, "pageup");
}

TEST(Combo, Keysyms) {
  EXPECT_EQ(parse_combo("f12").keysym, static_cast<unsigned long>(XK_F12));
  EXPECT_EQ(parse_combo("f35").keysym, static_cast<unsigned long>(XK_F35));
  EXPECT_EQ(parse_combo("f1").keysym, static_cast<unsigned long>(XK_F1));
  for (const char* none : {"f36", "f0", "f99999999999999999999", "nosuchkey"})
    EXPECT_FALSE(parse_combo(none).ok) << none;
  EXPECT_EQ(parse_combo("f").keysym, static_cast<unsigned long>(XK_f));
  EXPECT_EQ(parse_combo("ctrl+enter").keysym, static_cast<unsigned long>(XK_Return));
  EXPECT_EQ(parse_combo("ctrl+return").keysym, static_cast<unsigned long>(XK_Return));
  EXPECT_EQ(parse_combo("ctrl+delete").keysym, static_cast<unsigned long>(XK_BackSpace));
  EXPECT_EQ(parse_combo("ctrl+forwarddelete").keysym, static_cast<unsigned long>(XK_Delete));
  EXPECT_EQ(parse_combo("pgdn").keysym, static_cast<unsigned long>(XK_Next));
  EXPECT_EQ(parse_combo("'").keysym, static_cast<unsigned long>(XK_apostrophe));
  EXPECT_EQ(parse_combo("ctrl+,").keysym, static_cast<unsigned long>(XK_comma));
  EXPECT_EQ(parse_combo("`").keysym, static_cast<unsigned long>(XK_grave));
  EXPECT_EQ(parse_combo("5").keysym, static_cast<unsigned long>(XK_5));
  EXPECT_EQ(parse_combo("Tab").keysym, static_cast<unsigned long>(XK_Tab));
}

TEST(Combo, PortalTriggers) {
  EXPECT_EQ(portal_trigger("ctrl+shift+K"), "CTRL+SHIFT+K");
  EXPECT_EQ(portal_trigger("super+space"), "LOGO+space");
  EXPECT_EQ(portal_trigger("Cmd+Alt+Enter"), "CTRL+ALT+Enter");
  EXPECT_EQ(portal_trigger("shift+opt+meta+f5"), "SHIFT+ALT+CTRL+f5");
  EXPECT_EQ(portal_trigger("F1"), "F1");
}

TEST(MouseTracking, BufferToLogicalScaling) {
  MtPoint p = mt_to_global(1000, 501, 3840, 2160, 1920, 1080, 1920, 0);
  EXPECT_EQ(p.x, 2420);
  EXPECT_EQ(p.y, 251);
  // Same sizes, or sizes not known yet: only the offset applies.
  p = mt_to_global(10, 20, 1920, 1080, 1920, 1080, -100, 50);
  EXPECT_EQ(p.x, -90);
  EXPECT_EQ(p.y, 70);
  p = mt_to_global(10, 20, 0, 0, 1920, 1080, 0, 0);
  EXPECT_EQ(p.x, 10);
  EXPECT_EQ(p.y, 20);
}

}  // namespace
