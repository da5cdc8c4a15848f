#!/usr/bin/python3
"""A stand-in desktop portal on the session bus for contract tests.

Owns org.freedesktop.portal.Desktop and serves org.freedesktop.portal.GlobalShortcuts and
org.freedesktop.portal.RemoteDesktop with the real interfaces' signatures, the Request/Response
pattern (handle_token) and Session objects. Every call is appended to RECORD as one JSON line.

    portal_standin.py RECORD [BEHAVIOUR]

BEHAVIOUR is a JSON file read again at every call (missing or broken: defaults):
    "refuse":  method names answered with response 1 (the user said no), e.g. ["Start"]
    "without": interfaces left off the bus, read at start: ["GlobalShortcuts", "RemoteDesktop"]
    "forget_tokens": true makes every restore token unknown, as after the user revoked it
    "hold":    method names whose Response never comes, as while the user looks at a dialog
    "hang":    method names whose call is never answered at all, as from a stuck portal
    "versions": {"RemoteDesktop": 1} overrides the interfaces' versions
    "kde_shortcuts": true binds, as KDE Plasma 5.27 does, only the shortcuts CreateSession was
               given (BindShortcuts alone answers an empty list)
    "no_triggers": true answers every shortcut without a trigger, as when none was assigned

Tests drive the shortcuts through org.vozmo.test.PortalControl at /org/vozmo/test:
Activate(s shortcut_id) and Deactivate(s shortcut_id) emit the signals to every session that
bound that id.
"""

import json
import sys

from gi.repository import Gio, GLib

BUS_NAME = "org.freedesktop.portal.Desktop"
DESKTOP_PATH = "/org/freedesktop/portal/desktop"


def method_xml(name, inputs=(), outputs=()):
    """A method's introspection XML; arguments are (type, name) pairs."""
    args = [f'<arg type="{t}" name="{n}" direction="in"/>' for t, n in inputs]
    args += [f'<arg type="{t}" name="{n}" direction="out"/>' for t, n in outputs]
    return f'<method name="{name}">{"".join(args)}</method>'


def signal_xml(name, args):
    return f'<signal name="{name}">' + "".join(
        f'<arg type="{t}" name="{n}"/>' for t, n in args) + "</signal>"


def interface_xml(name, *members):
    return f'<interface name="{name}">{"".join(members)}</interface>'


OPTIONS = ("a{sv}", "options")
SESSION = ("o", "session_handle")
SHORTCUTS = ("a(sa{sv})", "shortcuts")
VERSION = '<property name="version" type="u" access="read"/>'
CREATE_SESSION = method_xml("CreateSession", [OPTIONS], [("o", "handle")])
SHORTCUT_SIGNAL_ARGS = [SESSION, ("s", "shortcut_id"), ("t", "timestamp"), OPTIONS]

INTERFACES_XML = "<node>" + interface_xml(
    "org.freedesktop.portal.GlobalShortcuts",
    CREATE_SESSION,
    method_xml("BindShortcuts", [SESSION, SHORTCUTS, ("s", "parent_window"), OPTIONS],
               [("o", "request_handle")]),
    method_xml("ListShortcuts", [SESSION, OPTIONS], [("o", "request_handle")]),
    signal_xml("Activated", SHORTCUT_SIGNAL_ARGS),
    signal_xml("Deactivated", SHORTCUT_SIGNAL_ARGS),
    signal_xml("ShortcutsChanged", [SESSION, SHORTCUTS]),
    VERSION,
) + interface_xml(
    "org.freedesktop.portal.RemoteDesktop",
    CREATE_SESSION,
    method_xml("SelectDevices", [SESSION, OPTIONS], [("o", "handle")]),
    method_xml("Start", [SESSION, ("s", "parent_window"), OPTIONS], [("o", "handle")]),
    method_xml("NotifyKeyboardKeysym", [SESSION, OPTIONS, ("i", "keysym"), ("u", "state")]),
    '<property name="AvailableDeviceTypes" type="u" access="read"/>',
    VERSION,
) + "</node>"

