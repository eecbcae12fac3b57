// Now playing: the application's track as an MPRIS media player on the
// session bus, so the desktop's media controls show it; their commands come
// back to the backend as "MEDIAKEY" lines.
#include <gio/gio.h>

#include "audio/audio.h"
#include "audio/tool_text.h"
#include "core/app.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "windows/windows.h"

namespace {

struct NowPlaying {
  std::string title;
  std::string artist;
  std::string album;
  double duration = 0;
  double elapsed = 0;
  bool playing = false;
};

NowPlaying g_np;
guint g_mpris_owner = 0;
guint g_mpris_reg_root = 0;
guint g_mpris_reg_player = 0;
GDBusNodeInfo* g_mpris_info = nullptr;  // parsed once, kept

const char kPath[] = "/org/mpris/MediaPlayer2";
const char kRootIface[] = "org.mpris.MediaPlayer2";
const char kPlayerIface[] = "org.mpris.MediaPlayer2.Player";

const char kIntrospection[] =
    "<node>"
    " <interface name='org.mpris.MediaPlayer2'>"
    "  <method name='Raise'/>"
    "  <method name='Quit'/>"
    "  <property name='CanQuit' type='b' access='read'/>"
    "  <property name='CanRaise' type='b' access='read'/>"
    "  <property name='HasTrackList' type='b' access='read'/>"
    "  <property name='Identity' type='s' access='read'/>"
    "  <property name='SupportedUriSchemes' type='as' access='read'/>"
    "  <property name='SupportedMimeTypes' type='as' access='read'/>"
    " </interface>"
    " <interface name='org.mpris.MediaPlayer2.Player'>"
    "  <method name='Next'/>"
    "  <method name='Previous'/>"
    "  <method name='Pause'/>"
    "  <method name='PlayPause'/>"
    "  <method name='Stop'/>"
    "  <method name='Play'/>"
    "  <method name='Seek'><arg name='Offset' type='x' direction='in'/></method>"
    "  <method name='SetPosition'>"
    "   <arg name='TrackId' type='o' direction='in'/>"
    "   <arg name='Position' type='x' direction='in'/>"
    "  </method>"
    "  <method name='OpenUri'><arg name='Uri' type='s' direction='in'/></method>"
    "  <property name='PlaybackStatus' type='s' access='read'/>"
    "  <property name='Rate' type='d' access='readwrite'/>"
    "  <property name='Metadata' type='a{sv}' access='read'/>"
    "  <property name='Volume' type='d' access='readwrite'/>"
    "  <property name='Position' type='x' access='read'/>"
    "  <property name='MinimumRate' type='d' access='read'/>"
    "  <property name='MaximumRate' type='d' access='read'/>"
    "  <property name='CanGoNext' type='b' access='read'/>"
    "  <property name='CanGoPrevious' type='b' access='read'/>"
    "  <property name='CanPlay' type='b' access='read'/>"
    "  <property name='CanPause' type='b' access='read'/>"
    "  <property name='CanSeek' type='b' access='read'/>"
    "  <property name='CanControl' type='b' access='read'/>"
    " </interface>"
    "</node>";

// D-Bus strings must be UTF-8; the backend's text is taken as it comes.
GVariant* str_variant(const std::string& s) {
  GChars valid(g_utf8_make_valid(s.c_str(), static_cast<gssize>(s.size())));
  return g_variant_new_string(valid.get());
}

GVariant* mpris_metadata() {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&b, "{sv}", "mpris:trackid",
                        g_variant_new_object_path("/org/ovalis/track/0"));
  if (!g_np.title.empty()) g_variant_builder_add(&b, "{sv}", "xesam:title", str_variant(g_np.title));
  if (!g_np.artist.empty()) {
    GVariant* one = str_variant(g_np.artist);
    g_variant_builder_add(&b, "{sv}", "xesam:artist", g_variant_new_array(nullptr, &one, 1));
  }
  if (!g_np.album.empty()) g_variant_builder_add(&b, "{sv}", "xesam:album", str_variant(g_np.album));
  if (g_np.duration > 0)
    g_variant_builder_add(&b, "{sv}", "mpris:length",
                          g_variant_new_int64(static_cast<gint64>(g_np.duration * 1000000)));
  return g_variant_builder_end(&b);
}

const char* status_text() { return g_np.playing ? "Playing" : "Paused"; }

GVariant* mpris_get_property(GDBusConnection*, const char*, const char*, const char* iface,
                             const char* name, GError**, gpointer) {
  std::string_view n = name;
  if (std::string_view(iface) == kRootIface) {
    if (n == "Identity") return str_variant(g_app_name);
    if (n == "CanQuit" || n == "HasTrackList") return g_variant_new_boolean(FALSE);
    if (n == "CanRaise") return g_variant_new_boolean(TRUE);
    if (n == "SupportedUriSchemes" || n == "SupportedMimeTypes")
      return g_variant_new_strv(nullptr, 0);
    return nullptr;
  }
  if (n == "PlaybackStatus") return g_variant_new_string(status_text());
  if (n == "Metadata") return mpris_metadata();
  if (n == "Position") return g_variant_new_int64(static_cast<gint64>(g_np.elapsed * 1000000));
  if (n == "Rate" || n == "MinimumRate" || n == "MaximumRate" || n == "Volume")
    return g_variant_new_double(1.0);
  if (n == "CanGoNext" || n == "CanGoPrevious" || n == "CanPlay" || n == "CanPause" ||
      n == "CanSeek" || n == "CanControl")
    return g_variant_new_boolean(TRUE);
  return nullptr;
}

