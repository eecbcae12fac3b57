// demo_backend: the demo application, a real ovalis backend built on the
// reference backend library (sdk/). It starts the launcher on the demo page,
// prints the whole conversation ("<- " from the launcher, "-> " to it),
// answers the page's calls by carrying them to the launcher, and passes the
// launcher's events on to the page.
//
//   demo_backend [--tour <folder>] [--screenshot <png>]
//
// --tour runs the scripted tour: every panel is shown in turn, its actions
// run, and a screenshot is written to <folder>/<panel>.png; then the demo
// quits. --screenshot is the tour with the first panel's picture also copied
// to <png>.
//
// Environment: OVALIS_DEMO_LAUNCHER overrides the launcher binary,
// OVALIS_DEMO_PAGE_DIR the page folder, OVALIS_DEMO_SETTLE_MS how long a
// drawn panel is left before its capture (default 1500).

#include <glib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "demo.h"

#ifndef OVALIS_DEMO_LAUNCHER
#define OVALIS_DEMO_LAUNCHER "launcher"
#endif
#ifndef OVALIS_DEMO_PAGE_DIR
#define OVALIS_DEMO_PAGE_DIR ""
#endif

using ovalis::Json;
using ovalis::obj;

void Demo::emit_ready(std::string_view event, const Json& data) {
  for (auto& w : ready) b.emit(w, event, data);
}

