#!/usr/bin/python3
"""A stand-in portal backend for the Wayland test session.

Debian ships no portal backend with GlobalShortcuts or ScreenCast for a
bare compositor, so this small service plays that part behind the real
xdg-desktop-portal. It records every call, answers the way a test tells it
to, and emits Activated on request. Tests talk to it on the session bus as
org.ovalis.PortalStandIn at /org/ovalis/PortalStandIn.
"""
import json
import sys

from gi.repository import Gio, GLib

IMPL_NAME = "org.freedesktop.impl.portal.desktop.ovalistest"
PATH = "/org/freedesktop/portal/desktop"

IMPL_XML = """
<node>
  <interface name="org.freedesktop.impl.portal.GlobalShortcuts">
    <method name="CreateSession">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="BindShortcuts">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="a(sa{sv})" name="shortcuts" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="ListShortcuts">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <signal name="Activated">
      <arg type="o" name="session_handle"/>
      <arg type="s" name="shortcut_id"/>
      <arg type="t" name="timestamp"/>
      <arg type="a{sv}" name="options"/>
    </signal>
    <signal name="Deactivated">
      <arg type="o" name="session_handle"/>
      <arg type="s" name="shortcut_id"/>
      <arg type="t" name="timestamp"/>
      <arg type="a{sv}" name="options"/>
    </signal>
    <signal name="ShortcutsChanged">
      <arg type="o" name="session_handle"/>
      <arg type="a(sa{sv})" name="shortcuts"/>
    </signal>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.impl.portal.ScreenCast">
    <method name="CreateSession">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="SelectSources">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="Start">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <property name="AvailableSourceTypes" type="u" access="read"/>
    <property name="AvailableCursorModes" type="u" access="read"/>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.impl.portal.Access">
    <method name="AccessDialog">
      <arg type="o" name="handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="s" name="title" direction="in"/>
      <arg type="s" name="subtitle" direction="in"/>
      <arg type="s" name="body" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
  </interface>
</node>
"""

SESSION_XML = """
<node>
  <interface name="org.freedesktop.impl.portal.Session">
    <method name="Close"/>
    <signal name="Closed"/>
    <property name="version" type="u" access="read"/>
  </interface>
</node>
"""

CONTROL_XML = """
<node>
  <interface name="org.ovalis.PortalStandIn">
    <method name="Calls"><arg type="s" name="json" direction="out"/></method>
    <method name="Reset"/>
    <method name="SetAnswer">
      <arg type="s" name="method" direction="in"/>
      <arg type="u" name="response" direction="in"/>
    </method>
    <method name="SetStream">
      <arg type="u" name="node" direction="in"/>
      <arg type="i" name="x" direction="in"/>
      <arg type="i" name="y" direction="in"/>
      <arg type="i" name="width" direction="in"/>
      <arg type="i" name="height" direction="in"/>
    </method>
    <method name="Activate"><arg type="s" name="shortcut_id" direction="in"/></method>
  </interface>
</node>
"""


def plain(v):
    """A GVariant unpacked into JSON-friendly values."""
    if isinstance(v, dict):
        return {k: plain(x) for k, x in v.items()}
    if isinstance(v, (list, tuple)):
        return [plain(x) for x in v]
    return v


