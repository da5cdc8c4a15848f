#!/usr/bin/python3
"""Dictation on a Wayland desktop, as a sway user meets it. Runs inside tests/wayland/with-sway.

sway binds F9 to `vozmo --key press` / `vozmo --key release`; Vozmo is started by the
compositor (`swaymsg exec`) with the stand-in servers first on its PATH; a GTK 3 window on
Wayland has the focus; `wtype` holds F9 while a Spanish sentence plays into the session's
microphone. The text must land in the Wayland window, the user's clipboard must come back, and
quitting must leave no server behind.
"""
import json
import os
import pathlib
import shutil
import subprocess
import sys
import time

from sway_support import RUNTIME, USER, as_user
from session_util import (  # noqa: E402
    check, failures, first_run_account, port_open, read, session_args, spoken, started_pid,
    stop_all, stop_vozmo, wait_until, window_ready, write_starter)

args = session_args()

EXPECTED = "Esto es una prueba de dictado."
USER_CLIPBOARD = "contenido del usuario ñ"
started = []  # processes of ours, stopped by pid at the end


def clipboard():
    out = subprocess.run(as_user(["wl-paste", "-n"]), capture_output=True, timeout=10)
    return out.stdout.decode("utf-8", "replace") if out.returncode == 0 else None


def describe_tree(node, depth=0):
    """One line per node of sway's tree: what a failure needs to see."""
    lines = [" " * depth + f"{node.get('type')} {node.get('name')!r} app_id={node.get('app_id')} "
             f"pid={node.get('pid')} focused={node.get('focused')}"]
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        lines += describe_tree(child, depth + 1)
    return lines


def swaymsg(*argv):
    return subprocess.run(["swaymsg", *argv], capture_output=True, text=True, timeout=10)


def reachable(path):
    """Whether the session's user may read (and, for a program, run) `path`."""
    mode = "-x" if os.access(path, os.X_OK) and not os.path.isdir(path) else "-r"
    return subprocess.run(as_user(["test", mode, str(path)])).returncode == 0


def for_session(path):
    """`path`, or a copy the session's user can reach when the build lives in a folder it may
    not enter (a clone under /root)."""
    path = pathlib.Path(path)
    if reachable(path):
        return path
    copy = RUNTIME / "app" / path.name
    copy.parent.mkdir(exist_ok=True)
    if path.is_dir():
        shutil.copytree(path, copy)
    else:
        shutil.copy2(path, copy)
    return copy


vozmo = for_session(args.vozmo)
# The stand-ins read their module from the folder above bin/.
standins = for_session(pathlib.Path(args.standins).parent) / "bin"
window = for_session(args.window)

support = first_run_account(RUNTIME, "ropt")
out_file = RUNTIME / "window.txt"
starter = write_starter(RUNTIME, vozmo, standins)
subprocess.run(["chown", "-R", f"{USER}:nogroup", str(RUNTIME)], check=True)

speech_dir, speech = spoken(EXPECTED, "vozmo-sway-speech-")
speech_dir.chmod(0o755)
speech.chmod(0o644)

vozmo_pid = None
try:
    # The dictation key as a sway user binds it.
    for binding in (f"--no-repeat F9 exec {vozmo} --key press",
                    f"--release F9 exec {vozmo} --key release"):
        check(swaymsg(f"bindsym {binding}").returncode == 0, f"sway binds {binding}")
    # Vozmo first, so the text window started after it has the focus.
    check(swaymsg("exec", str(starter)).returncode == 0, "sway starts Vozmo")
    vozmo_pid = started_pid(RUNTIME)
    check(vozmo_pid is not None, "Vozmo runs")
    socket_file = RUNTIME / f"vozmo-{int(subprocess.check_output(['id', '-u', USER]))}.sock"
    check(wait_until(lambda: socket_file.exists() and port_open(8178), 60),
          "Vozmo listens and its speech server answers")

    swaymsg("exec", f"NO_AT_BRIDGE=1 GDK_BACKEND=wayland python3 {window} {out_file} "
                    f"2>{RUNTIME}/window.err")
    check(wait_until(lambda: window_ready(out_file), 30),
          "the GTK window on Wayland has the focus")

    owner = subprocess.Popen(as_user(["wl-copy", "--foreground", USER_CLIPBOARD]))
    started.append(owner)
    check(wait_until(lambda: clipboard() == USER_CLIPBOARD, 10), "the user's clipboard is set")
    time.sleep(1.0)  # the panel's start-up message and the servers settle

    # Hold F9 while the sentence plays: push-to-talk. One wtype holds it: the compositor
    # releases the keys of a virtual keyboard when its program ends.
    holder = subprocess.Popen(["wtype", "-P", "F9", "-s", "3500", "-p", "F9"])
    started.append(holder)
    time.sleep(0.4)
    subprocess.run(["paplay", "--device=vsink", str(speech)], timeout=30)
    holder.wait(timeout=30)

    landed = wait_until(lambda: EXPECTED in read(out_file), 60)
    check(landed, f"the text lands in the Wayland window (it holds {read(out_file)!r})")
    came_back = wait_until(lambda: clipboard() == USER_CLIPBOARD, 10)
    check(came_back, f"the user's clipboard comes back (it holds {clipboard()!r})")

    log = read(support / "logs" / "app.log")
    check("Escritura: teclado virtual" in log, "the virtual keyboard was chosen for the paste")
    if failures:
        print("--- app.log\n" + log, flush=True)
finally:
    if vozmo_pid:
        stop_vozmo(vozmo_pid, RUNTIME, by_environment=False)
    stop_all(started)
    shutil.rmtree(speech_dir, ignore_errors=True)
    if failures:
        print(sorted(p.name for p in RUNTIME.iterdir()))
        for name in ("window.err", "sway.log"):
            if (RUNTIME / name).exists():
                print(f"--- {name}\n" + (RUNTIME / name).read_text(errors="replace"), flush=True)
        print("--- windows\n" + "\n".join(describe_tree(json.loads(swaymsg("-t", "get_tree").stdout))),
              flush=True)
        out = RUNTIME / "vozmo.out"
        if out.exists():
            print("--- vozmo output\n" + out.read_text(errors="replace"), flush=True)

sys.exit(1 if failures else 0)
