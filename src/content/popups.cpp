// Popups: what window.open and links with a target do. The backend is asked
// each time, with the configured mode as the answer when it stays silent;
// in mode "window" the popup is built hidden at once (the engine needs its
// web view now) and shown or destroyed on the verdict.
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "content/content.h"
#include "content/content_text.h"
#include "content/nav_signals.h"
#include "core/app.h"
#include "core/gobj.h"
#include "core/wire.h"
#include "webview/webview.h"
#include "windows/windows.h"

namespace {

using PopupContinuation = std::function<void(const std::string& verdict)>;

std::map<std::string, PopupContinuation> g_popup_pending;
long long g_popup_qseq = 0;
long long g_popup_seq = 0;

constexpr guint kAnswerDeadlineMs = 400;
constexpr guint kPopupTokenDelayMs = 120;
constexpr int kPopupWidth = 900, kPopupHeight = 600;
// Windows that embedded frames may open: this many in this span.
constexpr size_t kFramePopupLimit = 4;
constexpr int64_t kFramePopupSpanUs = 10 * G_USEC_PER_SEC;
std::deque<int64_t> g_frame_popups;

struct PopupTimer {
  std::string qid;
  std::string verdict;
};

gboolean on_popup_deadline(gpointer data) {
  auto* t = static_cast<PopupTimer*>(data);
  popup_resolve(t->qid, t->verdict);
  return G_SOURCE_REMOVE;
}

bool is_web(const std::string& uri) {
  return g_str_has_prefix(uri.c_str(), "http://") || g_str_has_prefix(uri.c_str(), "https://");
}

void popup_event(const std::string& popupwin, const std::string& uri, const std::string& action) {
  std::string line = "POPUP {\"window\":";
  if (popupwin.empty()) line += "null";
  else json_escape_to(line, popupwin);
  line += ",\"url\":";
  json_escape_to(line, uri);
  line += ",\"action\":";
  json_escape_to(line, action);
  line += '}';
  pipe_write_line(line);
}

// `fallback` is what happens when the backend stays silent.
void popup_ask(const std::string& popupwin, const std::string& winid, const std::string& uri,
               const std::string& mode, const std::string& fallback, bool from_frame,
               PopupContinuation cont) {
  if (g_sock < 0) {
    cont(fallback);
    return;
  }
  std::string qid = "p" + std::to_string(++g_popup_qseq);
  g_popup_pending[qid] = std::move(cont);
  // A window an embedded frame asks for is marked, so the backend can tell.
  pipe_write_line("POPUPQ " + qid + " " + (popupwin.empty() ? "-" : popupwin) + "\t" + winid +
                  "\t" + uri + "\t" + mode + (from_frame ? "\tframe" : ""));
  g_timeout_add_full(G_PRIORITY_DEFAULT, kAnswerDeadlineMs, on_popup_deadline,
                     new PopupTimer{qid, fallback},
                     [](gpointer p) { delete static_cast<PopupTimer*>(p); });
}

// A popup whose page never commits a load (content written by its opener)
// still gets a token, so it can make calls.
gboolean on_popup_token_due(gpointer data) {
  const std::string id = static_cast<const char*>(data);
  SecWin* sw = secwin_for(id);
  if (sw && sw->webview && !g_win_token.count(id))
    assign_call_token(sw->webview, id, committed_origin(sw->webview));
  return G_SOURCE_REMOVE;
}

// The engine first fills the window properties with the geometry the page
// asked for, then replaces it with a frame it works out from the size of a
// window that is not on screen yet, which comes out far too large. The
// first geometry is the one the page meant.
void on_popup_geometry(WebKitWindowProperties* props, GParamSpec*, gpointer) {
  if (g_object_get_data(G_OBJECT(props), "ovalis-asked-geometry")) return;
  auto* r = g_new0(GdkRectangle, 1);
  webkit_window_properties_get_geometry(props, r);
  g_object_set_data_full(G_OBJECT(props), "ovalis-asked-geometry", r, g_free);
}

void on_popup_ready_to_show(WebKitWebView* view, gpointer) {
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  WebKitWindowProperties* props = webkit_web_view_get_window_properties(view);
  if (!GTK_IS_WINDOW(top) || !props) return;
  GdkRectangle r{};
  if (auto* asked = static_cast<GdkRectangle*>(g_object_get_data(G_OBJECT(props), "ovalis-asked-geometry")))
    r = *asked;
  else
    webkit_window_properties_get_geometry(props, &r);
  // Tiny sizes are not worth honouring; the popup keeps its default then.
  // A verdict that came first has shown the window already; a default size
  // no longer applies then.
  if (r.width >= 120 && r.height >= 90) {
    if (gtk_widget_get_mapped(top)) gtk_window_resize(GTK_WINDOW(top), r.width, r.height);
    else gtk_window_set_default_size(GTK_WINDOW(top), r.width, r.height);
  }
  if (r.x != 0 || r.y != 0) gtk_window_move(GTK_WINDOW(top), r.x, r.y);
}

// The page's title may arrive after its load finished; the window follows it.
void on_popup_title(WebKitWebView* view, GParamSpec*, gpointer) {
  const char* title = webkit_web_view_get_title(view);
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  if (title && *title && GTK_IS_WINDOW(top)) gtk_window_set_title(GTK_WINDOW(top), title);
}

void on_popup_close(WebKitWebView* view, gpointer) {
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  if (GTK_IS_WINDOW(top)) gtk_widget_destroy(top);
}

std::string next_popup_id() {
  std::string id;
  do id = "popup" + std::to_string(++g_popup_seq);
  while (secwin_for(id));
  return id;
}

// Builds the popup window, hidden, and registers it.
SecWin* build_popup_window(const std::string& id, WebKitWebView* opener) {
  auto rec = std::make_unique<SecWin>();
  rec->id = id;
  rec->width = kPopupWidth;
  rec->height = kPopupHeight;
  GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(win), g_app_name.c_str());
  gtk_window_set_default_size(GTK_WINDOW(win), kPopupWidth, kPopupHeight);
  gtk_window_set_position(GTK_WINDOW(win), GTK_WIN_POS_CENTER);
  if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(win)))
    gtk_widget_set_visual(win, rgba);
  if (std::string icon = app_icon_path(); !icon.empty()) set_window_icon(win, icon);

  GObj<GtkAccelGroup> accel(gtk_accel_group_new());
  gtk_window_add_accel_group(GTK_WINDOW(win), accel.get());  // the window keeps a reference
  GtkWidget* vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(win), vbox);
  GtkWidget* menubar = gtk_menu_bar_new();
  gtk_box_pack_start(GTK_BOX(vbox), menubar, FALSE, FALSE, 0);
  WebKitWebView* view = make_webview(id, opener);
  gtk_box_pack_start(GTK_BOX(vbox), GTK_WIDGET(view), TRUE, TRUE, 0);

  rec->window = win;
  rec->webview = view;
  rec->menu.menubar = menubar;
  rec->menu.accel_group = accel.get();
  // The opener's content manager is shared with the popup's page from now on.
  WebKitUserContentManager* ucm = webkit_web_view_get_user_content_manager(opener);
  if (ucm) {
    rec->shared_ucm = WEBKIT_USER_CONTENT_MANAGER(g_object_ref(ucm));
    ++g_shared_ucms[ucm];
  }
  // So is the popup's own: its first blank page is open to its opener's
  // script, so only token-carrying calls count there.
  share_popup_ucm(view);
  g_signal_connect(view, "ready-to-show", G_CALLBACK(on_popup_ready_to_show), nullptr);
  g_signal_connect(view, "close", G_CALLBACK(on_popup_close), nullptr);
  g_signal_connect(view, "notify::title", G_CALLBACK(on_popup_title), nullptr);
  g_signal_connect(webkit_web_view_get_window_properties(view), "notify::geometry",
                   G_CALLBACK(on_popup_geometry), nullptr);
  return register_secwin(std::move(rec));
}

