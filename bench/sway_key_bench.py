#!/usr/bin/python3
"""From the dictation key on sway to the recording (run inside tests/wayland/with-sway).

wayland_key_to_recording: sway binds F9 to `vozmo --key press` / `--key release` as a user does;
a virtual keyboard (wtype) holds F9 for a moment, and the figure runs from sway running the
press binding (its IPC "binding" event) to Vozmo's capture stream appearing on the sound server.
Prints "name: value unit (target ...)"; exits 1 when the figure cannot be taken.
"""
import argparse
import json
import os
import pathlib
import queue
import signal
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "wayland"))
from sway_support import RUNTIME, USER, as_user, port_open, wait_until  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--vozmo", required=True)
parser.add_argument("--standins", required=True, help="the stand-ins' bin folder")
args = parser.parse_args()

ROUNDS = 15
# Longer than a tap (which would lock the hands-free mode); the recording of silence then ends
# with "No te he oído" and never reaches the speech server.
HOLD_MS = 600
started = []  # processes of ours, stopped by pid at the end


def fail(why):
    print(f"sway_key_bench: {why} (events: {' '.join(seen)})", file=sys.stderr, flush=True)
    out = RUNTIME / "vozmo.out"
    if out.exists():
        print(out.read_text(errors="replace")[-3000:], file=sys.stderr)
    print("wayland_key_to_recording: failed", flush=True)
    sys.exit(1)


def swaymsg(*argv):
    return subprocess.run(["swaymsg", *argv], capture_output=True, text=True, timeout=10)


# Vozmo set up as after a first run, started by the compositor.
config = RUNTIME / "config" / "Vozmo"
config.mkdir(parents=True, exist_ok=True)
(config / "prefs.json").write_text(json.dumps(
    {"setupShown": True, "hotkey": "ropt", "language": "es", "polish": False, "sounds": False}))
models = RUNTIME / "data" / "Vozmo" / "models"
models.mkdir(parents=True, exist_ok=True)
for name, size in (("whisper.bin", 800_000_000), ("llm.gguf", 2_000_000_000)):
    with open(models / name, "wb") as f:
        f.truncate(size)
standin_dir = RUNTIME / "standin"
standin_dir.mkdir()
starter = RUNTIME / "start-vozmo"
starter.write_text("#!/bin/sh\n"
                   f"echo $$ > {RUNTIME}/vozmo.pid\n"
                   f"exec env PATH={args.standins}:/usr/bin:/bin VOZMO_STANDIN_DIR={standin_dir} "
                   f"{args.vozmo} >{RUNTIME}/vozmo.out 2>&1\n")
starter.chmod(0o755)
subprocess.run(["chown", "-R", f"{USER}:nogroup", str(RUNTIME)], check=True)

# Two event streams, each line stamped when it was read: sway's bindings as they run, and
# capture streams coming and going on the sound server.
events = queue.Queue()


def follow(argv, kind_of):
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, text=True)
    started.append(proc)

    def read():
        for line in proc.stdout:
            kind = kind_of(line)
            if kind:
                events.put((time.monotonic(), kind))

    threading.Thread(target=read, daemon=True).start()


def binding_kind(line):
    try:
        command = json.loads(line).get("binding", {}).get("command", "")
    except ValueError:
        return None
    return "press" if "--key press" in command else "release" if "--key release" in command \
        else None


def capture_kind(line):
    if "source-output" not in line:
        return None
    return "new" if "'new'" in line else "remove" if "'remove'" in line else None


seen = []  # this round's events, for the message when a figure cannot be taken


def round_events(seconds=10):
    """When each kind of event first came in this round, once the recording has started and
    stopped (or the time is up). The two streams are read apart, so their order in the queue
    is not the order in which things happened: each event carries the time it was read."""
    first = {}
    deadline = time.monotonic() + seconds
    while not {"press", "new", "remove"} <= first.keys():
        left = deadline - time.monotonic()
        if left <= 0:
            break
        try:
            when, what = events.get(timeout=left)
        except queue.Empty:
            break
        seen.append(what)
        first.setdefault(what, when)
    return first


instance_socket = RUNTIME / f"vozmo-{int(subprocess.check_output(['id', '-u', USER]))}.sock"
vozmo_pid = None
try:
    for binding in (f"--no-repeat F9 exec {args.vozmo} --key press",
                    f"--release F9 exec {args.vozmo} --key release"):
        if swaymsg(f"bindsym {binding}").returncode != 0:
            fail(f"sway did not bind {binding}")
    if swaymsg("exec", str(starter)).returncode != 0:
        fail("sway did not start Vozmo")
    pid_file = RUNTIME / "vozmo.pid"
    if not wait_until(pid_file.exists, 10):
        fail("Vozmo did not start")
    vozmo_pid = int(pid_file.read_text().strip() or 0)
    if not wait_until(lambda: instance_socket.exists() and port_open(8178), 60):
        fail("Vozmo or its speech server did not come up")
    time.sleep(2.0)  # the start-up message and the servers' warm-up settle

    follow(["swaymsg", "-t", "subscribe", "-m", '["binding"]'], binding_kind)
    follow(["pactl", "subscribe"], capture_kind)
    time.sleep(0.5)
    times = []
    for _ in range(ROUNDS):
        while not events.empty():
            events.get()
        seen.clear()
        holder = subprocess.Popen(["wtype", "-P", "F9", "-s", str(HOLD_MS), "-p", "F9"])
        started.append(holder)
        first = round_events()
        holder.wait(timeout=10)
        if "press" not in first:
            fail("sway never ran the press binding")
        if "new" not in first:
            fail("no recording started after the key press")
        if "remove" not in first:
            fail("the recording did not stop at the release")
        times.append((first["new"] - first["press"]) * 1000)
        time.sleep(1.5)  # the panel's message goes; the next press finds Vozmo idle
    print(f"wayland_key_to_recording: {statistics.median(times):.1f} ms (target <= 30 ms; F9 "
          f"on sway, from its binding running to the capture stream open, median of {ROUNDS}, "
          f"slowest {max(times):.1f} ms)", flush=True)
finally:
    if vozmo_pid:
        try:
            os.kill(vozmo_pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        wait_until(lambda: not pathlib.Path(f"/proc/{vozmo_pid}").exists(), 20)
    for proc in started:
        if proc.poll() is None:
            proc.terminate()
        proc.wait(timeout=10)
