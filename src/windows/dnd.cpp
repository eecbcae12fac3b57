// Files dropped on a web view are reported to the backend ("DROP"), while
// the page still gets its own drop events. The toolkit may deliver a drag's
// data before or after the drop itself, so the two are paired here.
#include "core/gobj.h"
#include "core/wire.h"
#include "windows/windows.h"

guint32 g_last_press_time = 0;
GdkDevice* g_last_press_device = nullptr;

namespace {

GObj<GdkDragContext> g_drag_ctx;     // its file list came before its drop
std::string g_drag_json;             // that file list
GObj<GdkDragContext> g_drop_waiting; // dropped before its data came

void on_drag_data_received(GtkWidget*, GdkDragContext* context, gint, gint,
                           GtkSelectionData* selection, guint, guint, gpointer) {
  if (!selection) return;
  GChars type(gdk_atom_name(gtk_selection_data_get_data_type(selection)));
  if (!type || std::string_view(type.get()) != "text/uri-list") return;
  std::vector<std::string> uris;
  if (gchar** list = gtk_selection_data_get_uris(selection)) {
    for (gchar** u = list; *u; ++u) uris.emplace_back(*u);
    g_strfreev(list);
  }
  std::string json = drop_json(uris);
  if (json.empty()) return;
  if (g_drop_waiting && g_drop_waiting.get() == context) {
    g_drop_waiting.reset();
    pipe_write_line("DROP " + json);
    return;
  }
  g_drag_ctx = gobj_ref(context);
  g_drag_json = std::move(json);
}

gboolean on_drag_drop(GtkWidget*, GdkDragContext* context, gint, gint, guint, gpointer) {
  if (g_drag_ctx && g_drag_ctx.get() == context) {
    pipe_write_line("DROP " + g_drag_json);
    g_drag_ctx.reset();
    g_drag_json.clear();
  } else {
    g_drop_waiting = gobj_ref(context);
  }
  return FALSE;  // the web engine still handles the drop for the page
}

gboolean on_button_press(GtkWidget*, GdkEventButton* ev, gpointer) {
  if (ev->button == 1) {
    g_last_press_time = ev->time;
    g_last_press_device = gdk_event_get_device(reinterpret_cast<GdkEvent*>(ev));
  }
  return FALSE;
}

}  // namespace

std::string drop_json(const std::vector<std::string>& uris) {
  std::string out;
  for (const std::string& uri : uris) {
    GChars path(g_filename_from_uri(uri.c_str(), nullptr, nullptr));
    if (!path) continue;
    out += out.empty() ? '[' : ',';
    json_escape_to(out, path.get());
  }
  if (!out.empty()) out += ']';
  return out;
}

void connect_drop_handlers(WebKitWebView* view) {
  g_signal_connect_after(view, "drag-data-received", G_CALLBACK(on_drag_data_received), nullptr);
  g_signal_connect(view, "drag-drop", G_CALLBACK(on_drag_drop), nullptr);
  g_signal_connect(view, "button-press-event", G_CALLBACK(on_button_press), nullptr);
}
