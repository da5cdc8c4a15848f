#!/usr/bin/python3
"""A GTK 3 window that takes the focus, named by its first argument (the application name the
accessibility bus reports)."""
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

GLib.set_prgname(sys.argv[1])
GLib.set_application_name(sys.argv[1])
window = Gtk.Window(title=sys.argv[1])
window.add(Gtk.Entry())
window.connect("destroy", Gtk.main_quit)
window.show_all()
window.present()
Gtk.main()
