// Prints the lines the library builds for a fixed set of calls, one per
// line. The other libraries' sample_lines programs make the same calls: the
// outputs must be equal, and together they show that every command of the
// protocol guide has a builder.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "ovalis/commands.h"
#include "ovalis/wire.h"

using namespace ovalis;
using namespace ovalis::line;

namespace {

void out(const std::string& s) { std::printf("%s\n", s.c_str()); }
void out(const std::optional<std::string>& s) {
  if (s) out(*s);
}
void out(const std::vector<std::string>& v) {
  for (auto& s : v) out(s);
}

}  // namespace

int main() {
  const std::string H = "a\tb\nc\\d \"e\" \xc3\xa9";
  out(ret_line("main:3", true, obj({{"text", H}, {"n", 1.5}, {"list", arr({nullptr, true})}})));
  out(ret_line("second:4", false, obj({{"message", H}})));
  out(emit_line("second", "tick", obj({{"n", 5}})));
  out(eval("main", H));
  out(eval("second", H));
  out(eval_all(H));
  out(title("main", H));
  out(title("second", H));
  out(size("", 800, 600));
  out(get("1", "win:main"));
  out(quit());
  out(reload());
  out(blob("3f9a0c2d7e614b55a1d08c3e9f27b6d4", "move", "/run/user/1000/app/" + H));
  out(blob("up_1-x", "keep", "/tmp/a b.png"));
  out(blob("bad id", "move", "/tmp/x"));
  out(blob("a", "copy", "/tmp/x"));
  WindowSpec w;
  w.id = "second";
  w.target = "/tmp/p.html";
  w.title = H;
  w.width = 720;
  w.height = 480;
  w.chrome.frame = false;
  w.chrome.controls = "all";
  w.x = 10;
  w.y = 20;
  w.parent = "main";
  w.show = false;
  out(winopen(w));
  WindowSpec bad;
  bad.id = "bad id";
  out(winopen(bad));
  out(winclose("second"));
  out(winop("second", "zoom"));
  Chrome c;
  c.frame = true;
  c.transparent = false;
  c.menubar = true;
  out(chrome("main", c));
  out(dragwin("main"));
  out(resizewin("second", "se"));
  MenuItem checked = MenuItem::item("new", H, "Ctrl+N");
  checked.checked = true;
  Menu edit;
  edit.role = "edit";
  out(menubar("", {Menu{H,
                        {checked, MenuItem::separator(),
                         MenuItem::sub("recent", "Open Recent", {MenuItem::item("r1", "notes.txt")}),
                         MenuItem::stock("copy")},
                        ""},
                   edit}));
  MenuItem disabled = MenuItem::item("x", "X");
  disabled.disabled = true;
  out(menubar("second", {Menu{"View", {disabled}, ""}}));
  Tray t;
  t.title = "App";
  t.icon = "/i.png";
  t.tooltip = H;
  t.click_item = true;
  t.items = {MenuItem::item("show", "Show")};
  out(tray(t));
  out(tray_remove());
  out(context_menu({MenuItem::stock("copy"), MenuItem::item("hello", "Say Hello")}));
  out(context_clear());
  out(context_suppress(true));
  out(menu_reset("second"));
  out(menu_update("", "ticks", std::nullopt, false, std::nullopt));
  out(menu_update("second", "ticks", "Label", true, true));
  out(dlg("main:5", "confirm", {"Quit?", H, "Quit", "Stay"}));
  out(dlg("q40", "save", {"txt", "notes.txt", "downloads"}));
  out(navr("n1", "allow"));
  out(popupr("p1", "deny"));
  out(find("main:8", H, true, false));
  out(stopfind("main:9"));
  out(print("second"));
  out(pdf("second", "12", "/tmp/a b.pdf"));
  out(pdf("main", "13", H));
  out(cookies("20", "get", {"https://example.org"}));
  out(cookies("21", "set", {"sid", H, "example.org", "/", "1767225600000", "1", "1", "lax"}));
  out(permission("30", false, "notifications"));
  out(permission("31", true, "automation"));
  ClipData d;
  d.text = H;
  d.html = "<b>x</b>";
  d.paths = {"/a", "/b"};
  out(clipwrite(d));
  out(clipwatch(500));
  out(notify("n1", "Title", H, "sub", true, {{"open", "Open log"}}));
  out(notify("", "T", "B", "", false, {}));
  out(power("1", true, true, H));
  out(power("2", false, false, ""));
  out(secret("3", "set", "svc", H, H));
  out(shell("7", "open", H));
  out(login_get("10"));
  out(login_set("11", true));
  out(badge(3));
  out(badge(std::nullopt));
  out(progress(0.4));
  out(progress(std::nullopt));
  out(attention());
  out(appicon(H));
  out(audio_filters({{"peaking", 1000, 1.4, -3, std::nullopt}, {"low,shelf", 120, 0.7, 4, 2.5}}));
  out(audio_filter_set(0, 1200, 1.4, -2));
  out(audio_balance(-0.25));
  out(sampler_load("14", "kick", H));
  out(sampler_play(1, "kick", 0.8, 0, 1, false));
  out(sampler_set(1, std::nullopt, -0.5, std::nullopt));
  out(sampler_stop(1));
  out(sampler_stop_all());
  out(sampler_master(0.9));
  out(sampler_unload("kick"));
  out(audiotap("15", true, 80));
  out(audiotap_stop());
  out(sound("16", ""));
  out(say("18", H, "", 0.5));
  out(saystop());
  out(voices("19"));
  out(nowplaying({H, "Band", "Album", 180, 12.5, true}));
  out(nowplaying_clear());
  out(hkreg("20", "find", "ctrl+shift+f"));
  out(hkunreg("find"));
  out(keystroke("21", "ctrl+v"));
  out(mousetrack("22", ""));
  out(mousetrack_stop());
  out(capture("23"));
  out(pickcolor("24"));
  out(thumb("25", H, 128));
  out(spotlight("26", H));
  out(ocr("27", "/tmp/a.png"));
  out(osa("28", "tell application \"Finder\""));
  out(record("29", "start"));
  out(winctrl("30", "move"));
  out(auth("31", "unlock"));
  out(ai_available("32"));
  out(ai_generate("33", obj({{"prompt", H}})));
  out(get("id with blank", "a\nb"));
  return 0;
}
