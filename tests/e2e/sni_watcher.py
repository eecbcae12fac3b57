#!/usr/bin/python3
# A minimal StatusNotifierWatcher for the test session bus: desktops provide
# one, a headless session has none. It records the items that register and
# claims a host, so indicators export themselves as status-notifier items.
import sys

from gi.repository import Gio, GLib

XML = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""
PATH = "/StatusNotifierWatcher"
IFACE = "org.kde.StatusNotifierWatcher"
items = []


def on_call(conn, sender, path, iface, method, params, invocation):
    if method == "RegisterStatusNotifierItem":
        arg = params.unpack()[0]
        item = sender + arg if arg.startswith("/") else arg + "/StatusNotifierItem"
        if item not in items:
            items.append(item)
            conn.emit_signal(None, PATH, IFACE, "StatusNotifierItemRegistered",
                             GLib.Variant("(s)", (item,)))
    invocation.return_value(None)


def on_get(conn, sender, path, iface, prop):
    if prop == "RegisteredStatusNotifierItems":
        return GLib.Variant("as", items)
    if prop == "IsStatusNotifierHostRegistered":
        return GLib.Variant("b", True)
    return GLib.Variant("i", 0)


def on_bus(conn, name):
    node = Gio.DBusNodeInfo.new_for_xml(XML)
    conn.register_object(PATH, node.interfaces[0], on_call, on_get, None)


def on_name_owner_changed(conn, sender, path, iface, signal, params):
    name, old, new = params.unpack()
    if new == "" and name.startswith(":"):
        for item in [i for i in items if i.startswith(name + "/")]:
            items.remove(item)


def on_acquired(conn, name):
    print("ready", flush=True)


def on_lost(conn, name):
    sys.exit(1)


bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
bus.signal_subscribe("org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                     "/org/freedesktop/DBus", None, Gio.DBusSignalFlags.NONE,
                     on_name_owner_changed)
on_bus(bus, None)
Gio.bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher",
                               Gio.BusNameOwnerFlags.NONE, on_acquired, on_lost)
GLib.MainLoop().run()
