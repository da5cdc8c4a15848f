#!/usr/bin/python3
"""A GTK 3 text window on Wayland, the paste target of the sway session test.

Started by the compositor, so it has no pipe to the test: it writes its whole text to the file
given as its argument after every change (through a temporary file and a rename, so a reader
never sees half of it), creates FILE.ready once it has the keyboard focus, and appends the name
of every key it receives to FILE.keys, one a line.
"""
import os
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

out = sys.argv[1]
window = Gtk.Window(title="Vozmo Wayland target")
window.set_default_size(500, 300)
view = Gtk.TextView()
window.add(view)
buffer = view.get_buffer()


def save(*_):
    text = buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True)
    with open(out + ".tmp", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(out + ".tmp", out)


def focused(*_):
    if not window.is_active():
        return True
    open(out + ".ready", "w").close()
    return False


def key_pressed(_widget, event):
    with open(out + ".keys", "a", encoding="utf-8") as f:
        f.write((Gdk.keyval_name(event.keyval) or str(event.keyval)) + "\n")
    return False


buffer.connect("changed", save)
window.connect("key-press-event", key_pressed)
GLib.timeout_add(50, focused)
window.connect("destroy", Gtk.main_quit)
window.show_all()
view.grab_focus()
save()
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, 15, Gtk.main_quit)
Gtk.main()
