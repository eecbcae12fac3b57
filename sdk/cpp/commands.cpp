#include "ovalis/commands.h"

#include <glib.h>

#include <cstdio>

#include "ovalis/wire.h"

namespace ovalis::line {
namespace {

// A decimal point whatever locale the backend runs in: launcher reads no comma.
std::string num(double v) {
  char buf[G_ASCII_DTOSTR_BUF_SIZE];
  return g_ascii_formatd(buf, sizeof buf, "%.6g", v);
}

std::string flag(std::optional<bool> b) { return !b ? "" : *b ? "1" : "0"; }

// "KW" or "KW@<window>" followed by a blank and the rest; empty when the
// window id cannot be written (a blank or control character in it).
std::string at(std::string_view kw, std::string_view window, std::string_view rest) {
  auto k = targeted(kw, window);
  if (!k) return {};
  return *k + " " + std::string(rest);
}

// "KW <id> <rest>": the request form. The id must be one word.
std::string req(std::string_view kw, std::string_view id, std::string_view rest) {
  std::string line(kw);
  line += ' ';
  line += one_line(id);
  for (char& c : line)
    if (c == ' ' && &c > &line[kw.size()]) c = '_';
  line += ' ';
  line += rest;
  return line;
}

void add_items(std::vector<std::string>& out, const std::vector<MenuItem>& items) {
  for (const MenuItem& i : items) {
    switch (i.kind) {
      case MenuItem::Kind::Separator: out.push_back("SEP"); break;
      case MenuItem::Kind::Role: out.push_back("ROLEITEM " + one_line(i.role)); break;
      case MenuItem::Kind::Submenu:
        out.push_back("SUB " + plain_fields({i.id, i.label, i.icon}));
        add_items(out, i.children);
        out.push_back("SUBEND");
        break;
      case MenuItem::Kind::Item: {
        std::string flags = std::string(i.checked ? "c" : "") + (i.disabled ? "d" : "");
        out.push_back("ITEM " + plain_fields({i.id, i.label, i.accel, flags, i.icon}));
        break;
      }
    }
  }
}

std::vector<std::string> chrome_fields(const Chrome& c) {
  return {flag(c.frame), c.controls, flag(c.transparent), c.vibrancy,
          flag(c.square), flag(c.first_mouse), flag(c.menubar)};
}

}  // namespace

std::string eval(std::string_view window, std::string_view script) {
  return at("EVAL", window, wire_escape(script));
}
std::string eval_all(std::string_view script) { return "EVAL@* " + wire_escape(script); }
std::string title(std::string_view window, std::string_view text) {
  return at("TITLE", window, one_line(text));
}
std::string size(std::string_view window, int width, int height) {
  return at("SIZE", window, std::to_string(width) + " " + std::to_string(height));
}
std::string get(std::string_view id, std::string_view key) { return req("GET", id, one_line(key)); }

std::string blob(std::string_view id, std::string_view mode, std::string_view path) {
  if (id.empty() || id.size() > 64 || (mode != "move" && mode != "keep") || path.empty() || path[0] != '/')
    return {};
  for (char c : id)
    if (!g_ascii_isalnum(c) && c != '_' && c != '-') return {};
  return "BLOB " + std::string(id) + " " + std::string(mode) + " " + wire_escape(path);
}

std::string winopen(const WindowSpec& w) {
  // The id ends up inside a quoted script literal in the new page and in
  // the first word of later lines: refuse ids that could break out of
  // either rather than open a window nobody can address safely.
  if (w.id.empty() || w.id == "main") return {};
  for (char c : w.id) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || c == '\'' || c == '"' || c == '\\' || c == '@' || c == ':')
      return {};
  }
  std::vector<std::string> f(17);
  f[0] = w.id;
  f[1] = w.target;
  f[2] = w.title;
  if (w.width > 0 && w.height > 0) f[3] = std::to_string(w.width) + "x" + std::to_string(w.height);
  auto c = chrome_fields(w.chrome);
  for (int i = 0; i < 6; ++i) f[4 + i] = c[i];
  if (w.x && w.y) {
    f[10] = std::to_string(*w.x);
    f[11] = std::to_string(*w.y);
  }
  f[12] = c[6];
  f[14] = w.parent;
  f[16] = w.show ? "" : "0";
  return "WINOPEN " + plain_fields(f);
}
std::string winclose(std::string_view id) { return "WINCLOSE " + one_line(id); }
std::string winop(std::string_view window, std::string_view op) {
  return at("WINOP", window, one_line(op));
}
std::string chrome(std::string_view window, const Chrome& c) {
  return at("CHROME", window, plain_fields(chrome_fields(c)));
}
std::string dragwin(std::string_view window) {
  auto k = targeted("DRAGWIN", window);
  return k ? *k : std::string();
}
std::string resizewin(std::string_view window, std::string_view edge) {
  return at("RESIZEWIN", window, one_line(edge));
}

