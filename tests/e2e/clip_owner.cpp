// Another application on the clipboard, offering several targets at once
// the way browsers and file managers do (xclip offers only one):
//
//   clip_owner <target> <file> [<target> <file>...]
//
// Serves each file's bytes for its target, prints "owned" once it holds
// the clipboard, and exits when another owner takes over.
#include <gtk/gtk.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_data;

void on_get(GtkClipboard*, GtkSelectionData* sel, guint info, gpointer) {
  const std::string& d = g_data[info];
  gtk_selection_data_set(sel, gtk_selection_data_get_target(sel), 8,
                         reinterpret_cast<const guchar*>(d.data()), static_cast<gint>(d.size()));
}

void on_clear(GtkClipboard*, gpointer) { gtk_main_quit(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0 || !gtk_init_check(&argc, &argv)) return 2;
  std::vector<GtkTargetEntry> targets;
  for (int i = 1; i + 1 < argc; i += 2) {
    gchar* bytes = nullptr;
    gsize len = 0;
    if (!g_file_get_contents(argv[i + 1], &bytes, &len, nullptr)) return 2;
    g_data.emplace_back(bytes, len);
    g_free(bytes);
    targets.push_back({argv[i], 0, static_cast<guint>(targets.size())});
  }
  GtkClipboard* cb = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  if (!gtk_clipboard_set_with_data(cb, targets.data(), static_cast<guint>(targets.size()), on_get,
                                   on_clear, nullptr))
    return 1;
  std::puts("owned");
  std::fflush(stdout);
  gtk_main();
  return 0;
}