// Rate and Volume are accepted and ignored: the page owns its playback.
gboolean mpris_set_property(GDBusConnection*, const char*, const char*, const char*,
                            const char*, GVariant*, GError**, gpointer) {
  return TRUE;
}

void raise_app() {
  if (g_win) {
    present_now(g_win);
    return;
  }
  for (auto& [id, rec] : g_secwins) {
    if (rec->window) {
      present_now(rec->window);
      return;
    }
  }
}

void mpris_method_call(GDBusConnection*, const char*, const char*, const char* iface,
                       const char* method, GVariant* params, GDBusMethodInvocation* inv,
                       gpointer) {
  std::string_view m = method;
  if (std::string_view(iface) == kRootIface) {
    if (m == "Raise") raise_app();
  } else if (m == "Play") {
    pipe_write_line("MEDIAKEY play");
  } else if (m == "Pause" || m == "Stop") {
    pipe_write_line("MEDIAKEY pause");
  } else if (m == "PlayPause") {
    pipe_write_line("MEDIAKEY toggle");
  } else if (m == "Next") {
    pipe_write_line("MEDIAKEY next");
  } else if (m == "Previous") {
    pipe_write_line("MEDIAKEY previous");
  } else if (m == "Seek") {
    gint64 offset = 0;
    g_variant_get(params, "(x)", &offset);
    pipe_write_line(mediakey_seek_line(static_cast<double>(offset) / 1000000 + g_np.elapsed));
  } else if (m == "SetPosition") {
    const char* track = nullptr;
    gint64 pos = 0;
    g_variant_get(params, "(&ox)", &track, &pos);
    pipe_write_line(mediakey_seek_line(static_cast<double>(pos) / 1000000));
  }
  g_dbus_method_invocation_return_value(inv, nullptr);
}

const GDBusInterfaceVTable kVtable = {mpris_method_call, mpris_get_property, mpris_set_property,
                                      {}};

bool registered() { return g_mpris_reg_root || g_mpris_reg_player; }

void mpris_withdraw(GDBusConnection* bus) {
  if (g_mpris_owner) g_bus_unown_name(g_mpris_owner);
  if (g_mpris_reg_root) g_dbus_connection_unregister_object(bus, g_mpris_reg_root);
  if (g_mpris_reg_player) g_dbus_connection_unregister_object(bus, g_mpris_reg_player);
  g_mpris_owner = g_mpris_reg_root = g_mpris_reg_player = 0;
}

void mpris_register(GDBusConnection* bus) {
  if (!g_mpris_info) {
    g_mpris_info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    if (!g_mpris_info) return;
  }
  g_mpris_reg_root = g_dbus_connection_register_object(
      bus, kPath, g_dbus_node_info_lookup_interface(g_mpris_info, kRootIface), &kVtable, nullptr,
      nullptr, nullptr);
  g_mpris_reg_player = g_dbus_connection_register_object(
      bus, kPath, g_dbus_node_info_lookup_interface(g_mpris_info, kPlayerIface), &kVtable,
      nullptr, nullptr, nullptr);
  std::string name = mpris_bus_name(g_app_id, g_app_name);
  g_mpris_owner = g_bus_own_name_on_connection(bus, name.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                               nullptr, nullptr, nullptr, nullptr);
}

void mpris_announce(GDBusConnection* bus) {
  GVariantBuilder changed;
  g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&changed, "{sv}", "PlaybackStatus", g_variant_new_string(status_text()));
  g_variant_builder_add(&changed, "{sv}", "Metadata", mpris_metadata());
  GVariantBuilder invalidated;
  g_variant_builder_init(&invalidated, G_VARIANT_TYPE("as"));
  g_dbus_connection_emit_signal(
      bus, nullptr, kPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
      g_variant_new("(sa{sv}as)", kPlayerIface, &changed, &invalidated), nullptr);
}

}  // namespace

void do_nowplaying(std::string_view payload) {
  GDBusConnection* bus = session_bus();
  if (!bus) return;
  if (payload.empty() || payload == "clear") {
    if (registered()) mpris_withdraw(bus);
    g_np = NowPlaying{};
    return;
  }
  std::string json = wire_unescape(payload);
  g_np.title = json_find_str(json, "title");
  g_np.artist = json_find_str(json, "artist");
  g_np.album = json_find_str(json, "album");
  g_np.duration = json_find_num(json, "duration");
  g_np.elapsed = json_find_num(json, "elapsed");
  g_np.playing = nowplaying_playing(json);
  if (!registered()) mpris_register(bus);
  if (registered()) mpris_announce(bus);
}