MenuItem MenuItem::item(std::string id, std::string label, std::string accel) {
  MenuItem m;
  m.id = std::move(id);
  m.label = std::move(label);
  m.accel = std::move(accel);
  return m;
}
MenuItem MenuItem::sub(std::string id, std::string label, std::vector<MenuItem> children) {
  MenuItem m;
  m.kind = Kind::Submenu;
  m.id = std::move(id);
  m.label = std::move(label);
  m.children = std::move(children);
  return m;
}
MenuItem MenuItem::separator() {
  MenuItem m;
  m.kind = Kind::Separator;
  return m;
}
MenuItem MenuItem::stock(std::string role) {
  MenuItem m;
  m.kind = Kind::Role;
  m.role = std::move(role);
  return m;
}

std::vector<std::string> menubar(std::string_view window, const std::vector<Menu>& menus) {
  std::vector<std::string> out;
  if (window.empty()) {
    out.push_back("MENUBEGIN");
  } else {
    auto k = targeted("MENUBEGIN", window);
    if (!k) return {};
    out.push_back(*k == "MENUBEGIN" ? "MENUBEGIN@main" : *k);
  }
  for (const Menu& m : menus) {
    if (!m.role.empty()) {
      // The launcher drops an Edit menu that gets no entries, so the role's
      // entries follow it, and an Edit menu given none gets the usual ones.
      out.push_back("MENUROLE " + one_line(m.role));
      if (m.items.empty() && m.role == "edit") out.push_back("ROLEITEM standard");
      add_items(out, m.items);
      continue;
    }
    out.push_back("MENU " + one_line(m.title));
    add_items(out, m.items);
  }
  out.push_back("MENUEND");
  return out;
}

std::vector<std::string> tray(const Tray& t) {
  std::vector<std::string> out;
  out.push_back("TRAYBEGIN " + plain_fields({t.title, t.icon, "1", t.tooltip, t.click_item ? "1" : ""}));
  add_items(out, t.items);
  out.push_back("TRAYEND");
  return out;
}

std::vector<std::string> context_menu(const std::vector<MenuItem>& items) {
  std::vector<std::string> out{"CTXBEGIN"};
  add_items(out, items);
  out.push_back("CTXEND");
  return out;
}
std::string context_suppress(bool on) { return on ? "CTXSUPPRESS 1" : "CTXSUPPRESS 0"; }
std::string menu_reset(std::string_view window) { return "MENURESET@" + one_line(window); }
std::string menu_update(std::string_view window, std::string_view id,
                        std::optional<std::string> label, std::optional<bool> checked,
                        std::optional<bool> enabled) {
  std::string fields = plain_fields({std::string(id), label.value_or(""), flag(checked), flag(enabled)});
  if (window.empty()) return "MENUUPD " + fields;
  for (char c : window)
    if (static_cast<unsigned char>(c) <= 0x20) return {};
  return "MENUUPD@" + std::string(window) + " " + fields;
}

