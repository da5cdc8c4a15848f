#!/usr/bin/python3
"""KDE Plasma figures on a headless KDE session (run inside tests/kde/with-kde).

kde_key_to_recording: Vozmo started by the session with the stand-in servers; the bench presses
the dictation key through a RemoteDesktop session of its own, and times from the portal's
Activated signal (seen on the session bus by dbus-monitor) to the recorder's capture stream
appearing on the sound server. kde_paste: kde_paste_bench against a GTK window on Wayland.
Prints "name: value unit (target ...)" lines; exits 1 when a figure cannot be taken.
"""
import os
import pathlib
import queue
import re
import socket
import statistics
import subprocess
import sys
import threading
import time

TESTS = pathlib.Path(__file__).resolve().parents[1] / "tests"
sys.path[:0] = [str(TESTS / "kde"), str(TESTS / "support")]
from portal_client import Portal, RemoteKeyboard  # noqa: E402
from session_util import (  # noqa: E402
    bench_fail, capture_stream_kind, drain, first_run_account, instance_and_servers_up, launch,
    next_event, paste_figure, read, session_args, stop_all, terminate, wait_until, watch,
    window_ready, write_starter)

args = session_args(bench=True)

RUNTIME = pathlib.Path(os.environ["VOZMO_KDE_RUNTIME"])
KDE_EXEC = os.environ["VOZMO_KDE_EXEC"]
KEY_F8 = 66
ROUNDS = 15
started = []


def fail(why):
    bench_fail("kde_bench", RUNTIME, why)


# Vozmo set up as after a first run, started by the session.
log_file = first_run_account(RUNTIME, "fn") / "logs" / "app.log"
starter = write_starter(RUNTIME, args.vozmo, args.standins)

# Capture streams on the sound server, and the portal's Activated signals on the bus, each with
# the (wall clock) time it was seen; dbus-monitor stamps the signal with its own arrival time.
streams = queue.Queue()
pulse = subprocess.Popen(["pactl", "subscribe"], stdout=subprocess.PIPE, text=True)
started.append(pulse)
threading.Thread(target=watch, daemon=True,
                 args=(pulse, "source-output", capture_stream_kind, streams, time.time)).start()
signals = queue.Queue()
bus = subprocess.Popen(["dbus-monitor", "--session", "type='signal',"
                        "interface='org.freedesktop.portal.GlobalShortcuts',member='Activated'"],
                       stdout=subprocess.PIPE, text=True)
started.append(bus)
threading.Thread(target=watch, daemon=True, args=(
    bus, r"member=Activated", lambda line: "activated", signals, time.time)).start()

instance_socket = RUNTIME / f"vozmo-{os.getuid()}.sock"
portal = Portal()
keyboard = None
vozmo_pid = None
try:
    vozmo_pid = launch([KDE_EXEC, str(starter)], RUNTIME)
    if vozmo_pid is None:
        fail("Vozmo did not start")
    if not wait_until(lambda: instance_and_servers_up(instance_socket), 60):
        fail("Vozmo or its servers did not come up")
    if not wait_until(lambda: "atajo global del portal del escritorio, F8" in read(log_file), 20):
        fail("the desktop did not bind the dictation key")
    time.sleep(2.0)  # the start-up message and the servers' warm-up settle
    keyboard = RemoteKeyboard(portal)

    times = []
    for _ in range(ROUNDS):
        drain(streams)
        drain(signals)
        keyboard.key(KEY_F8, True)
        activated = next_event(signals, "activated")
        seen = next_event(streams, "new")
        # Cancelled at once, as `vozmo --key cancel` does, then the key let go.
        with socket.socket(socket.AF_UNIX) as s:
            s.connect(str(instance_socket))
            s.sendall(b"key cancel\n")
            s.recv(16)
        keyboard.key(KEY_F8, False)
        if activated is None:
            fail("the portal sent no Activated for the key")
        if seen is None:
            fail("no recording started after Activated")
        m = re.search(r"time=([0-9.]+)", activated[1])
        signal_time = float(m.group(1)) if m else activated[0]
        times.append((seen[0] - signal_time) * 1000)
        if next_event(streams, "remove") is None:
            fail("the cancelled recording did not stop")
        time.sleep(0.4)
    print(f"kde_key_to_recording: {statistics.median(times):.1f} ms (target <= 30 ms; the "
          f"portal's Activated to the capture stream open on KWin 5.27, median of {ROUNDS}, "
          f"slowest {max(times):.1f} ms)", flush=True)

    # The paste, into a GTK window on Wayland that has the focus.
    out_file = RUNTIME / "window.txt"
    subprocess.run([KDE_EXEC, f"NO_AT_BRIDGE=1 GDK_BACKEND=wayland /usr/bin/python3 "
                              f"{args.window} {out_file} 2>{RUNTIME}/window.err"], check=True)
    if not wait_until(lambda: window_ready(out_file), 30):
        fail("the GTK window did not get the focus")
    paste_figure(args.paste_bench, out_file, ["wl-copy", "--foreground", "--type", "text/plain",
                                              "contenido del usuario"], started)
finally:
    if keyboard:
        keyboard.close()
    if vozmo_pid:
        terminate(vozmo_pid)
    stop_all(started)
