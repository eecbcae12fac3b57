// The page's calls, carried to the launcher. Each handler turns one page
// method into its wire command through the backend library and gives the
// page the launcher's answer as it is, refusals included.
#include <glib.h>
#include <unistd.h>

#include <cmath>
#include <optional>
#include <set>
#include <string>

#include "demo.h"

using ovalis::Call;
using ovalis::Json;
using ovalis::JsonArray;
using ovalis::obj;
namespace line = ovalis::line;

namespace {

const Json kOk = obj({{"ok", true}});

// The window a call names ("id" param) or the caller's own.
std::string target_window(const Call& c) {
  std::string id = c.str("id");
  return id.empty() ? c.window : id;
}

line::MenuItem menu_item(const Json& j) {
  if (j.bool_or("separator")) return line::MenuItem::separator();
  if (std::string role = j.str_or("role"); !role.empty()) return line::MenuItem::stock(role);
  std::string id = j.str_or("id"), label = j.str_or("label");
  if (const Json* sub = j.get("submenu"); sub && sub->is_array()) {
    std::vector<line::MenuItem> kids;
    for (auto& k : sub->arr()) kids.push_back(menu_item(k));
    return line::MenuItem::sub(id, label, std::move(kids));
  }
  line::MenuItem m = line::MenuItem::item(id, label, j.str_or("key"));
  m.checked = j.bool_or("checked");
  m.disabled = !j.bool_or("enabled", true);
  m.icon = j.str_or("icon");
  return m;
}

std::vector<line::MenuItem> menu_items(const Json* list) {
  std::vector<line::MenuItem> out;
  if (list && list->is_array())
    for (auto& i : list->arr()) out.push_back(menu_item(i));
  return out;
}

std::vector<line::Menu> menus_of(const Json* list) {
  std::vector<line::Menu> out;
  if (!list || !list->is_array()) return out;
  for (auto& m : list->arr()) out.push_back({m.str_or("title"), menu_items(m.get("items")), {}});
  return out;
}

// Types for a file dialog: "txt,md".
std::string types_of(const Call& c) {
  std::string out;
  if (const Json* t = c.param("types"); t && t->is_array())
    for (auto& e : t->arr())
      if (e.is_string()) out += (out.empty() ? "" : ",") + e.str();
  return out;
}

void windows_panel(Demo& d) {
  auto& b = d.b;
  b.handle("win.windows", [&b](const Call& c) { c.resolve_with(b.get("windows")); });
  b.handle("win.getState", [&b](const Call& c) { c.resolve_with(b.get("win:" + target_window(c))); });
  b.handle("app.screens", [&b](const Call& c) { c.resolve_with(b.get("screens")); });
  b.handle("app.foregroundScreen", [&b](const Call& c) { c.resolve_with(b.get("fgscreen")); });
  b.handle("win.setTitle", [&b](const Call& c) {
    b.title(c.window, c.str("title"));
    c.resolve(kOk);
  });
  b.handle("win.setSize", [&b](const Call& c) {
    int w = int(std::lround(c.num("width"))), h = int(std::lround(c.num("height")));
    if (w < 100 || h < 100 || w > 10000 || h > 10000)
      return c.fail("width and height must be numbers from 100 to 10000");
    b.size(c.window, w, h);
    c.resolve(kOk);
  });
  b.handle("win.open", [&d](const Call& c) {
    line::WindowSpec w;
    w.id = c.str("id");
    if (w.id.empty() || w.id == "main") return c.fail("a window needs an id other than main");
    w.target = c.str("url", d.page);
    w.title = c.str("title", w.id);
    w.width = int(c.num("width", 720));
    w.height = int(c.num("height", 480));
    w.parent = c.window;
    std::string l = line::winopen(w);
    if (l.empty()) return c.fail("a window id may not hold blanks, quotes, backslashes, '@' or ':'");
    d.b.send(l);
    c.resolve(obj({{"ok", true}, {"id", w.id}}));
  });
  b.handle("win.close", [&b](const Call& c) {
    std::string id = target_window(c);
    if (id == "main") {
      c.resolve(kOk);
      return b.quit();
    }
    b.close_window(id);
    c.resolve(kOk);
  });
  // Window operations that map one to one.
  struct Op {
    const char* method;
    const char* op;
  };
  for (Op o : {Op{"win.center", "center"}, Op{"win.minimize", "minimize"}, Op{"win.zoom", "zoom"},
               Op{"win.fullscreen", "fullscreen"}, Op{"win.restore", "restore"},
               Op{"win.ensureOnScreen", "onscreen"}, Op{"win.hide", "hide"}, Op{"win.show", "show"}})
    b.handle(o.method, [&b, o](const Call& c) {
      b.winop(c.window, o.op);
      c.resolve(kOk);
    });
  b.handle("win.setAlwaysOnTop", [&b](const Call& c) {
    b.winop(c.window, c.flag("enabled") ? "ontop 1" : "ontop 0");
    c.resolve(kOk);
  });
  b.handle("win.setZoom", [&b](const Call& c) {
    b.winop(c.window, "zoomfactor " + std::to_string(c.num("factor", 1)));
    c.resolve(kOk);
  });
}

void menus_panel(Demo& d) {
  auto& b = d.b;
  b.handle("menu.set", [&b](const Call& c) {
    b.set_menus("", menus_of(c.param("menus")));
    c.resolve(kOk);
  });
  b.handle("win.menu.set", [&b](const Call& c) {
    b.set_menus(c.window, menus_of(c.param("menus")));
    c.resolve(kOk);
  });
  b.handle("win.menu.reset", [&b](const Call& c) {
    b.send(line::menu_reset(c.window));
    c.resolve(kOk);
  });
  auto update = [&b](bool own) {
    return [&b, own](const Call& c) {
      std::optional<std::string> label;
      std::optional<bool> checked, enabled;
      if (const Json* l = c.param("label"); l && l->is_string()) label = l->str();
      if (const Json* k = c.param("checked"); k && k->is_bool()) checked = k->boolean();
      if (const Json* e = c.param("enabled"); e && e->is_bool()) enabled = e->boolean();
      b.update_menu(own ? c.window : "", c.str("id"), label, checked, enabled);
      c.resolve(kOk);
    };
  };
  b.handle("menu.update", update(false));
  b.handle("win.menu.update", update(true));
  b.handle("menu.get", [&b](const Call& c) { c.resolve_with(b.get("item:" + c.str("id"))); });
  b.handle("win.menu.get", [&b](const Call& c) {
    c.resolve_with(b.get("item@" + c.window + ":" + c.str("id")));
  });
  b.handle("menu.setContext", [&b](const Call& c) {
    const Json* items = c.param("items");
    if (!items || items->is_null())
      b.send(line::context_clear());
    else
      b.set_context_menu(menu_items(items));
    c.resolve(kOk);
  });
  b.handle("tray.set", [&b](const Call& c) {
    line::Tray t;
    t.title = c.str("title");
    t.icon = c.str("icon");
    t.tooltip = c.str("tooltip");
    t.click_item = !c.str("primaryAction").empty();
    t.items = menu_items(c.param("menu"));
    b.set_tray(t);
    c.resolve(kOk);
  });
  b.handle("tray.remove", [&b](const Call& c) {
    b.remove_tray();
    c.resolve(kOk);
  });
  b.handle("tray.position", [&b](const Call& c) { c.resolve_with(b.get("traypos")); });
}

void dialogs_panel(Demo& d) {
  auto& b = d.b;
  // The launcher runs the dialog and answers the page's call itself.
  b.handle("dialog.openFile", [&b](const Call& c) { b.dialog_for(c, "open", {types_of(c)}); });
  b.handle("dialog.openFiles", [&b](const Call& c) { b.dialog_for(c, "openmulti", {types_of(c)}); });
  b.handle("dialog.pickFolder", [&b](const Call& c) { b.dialog_for(c, "dir", {}); });
  b.handle("dialog.saveFile", [&b](const Call& c) {
    b.dialog_for(c, "save", {types_of(c), c.str("name"), c.str("folder")});
  });
  b.handle("dialog.alert", [&b](const Call& c) {
    b.dialog_for(c, "alert", {c.str("message"), c.str("detail"), c.str("ok")});
  });
  b.handle("dialog.confirm", [&b](const Call& c) {
    b.dialog_for(c, "confirm", {c.str("message"), c.str("detail"), c.str("ok"), c.str("cancel")});
  });
  b.handle("dialog.prompt", [&b](const Call& c) {
    b.dialog_for(c, "prompt", {c.str("message"), c.str("value"), c.str("ok"), c.str("cancel")});
  });
  b.handle("win.find", [&b](const Call& c) {
    b.find_for(c, c.str("term"), c.flag("forward", true), c.flag("matchCase"));
  });
  b.handle("win.stopFind", [&b](const Call& c) { b.send(line::stopfind(c.id)); });
  b.handle("win.print", [&b](const Call& c) {
    b.print(c.window);
    c.resolve(kOk);
  });
  // Cookies of the web views' store: "get" with an optional address.
  b.handle("demo.cookies", [&b](const Call& c) {
    std::vector<std::string> fields;
    if (std::string url = c.str("url"); !url.empty()) fields.push_back(url);
    c.resolve_with(b.cookies(c.str("op", "get"), fields));
  });
  b.handle("win.printToPDF", [&b](const Call& c) { c.resolve_with(b.pdf(c.window, c.str("path"))); });
}

void desktop_panels(Demo& d) {
  auto& b = d.b;
  b.handle("clip.read", [&b](const Call& c) { c.resolve_with(b.get("clipboard")); });
  b.handle("clip.changeCount", [&b](const Call& c) { c.resolve_with(b.get("clipboard:count")); });
  b.handle("clip.write", [&b](const Call& c) {
    line::ClipData data;
    data.text = c.str("text");
    data.html = c.str("html");
    data.image = c.str("image");
    if (const Json* p = c.param("paths"); p && p->is_array())
      for (auto& e : p->arr())
        if (e.is_string()) data.paths.push_back(e.str());
    b.clip_write(data);
    c.resolve(kOk);
  });
  b.handle("clip.watch", [&b](const Call& c) {
    b.clip_watch(std::max(1, int(c.num("intervalMs", 500))));
    c.resolve(kOk);
  });
  b.handle("clip.unwatch", [&b](const Call& c) {
    b.clip_watch(0);
    c.resolve(kOk);
  });

  b.handle("notify", [&d](const Call& c) {
    std::string id = "n" + std::to_string(++d.notify_seq);
    std::vector<line::NotifyAction> actions;
    if (const Json* a = c.param("actions"); a && a->is_array())
      for (auto& e : a->arr()) actions.push_back({e.str_or("id"), e.str_or("title")});
    d.b.notify(id, c.str("title"), c.str("body"), c.str("subtitle"), c.flag("sound"), actions);
    c.resolve(obj({{"ok", true}, {"id", id}}));
  });
  b.handle("app.badge", [&b](const Call& c) {
    const Json* t = c.param("text");
    std::string text = t && t->is_string() ? t->str() : t && t->is_number() ? std::to_string(long(t->num())) : "";
    char* end = nullptr;
    long long n = std::strtoll(text.c_str(), &end, 10);
    b.badge(!text.empty() && end && *end == 0 ? std::optional<long long>(n) : std::nullopt);
    c.resolve(kOk);
  });
  b.handle("app.progress", [&b](const Call& c) {
    double v = c.num("value", -1);
    b.progress(v < 0 ? std::nullopt : std::optional<double>(v));
    c.resolve(kOk);
  });
  b.handle("app.attention", [&b](const Call& c) {
    b.attention();
    c.resolve(kOk);
  });
  b.handle("app.icon", [&b](const Call& c) {
    b.app_icon(c.str("path"));
    c.resolve(kOk);
  });

  b.handle("power.prevent", [&b](const Call& c) {
    c.resolve_with(b.power(true, c.flag("display"), c.str("reason")));
  });
  b.handle("power.allow", [&b](const Call& c) { c.resolve_with(b.power(false, false, "")); });
  b.handle("system.battery", [&b](const Call& c) { c.resolve_with(b.get("battery")); });
  b.handle("system.idleTime", [&b](const Call& c) { c.resolve_with(b.get("idle")); });

  const char* service = "org.ovalis.demo";
  b.handle("secrets.get", [&b, service](const Call& c) { c.resolve_with(b.secret("get", service, c.str("key"))); });
  b.handle("secrets.set", [&b, service](const Call& c) {
    c.resolve_with(b.secret("set", service, c.str("key"), c.str("value")));
  });
  b.handle("secrets.delete", [&b, service](const Call& c) { c.resolve_with(b.secret("del", service, c.str("key"))); });
  b.handle("app.authenticate", [&b](const Call& c) {
    c.resolve_with(b.ask([](std::string_view id) { return "AUTH " + std::string(id); }));
  });

  b.handle("shell.open", [&b](const Call& c) { c.resolve_with(b.shell("open", c.str("target"))); });
  b.handle("shell.reveal", [&b](const Call& c) { c.resolve_with(b.shell("reveal", c.str("path"))); });
  b.handle("shell.trash", [&b](const Call& c) { c.resolve_with(b.shell("trash", c.str("path"))); });
  b.handle("login.get", [&b](const Call& c) { c.resolve_with(b.login_get()); });
  b.handle("login.set", [&b](const Call& c) { c.resolve_with(b.login_set(c.flag("enabled"))); });
  b.handle("perm.check", [&b](const Call& c) { c.resolve_with(b.permission(false, c.str("name"))); });
  b.handle("perm.request", [&b](const Call& c) { c.resolve_with(b.permission(true, c.str("name"))); });
  // A file of its own for the trash button, so nothing of the user's goes.
  b.handle("demo.scratch", [](const Call& c) {
    std::string path = std::string(g_get_tmp_dir()) + "/ovalis-demo-scratch-" +
                       std::to_string(getpid()) + ".txt";
    if (!g_file_set_contents(path.c_str(), "scratch\n", -1, nullptr)) return c.fail("cannot write " + path);
    c.resolve(obj({{"path", path}}));
  });
}

void audio_input_capture_panels(Demo& d) {
  auto& b = d.b;
  b.handle("sound.play", [&b](const Call& c) { c.resolve_with(b.sound(c.str("target"))); });
  b.handle("app.say", [&b](const Call& c) {
    c.resolve_with(b.say(c.str("text"), c.str("voice"), c.num("rate")));
  });
  b.handle("app.stopSpeaking", [&b](const Call& c) {
    b.stop_speaking();
    c.resolve(kOk);
  });
  b.handle("app.voices", [&b](const Call& c) { c.resolve_with(b.voices()); });
  // The page names filters by kind; the launcher's chain takes PipeWire
  // filter-chain builtin labels, and a plain gain is "linear".
  b.handle("audio.filters", [&b](const Call& c) {
    static const std::set<std::string, std::less<>> kBiquads = {
        "peaking", "lowshelf", "highshelf", "lowpass", "highpass", "bandpass", "notch", "allpass"};
    std::vector<line::Filter> chain;
    if (const Json* f = c.param("filters"); f && f->is_array())
      for (auto& e : f->arr()) {
        std::string type = e.str_or("type");
        bool gain_only = type == "gain";
        if (!gain_only && !kBiquads.count(type)) continue;
        line::Filter x{gain_only ? "linear" : "bq_" + type, e.num_or("freq", 1000), e.num_or("q", 1),
                       e.num_or("gain", gain_only ? 1 : 0), {}};
        if (const Json* r = e.get("gainR"); r && r->is_number()) x.gain_r = r->num();
        chain.push_back(x);
      }
    b.audio_filters(chain);
    c.resolve(obj({{"ok", true}, {"filters", double(chain.size())}}));
  });
  b.handle("audio.filterSet", [&b](const Call& c) {
    const Json* f = c.param("filter");
    Json patch = f ? *f : Json(ovalis::JsonObject{});
    b.send(line::audio_filter_set(int(c.num("index", -1)), patch.num_or("freq", 1000),
                                  patch.num_or("q", 1), patch.num_or("gain", 0)));
    c.resolve(kOk);
  });
  b.handle("audio.balance", [&b](const Call& c) {
    b.audio_balance(c.num("value"));
    c.resolve(kOk);
  });
  b.handle("nowplaying.set", [&b](const Call& c) {
    b.now_playing({c.str("title"), c.str("artist"), c.str("album"), c.num("duration"),
                   c.num("elapsed"), c.flag("playing")});
    c.resolve(kOk);
  });
  b.handle("nowplaying.clear", [&b](const Call& c) {
    b.now_playing_clear();
    c.resolve(kOk);
  });
  b.handle("audioTap.start", [&b](const Call& c) {
    c.resolve_with(b.audio_tap(c.str("scope", "app") == "app", int(c.num("interval", 80))));
  });
  b.handle("audioTap.stop", [&b](const Call& c) {
    b.audio_tap_stop();
    c.resolve(kOk);
  });
  b.handle("sampler.load", [&b](const Call& c) { c.resolve_with(b.sampler_load(c.str("name"), c.str("path"))); });
  b.handle("sampler.play", [&b](const Call& c) {
    static int voice = 0;
    int id = ++voice;
    double gain = c.num("vol", c.num("gain", 1));
    b.sampler_play(id, c.str("name"), gain, c.num("pan"), c.num("rate", 1), c.flag("loop"));
    c.resolve(obj({{"ok", true}, {"id", id}}));
  });
  b.handle("sampler.set", [&b](const Call& c) {
    auto opt = [&c](const char* k) -> std::optional<double> {
      const Json* v = c.param(k);
      if (v && v->is_number()) return v->num();
      return std::nullopt;
    };
    auto gain = opt("vol");
    b.send(line::sampler_set(int(c.num("id")), gain ? gain : opt("gain"), opt("pan"), opt("rate")));
    c.resolve(kOk);
  });
  b.handle("sampler.stop", [&b](const Call& c) {
    b.send(line::sampler_stop(int(c.num("id"))));
    c.resolve(kOk);
  });
  b.handle("sampler.master", [&b](const Call& c) {
    b.send(line::sampler_master(c.num("value", 1)));
    c.resolve(kOk);
  });
  b.handle("sampler.unload", [&b](const Call& c) {
    b.send(line::sampler_unload(c.str("name")));
    c.resolve(kOk);
  });
  b.handle("sampler.stopAll", [&b](const Call& c) {
    b.sampler_stop_all();
    c.resolve(kOk);
  });

  b.handle("hotkey.register", [&b](const Call& c) { c.resolve_with(b.hotkey(c.str("id"), c.str("combo"))); });
  b.handle("hotkey.unregister", [&b](const Call& c) {
    b.hotkey_remove(c.str("id"));
    c.resolve(kOk);
  });
  b.handle("app.keystroke", [&b](const Call& c) { c.resolve_with(b.keystroke(c.str("combo"))); });
  b.handle("app.mouse", [&b](const Call& c) { c.resolve_with(b.get("mouse:" + c.window)); });
  b.handle("app.mouseTracking.start", [&b](const Call& c) { c.resolve_with(b.mouse_track()); });
  b.handle("app.mouseTracking.stop", [&b](const Call& c) {
    b.mouse_track_stop();
    c.resolve(kOk);
  });

  b.handle("app.captureScreen", [&b](const Call& c) { c.resolve_with(b.capture()); });
  b.handle("app.pickColor", [&b](const Call& c) { c.resolve_with(b.pick_color()); });
  b.handle("app.thumbnail", [&b](const Call& c) {
    c.resolve_with(b.thumbnail(c.str("path"), int(c.num("size", 256))));
  });
  b.handle("app.spotlight", [&b](const Call& c) { c.resolve_with(b.search(c.str("query"))); });
}

void core_calls(Demo& d) {
  auto& b = d.b;
  b.handle("theme.get", [&d](const Call& c) { c.resolve(obj({{"dark", d.dark}})); });
  b.handle("log", [](const Call& c) {
    // Dumped as JSON so control characters from the page stay inert.
    const Json* m = c.param("msg");
    std::printf("page log [%s]: %s\n", c.window.c_str(), ovalis::json_dump(m ? *m : Json()).c_str());
    c.resolve(kOk);
  });
  b.handle("quit", [&b](const Call& c) {
    c.resolve(kOk);
    b.quit();
  });
  b.handle("store.all", [&d](const Call& c) { c.resolve(d.store); });
  b.handle("store.get", [&d](const Call& c) {
    const Json* v = d.store.get(c.str("key"));
    c.resolve(v ? *v : Json());
  });
  b.handle("store.set", [&d](const Call& c) {
    const Json* v = c.param("value");
    d.store.set(c.str("key"), v ? *v : Json());
    c.resolve(kOk);
  });
  b.handle("store.delete", [&d](const Call& c) {
    bool existed = d.store.erase(c.str("key"));
    c.resolve(obj({{"ok", true}, {"existed", existed}}));
  });
  b.handle("demo.paths", [&d](const Call& c) {
    // An image that every desktop has, for the thumbnail button.
    std::string img = d.page_dir + "/sample.png";
    c.resolve(obj({{"tmp", std::string(g_get_tmp_dir())}, {"page", d.page},
                   {"sampleImage", img}, {"sample", d.page_dir + "/sample.wav"}}));
  });
  b.handle("demo.ready", [&d](const Call& c) {
    d.ready.insert(c.window);
    c.resolve(kOk);
    d.b.get("windows").then([&d](const Json& v) { d.emit_ready("windows", obj({{"windows", v}})); });
    if (c.window == "main") start_tour(d, c.param("panels") ? *c.param("panels") : Json());
  });
  b.handle("demo.shown", [&d](const Call& c) {
    c.resolve(kOk);
    if (c.window == "main") on_panel_shown(d, c.str("panel"));
  });
}

}  // namespace

void install_panels(Demo& d) {
  core_calls(d);
  windows_panel(d);
  menus_panel(d);
  dialogs_panel(d);
  desktop_panels(d);
  audio_input_capture_panels(d);
}