std::string dlg(std::string_view call_id, std::string_view op,
                const std::vector<std::string>& fields) {
  std::vector<std::string> f{std::string(op)};
  for (size_t i = 0; i < fields.size(); ++i) {
    // The detail of an alert or a confirmation reads backslash-n as a line
    // break, so its own line breaks and backslashes travel escaped.
    bool detail = i == 1 && (op == "alert" || op == "confirm");
    f.push_back(detail ? wire_escape(fields[i]) : fields[i]);
  }
  std::string out = plain_fields(f);
  return req("DLG", call_id, out);
}
std::string navr(std::string_view nav_id, std::string_view verdict) {
  return req("NAVR", nav_id, one_line(verdict));
}
std::string popupr(std::string_view q_id, std::string_view verdict) {
  return req("POPUPR", q_id, one_line(verdict));
}
std::string find(std::string_view call_id, std::string_view text, bool forward, bool match_case) {
  return req("FIND", call_id,
             plain_fields({std::string(text), forward ? "1" : "0", match_case ? "1" : "0"}));
}
std::string stopfind(std::string_view call_id) { return "STOPFIND " + one_line(call_id); }
std::string print(std::string_view window) {
  auto k = targeted("PRINT", window);
  return k ? *k : std::string();
}
std::string pdf(std::string_view window, std::string_view id, std::string_view path) {
  auto k = targeted("PDF", window);
  if (!k) return {};
  return req(*k, id, wire_escape(path));
}
std::string cookies(std::string_view id, std::string_view op, const std::vector<std::string>& fields) {
  std::string rest = one_line(op);
  if (!fields.empty()) rest += "\t" + escaped_fields(fields);
  return req("COOKIES", id, rest);
}
std::string permission(std::string_view id, bool request, std::string_view name) {
  return req(request ? "PERMREQ" : "PERMCHK", id, one_line(name));
}

std::string clipwrite(const ClipData& d) {
  std::vector<std::string> f{d.text, d.html, d.image, d.fallback_text};
  f.insert(f.end(), d.paths.begin(), d.paths.end());
  return "CLIPWRITE " + escaped_fields(f);
}
std::string clipwatch(int interval_ms) { return "CLIPWATCH " + std::to_string(interval_ms); }
std::string notify(std::string_view id, std::string_view title, std::string_view body,
                   std::string_view subtitle, bool sound, const std::vector<NotifyAction>& actions) {
  JsonArray list;
  for (const NotifyAction& a : actions) list.push_back(obj({{"id", a.id}, {"title", a.title}}));
  std::string acts = actions.empty() ? "" : wire_escape(json_dump(arr(std::move(list))));
  return "NOTIFY " + plain_fields({std::string(id), std::string(title), std::string(body),
                                   std::string(subtitle), sound ? "1" : "0"}) +
         "\t" + acts;
}
std::string power(std::string_view id, bool on, bool display, std::string_view reason) {
  return req("POWER", id,
             std::string(on ? "on" : "off") + "\t" + (display ? "1" : "") + "\t" + wire_escape(reason));
}
std::string secret(std::string_view id, std::string_view op, std::string_view service,
                   std::string_view account, std::string_view value) {
  return req("SECRET", id,
             one_line(op) + "\t" +
                 escaped_fields({std::string(service), std::string(account), std::string(value)}));
}
std::string shell(std::string_view id, std::string_view op, std::string_view target) {
  return req("SHELL", id, one_line(op) + "\t" + wire_escape(target));
}
std::string login_get(std::string_view id) { return req("LOGIN", id, "get"); }
std::string login_set(std::string_view id, bool enabled) {
  return req("LOGIN", id, enabled ? "set 1" : "set 0");
}
std::string badge(std::optional<long long> count) {
  return "BADGE " + (count ? std::to_string(*count) : std::string());
}
std::string progress(std::optional<double> value) {
  return value ? "PROGRESS " + num(*value) : std::string("PROGRESS");
}
std::string appicon(std::string_view path) { return "APPICON " + wire_escape(path); }

