#!/usr/bin/python3
# org.freedesktop.FileManager1 for the headless test session, where no file
# manager runs. Each call is appended to the log file named on the command
# line as "<method> <uri> ..." and answered with success; with "hang" after
# the log file, it is never answered, like a file manager that is stuck.
import sys

from gi.repository import Gio, GLib

XML = """
<node>
  <interface name="org.freedesktop.FileManager1">
    <method name="ShowFolders"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
    <method name="ShowItems"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
    <method name="ShowItemProperties"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
  </interface>
</node>
"""
log = sys.argv[1]
hang = sys.argv[2:] == ["hang"]
unanswered = []


def on_call(conn, sender, path, iface, method, params, invocation):
    uris, _startup = params.unpack()
    with open(log, "a") as f:
        f.write(" ".join([method] + list(uris)) + "\n")
    if hang:
        unanswered.append(invocation)
    else:
        invocation.return_value(None)


def on_acquired(conn, name):
    print("ready", flush=True)


bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
node = Gio.DBusNodeInfo.new_for_xml(XML)
bus.register_object("/org/freedesktop/FileManager1", node.interfaces[0], on_call, None, None)
Gio.bus_own_name_on_connection(bus, "org.freedesktop.FileManager1", Gio.BusNameOwnerFlags.NONE,
                               on_acquired, lambda c, n: sys.exit(1))
GLib.MainLoop().run()