class StandIn:
    def __init__(self, bus):
        self.bus = bus
        self.calls = []
        self.answers = {}
        self.stream = None  # (node, x, y, w, h)
        self.sessions = {}  # path -> registration id
        self.gs_session = None
        self.restore_serial = 0

    def reset(self):
        self.calls = []
        self.answers = {}

    # ---- sessions ----
    def export_session(self, path):
        info = Gio.DBusNodeInfo.new_for_xml(SESSION_XML).interfaces[0]

        def on_call(conn, sender, obj, iface, method, params, inv):
            self.calls.append({"iface": "Session", "method": "Close", "session": obj})
            self.drop_session(obj)
            inv.return_value(None)

        def on_prop(conn, sender, obj, iface, prop):
            return GLib.Variant("u", 1)

        self.sessions[path] = self.bus.register_object(path, info, on_call, on_prop, None)

    def drop_session(self, path):
        reg = self.sessions.pop(path, None)
        if reg is not None:
            self.bus.unregister_object(reg)
        if path == self.gs_session:
            self.gs_session = None

    # ---- the portal backend ----
    def on_impl_call(self, conn, sender, obj, iface, method, params, inv):
        short = iface.rsplit(".", 1)[-1]
        args = plain(params.unpack())
        self.calls.append({"iface": short, "method": method, "args": args})
        code = self.answers.get(short + "." + method, 0)
        results = {}
        if method == "CreateSession":
            if code == 0:
                self.export_session(args[1])
                if short == "GlobalShortcuts":
                    self.gs_session = args[1]
                results["session_id"] = GLib.Variant("s", args[1].rsplit("/", 1)[-1])
        elif method == "BindShortcuts" and code == 0:
            results["shortcuts"] = params.get_child_value(2)
        elif method == "Start" and code == 0:
            if self.stream is None:
                results = {}
            else:
                node, x, y, w, h = self.stream
                props = {
                    "position": GLib.Variant("(ii)", (x, y)),
                    "size": GLib.Variant("(ii)", (w, h)),
                    "source_type": GLib.Variant("u", 1),
                }
                results["streams"] = GLib.Variant("a(ua{sv})", [(node, props)])
                self.restore_serial += 1
                results["persist_mode"] = GLib.Variant("u", 2)
                results["restore_data"] = GLib.Variant(
                    "(suv)", ("ovalis-standin", 1, GLib.Variant("s", "monitor-%d" % self.restore_serial)))
        inv.return_value(GLib.Variant("(ua{sv})", (code, results)))

    def on_impl_prop(self, conn, sender, obj, iface, prop):
        if prop == "AvailableSourceTypes":
            return GLib.Variant("u", 1 | 2)
        if prop == "AvailableCursorModes":
            return GLib.Variant("u", 1 | 2 | 4)
        return GLib.Variant("u", 4 if iface.endswith("ScreenCast") else 1)

    # ---- the test's controls ----
    def on_control(self, conn, sender, obj, iface, method, params, inv):
        if method == "Calls":
            inv.return_value(GLib.Variant("(s)", (json.dumps(self.calls),)))
            return
        if method == "Reset":
            self.reset()
        elif method == "SetAnswer":
            m, code = params.unpack()
            self.answers[m] = code
        elif method == "SetStream":
            self.stream = params.unpack()
        elif method == "Activate":
            (sid,) = params.unpack()
            if self.gs_session is None:
                inv.return_dbus_error("org.ovalis.PortalStandIn.NoSession", "no session")
                return
            conn.emit_signal(None, PATH, "org.freedesktop.impl.portal.GlobalShortcuts", "Activated",
                             GLib.Variant("(osta{sv})", (self.gs_session, sid, 1, {})))
        inv.return_value(None)


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    s = StandIn(bus)
    for iface in Gio.DBusNodeInfo.new_for_xml(IMPL_XML).interfaces:
        bus.register_object(PATH, iface, s.on_impl_call, s.on_impl_prop, None)
    control = Gio.DBusNodeInfo.new_for_xml(CONTROL_XML).interfaces[0]
    bus.register_object("/org/ovalis/PortalStandIn", control, s.on_control, None, None)
    loop = GLib.MainLoop()
    names = [IMPL_NAME, "org.ovalis.PortalStandIn"]
    owned = []

    def acquired(_c, name):
        owned.append(name)
        if len(owned) == len(names):
            print("ready", flush=True)

    for name in names:
        Gio.bus_own_name_on_connection(bus, name, Gio.BusNameOwnerFlags.NONE, acquired,
                                       lambda _c, n: (print("lost " + n, file=sys.stderr), loop.quit()))
    loop.run()


if __name__ == "__main__":
    main()
