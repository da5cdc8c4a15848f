#!/usr/bin/python3
"""From the dictation key on sway to the recording (run inside tests/wayland/with-sway).

wayland_key_event_to_recording: sway binds F9 to `vozmo --key press` / `--key release` as a user
does; a virtual keyboard (wtype) holds F9 for a moment, and the figure runs from sway running the
press binding (its IPC "binding" event) to Vozmo's capture stream appearing on the sound server:
the launcher, the instance and the recorder's start together. Prints "name: value unit (target
...)"; exits 1 when the figure cannot be taken.
"""
import argparse
import json
import pathlib
import queue
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "wayland"))
from sway_support import RUNTIME, USER  # noqa: E402
from session_util import (  # noqa: E402
    bench_fail, capture_stream_kind, first_run_account, instance_and_servers_up, started_pid,
    stop_all, terminate, wait_until, watch, write_starter)

parser = argparse.ArgumentParser()
parser.add_argument("--vozmo", required=True)
parser.add_argument("--standins", required=True, help="the stand-ins' bin folder")
args = parser.parse_args()

NAME = "wayland_key_event_to_recording"
ROUNDS = 15
# Longer than a tap (which would lock the hands-free mode); the recording of silence then ends
# with "No te he oído" and never reaches the speech server.
HOLD_MS = 600
started = []  # processes of ours, stopped by pid at the end
seen = []  # this round's events, for the message when the figure cannot be taken


def fail(why):
    print(f"{NAME}: failed", flush=True)
    bench_fail("sway_key_bench", RUNTIME, f"{why} (events: {' '.join(seen)})")


def swaymsg(*argv):
    return subprocess.run(["swaymsg", *argv], capture_output=True, text=True, timeout=10)


def binding_kind(line):
    try:
        command = json.loads(line).get("binding", {}).get("command", "")
    except ValueError:
        return None
    return "press" if "--key press" in command else "release" if "--key release" in command \
        else None


def follow(argv, pattern, kind_of, events):
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, text=True)
    started.append(proc)
    threading.Thread(target=watch, args=(proc, pattern, kind_of, events), daemon=True).start()


def round_events(events, seconds=10):
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
            when, what, _ = events.get(timeout=left)
        except queue.Empty:
            break
        seen.append(what)
        first.setdefault(what, when)
    return first


first_run_account(RUNTIME, "ropt")
starter = write_starter(RUNTIME, args.vozmo, args.standins)
subprocess.run(["chown", "-R", f"{USER}:nogroup", str(RUNTIME)], check=True)
instance_socket = RUNTIME / f"vozmo-{int(subprocess.check_output(['id', '-u', USER]))}.sock"
vozmo_pid = None
try:
    for binding in (f"--no-repeat F9 exec {args.vozmo} --key press",
                    f"--release F9 exec {args.vozmo} --key release"):
        if swaymsg(f"bindsym {binding}").returncode != 0:
            fail(f"sway did not bind {binding}")
    if swaymsg("exec", str(starter)).returncode != 0:
        fail("sway did not start Vozmo")
    vozmo_pid = started_pid(RUNTIME)
    if vozmo_pid is None:
        fail("Vozmo did not start")
    if not wait_until(lambda: instance_and_servers_up(instance_socket), 60):
        fail("Vozmo or its servers did not come up")
    time.sleep(2.0)  # the start-up message and the servers' warm-up settle

    events = queue.Queue()
    follow(["swaymsg", "-t", "subscribe", "-m", '["binding"]'], "binding", binding_kind, events)
    follow(["pactl", "subscribe"], "source-output", capture_stream_kind, events)
    time.sleep(0.5)
    times = []
    for _ in range(ROUNDS):
        while not events.empty():
            events.get()
        seen.clear()
        holder = subprocess.Popen(["wtype", "-P", "F9", "-s", str(HOLD_MS), "-p", "F9"])
        started.append(holder)
        first = round_events(events)
        holder.wait(timeout=10)
        if "press" not in first:
            fail("sway never ran the press binding")
        if "new" not in first:
            fail("no recording started after the key press")
        if "remove" not in first:
            fail("the recording did not stop at the release")
        times.append((first["new"] - first["press"]) * 1000)
        time.sleep(1.5)  # the panel's message goes; the next press finds Vozmo idle
    print(f"{NAME}: {statistics.median(times):.1f} ms (target <= 30 ms; F9 on sway, from its "
          f"binding running to the capture stream open, median of {ROUNDS}, slowest "
          f"{max(times):.1f} ms)", flush=True)
finally:
    if vozmo_pid:
        terminate(vozmo_pid)
    stop_all(started)
