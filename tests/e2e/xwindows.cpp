// Finding the program's top-level windows on the test display without races.
//
// Other programs share the display and their windows come and go while a
// search walks the tree; a window that vanishes between XQueryTree and a
// property read raises BadWindow. The walk therefore runs under an error
// handler that just notes the error and skips that window, and the whole
// search is repeated until it finds what was asked for or the deadline ends.
#include "harness.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <regex>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace e2e {
namespace {

// Xlib's error handler is process-wide; searches from several threads take turns.
std::mutex g_search_mutex;
int ignore_x_error(Display*, XErrorEvent*) { return 0; }

struct Seen {
  unsigned long id = 0;
  long pid = -1;
  std::string name, res_name, res_class;
  bool viewable = false;
  bool popup = false;  // override-redirect: menus, tooltips
};

std::string text_property(Display* d, Window w, Atom prop, Atom type) {
  Atom actual = 0;
  int format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  std::string out;
  if (XGetWindowProperty(d, w, prop, 0, 4096, False, type, &actual, &format, &n, &after, &data) ==
          Success &&
      data && format == 8)
    out.assign(reinterpret_cast<char*>(data), n);
  if (data) XFree(data);
  return out;
}

long pid_property(Display* d, Window w, Atom prop) {
  Atom actual = 0;
  int format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  long pid = -1;
  if (XGetWindowProperty(d, w, prop, 0, 1, False, XA_CARDINAL, &actual, &format, &n, &after,
                         &data) == Success &&
      data && format == 32 && n == 1)
    pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
  if (data) XFree(data);
  return pid;
}

// Client windows are the ones with WM_STATE; the window manager's frames
// hold them one or two levels below the root.
void walk(Display* d, Window w, int depth, std::vector<Seen>& out) {
  static Atom wm_state = XInternAtom(d, "WM_STATE", False);
  static Atom net_name = XInternAtom(d, "_NET_WM_NAME", False);
  static Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  static Atom net_pid = XInternAtom(d, "_NET_WM_PID", False);
  if (depth > 0) {
    Atom actual = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    bool client = XGetWindowProperty(d, w, wm_state, 0, 0, False, AnyPropertyType, &actual, &format,
                                     &n, &after, &data) == Success &&
                  actual != 0;
    if (data) XFree(data);
    XWindowAttributes a{};
    bool have_attrs = XGetWindowAttributes(d, w, &a);
    bool popup = !client && depth == 1 && have_attrs && a.override_redirect;
    if (client || popup) {
      Seen s;
      s.popup = popup;
      s.id = w;
      s.pid = pid_property(d, w, net_pid);
      s.name = text_property(d, w, net_name, utf8);
      if (s.name.empty()) s.name = text_property(d, w, XA_WM_NAME, AnyPropertyType);
      XClassHint hint{};
      if (XGetClassHint(d, w, &hint)) {
        if (hint.res_name) s.res_name = hint.res_name;
        if (hint.res_class) s.res_class = hint.res_class;
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
      }
      s.viewable = have_attrs && a.map_state == IsViewable;
      out.push_back(std::move(s));
      return;
    }
  }
  if (depth > 3) return;
  Window root_ret = 0, parent = 0, *kids = nullptr;
  unsigned int nkids = 0;
  if (!XQueryTree(d, w, &root_ret, &parent, &kids, &nkids)) return;
  std::vector<Window> children(kids, kids + nkids);
  if (kids) XFree(kids);
  for (Window k : children) walk(d, k, depth + 1, out);
}

std::vector<Seen> list_clients() {
  std::vector<Seen> seen;
  Display* d = XOpenDisplay(nullptr);
  if (!d) return seen;
  auto old = XSetErrorHandler(ignore_x_error);
  walk(d, DefaultRootWindow(d), 0, seen);
  XSync(d, False);
  XSetErrorHandler(old);
  XCloseDisplay(d);
  return seen;
}

bool matches(const WindowQuery& q, const Seen& s) {
  if (s.popup && !q.popups) return false;
  if (q.pid > 0 && s.pid != q.pid) return false;
  if (q.only_visible && !s.viewable) return false;
  if (!q.name.empty() && !std::regex_match(s.name, std::regex(q.name))) return false;
  if (!q.res_name.empty() && s.res_name != q.res_name) return false;
  return true;
}

}  // namespace

std::vector<unsigned long> find_windows(const WindowQuery& q, int timeout_ms) {
  // No X server in a Wayland session: nothing to wait for.
  if (on_wayland()) return {};
  std::lock_guard<std::mutex> lock(g_search_mutex);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<Seen> seen;
  for (;;) {
    seen = list_clients();
    std::vector<unsigned long> ids;
    for (const Seen& s : seen)
      if (matches(q, s)) ids.push_back(s.id);
    if (ids.size() >= q.at_least || std::chrono::steady_clock::now() >= deadline) {
      if (ids.size() < q.at_least && q.report) {
        std::fprintf(stderr, "find_windows: wanted %zu (pid %ld, name '%s', class '%s'%s), saw:\n",
                     q.at_least, static_cast<long>(q.pid), q.name.c_str(), q.res_name.c_str(),
                     q.only_visible ? ", visible" : "");
        for (const Seen& s : seen)
          std::fprintf(stderr, "  0x%lx pid %ld name '%s' class '%s.%s'%s%s\n", s.id, s.pid,
                       s.name.c_str(), s.res_name.c_str(), s.res_class.c_str(),
                       s.viewable ? " viewable" : "", s.popup ? " popup" : "");
      }
      return ids;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

unsigned long find_window(const WindowQuery& q, int timeout_ms) {
  auto ids = find_windows(q, timeout_ms);
  return ids.empty() ? 0 : ids.front();
}

bool eventually(const std::function<bool()>& pred, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

bool holds_for(const std::function<bool()>& pred, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (!pred()) return false;
    if (std::chrono::steady_clock::now() >= end) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace e2e
