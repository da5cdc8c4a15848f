#!/usr/bin/python3
"""KDE Plasma figures on a headless KDE session (run inside tests/kde/with-kde).

kde_key_to_recording: Vozmo started by the session with the stand-in servers; the bench presses
the dictation key through a RemoteDesktop session of its own, and times from the portal's
Activated signal (seen on the session bus by dbus-monitor) to the recorder's capture stream
appearing on the sound server. kde_paste: kde_paste_bench against a GTK window on Wayland.
Prints "name: value unit (target ...)" lines; exits 1 when a figure cannot be taken.
"""
import argparse
import json
import os
import pathlib
import queue
import re
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "kde"))
from portal_client import Portal, RemoteKeyboard  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--vozmo", required=True)
parser.add_argument("--standins", required=True, help="the stand-ins' bin folder")
parser.add_argument("--window", required=True, help="tests/wayland/text_window.py")
parser.add_argument("--paste-bench", required=True)
args = parser.parse_args()

RUNTIME = pathlib.Path(os.environ["VOZMO_KDE_RUNTIME"])
KDE_EXEC = os.environ["VOZMO_KDE_EXEC"]
KEY_F8 = 66
ROUNDS = 15
started = []


def fail(why):
    print(f"kde_bench: {why}", file=sys.stderr, flush=True)
    out = RUNTIME / "vozmo.out"
    if out.exists():
        print(out.read_text(errors="replace")[-3000:], file=sys.stderr)
    sys.exit(1)


def wait_until(predicate, seconds):
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


def read(path):
    try:
        return pathlib.Path(path).read_text(encoding="utf-8")
    except OSError:
        return ""


def watch(proc, pattern, kind_of, events):
    """Puts (wall time, kind) on `events` for every line of `proc` matching `pattern`."""
    for line in proc.stdout:
        if re.search(pattern, line):
            kind = kind_of(line)
            if kind:
                events.put((time.time(), kind, line))


def next_event(events, kind, seconds=10):
    deadline = time.monotonic() + seconds
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return None
        try:
            when, what, line = events.get(timeout=left)
        except queue.Empty:
            return None
        if what == kind:
            return when, line


def drain(events):
    while not events.empty():
        events.get()


# Vozmo set up as after a first run, started by the session.
config = RUNTIME / "config" / "Vozmo"
config.mkdir(parents=True, exist_ok=True)
(config / "prefs.json").write_text(json.dumps(
    {"setupShown": True, "hotkey": "fn", "language": "es", "polish": True, "sounds": False}))
models = RUNTIME / "data" / "Vozmo" / "models"
models.mkdir(parents=True, exist_ok=True)
for name, size in (("whisper.bin", 800_000_000), ("llm.gguf", 2_000_000_000)):
    with open(models / name, "wb") as f:
        f.truncate(size)
log_file = RUNTIME / "data" / "Vozmo" / "logs" / "app.log"
standin_dir = RUNTIME / "standin"
standin_dir.mkdir()
pid_file = RUNTIME / "vozmo.pid"
starter = RUNTIME / "start-vozmo"
starter.write_text("#!/bin/sh\n"
                   f"echo $$ > {pid_file}\n"
                   f"exec env PATH={args.standins}:/usr/bin:/bin VOZMO_STANDIN_DIR={standin_dir} "
                   f"{args.vozmo} >{RUNTIME}/vozmo.out 2>&1\n")
starter.chmod(0o755)

# Capture streams on the sound server, and the portal's Activated signals on the bus, each with
# the (wall clock) time it was seen; dbus-monitor stamps the signal with its own arrival time.
streams = queue.Queue()
pulse = subprocess.Popen(["pactl", "subscribe"], stdout=subprocess.PIPE, text=True)
started.append(pulse)
threading.Thread(target=watch, daemon=True, args=(
    pulse, "source-output",
    lambda line: "new" if "'new'" in line else "remove" if "'remove'" in line else None,
    streams)).start()
signals = queue.Queue()
bus = subprocess.Popen(["dbus-monitor", "--session", "type='signal',"
                        "interface='org.freedesktop.portal.GlobalShortcuts',member='Activated'"],
                       stdout=subprocess.PIPE, text=True)
started.append(bus)
threading.Thread(target=watch, daemon=True, args=(
    bus, r"member=Activated", lambda line: "activated", signals)).start()

instance_socket = RUNTIME / f"vozmo-{os.getuid()}.sock"
portal = Portal()
keyboard = None
vozmo_pid = None
try:
    subprocess.run([KDE_EXEC, str(starter)], check=True)
    if not wait_until(lambda: read(pid_file).strip() != "", 10):
        fail("Vozmo did not start")
    vozmo_pid = int(read(pid_file).strip())
    if not wait_until(lambda: instance_socket.exists() and port_open(8178) and port_open(8179),
                      60):
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
    if not wait_until(lambda: pathlib.Path(str(out_file) + ".ready").exists(), 30):
        fail("the GTK window did not get the focus")
    owner = subprocess.Popen(["wl-copy", "--foreground", "--type", "text/plain",
                              "contenido del usuario"])
    started.append(owner)
    time.sleep(0.5)
    if subprocess.run([args.paste_bench, str(out_file)]).returncode != 0:
        sys.exit(1)
finally:
    if keyboard:
        keyboard.close()
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
