"""Helpers shared by the scripts that run inside tests/wayland/with-sway: the session's user, its
runtime folder, and waiting for things to happen."""
import os
import pathlib
import socket
import time

RUNTIME = pathlib.Path(os.environ["VOZMO_SWAY_RUNTIME"])
USER = os.environ["VOZMO_SWAY_USER"]


def as_user(argv):
    """The argument vector run as the session's unprivileged user (sway refuses root)."""
    return ["setpriv", f"--reuid={USER}", "--regid=nogroup", "--clear-groups"] + argv


def wait_until(predicate, seconds):
    """True as soon as `predicate` holds; after `seconds`, its last answer."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return predicate()


def port_open(port):
    with socket.socket() as s:
        s.settimeout(0.2)
        return s.connect_ex(("127.0.0.1", port)) == 0
