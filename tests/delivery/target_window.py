#!/usr/bin/python3
"""A GTK 3 window with a text view, the target of the delivery tests.

It exposes itself over AT-SPI like any GTK application. Commands arrive one per line on
standard input; every answer is one line on standard output:
  get                       -> text <JSON string of the whole content>
  set <JSON> <a> [<b>]      -> ok   (content; caret at a, or a selection from a to b, caret at b)
  focus-text / focus-button -> ok
With --paste-delay S, a Control+V is handled (the clipboard asked for) S seconds late.
Every key press is reported as "key <keysym name> <modifiers joined by +, or ->", followed by
" <CLOCK_MONOTONIC seconds>" when started with --timestamps.
"ready" is printed once the window has the focus.
"""
import argparse
import json
import sys
import time
import warnings

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

parser = argparse.ArgumentParser()
# Not "--class": GTK takes that option out of the arguments for itself.
parser.add_argument("--wm-class", dest="wm_class", default="VozmoTarget")
parser.add_argument("--title", default="Vozmo target")
parser.add_argument("--timestamps", action="store_true")
# An application busy when the paste stroke arrives: it asks for the clipboard this much later.
parser.add_argument("--paste-delay", dest="paste_delay", type=float, default=0.0)
args = parser.parse_args()

window = Gtk.Window(title=args.title)
# WM_CLASS (instance, class) before the window is realised; deprecated, but still honoured on X11.
with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    window.set_wmclass(args.wm_class.lower(), args.wm_class)
window.set_default_size(500, 300)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
view = Gtk.TextView()
button = Gtk.Button(label="Botón")
box.pack_start(view, True, True, 0)
box.pack_start(button, False, False, 0)
window.add(box)
buffer = view.get_buffer()


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


MODIFIERS = [
    (Gdk.ModifierType.CONTROL_MASK, "control"),
    (Gdk.ModifierType.SHIFT_MASK, "shift"),
    (Gdk.ModifierType.MOD1_MASK, "alt"),
    (Gdk.ModifierType.SUPER_MASK, "super"),
    (Gdk.ModifierType.MOD4_MASK, "mod4"),
    (Gdk.ModifierType.MOD5_MASK, "mod5"),
]


def on_key(_widget, event):
    # The moment of arrival first, before any work of our own.
    now = time.clock_gettime(time.CLOCK_MONOTONIC)
    mods = [name for mask, name in MODIFIERS if event.state & mask]
    line = "key %s %s" % (Gdk.keyval_name(event.keyval), "+".join(mods) or "-")
    say(line + (" %.6f" % now if args.timestamps else ""))
    if args.paste_delay and Gdk.keyval_name(event.keyval) in ("v", "V") and "control" in mods:
        time.sleep(args.paste_delay)
    return False


window.connect("key-press-event", on_key)

ready = [False]


def on_focus(_widget, _event):
    if not ready[0]:
        ready[0] = True
        say("ready")
    return False


window.connect("focus-in-event", on_focus)
window.connect("destroy", Gtk.main_quit)


def command(line):
    parts = line.split(" ", 1)
    name = parts[0]
    if name == "get":
        start, end = buffer.get_bounds()
        say("text " + json.dumps(buffer.get_text(start, end, True)))
    elif name == "set":
        decoder = json.JSONDecoder()
        text, used = decoder.raw_decode(parts[1])
        numbers = [int(n) for n in parts[1][used:].split()]
        buffer.set_text(text)
        anchor = buffer.get_iter_at_offset(numbers[0])
        caret = buffer.get_iter_at_offset(numbers[-1])
        buffer.select_range(caret, anchor)
        view.grab_focus()
        say("ok")
    elif name == "focus-text":
        view.grab_focus()
        say("ok")
    elif name == "focus-button":
        button.grab_focus()
        say("ok")
    else:
        say("error unknown command")


def on_input(source, _condition):
    line = source.readline()
    if not line:
        Gtk.main_quit()
        return False
    command(line.rstrip("\n"))
    return True


GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
window.show_all()
view.grab_focus()
window.present()
Gtk.main()
