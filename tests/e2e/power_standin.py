#!/usr/bin/python3
# Stand-ins for the login manager (on a private bus that the launcher takes
# for its system bus), the screen saver and GNOME's idle monitor (on the
# session bus): a headless test session has none of them. The idle monitor
# reports 12345 ms. Inhibit hands out the write end of a
# real pipe, so the lock's lifetime is the descriptor's, as with logind.
#
# Prints one line per event on stdout: "ready", "inhibit <what> <who> <why>
# <mode> <n>", "closed <n>", "ssinhibit <who> <why> <cookie>",
# "ssuninhibit <cookie>". Reads commands on stdin: "sleep 1" / "sleep 0"
# emit PrepareForSleep.
import os
import sys

from gi.repository import Gio, GLib

LOGIN1 = """
<node><interface name="org.freedesktop.login1.Manager">
  <method name="Inhibit">
    <arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="h" direction="out"/>
  </method>
  <signal name="PrepareForSleep"><arg type="b"/></signal>
</interface></node>
"""
SAVER = """
<node><interface name="org.freedesktop.ScreenSaver">
  <method name="Inhibit">
    <arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="u" direction="out"/>
  </method>
  <method name="UnInhibit"><arg type="u" direction="in"/></method>
</interface></node>
"""

IDLE = """
<node><interface name="org.gnome.Mutter.IdleMonitor">
  <method name="GetIdletime"><arg type="t" direction="out"/></method>
</interface></node>
"""

locks = 0
cookie = 0
system = None


def say(*words):
    print(" ".join(str(w) for w in words), flush=True)


def watch_lock(fd, n):
    def on_ready(source, cond):
        say("closed", n)
        os.close(fd)
        return False
    GLib.io_add_watch(fd, GLib.PRIORITY_DEFAULT, GLib.IO_HUP | GLib.IO_ERR, on_ready)


def on_login1(conn, sender, path, iface, method, params, invocation):
    global locks
    what, who, why, mode = params.unpack()
    locks += 1
    r, w = os.pipe()
    say("inhibit", what, who.replace(" ", "_"), why.replace(" ", "_"), mode, locks)
    watch_lock(r, locks)
    fds = Gio.UnixFDList.new_from_array([w])  # takes w; freed once sent
    invocation.return_value_with_unix_fd_list(GLib.Variant("(h)", (0,)), fds)
    del fds


def on_saver(conn, sender, path, iface, method, params, invocation):
    global cookie
    if method == "Inhibit":
        who, why = params.unpack()
        cookie += 1
        say("ssinhibit", who.replace(" ", "_"), why.replace(" ", "_"), cookie)
        invocation.return_value(GLib.Variant("(u)", (cookie,)))
    else:
        say("ssuninhibit", params.unpack()[0])
        invocation.return_value(None)


def on_idle(conn, sender, path, iface, method, params, invocation):
    invocation.return_value(GLib.Variant("(t)", (12345,)))


def on_stdin(source, cond):
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    words = line.split()
    if words[:1] == ["sleep"]:
        system.emit_signal(None, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                           "PrepareForSleep", GLib.Variant("(b)", (words[1] == "1",)))
        system.flush_sync(None)
        say("slept", words[1])
    return True


def own(conn, name, path, xml, handler):
    node = Gio.DBusNodeInfo.new_for_xml(xml)
    conn.register_object(path, node.interfaces[0], handler, None, None)
    reply = conn.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "RequestName",
                           GLib.Variant("(su)", (name, 4)), GLib.VariantType("(u)"),
                           Gio.DBusCallFlags.NONE, 3000, None)
    if reply.unpack()[0] != 1:
        say("could not own", name)
        sys.exit(1)


system = Gio.DBusConnection.new_for_address_sync(
    sys.argv[1],
    Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
    None, None)
own(system, "org.freedesktop.login1", "/org/freedesktop/login1", LOGIN1, on_login1)
session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
own(session, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", SAVER, on_saver)
own(session, "org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core", IDLE, on_idle)
loop = GLib.MainLoop()
GLib.io_add_watch(sys.stdin.fileno(), GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, on_stdin)
say("ready")
loop.run()
