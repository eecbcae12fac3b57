// The desktop clipboard: content offered lazily to other applications,
// full and count-only reads, and ownership changes reported to the backend.
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/gobj.h"
#include "core/wire.h"
#include "desktop/desktop.h"

namespace {

// What this application offers; served on request, so a large image is
// only encoded when someone pastes it.
struct ClipData {
  std::string text;
  std::string html;
  std::string fallback_text;
  GObj<GdkPixbuf> image;
  std::vector<std::string> uris;
};

int32_t g_clip_count = 0;
// The count the owner change of our last write will bring.
int32_t g_clip_self_count = -1;
bool g_clip_watching = false;
ClipData* g_clip_data = nullptr;
std::string g_clip_image_tmp;

GtkClipboard* clipboard() { return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD); }

// A Wayland clipboard belongs to a seat. A compositor without one (a
// headless or kiosk session) leaves GTK's clipboard half built, and taking
// ownership there crashes inside the toolkit; such a desktop simply has no
// clipboard: reads find it empty and writes are dropped.
bool clipboard_has_seat() {
  GdkDisplay* display = gdk_display_get_default();
  if (display && gdk_display_get_default_seat(display)) return true;
  static bool told = false;
  if (!told) {
    told = true;
    std::fprintf(stderr, "ovalis: the display has no seat, so there is no clipboard\n");
  }
  return false;
}

void clip_get_func(GtkClipboard*, GtkSelectionData* sel, guint, gpointer user) {
  auto* d = static_cast<ClipData*>(user);
  GdkAtom target = gtk_selection_data_get_target(sel);
  GChars name(gdk_atom_name(target));
  std::string t = name ? name.get() : "";
  if (t == "text/html" && !d->html.empty()) {
    gtk_selection_data_set(sel, target, 8, reinterpret_cast<const guchar*>(d->html.data()),
                           static_cast<gint>(d->html.size()));
    return;
  }
  if (t == "text/uri-list" && !d->uris.empty()) {
    std::vector<gchar*> list;
    for (std::string& u : d->uris) list.push_back(u.data());
    list.push_back(nullptr);
    gtk_selection_data_set_uris(sel, list.data());
    return;
  }
  if (t.starts_with("image/") && d->image) {
    gtk_selection_data_set_pixbuf(sel, d->image.get());
    return;
  }
  const std::string& s = !d->text.empty() ? d->text : d->fallback_text;
  if (!s.empty()) gtk_selection_data_set_text(sel, s.data(), static_cast<gint>(s.size()));
}

void clip_clear_func(GtkClipboard*, gpointer user) {
  auto* d = static_cast<ClipData*>(user);
  if (g_clip_data == d) g_clip_data = nullptr;
  delete d;
}

void on_clip_owner_change(GtkClipboard*, GdkEvent*, gpointer) {
  g_clip_count = static_cast<int32_t>(static_cast<uint32_t>(g_clip_count) + 1u);
  if (!g_clip_watching) return;
  pipe_write_line("CLIPCHANGE " + std::to_string(g_clip_count) +
                  (g_clip_count == g_clip_self_count ? " 1" : " 0"));
}

GdkPixbuf* pixbuf_from_bytes(const guchar* data, gsize len) {
  if (len == 0) return nullptr;
  GObj<GdkPixbufLoader> loader(gdk_pixbuf_loader_new());
  bool ok = gdk_pixbuf_loader_write(loader.get(), data, len, nullptr);
  ok = gdk_pixbuf_loader_close(loader.get(), nullptr) && ok;
  GdkPixbuf* pb = ok ? gdk_pixbuf_loader_get_pixbuf(loader.get()) : nullptr;
  return pb ? GDK_PIXBUF(g_object_ref(pb)) : nullptr;
}

// A file path, a home-relative path, a data URL or bare base64.
GdkPixbuf* load_clip_image(std::string src) {
  if (src.starts_with("data:")) {
    size_t comma = src.find(',');
    src = comma == std::string::npos ? "" : src.substr(comma + 1);
  }
  if (src.starts_with("/")) return gdk_pixbuf_new_from_file(src.c_str(), nullptr);
  if (src.starts_with("~/")) {
    const char* home = std::getenv("HOME");
    std::string path = std::string(home ? home : "/tmp") + src.substr(1);
    return gdk_pixbuf_new_from_file(path.c_str(), nullptr);
  }
  gsize len = 0;
  GChars bytes(reinterpret_cast<char*>(g_base64_decode(src.c_str(), &len)));
  return pixbuf_from_bytes(reinterpret_cast<const guchar*>(bytes.get()), len);
}

const std::string& image_tmp_path() {
  if (g_clip_image_tmp.empty())
    g_clip_image_tmp = std::string(g_get_tmp_dir()) + "/ovalis-clip-" +
                       std::to_string(getpid()) + ".png";
  return g_clip_image_tmp;
}

// Written through a fresh file renamed into place: the name is predictable
// in a shared folder, and a link planted there must not be followed.
bool save_png(GdkPixbuf* pb, const std::string& path) {
  gchar* buf = nullptr;
  gsize len = 0;
  if (!gdk_pixbuf_save_to_buffer(pb, &buf, &len, "png", nullptr, nullptr)) return false;
  GChars owned(buf);
  return g_file_set_contents_full(path.c_str(), buf, static_cast<gssize>(len),
                                  G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr);
}

