#!/usr/bin/python3
"""Keys typed through mutter's own remote desktop D-Bus API (org.gnome.Mutter.RemoteDesktop), the
way a test types on the headless GNOME session: its seat has no keyboard of its own.

Run as a program (`gnome_keys.py hold`), it keeps a session open until stopped, so the seat has a
keyboard and windows get the keyboard focus. Imported, `MutterKeys` types keys by keysym.
"""
import sys
import time

import dbus

SERVICE = "org.gnome.Mutter.RemoteDesktop"

KEYSYMS = {"Shift_L": 0xFFE1, "Control_L": 0xFFE3, "Return": 0xFF0D, "Tab": 0xFF09,
           "Escape": 0xFF1B, "F9": 0xFFC6, "v": 0x76, "Alt_L": 0xFFE9}


class MutterKeys:
    def __init__(self, bus=None):
        bus = bus or dbus.SessionBus()
        desktop = dbus.Interface(bus.get_object(SERVICE, "/org/gnome/Mutter/RemoteDesktop"),
                                 SERVICE)
        path = desktop.CreateSession()
        self.session = dbus.Interface(bus.get_object(SERVICE, path), SERVICE + ".Session")
        self.session.Start()
        # The first key after the device appears is lost.
        self.tap("Shift_L")
        time.sleep(0.2)

    def key(self, name, pressed):
        self.session.NotifyKeyboardKeysym(dbus.UInt32(KEYSYMS[name]), bool(pressed))

    def tap(self, name, hold=0.0):
        self.key(name, True)
        if hold:
            time.sleep(hold)
        self.key(name, False)

    def combo(self, *names):
        for name in names:
            self.key(name, True)
        for name in reversed(names):
            self.key(name, False)

    def stop(self):
        try:
            self.session.Stop()
        except dbus.DBusException:
            pass


if __name__ == "__main__":
    if sys.argv[1:] != ["hold"]:
        sys.exit("usage: gnome_keys.py hold")
    keys = MutterKeys()
    print("ready", flush=True)
    while True:
        time.sleep(3600)
