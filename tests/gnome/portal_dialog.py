"""GNOME's remote desktop dialog (xdg-desktop-portal-gnome's "Remote desktop" window), answered
through the accessibility bus as a user would with the mouse: tick "Allow remote interaction",
then press Share, or press Cancel."""
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

PORTAL_APP = "xdg-desktop-portal-gnome"
SHARE = ("Share", "Compartir")
CANCEL = ("Cancel", "Cancelar")


def _find(node, role, names=None, depth=0):
    try:
        if node.get_role_name() == role and (
                names is None or any(n in (node.get_name() or "") for n in names)):
            return node
        count = node.get_child_count()
    except gi.repository.GLib.Error:
        return None
    if depth > 20:
        return None
    for i in range(count):
        child = node.get_child_at_index(i)
        found = child and _find(child, role, names, depth + 1)
        if found:
            return found
    return None


def _portal_app():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app and app.get_name() == PORTAL_APP:
            return app
    return None


def _states(node):
    return {s.value_nick for s in node.get_state_set().get_states()}


def answer(allow, seconds):
    """Waits for the dialog and answers it; returns what happened, for the test's report."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        app = _portal_app()
        frame = app and _find(app, "frame")
        button = frame and _find(frame, "push button", SHARE if allow else CANCEL)
        if button:
            if allow:
                box = _find(frame, "check box")
                if box is None:
                    return "no 'Allow remote interaction' box"
                if "checked" not in _states(box):
                    box.do_action(0)
                # Share becomes sensitive once the box is ticked.
                ready = time.monotonic() + 5
                while "sensitive" not in _states(button) and time.monotonic() < ready:
                    time.sleep(0.05)
            if not button.do_action(0):
                return f"the button {button.get_name()!r} did not take the click"
            return "answered"
        time.sleep(0.1)
    return "no dialog appeared"


def window_active(title):
    """Whether the window with this title (any application) has the focus."""
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if not app:
            continue
        for j in range(app.get_child_count()):
            window = app.get_child_at_index(j)
            if window and window.get_name() == title:
                return "active" in _states(window)
    return False


def dialog_open():
    """Whether the portal shows a dialog now."""
    app = _portal_app()
    return bool(app and _find(app, "push button", CANCEL))


def active_windows():
    """Names of the windows that are active now, with their application (for failure reports)."""
    found = []
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if not app:
            continue
        for j in range(app.get_child_count()):
            window = app.get_child_at_index(j)
            if window and "active" in _states(window):
                found.append(f"{app.get_name()}: {window.get_name()}")
    return found