// Some programs offer HTML as UTF-16; its ASCII markup then has a zero in
// every second byte.
std::string html_text(const guchar* data, gint len) {
  if (len > 1 && data[1] == 0) {
    std::string out;
    for (gint i = 0; i < len; i += 2)
      if (data[i]) out += static_cast<char>(data[i]);
    return out;
  }
  return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(len));
}

}  // namespace

void install_clipboard_observer() {
  g_signal_connect(clipboard(), "owner-change", G_CALLBACK(on_clip_owner_change), nullptr);
}

// Each wait below runs a nested main loop until the owner answers; other
// lines (another read, a write) may be handled meanwhile, so everything
// lives in locals and the counter is read only at the end.
std::string clipboard_json(bool count_only) {
  if (count_only) return "{\"changeCount\":" + std::to_string(g_clip_count) + "}";
  GtkClipboard* cb = clipboard();
  std::string kind = "empty", text = "null", html = "null", paths = "[]";
  std::string image = "null", image_size = "null";
  auto answer = [&] {
    return "{\"kind\":\"" + kind + "\",\"changeCount\":" + std::to_string(g_clip_count) +
           ",\"text\":" + text + ",\"html\":" + html + ",\"paths\":" + paths +
           ",\"image\":" + image + ",\"imageSize\":" + image_size +
           ",\"color\":null,\"concealed\":false,\"sourceApp\":null,\"sourceURL\":null}";
  };
  if (!clipboard_has_seat()) return answer();

  if (gchar** uris = gtk_clipboard_wait_for_uris(cb)) {
    if (uris[0]) {
      kind = "files";
      std::string list;
      for (gchar** u = uris; *u; ++u) {
        GChars file(g_filename_from_uri(*u, nullptr, nullptr));
        if (!file) continue;
        if (!list.empty()) list += ',';
        list += json_escape(file.get());
      }
      paths = "[" + list + "]";
    }
    g_strfreev(uris);
  }
  if (GChars t{gtk_clipboard_wait_for_text(cb)}) {
    text = json_escape(t.get());
    if (kind == "empty") kind = "text";
  }
  if (kind == "empty" || kind == "text") {
    if (GObj<GdkPixbuf> pb{gtk_clipboard_wait_for_image(cb)}) {
      kind = "image";
      const std::string& path = image_tmp_path();
      if (save_png(pb.get(), path)) {
        image = json_escape(path);
        image_size = "{\"width\":" + std::to_string(gdk_pixbuf_get_width(pb.get())) +
                     ",\"height\":" + std::to_string(gdk_pixbuf_get_height(pb.get())) + "}";
      }
    }
  }
  if (GtkSelectionData* sel =
          gtk_clipboard_wait_for_contents(cb, gdk_atom_intern_static_string("text/html"))) {
    gint len = gtk_selection_data_get_length(sel);
    if (len > 0) html = json_escape(html_text(gtk_selection_data_get_data(sel), len));
    gtk_selection_data_free(sel);
  }
  return answer();
}

void do_clipwrite(std::string_view payload) {
  // Checked first: on a seatless display there is nothing to own, so the
  // image is not worth decoding.
  if (!clipboard_has_seat()) return;
  std::vector<std::string> f = split_tabs(payload);
  auto d = std::make_unique<ClipData>();
  d->text = wire_unescape(tab_field(f, 0));
  d->html = wire_unescape(tab_field(f, 1));
  std::string image_src = wire_unescape(tab_field(f, 2));
  d->fallback_text = wire_unescape(tab_field(f, 3));
  if (!image_src.empty()) d->image.reset(load_clip_image(image_src));
  for (size_t i = 4; i < f.size(); ++i) {
    std::string path = wire_unescape(f[i]);
    if (path.empty()) continue;
    if (GChars uri{g_filename_to_uri(path.c_str(), nullptr, nullptr)}) d->uris.push_back(uri.get());
  }

  std::vector<GtkTargetEntry> targets;
  auto add = [&](const char* name) {
    targets.push_back({const_cast<gchar*>(name), 0, static_cast<guint>(targets.size())});
  };
  if (!d->text.empty() || !d->fallback_text.empty()) {
    add("UTF8_STRING");
    add("text/plain;charset=utf-8");
    add("text/plain");
  }
  if (!d->html.empty()) add("text/html");
  if (d->image) add("image/png");
  if (!d->uris.empty()) add("text/uri-list");
  if (targets.empty()) return;

  GtkClipboard* cb = clipboard();
  ClipData* raw = d.get();
  if (!gtk_clipboard_set_with_data(cb, targets.data(), static_cast<guint>(targets.size()),
                                   clip_get_func, clip_clear_func, raw))
    return;  // not taken: d still owns the content
  d.release();  // the clipboard frees it through clip_clear_func
  g_clip_data = raw;
  gtk_clipboard_set_can_store(cb, nullptr, 0);
  g_clip_self_count = g_clip_count + 1;
}

void do_clipwatch(std::string_view rest) {
  std::string s(rest);
  g_clip_watching = std::strtol(s.c_str(), nullptr, 10) > 0;
}