REQUEST_XML = "<node>" + interface_xml(
    "org.freedesktop.portal.Request", method_xml("Close"),
    signal_xml("Response", [("u", "response"), ("a{sv}", "results")])) + "</node>"

SESSION_XML = "<node>" + interface_xml(
    "org.freedesktop.portal.Session", method_xml("Close"),
    signal_xml("Closed", [("a{sv}", "details")]), VERSION) + "</node>"

CONTROL_XML = "<node>" + interface_xml(
    "org.vozmo.test.PortalControl", method_xml("Activate", [("s", "shortcut_id")]),
    method_xml("Deactivate", [("s", "shortcut_id")]), method_xml("CloseSessions")) + "</node>"

VERSIONS = {"org.freedesktop.portal.GlobalShortcuts": 1, "org.freedesktop.portal.RemoteDesktop": 2}
KEYBOARD = 1


class DeferredReply:
    """Holds a method's answer until the call is recorded."""

    def __init__(self):
        self.value = None
        self.error = None
        self.never = False  # a stuck portal: no answer at all

    def return_value(self, value):
        self.value = value

    def return_dbus_error(self, name, message):
        self.error = (name, message)

    def send(self, invocation):
        if self.never:
            return
        if self.error:
            invocation.return_dbus_error(*self.error)
        else:
            invocation.return_value(self.value)