void settle_in_window(const std::string& popupwin, const std::string& uri, bool web,
                      const std::string& verdict) {
  std::string action = popup_action(verdict, "window");
  SecWin* sw = secwin_for(popupwin);
  if (sw) {
    if (action == "window") {
      gtk_widget_show_all(sw->window);
      // The bar shows again only when the window gets menus.
      if (sw->menu.menubar) gtk_widget_hide(sw->menu.menubar);
      gtk_widget_grab_focus(GTK_WIDGET(sw->webview));
    } else {
      if (action == "external" && web) launch_default_for_uri(uri);
      gtk_widget_destroy(sw->window);
    }
  } else if (action == "external" && web) {
    launch_default_for_uri(uri);
  }
  popup_event(popupwin, uri, action);
}

}  // namespace

void popup_resolve(const std::string& qid, const std::string& verdict) {
  auto it = g_popup_pending.find(qid);
  if (it == g_popup_pending.end()) return;
  PopupContinuation cont = std::move(it->second);
  g_popup_pending.erase(it);
  cont(verdict);
}

void do_popupr(std::string_view rest) {
  std::string_view id, verdict;
  if (!split_answer(rest, &id, &verdict)) return;
  popup_resolve(std::string(id), std::string(verdict));
}

GtkWidget* on_create_webview(WebKitWebView* view, WebKitNavigationAction* action, gpointer) {
  WebKitURIRequest* req = action ? webkit_navigation_action_get_request(action) : nullptr;
  const char* u = req ? webkit_uri_request_get_uri(req) : nullptr;
  std::string uri = u ? u : "";
  bool web = is_web(uri);
  std::string mode = g_popup_mode.empty() ? "external" : g_popup_mode;
  std::string winid = ovalis_winid_for_wv(view);

  // Did the page's own document ask, or a frame embedded in it? Frames get
  // a window only on the user's click or the backend's explicit yes, never
  // the bridge, and only a few at a time.
  std::string opener_origin;
  bool own = take_open_mark(view, &opener_origin);
  bool gesture = action && webkit_navigation_action_is_user_gesture(action);
  if (!own && !rate_allow(g_frame_popups, g_get_monotonic_time(), kFramePopupLimit,
                          kFramePopupSpanUs)) {
    if (std::getenv("OVALIS_DEBUG"))
      std::fprintf(stderr, "ovalis: too many windows opened by embedded frames; refused %s\n",
                   uri.c_str());
    return nullptr;
  }
  std::string fallback = own || gesture ? mode : "deny";

  if (mode != "window") {
    popup_ask("", winid, uri, mode, fallback, !own,
              [uri, web, mode](const std::string& verdict) {
                std::string act = popup_action(verdict, mode);
                if (act == "external" && web) launch_default_for_uri(uri);
                popup_event("", uri, act);
              });
    return nullptr;
  }

  std::string id = next_popup_id();
  SecWin* sw = build_popup_window(id, view);
  WebKitWebView* popup_view = sw->webview;
  if (own) {
    // Its first blank page belongs to the opener's document, origin included.
    g_object_set_data_full(G_OBJECT(popup_view), "ovalis-committed-origin",
                           g_strdup(opener_origin.c_str()), g_free);
    g_object_set_data_full(G_OBJECT(popup_view), "ovalis-opener-origin",
                           g_strdup(opener_origin.c_str()), g_free);
  } else {
    mark_bridgeless(popup_view);
  }
  g_timeout_add_full(G_PRIORITY_DEFAULT, kPopupTokenDelayMs, on_popup_token_due,
                     g_strdup(id.c_str()), g_free);
  popup_ask(id, winid, uri, "window", fallback == "deny" ? "deny" : "window", !own,
            [id, uri, web](const std::string& verdict) {
              settle_in_window(id, uri, web, verdict);
            });
  // An answer given at once may already have closed the window.
  SecWin* now = secwin_for(id);
  return now && now->webview == popup_view ? GTK_WIDGET(popup_view) : nullptr;
}