std::string audio_filters(const std::vector<Filter>& chain) {
  std::string out = "AUDIOFILTERS ";
  bool first = true;
  for (const Filter& f : chain) {
    std::string type = one_line(f.type);
    for (char& c : type)
      if (c == ',') c = '_';
    if (!first) out += '\t';
    first = false;
    out += type + "," + num(f.freq) + "," + num(f.q) + "," + num(f.gain);
    if (f.gain_r) out += "," + num(*f.gain_r);
  }
  return out;
}
std::string audio_filter_set(int index, double freq, double q, double gain) {
  return "AUDIOFILTERSET " + std::to_string(index) + "\t" + num(freq) + "\t" + num(q) + "\t" + num(gain);
}
std::string audio_balance(double v) { return "AUDIOBALANCE " + num(v); }
std::string sampler_load(std::string_view id, std::string_view name, std::string_view path) {
  return req("SAMPLER", id, "LOAD\t" + escaped_fields({std::string(name), std::string(path)}));
}
std::string sampler_play(int voice, std::string_view name, double gain, double pan, double rate,
                         bool loop) {
  return "SAMPLER PLAY " + std::to_string(voice) + "\t" + one_line(name) + "\t" + num(gain) + "\t" +
         num(pan) + "\t" + num(rate) + "\t" + (loop ? "1" : "0");
}
std::string sampler_set(int voice, std::optional<double> gain, std::optional<double> pan,
                        std::optional<double> rate) {
  auto f = [](std::optional<double> v) { return v ? num(*v) : std::string("_"); };
  return "SAMPLER SET " + std::to_string(voice) + "\t" + f(gain) + "\t" + f(pan) + "\t" + f(rate);
}
std::string sampler_stop(int voice) { return "SAMPLER STOP " + std::to_string(voice); }
std::string sampler_master(double v) { return "SAMPLER MASTER " + num(v); }
std::string sampler_unload(std::string_view name) { return "SAMPLER UNLOAD " + wire_escape(name); }
std::string audiotap(std::string_view id, bool app_scope, int interval_ms) {
  return req("AUDIOTAP", id,
             std::string(app_scope ? "app" : "system") + "\t\t" + std::to_string(interval_ms));
}
std::string sound(std::string_view id, std::string_view name_or_path) {
  return req("SOUND", id, wire_escape(name_or_path));
}
std::string say(std::string_view id, std::string_view text, std::string_view voice, double rate) {
  return req("SAY", id, escaped_fields({std::string(text), std::string(voice)}) + "\t" + num(rate));
}
std::string voices(std::string_view id) { return req("VOICES", id, ""); }
std::string nowplaying(const NowPlaying& np) {
  Json j = obj({{"title", np.title}, {"artist", np.artist}, {"album", np.album},
                {"duration", np.duration}, {"elapsed", np.elapsed}, {"playing", np.playing}});
  return "NOWPLAYING " + wire_escape(json_dump(j));
}

std::string hkreg(std::string_view id, std::string_view hotkey, std::string_view combo) {
  return req("HKREG", id, plain_fields({std::string(hotkey), std::string(combo)}));
}
std::string hkunreg(std::string_view hotkey) { return "HKUNREG " + one_line(hotkey); }
std::string keystroke(std::string_view id, std::string_view combo) {
  return req("KEYSTROKE", id, one_line(combo));
}
std::string mousetrack(std::string_view id, std::string_view restore_token) {
  return req("MOUSETRACK", id, one_line(restore_token));
}

std::string capture(std::string_view id) { return req("CAPTURE", id, ""); }
std::string pickcolor(std::string_view id) { return req("PICKCOLOR", id, ""); }
std::string thumb(std::string_view id, std::string_view path, int size) {
  return req("THUMB", id, wire_escape(path) + "\t" + std::to_string(size > 0 ? size : 256));
}
std::string spotlight(std::string_view id, std::string_view query) {
  return req("SPOTLIGHT", id, wire_escape(query));
}

std::string ocr(std::string_view id, std::string_view path) { return req("OCR", id, one_line(path)); }
std::string osa(std::string_view id, std::string_view script) { return req("OSA", id, one_line(script)); }
std::string record(std::string_view id, std::string_view op) { return req("RECORD", id, one_line(op)); }
std::string winctrl(std::string_view id, std::string_view op) { return req("WINCTRL", id, one_line(op)); }
std::string auth(std::string_view id, std::string_view reason) { return req("AUTH", id, one_line(reason)); }
std::string ai_available(std::string_view id) { return req("AI available", id, ""); }
std::string ai_generate(std::string_view id, const Json& request) {
  return req("AI generate", id, json_dump(request));
}

}  // namespace ovalis::line
