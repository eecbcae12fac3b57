#!/usr/bin/python3
# A portal backend with the Screenshot and Access interfaces, which no Debian
# backend offers headless. xdg-desktop-portal finds it through a .portal
# file; it answers PickColor with what the control file says at that moment:
# "r g b" (components 0..1) picks that colour, "cancel" cancels, "hold"
# leaves the request unanswered. Each PickColor is logged to "<control>.log".
import sys

from gi.repository import Gio, GLib

NAME = "org.freedesktop.impl.portal.desktop.ovalistest"
XML = """
<node>
  <interface name="org.freedesktop.impl.portal.Screenshot">
    <method name="Screenshot">
      <arg type="o" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="u" direction="out"/><arg type="a{sv}" direction="out"/>
    </method>
    <method name="PickColor">
      <arg type="o" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="u" direction="out"/><arg type="a{sv}" direction="out"/>
    </method>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.impl.portal.Access">
    <method name="AccessDialog">
      <arg type="o" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="u" direction="out"/><arg type="a{sv}" direction="out"/>
    </method>
  </interface>
</node>
"""
control = sys.argv[1]
held = []


def on_call(conn, sender, path, iface, method, params, invocation):
    if method == "AccessDialog":
        invocation.return_value(GLib.Variant("(ua{sv})", (1, {})))
        return
    if method == "Screenshot":
        invocation.return_value(GLib.Variant("(ua{sv})", (2, {})))
        return
    with open(control + ".log", "a") as f:
        f.write("PickColor %s\n" % params.unpack()[0])
    with open(control) as f:
        what = f.read().split()
    if what == ["hold"]:
        held.append(invocation)  # kept alive, never answered
    elif what == ["cancel"]:
        invocation.return_value(GLib.Variant("(ua{sv})", (1, {})))
    else:
        rgb = tuple(float(x) for x in what)
        invocation.return_value(
            GLib.Variant("(ua{sv})", (0, {"color": GLib.Variant("(ddd)", rgb)})))


def on_get(conn, sender, path, iface, prop):
    return GLib.Variant("u", 2)


def on_acquired(conn, name):
    print("ready", flush=True)


bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
node = Gio.DBusNodeInfo.new_for_xml(XML)
for iface in node.interfaces:
    bus.register_object("/org/freedesktop/portal/desktop", iface, on_call, on_get, None)
Gio.bus_own_name_on_connection(bus, NAME, Gio.BusNameOwnerFlags.NONE, on_acquired,
                               lambda c, n: sys.exit(1))
GLib.MainLoop().run()
