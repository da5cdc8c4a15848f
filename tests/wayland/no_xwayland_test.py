#!/usr/bin/python3
"""Vozmo started on a sway session without XWayland (`xwayland disable`). Runs inside
tests/wayland/with-sway with that line added to the configuration.

Its windows need XWayland, so it must say that and how to turn it on for sway, GNOME and KDE,
and exit with 1: never Qt's abort (134). The options that need no window keep working there.
"""
import argparse
import os
import subprocess
import sys
import tempfile

parser = argparse.ArgumentParser()
parser.add_argument("--vozmo", required=True)
args = parser.parse_args()

failures = []


def check(ok, what, detail=""):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)
        if detail:
            print(detail, flush=True)


# What the compositor offers: no X server at all, so nothing could have hidden it.
check("DISPLAY" not in os.environ, "the session has no DISPLAY")
tree = subprocess.run(["swaymsg", "-t", "get_version"], capture_output=True, text=True)
check(tree.returncode == 0, "sway answers")

home = tempfile.mkdtemp(prefix="vozmo-noxwayland-")
runtime = os.path.join(home, "runtime")
os.makedirs(runtime, mode=0o700)
env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
           XDG_DATA_HOME=os.path.join(home, "data"), XDG_CACHE_HOME=os.path.join(home, "cache"),
           XDG_RUNTIME_DIR=runtime, PATH="/usr/bin:/bin")
env.pop("QT_QPA_PLATFORM", None)
env.pop("DISPLAY", None)
# Qt itself goes to Wayland when told the session is one; Vozmo must answer the same either way.
for session_type in (None, "wayland"):
    run_env = dict(env)
    # The compositor's socket stays in the session's folder: give its full path.
    run_env["WAYLAND_DISPLAY"] = os.path.join(os.environ["XDG_RUNTIME_DIR"],
                                              os.environ["WAYLAND_DISPLAY"])
    if session_type:
        run_env["XDG_SESSION_TYPE"] = session_type
    label = f"XDG_SESSION_TYPE={session_type}" if session_type else "no XDG_SESSION_TYPE"
    run = subprocess.run([args.vozmo], env=run_env, capture_output=True, text=True, timeout=60)
    check(run.returncode == 1, f"{label}: exit status 1 (got {run.returncode})",
          run.stdout + run.stderr)
    message = run.stderr
    for needed in ("Vozmo necesita XWayland", "DISPLAY no está definida", "sway:",
                   "xwayland enable", "GNOME:", "--no-x11", "KDE Plasma:",
                   "apt-get install xwayland"):
        check(needed in message, f"{label}: the message says «{needed}»", message)
    check("platform plugin" not in message, f"{label}: not Qt's message", message)
    check(not os.path.exists(os.path.join(home, "data", "Vozmo")),
          f"{label}: nothing set up before leaving")

# The options that need no window.
run = subprocess.run([args.vozmo, "--help"], env=env, capture_output=True, text=True, timeout=30)
check(run.returncode == 0 and "--selftest" in run.stdout, "--help works", run.stdout + run.stderr)
run = subprocess.run([args.vozmo, "--key", "press"], env=env, capture_output=True, text=True,
                     timeout=30)
check(run.returncode == 1 and "no está en marcha" in run.stderr,
      "--key says no Vozmo runs", run.stdout + run.stderr)
run = subprocess.run([args.vozmo, "--selftest"], env=env, capture_output=True, text=True,
                     timeout=120)
check(run.returncode == 1 and "whisper-server" in run.stdout + run.stderr,
      "--selftest runs and names the missing server", run.stdout + run.stderr)

subprocess.run(["rm", "-rf", home])
if failures:
    print(f"{len(failures)} failed", flush=True)
    sys.exit(1)
print("all passed", flush=True)
