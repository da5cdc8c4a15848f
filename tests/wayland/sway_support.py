"""What the scripts that run inside tests/wayland/with-sway share beyond session_util: the
session's user and runtime folder. Importing it puts tests/support on sys.path."""
import os
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))

RUNTIME = pathlib.Path(os.environ["VOZMO_SWAY_RUNTIME"])
USER = os.environ["VOZMO_SWAY_USER"]


def as_user(argv):
    """The argument vector run as the session's unprivileged user (sway refuses root)."""
    return ["setpriv", f"--reuid={USER}", "--regid=nogroup", "--clear-groups"] + argv