class Portal:
    def __init__(self, connection, record, behaviour):
        self.connection = connection
        self.record_path = record
        self.behaviour_path = behaviour
        self.sessions = {}  # path -> {"kind", "sender", "shortcuts", "started", "devices"}
        self.tokens = set()
        self.token_count = 0
        self.registrations = {}
        self.method = ""  # the method being handled

    def behaviour(self):
        if not self.behaviour_path:
            return {}
        try:
            with open(self.behaviour_path, encoding="utf-8") as f:
                value = json.load(f)
            return value if isinstance(value, dict) else {}
        except (OSError, ValueError):
            return {}

    def record(self, entry):
        with open(self.record_path, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry, ensure_ascii=False) + "\n")

    @staticmethod
    def sender_element(sender):
        return sender[1:].replace(".", "_")

    def object_path(self, kind, sender, token):
        return f"{DESKTOP_PATH}/{kind}/{self.sender_element(sender)}/{token}"

    def export(self, path, xml, handler):
        info = Gio.DBusNodeInfo.new_for_xml(xml).interfaces[0]
        reg = self.connection.register_object(path, info, handler, None, None)
        self.registrations[path] = reg

    def unexport(self, path):
        reg = self.registrations.pop(path, None)
        if reg is not None:
            self.connection.unregister_object(reg)

    # Request objects: the method answers with the handle at once; the Response follows later.
    def answer_with_request(self, sender, options, invocation):
        """Answers the call with a new Request's handle, which it returns for the Response."""
        handle = self.begin_request(sender, options)
        invocation.return_value(GLib.Variant("(o)", (handle,)))
        return handle

    def begin_request(self, sender, options):
        token = options.get("handle_token") or f"t{self.token_count}"
        self.token_count += 1
        path = self.object_path("request", sender, token)

        def on_call(conn, sndr, obj, iface, method, params, invocation):
            self.record({"method": "Request.Close", "handle": obj})
            self.unexport(obj)
            invocation.return_value(None)

        self.export(path, REQUEST_XML, on_call)
        return path

    def respond(self, sender, path, response, results):
        if self.method in self.behaviour().get("hold", []):
            return

        def emit():
            if path not in self.registrations:
                return False  # closed by the caller
            self.connection.emit_signal(sender, path, "org.freedesktop.portal.Request",
                                        "Response",
                                        GLib.Variant("(ua{sv})", (response, results)))
            self.unexport(path)
            return False

        GLib.idle_add(emit)

    def create_session(self, kind, sender, options):
        token = options.get("session_handle_token") or f"s{self.token_count}"
        self.token_count += 1
        path = self.object_path("session", sender, token)
        self.sessions[path] = {"kind": kind, "sender": sender, "shortcuts": [], "started": False,
                               "devices": 0, "persist_mode": 0, "restore_token": "",
                               "created_with": [i for i, _ in options.get("shortcuts", [])]}

        def on_call(conn, sndr, obj, iface, method, params, invocation):
            if method == "Close":
                self.record({"method": "Session.Close", "session_handle": obj})
                self.sessions.pop(obj, None)
                self.unexport(obj)
                invocation.return_value(None)

        def on_get(conn, sndr, obj, iface, prop):
            return GLib.Variant("u", 1)

        info = Gio.DBusNodeInfo.new_for_xml(SESSION_XML).interfaces[0]
        self.registrations[path] = self.connection.register_object(path, info, on_call, on_get,
                                                                   None)
        return path

    def close_session(self, path):
        session = self.sessions.pop(path, None)
        if session is not None:
            self.connection.emit_signal(session["sender"], path, "org.freedesktop.portal.Session",
                                        "Closed", GLib.Variant("(a{sv})", ({},)))
            self.unexport(path)

    def close_sessions(self):
        for path in list(self.sessions):
            self.close_session(path)

    def session_of(self, sender, path, kind):
        session = self.sessions.get(path)
        if session is None or session["sender"] != sender or session["kind"] != kind:
            return None
        return session

    def handle(self, conn, sender, obj, iface, method, params, invocation):
        args = params.unpack()
        entry = {"interface": iface.rsplit(".", 1)[-1], "method": method, "sender": sender}
        refuse = method in self.behaviour().get("refuse", [])
        self.method = method
        kind = "shortcuts" if iface.endswith("GlobalShortcuts") else "remote"
        reply = DeferredReply()
        try:
            if method == "CreateSession":
                self.create_session_request(kind, sender, args, entry, refuse, reply)
                return
            session_path = args[0]
            session = self.session_of(sender, session_path, kind)
            entry["session_handle"] = session_path
            if session is None:
                reply.return_dbus_error("org.freedesktop.portal.Error.InvalidArgument",
                                        "Invalid session")
                return
            if kind == "shortcuts":
                self.global_shortcuts(session, sender, method, args, entry, refuse, reply)
            else:
                self.remote_desktop(session, sender, method, args, entry, refuse, reply)
        finally:
            # Recorded before the caller hears back, so a test that has its answer finds the call.
            self.record(entry)
            reply.send(invocation)

    def create_session_request(self, kind, sender, args, entry, refuse, invocation):
        (options,) = args
        entry["options"] = options
        handle = self.answer_with_request(sender, options, invocation)
        session = self.create_session(kind, sender, options)
        if refuse:
            self.respond(sender, handle, 1, {})
        else:
            self.respond(sender, handle, 0, {"session_handle": GLib.Variant("s", session)})

    def global_shortcuts(self, session, sender, method, args, entry, refuse, invocation):
        if method == "BindShortcuts":
            _, shortcuts, parent, options = args
            entry.update(shortcuts=[[i, p] for i, p in shortcuts], parent_window=parent,
                         options=options)
            handle = self.answer_with_request(sender, options, invocation)
            if refuse:
                self.respond(sender, handle, 1, {})
                return
            behaviour = self.behaviour()
            if behaviour.get("kde_shortcuts"):
                shortcuts = [(i, p) for i, p in shortcuts if i in session["created_with"]]
            session["shortcuts"] = [i for i, _ in shortcuts]
            session["triggers"] = {
                i: "" if behaviour.get("no_triggers") else p.get("preferred_trigger", "")
                for i, p in shortcuts}
            bound = [(i, {"description": GLib.Variant("s", p.get("description", "")),
                          "trigger_description": GLib.Variant("s", session["triggers"][i])})
                     for i, p in shortcuts]
            self.respond(sender, handle, 0, {"shortcuts": GLib.Variant("a(sa{sv})", bound)})
        elif method == "ListShortcuts":
            _, options = args
            entry["options"] = options
            handle = self.answer_with_request(sender, options, invocation)
            triggers = session.get("triggers", {})
            listed = [(i, {"description": GLib.Variant("s", ""),
                           "trigger_description": GLib.Variant("s", triggers.get(i, ""))})
                      for i in session["shortcuts"]]
            self.respond(sender, handle, 1 if refuse else 0,
                         {} if refuse else {"shortcuts": GLib.Variant("a(sa{sv})", listed)})

    def remote_desktop(self, session, sender, method, args, entry, refuse, invocation):
        if method == "SelectDevices":
            _, options = args
            entry["options"] = options
            handle = self.answer_with_request(sender, options, invocation)
            session["devices"] = options.get("types", 7)
            session["persist_mode"] = options.get("persist_mode", 0)
            session["restore_token"] = options.get("restore_token", "")
            self.respond(sender, handle, 1 if refuse else 0, {})
        elif method == "Start":
            _, parent, options = args
            entry.update(parent_window=parent, options=options)
            handle = self.answer_with_request(sender, options, invocation)
            token = session["restore_token"]
            restored = (token in self.tokens and not self.behaviour().get("forget_tokens"))
            self.tokens.discard(token)  # a restore token is good for one use
            # A restored session starts without asking; otherwise the user is asked.
            entry["asked"] = not restored
            if refuse and not restored:
                self.respond(sender, handle, 1, {})
                # As the real portal does, the refused session is closed.
                self.close_session(args[0])
                return
            session["started"] = True
            results = {"devices": GLib.Variant("u", session["devices"])}
            if session["persist_mode"] == 2:
                self.token_count += 1
                new_token = f"restore-{self.token_count}"
                self.tokens.add(new_token)
                results["restore_token"] = GLib.Variant("s", new_token)
                entry["restore_token_given"] = new_token
            self.respond(sender, handle, 0, results)
        elif method == "NotifyKeyboardKeysym":
            _, options, keysym, state = args
            entry.update(keysym=keysym, state=state)
            if method in self.behaviour().get("hang", []):
                invocation.never = True
                return
            if not session["started"] or not session["devices"] & KEYBOARD:
                entry["error"] = "not allowed"
                invocation.return_dbus_error("org.freedesktop.portal.Error.NotAllowed",
                                             "Session is not allowed to send keyboard events")
                return
            invocation.return_value(None)

    def control(self, conn, sender, obj, iface, method, params, invocation):
        if method == "CloseSessions":
            self.close_sessions()
            invocation.return_value(None)
            return
        (shortcut_id,) = params.unpack()
        signal = "Activated" if method == "Activate" else "Deactivated"
        timestamp = GLib.get_monotonic_time() // 1000
        for path, session in self.sessions.items():
            if session["kind"] == "shortcuts" and shortcut_id in session["shortcuts"]:
                self.connection.emit_signal(session["sender"], DESKTOP_PATH,
                                            "org.freedesktop.portal.GlobalShortcuts", signal,
                                            GLib.Variant("(osta{sv})",
                                                         (path, shortcut_id, timestamp, {})))
        invocation.return_value(None)


