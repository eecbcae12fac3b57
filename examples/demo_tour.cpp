// The scripted tour for machines without a display: the page shows each
// panel in turn and runs its actions; once it has drawn them, the screen is
// captured to <folder>/<panel>.png. A panel that never reports back is
// skipped after a while, so the tour always ends.
#include <glib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "demo.h"

namespace {

constexpr guint kPanelGiveUpMs = 90000;
unsigned g_tour_gen = 0;  // stale timers of an earlier panel do nothing

void next_panel(Demo& d);

void finish_panel(Demo& d, bool ok) {
  const std::string& panel = d.tour[d.tour_at];
  if (ok)
    d.shots.push_back(d.shots_dir + "/" + panel + ".png");
  else
    d.failed.push_back(panel);
  ++d.tour_at;
  next_panel(d);
}

struct Capture {
  Demo* d;
  unsigned gen;
  std::string out;
};

void capture_now(Demo& d) {
  std::string out = d.shots_dir + "/" + d.tour[d.tour_at] + ".png";
  gchar* import = g_find_program_in_path("import");
  if (!import) {
    std::fprintf(stderr, "demo: ImageMagick's import is not installed; no screenshots\n");
    return finish_panel(d, false);
  }
  std::string exe = import;
  g_free(import);
  const gchar* argv[] = {exe.c_str(), "-window", "root", out.c_str(), nullptr};
  GPid pid = 0;
  if (!g_spawn_async(nullptr, const_cast<gchar**>(argv), nullptr,
                     GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL),
                     nullptr, nullptr, &pid, nullptr))
    return finish_panel(d, false);
  auto* cap = new Capture{&d, g_tour_gen, out};
  g_child_watch_add(pid, [](GPid p, gint status, gpointer data) {
    auto* cap = static_cast<Capture*>(data);
    g_spawn_close_pid(p);
    struct stat sb{};
    bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && stat(cap->out.c_str(), &sb) == 0 &&
              sb.st_size > 0;
    if (cap->gen == g_tour_gen) finish_panel(*cap->d, ok);
    delete cap;
  }, cap);
}

void next_panel(Demo& d) {
  ++g_tour_gen;
  if (d.tour_at >= d.tour.size()) {
    std::printf("demo: tour done, %zu screenshots in %s\n", d.shots.size(), d.shots_dir.c_str());
    return d.b.quit();
  }
  std::printf("demo: tour: panel %s\n", d.tour[d.tour_at].c_str());
  d.b.emit("main", "tour", ovalis::obj({{"panel", d.tour[d.tour_at]}}));
  g_timeout_add_full(G_PRIORITY_DEFAULT, kPanelGiveUpMs, [](gpointer p) -> gboolean {
    auto* pair = static_cast<std::pair<Demo*, unsigned>*>(p);
    if (pair->second == g_tour_gen) {
      std::fprintf(stderr, "demo: panel %s never reported back\n",
                   pair->first->tour[pair->first->tour_at].c_str());
      finish_panel(*pair->first, false);
    }
    return G_SOURCE_REMOVE;
  }, new std::pair<Demo*, unsigned>(&d, g_tour_gen), [](gpointer p) {
    delete static_cast<std::pair<Demo*, unsigned>*>(p);
  });
}

}  // namespace

void start_tour(Demo& d, const ovalis::Json& panels) {
  if (d.shots_dir.empty() || !d.tour.empty()) return;
  if (g_mkdir_with_parents(d.shots_dir.c_str(), 0755) != 0) {
    std::fprintf(stderr, "demo: cannot make %s\n", d.shots_dir.c_str());
    return d.b.quit();
  }
  if (panels.is_array())
    for (auto& p : panels.arr())
      if (p.is_string()) d.tour.push_back(p.str());
  if (d.tour.empty()) {
    std::fprintf(stderr, "demo: the page named no panels\n");
    return d.b.quit();
  }
  next_panel(d);
}

void on_panel_shown(Demo& d, const std::string& panel) {
  if (d.tour_at >= d.tour.size() || d.tour[d.tour_at] != panel) return;
  // Software rendering can take a while to put the frame on the screen.
  auto* pair = new std::pair<Demo*, unsigned>(&d, g_tour_gen);
  g_timeout_add_full(G_PRIORITY_DEFAULT, guint(d.settle_ms), [](gpointer p) -> gboolean {
    auto* pair = static_cast<std::pair<Demo*, unsigned>*>(p);
    if (pair->second == g_tour_gen) {
      ++g_tour_gen;  // the give-up timer of this panel is void now
      capture_now(*pair->first);
    }
    return G_SOURCE_REMOVE;
  }, pair, [](gpointer p) { delete static_cast<std::pair<Demo*, unsigned>*>(p); });
}
