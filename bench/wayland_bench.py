#!/usr/bin/python3
"""Wayland figures on a headless sway session (run inside tests/wayland/with-sway).

wayland_key_to_recording: Vozmo started by the compositor with the stand-in servers; from the
start of `vozmo --key press` (as a compositor's key binding runs it) to the recorder's capture
stream appearing on the sound server. wayland_paste: wayland_paste_bench against a GTK window on
Wayland. Prints "name: value unit (target ...)" lines; exits 1 when a figure cannot be taken.
"""
import pathlib
import queue
import socket
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "wayland"))
from sway_support import RUNTIME, USER, as_user  # noqa: E402
from session_util import (  # noqa: E402
    bench_fail, capture_stream_kind, drain, first_run_account, instance_and_servers_up,
    next_event, paste_figure, session_args, started_pid, stop_all, terminate, wait_until, watch,
    window_ready, write_starter)

args = session_args(bench=True)

ROUNDS = 15
started = []


def fail(why):
    bench_fail("wayland_bench", RUNTIME, why)


def swaymsg(command):
    return subprocess.run(["swaymsg", command], capture_output=True, text=True, timeout=10)


def vozmo_key(action):
    """`vozmo --key ACTION` as the session's user runs it; its start time."""
    start = time.monotonic()
    proc = subprocess.Popen(as_user(["env", f"XDG_RUNTIME_DIR={RUNTIME}", args.vozmo, "--key",
                                     action]), stdout=subprocess.DEVNULL)
    started.append(proc)
    return start


def instance_key(action):
    """The line `vozmo --key ACTION` hands the running instance, written straight to its
    socket: what is left of the figure once that process has started."""
    start = time.monotonic()
    with socket.socket(socket.AF_UNIX) as s:
        s.connect(str(instance_socket))
        s.sendall(f"key {action}\n".encode())
        s.recv(16)
    return start


def key_to_recording(send):
    """Milliseconds from each press until the capture stream opens, over ROUNDS dictations
    cancelled at once."""
    times = []
    for _ in range(ROUNDS):
        drain(events)
        start = send("press")
        seen = next_event(events, "new")
        send("cancel")
        send("release")
        if seen is None:
            fail("no recording started after the key press")
        times.append((seen[0] - start) * 1000)
        if next_event(events, "remove") is None:
            fail("the cancelled recording did not stop")
        time.sleep(0.4)
    return times


# Vozmo set up as after a first run, started by the compositor.
first_run_account(RUNTIME, "ropt")
starter = write_starter(RUNTIME, args.vozmo, args.standins)
subprocess.run(["chown", "-R", f"{USER}:nogroup", str(RUNTIME)], check=True)

# Capture streams coming and going on the sound server, with the time each was seen.
events = queue.Queue()
monitor = subprocess.Popen(["pactl", "subscribe"], stdout=subprocess.PIPE, text=True)
started.append(monitor)
threading.Thread(target=watch, daemon=True,
                 args=(monitor, "source-output", capture_stream_kind, events)).start()

instance_socket = RUNTIME / f"vozmo-{int(subprocess.check_output(['id', '-u', USER]))}.sock"
vozmo_pid = None
try:
    if swaymsg(f"exec {starter}").returncode != 0:
        fail("sway did not start Vozmo")
    vozmo_pid = started_pid(RUNTIME)
    if vozmo_pid is None:
        fail("Vozmo did not start")
    if not wait_until(lambda: instance_and_servers_up(instance_socket), 60):
        fail("Vozmo or its servers did not come up")
    time.sleep(2.0)  # the start-up message and the servers' warm-up settle

    times = key_to_recording(vozmo_key)
    print(f"wayland_key_to_recording: {statistics.median(times):.1f} ms (target <= 30 ms; "
          f"vozmo --key press to the capture stream open on sway, median of {ROUNDS}, slowest "
          f"{max(times):.1f} ms)", flush=True)
    times = key_to_recording(instance_key)
    print(f"wayland_key_to_recording_in_instance: {statistics.median(times):.1f} ms (target: "
          f"the share of wayland_key_to_recording after vozmo --key has started; median of "
          f"{ROUNDS})", flush=True)

    # The paste, into a GTK window on Wayland that has the focus.
    out_file = RUNTIME / "window.txt"
    swaymsg(f"exec NO_AT_BRIDGE=1 GDK_BACKEND=wayland python3 {args.window} {out_file} "
            f"2>{RUNTIME}/window.err")
    if not wait_until(lambda: window_ready(out_file), 30):
        fail("the GTK window did not get the focus")
    paste_figure(args.paste_bench, out_file,
                 as_user(["wl-copy", "--foreground", "contenido del usuario"]), started)
finally:
    if vozmo_pid:
        terminate(vozmo_pid)
    stop_all(started)
