#!/usr/bin/python3
"""A stand-in tray host on the session bus: the StatusNotifierWatcher a desktop panel (KDE
Plasma, waybar, the GNOME AppIndicator extension) runs, so that an application's tray icon
registers with it and exports its menu through com.canonical.dbusmenu.

    tray_host.py

Prints "ready" once it owns org.kde.StatusNotifierWatcher, and "item <service>" for every item
that registers. A test clicks a menu entry as a user would in the panel, through
org.vozmo.test.Tray.Click(s label) at /org/vozmo/test: the host asks the item's menu to get ready
(AboutToShow and the "opened" event, as a panel does before it opens the menu), reads its layout, and sends "clicked"
to the first entry whose label contains `label`, answering whether one was found and enabled.
"""

import sys
import time

from gi.repository import Gio, GLib

WATCHER = "org.kde.StatusNotifierWatcher"
MENU = "com.canonical.dbusmenu"

WATCHER_XML = """
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

CONTROL_XML = """
<node>
  <interface name="org.vozmo.test.Tray">
    <method name="Click">
      <arg name="label" type="s" direction="in"/>
      <arg name="clicked" type="b" direction="out"/>
    </method>
  </interface>
</node>
"""

items = []  # (service, object path)


def say(line):
    print(line, flush=True)


def watcher_call(conn, sender, path, iface, method, params, invocation):
    if method == "RegisterStatusNotifierItem":
        (name,) = params.unpack()
        # An item names its service, or only its object path on the caller's connection.
        service, obj = (sender, name) if name.startswith("/") else (name, "/StatusNotifierItem")
        items.append((service, obj))
        say(f"item {service}")
        conn.emit_signal(None, "/StatusNotifierWatcher", WATCHER, "StatusNotifierItemRegistered",
                         GLib.Variant("(s)", (service + obj,)))
    invocation.return_value(None)


def watcher_property(conn, sender, path, iface, name):
    if name == "RegisteredStatusNotifierItems":
        return GLib.Variant("as", [s + o for s, o in items])
    if name == "IsStatusNotifierHostRegistered":
        return GLib.Variant("b", True)
    return GLib.Variant("i", 0)


def menu_path(conn, service, obj):
    reply = conn.call_sync(service, obj, "org.freedesktop.DBus.Properties", "Get",
                           GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", "Menu")),
                           GLib.VariantType("(v)"), Gio.DBusCallFlags.NONE, 5000, None)
    return reply.unpack()[0]


def find(layout, label):
    """The id and enabled state of the first entry whose label contains `label`."""
    ident, props, children = layout
    if label in props.get("label", "").replace("_", ""):
        return ident, props.get("enabled", True)
    for child in children:
        found = find(child, label)
        if found:
            return found
    return None


def labels(layout):
    _, props, children = layout
    return [props.get("label", "")] + [name for child in children for name in labels(child)]


def click(conn, label):
    for service, obj in items:
        try:
            path = menu_path(conn, service, obj)
            conn.call_sync(service, path, MENU, "AboutToShow", GLib.Variant("(i)", (0,)),
                           None, Gio.DBusCallFlags.NONE, 5000, None)
            # Some items fill their menu on the "opened" event instead, as panels send it too.
            conn.call_sync(service, path, MENU, "Event",
                           GLib.Variant("(isvu)", (0, "opened", GLib.Variant("i", 0),
                                                   int(time.time()) & 0xFFFFFFFF)),
                           None, Gio.DBusCallFlags.NONE, 5000, None)
            # The menu is filled while it is about to show; its new layout follows.
            time.sleep(0.2)
            _, layout = conn.call_sync(service, path, MENU, "GetLayout",
                                       GLib.Variant("(iias)", (0, -1, [])), None,
                                       Gio.DBusCallFlags.NONE, 5000, None).unpack()
            found = find(layout, label)
            if not found or not found[1]:
                say(f"no enabled entry {label!r} among {labels(layout)}")
                return False
            conn.call_sync(service, path, MENU, "Event",
                           GLib.Variant("(isvu)", (found[0], "clicked", GLib.Variant("i", 0),
                                                   int(time.time()) & 0xFFFFFFFF)),
                           None, Gio.DBusCallFlags.NONE, 5000, None)
            say(f"clicked {label}")
            return True
        except GLib.Error as error:
            say(f"error {error.message}")
    return False


def control_call(conn, sender, path, iface, method, params, invocation):
    (label,) = params.unpack()
    invocation.return_value(GLib.Variant("(b)", (click(conn, label),)))


def on_bus(conn, name):
    watcher = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML).interfaces[0]
    conn.register_object("/StatusNotifierWatcher", watcher, watcher_call, watcher_property, None)
    control = Gio.DBusNodeInfo.new_for_xml(CONTROL_XML).interfaces[0]
    conn.register_object("/org/vozmo/test", control, control_call, None, None)


def main():
    loop = GLib.MainLoop()
    Gio.bus_own_name(Gio.BusType.SESSION, WATCHER, Gio.BusNameOwnerFlags.NONE, on_bus,
                     lambda *a: say("ready"), lambda *a: (say("lost the name"), loop.quit()))
    loop.run()
    return 1


if __name__ == "__main__":
    sys.exit(main())
