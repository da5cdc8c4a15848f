#!/usr/bin/python3
# A focused GTK window that prints every key it receives ("press NAME" / "release NAME"), so
# a test can check that observing the keyboard takes nothing away from the focused application.
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, Gtk  # noqa: E402


def report(kind):
    def handler(_widget, event):
        print(kind, Gdk.keyval_name(event.keyval), flush=True)
        return False

    return handler


window = Gtk.Window(title="Vozmo key window")
window.set_default_size(300, 120)
window.connect("key-press-event", report("press"))
window.connect("key-release-event", report("release"))
window.connect("focus-in-event", lambda *_: print("focused", flush=True))
window.connect("destroy", Gtk.main_quit)
window.show_all()
window.present()
sys.stdout.flush()
Gtk.main()
