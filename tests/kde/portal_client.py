"""A client of the desktop portals for the KDE session test: its own RemoteDesktop session (to
press keys through KWin's input handling, as a keyboard would) and GlobalShortcuts sessions, on
the session bus, through GLib's D-Bus (python3-gi)."""
import itertools

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

PORTAL = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
_tokens = itertools.count(1)


class PortalError(Exception):
    pass


class Portal:
    def __init__(self):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        self.sender = self.bus.get_unique_name()[1:].replace(".", "_")
        self.context = GLib.MainContext.default()

    def pump(self, seconds, done):
        """Runs the default main context until done() or `seconds` passed; done()'s answer."""
        deadline = GLib.get_monotonic_time() + int(seconds * 1e6)
        while not done() and GLib.get_monotonic_time() < deadline:
            self.context.iteration(False)
            GLib.usleep(2000)
        return done()

    def call(self, interface, method, params, reply="()", timeout_ms=10000):
        return self.bus.call_sync(PORTAL, PATH, interface, method, params,
                                  GLib.VariantType(reply) if reply else None,
                                  Gio.DBusCallFlags.NONE, timeout_ms, None)

    def property(self, interface, name):
        value = self.bus.call_sync(PORTAL, PATH, "org.freedesktop.DBus.Properties", "Get",
                                   GLib.Variant("(ss)", (interface, name)),
                                   GLib.VariantType("(v)"), Gio.DBusCallFlags.NONE, 5000, None)
        return value.unpack()[0]

    def request(self, interface, method, args, options, seconds=30):
        """Calls a portal method that answers through a Request object; its results (a dict)."""
        token = f"kdetest{next(_tokens)}"
        handle = f"/org/freedesktop/portal/desktop/request/{self.sender}/{token}"
        answer = {}

        def on_response(_conn, _sender, _path, _iface, _signal, params):
            code, results = params.unpack()
            answer["code"] = code
            answer["results"] = results

        sub = self.bus.signal_subscribe(PORTAL, "org.freedesktop.portal.Request", "Response",
                                        handle, None, Gio.DBusSignalFlags.NONE, on_response)
        try:
            opts = dict(options)
            opts["handle_token"] = GLib.Variant("s", token)
            self.call(interface, method, GLib.Variant(f"({args[0]}a{{sv}})", (*args[1], opts)),
                      reply="(o)")
            if not self.pump(seconds, lambda: "code" in answer):
                raise PortalError(f"{method}: no answer in {seconds} s")
        finally:
            self.bus.signal_unsubscribe(sub)
        if answer["code"] != 0:
            raise PortalError(f"{method}: answer {answer['code']}")
        return answer["results"]

    def session_options(self):
        return {"session_handle_token": GLib.Variant("s", f"kdetestsession{next(_tokens)}")}


class RemoteKeyboard:
    """A keyboard-only RemoteDesktop session of the test's own."""
    IFACE = "org.freedesktop.portal.RemoteDesktop"

    def __init__(self, portal):
        self.portal = portal
        results = portal.request(self.IFACE, "CreateSession", ("", ()), portal.session_options())
        self.session = results["session_handle"]
        portal.request(self.IFACE, "SelectDevices", ("o", (self.session,)),
                       {"types": GLib.Variant("u", 1)})
        results = portal.request(self.IFACE, "Start", ("os", (self.session, "")), {})
        if not results.get("devices", 0) & 1:
            raise PortalError(f"RemoteDesktop gave no keyboard: {results}")

    def key(self, evdev_code, pressed):
        self.portal.call(self.IFACE, "NotifyKeyboardKeycode",
                         GLib.Variant("(oa{sv}iu)", (self.session, {}, evdev_code,
                                                     1 if pressed else 0)))

    def close(self):
        try:
            self.portal.bus.call_sync(PORTAL, self.session, "org.freedesktop.portal.Session",
                                      "Close", None, None, Gio.DBusCallFlags.NONE, 5000, None)
        except GLib.Error:
            pass