namespace {

// Launcher events, passed on to the pages under the names the page API uses.
void install_events(Demo& d) {
  auto& b = d.b;
  auto entry = [&d](const char* event) {
    return [&d, event](std::string_view id) {
      if (std::string_view(event) == "menu" && id == "quit") return d.b.quit();
      if (id == "new-window") {
        ovalis::line::WindowSpec w{.id = "second", .target = d.page, .title = "Second window",
                                   .width = 720, .height = 480};
        w.parent = "main";
        return d.b.open_window(w);
      }
      if (id == "close-window") return d.b.close_window("second");
      if (id == "reload") return d.b.reload();
      if (id == "show") return d.b.winop("main", "show");
      if (std::string_view(event) == "tray" && id == "quit") return d.b.quit();
      if (id == "ticks") {
        d.show_ticks = !d.show_ticks;
        d.b.update_menu("", "ticks", std::nullopt, d.show_ticks, std::nullopt);
      }
      d.emit_ready(event, obj({{"id", std::string(id)}}));
    };
  };
  b.on("MENU", entry("menu"));
  b.on("TRAY", entry("tray"));
  b.on("CTX", entry("contextmenu"));
  b.on("TRAYCLICK", [&d](std::string_view) {
    d.b.winop("main", "show");
    d.emit_ready("trayclick", nullptr);
  });
  b.on("WINCLOSED", [&d](std::string_view id) {
    d.ready.erase(std::string(id));
    d.b.get("windows").then([&d](const Json& v) { d.emit_ready("windows", obj({{"windows", v}})); });
  });
  b.on("WINSTATE", [&d](std::string_view rest) {
    size_t sp = rest.find(' ');
    if (sp == std::string_view::npos) return;
    auto state = ovalis::json_parse(rest.substr(sp + 1));
    std::string win(rest.substr(0, sp));
    if (state && d.ready.count(win)) d.b.emit(win, "window-state", *state);
  });
  b.on("SYS", [&d](std::string_view what) {
    if (what == "theme dark" || what == "theme light") {
      d.dark = what == "theme dark";
      d.emit_ready("theme", obj({{"dark", d.dark}}));
    } else if (what == "screens") {
      d.b.get("screens").then([&d](const Json& v) { d.emit_ready("screens-changed", v); });
    } else if (what == "sleep" || what == "wake") {
      d.emit_ready("power", obj({{"state", std::string(what)}}));
    }
  });
  // Events whose JSON goes to the page as it is.
  auto json_event = [&d](const char* event) {
    return [&d, event](std::string_view rest) {
      if (auto v = ovalis::json_parse(rest)) d.emit_ready(event, *v);
    };
  };
  b.on("DOWNLOAD", json_event("download"));
  b.on("POPUP", json_event("popup"));
  b.on("DROP", [&d](std::string_view rest) {
    if (auto v = ovalis::json_parse(rest)) d.emit_ready("drop", obj({{"paths", *v}}));
  });
  b.on("CLIPCHANGE", [&d](std::string_view rest) {
    size_t sp = rest.find(' ');
    long long n = std::atoll(std::string(rest.substr(0, sp)).c_str());
    bool self = sp != std::string_view::npos && rest.substr(sp + 1) == "1";
    d.emit_ready("clipboard-change", obj({{"changeCount", n}, {"self", self}}));
  });
  b.on("NOTIFYCLICK", [&d](std::string_view id) {
    d.emit_ready("notification", obj({{"id", std::string(id)}, {"action", "default"}}));
  });
  b.on("NOTIFYACTION", [&d](std::string_view rest) {
    auto f = ovalis::split_tabs(rest);
    d.emit_ready("notification", obj({{"id", f[0]}, {"action", f.size() > 1 ? f[1] : ""}}));
  });
  b.on("HOTKEY", [&d](std::string_view id) { d.emit_ready("hotkey", obj({{"id", std::string(id)}})); });
  b.on("MEDIAKEY", [&d](std::string_view rest) {
    auto f = ovalis::split_tabs(rest);
    Json data = obj({{"command", f[0]}});
    if (f.size() > 1) data.set("time", g_ascii_strtod(f[1].c_str(), nullptr));
    d.emit_ready("media-key", data);
  });
  b.on("AUDIOTAP", [&d](std::string_view rest) {
    auto f = ovalis::split_tabs(rest);
    if (f.size() < 5) return;
    d.emit_ready("audio-tap", obj({{"pcm", f[0]}, {"sampleRate", std::atoi(f[1].c_str())},
                                   {"channels", std::atoi(f[2].c_str())},
                                   {"frames", std::atoi(f[3].c_str())},
                                   {"t", g_ascii_strtod(f[4].c_str(), nullptr)}}));
  });
  b.on("NAV", [&d](std::string_view rest) {
    auto v = ovalis::json_parse(rest);
    // A new document has no handlers until it says it is ready again.
    if (v && v->str_or("kind") == "commit") d.ready.erase(v->str_or("window", "main"));
  });
  b.declare_events({"tick", "windows", "theme", "window-state", "screens-changed", "menu",
                    "contextmenu", "tray", "trayclick", "download", "popup", "drop",
                    "clipboard-change", "notification", "hotkey", "media-key", "audio-tap", "power",
                    "tour"});
}

void usage(const char* argv0) {
  std::fprintf(stderr, "usage: %s [--tour <folder>] [--screenshot <png>]\n", argv0);
}

// An installed demo lives in <prefix>/bin beside the launcher, with its page
// in <prefix>/share/ovalis/demo; a demo in the build tree uses the paths it
// was built with.
bool installed_paths(std::string& launcher, std::string& page_dir) {
  gchar* self = g_file_read_link("/proc/self/exe", nullptr);
  if (!self) return false;
  gchar* bin = g_path_get_dirname(self);
  std::string l = std::string(bin) + "/launcher";
  std::string p = std::string(bin) + "/../share/ovalis/demo";
  g_free(bin);
  g_free(self);
  if (!g_file_test(l.c_str(), G_FILE_TEST_IS_EXECUTABLE) ||
      !g_file_test((p + "/index.html").c_str(), G_FILE_TEST_EXISTS))
    return false;
  launcher = l;
  gchar* canon = g_canonicalize_filename(p.c_str(), nullptr);
  page_dir = canon;
  g_free(canon);
  return true;
}

std::string absolute(std::string p) {
  if (p.empty() || p[0] == '/') return p;
  char* cwd = getcwd(nullptr, 0);
  std::string out = cwd ? std::string(cwd) + "/" + p : p;
  std::free(cwd);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  // Line-buffered even into a pipe, so the conversation reads in order.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  std::string tour, shot;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if ((a == "--tour" || a == "--screenshot") && i + 1 < argc) {
      (a == "--tour" ? tour : shot) = argv[++i];
    } else if (a == "-h" || a == "--help") {
      usage(argv[0]);
      return 0;
    } else {
      usage(argv[0]);
      return 2;
    }
  }
  if (const char* e = std::getenv("OVALIS_DEMO_SCREENSHOT"); e && *e && shot.empty()) shot = e;
  if (!shot.empty() && tour.empty()) {
    std::string s = absolute(shot);
    tour = s.substr(0, s.rfind('/')) + "/demo-shots";
  }

  Demo d;
  std::string launcher = OVALIS_DEMO_LAUNCHER;
  d.page_dir = OVALIS_DEMO_PAGE_DIR;
  installed_paths(launcher, d.page_dir);
  if (const char* e = std::getenv("OVALIS_DEMO_PAGE_DIR"); e && *e) d.page_dir = e;
  d.page = d.page_dir + "/index.html";
  d.shots_dir = absolute(tour);
  if (const char* e = std::getenv("OVALIS_DEMO_SETTLE_MS"); e && *e) {
    long v = std::strtol(e, nullptr, 10);
    if (v >= 0 && v <= 60000) d.settle_ms = int(v);
  }

  d.b.trace = [](char dir, std::string_view l) {
    std::printf("%s %.*s\n", dir == '<' ? "<-" : "->", int(l.size()), l.data());
  };
  install_events(d);
  install_panels(d);

  ovalis::LaunchOptions o;
  o.launcher = launcher;
  if (const char* e = std::getenv("OVALIS_DEMO_LAUNCHER"); e && *e) o.launcher = e;
  o.page = d.page;
  o.title = "ovalis demo";
  o.width = 1040;
  o.height = 700;
  o.env = {{"OVALIS_APP_ID", "org.ovalis.demo"}};
  d.b.on_connected = [&d] {
    d.b.get("windows").then([&d](const Json& v) { d.emit_ready("windows", obj({{"windows", v}})); });
  };
  std::string err;
  if (!d.b.start(o, &err)) {
    std::fprintf(stderr, "demo: %s\n", err.c_str());
    return 1;
  }
  std::printf("demo: started %s (pid %d)\n", o.launcher.c_str(), int(d.b.launcher_pid()));

  // A beat for the page every two seconds.
  g_timeout_add(2000, [](gpointer p) -> gboolean {
    auto* d = static_cast<Demo*>(p);
    ++d->ticks;
    if (d->show_ticks) d->emit_ready("tick", obj({{"n", d->ticks}}));
    return G_SOURCE_CONTINUE;
  }, &d);

  int status = d.b.run();
  std::printf("demo: launcher ended with status %d\n", status);
  if (!d.shots_dir.empty()) {
    for (auto& s : d.shots) std::printf("screenshot: %s\n", s.c_str());
    for (auto& f : d.failed) std::fprintf(stderr, "demo: no screenshot of panel %s\n", f.c_str());
    if (!shot.empty() && !d.shots.empty()) {
      std::string cmd_src = d.shots.front();
      gchar* data = nullptr;
      gsize len = 0;
      if (g_file_get_contents(cmd_src.c_str(), &data, &len, nullptr)) {
        g_file_set_contents(absolute(shot).c_str(), data, gssize(len), nullptr);
        g_free(data);
        std::printf("screenshot: %s\n", absolute(shot).c_str());
      }
    }
    if (d.shots.empty() || d.tour_at < d.tour.size()) return 1;
  }
  return status;
}