def main():
    record = sys.argv[1]
    behaviour_path = sys.argv[2] if len(sys.argv) > 2 else None
    loop = GLib.MainLoop()
    connection = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    portal = Portal(connection, record, behaviour_path)
    without = portal.behaviour().get("without", [])

    def get_property(conn, sender, obj, iface, prop):
        if prop == "AvailableDeviceTypes":
            return GLib.Variant("u", 7)
        short = iface.rsplit(".", 1)[-1]
        return GLib.Variant("u", portal.behaviour().get("versions", {}).get(short, VERSIONS[iface]))

    node = Gio.DBusNodeInfo.new_for_xml(INTERFACES_XML)
    for info in node.interfaces:
        if info.name.rsplit(".", 1)[-1] in without:
            continue
        connection.register_object(DESKTOP_PATH, info, portal.handle, get_property, None)
    control = Gio.DBusNodeInfo.new_for_xml(CONTROL_XML).interfaces[0]
    connection.register_object("/org/vozmo/test", control, portal.control, None, None)

    def acquired(conn, name):
        print("ready", flush=True)

    Gio.bus_own_name_on_connection(connection, BUS_NAME, Gio.BusNameOwnerFlags.NONE, acquired,
                                   lambda conn, name: loop.quit())
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, 15, loop.quit)
    loop.run()


if __name__ == "__main__":
    main()
