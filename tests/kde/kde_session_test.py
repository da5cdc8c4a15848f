#!/usr/bin/python3
"""Dictation on KDE Plasma (KWin on Wayland with the real desktop portals), as a new user meets
it. Runs inside tests/kde/with-kde.

Vozmo is started by the session with the stand-in servers first on its PATH; it binds its key
through the GlobalShortcuts portal and types through a RemoteDesktop session. The test presses
keys through a RemoteDesktop session of its own, which goes through KWin's input handling as a
keyboard would: Escape must reach the GTK window on Wayland while no dictation runs, and the
dictation key held while a Spanish sentence plays (long enough for KWin to repeat Activated)
must be one dictation whose text lands in that window, after which the user's clipboard comes
back. Quitting must leave no server behind.
"""
import argparse
import os
import json
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from portal_client import Portal, RemoteKeyboard  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--vozmo", required=True)
parser.add_argument("--standins", required=True, help="the stand-ins' bin folder")
parser.add_argument("--window", required=True, help="tests/wayland/text_window.py")
args = parser.parse_args()

RUNTIME = pathlib.Path(os.environ["VOZMO_KDE_RUNTIME"])
KDE_EXEC = os.environ["VOZMO_KDE_EXEC"]
EXPECTED = "Esto es una prueba de dictado."
USER_CLIPBOARD = "contenido del usuario ñ"
# evdev key codes, as NotifyKeyboardKeycode takes them.
KEY_ESC, KEY_F8 = 1, 66
failures = []
started = []  # processes of ours, stopped by pid at the end


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def wait_until(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return predicate()


def port_open(port):
    import socket
    with socket.socket() as s:
        s.settimeout(0.2)
        return s.connect_ex(("127.0.0.1", port)) == 0


def read(path):
    try:
        return pathlib.Path(path).read_text(encoding="utf-8")
    except OSError:
        return ""


def clipboard():
    out = subprocess.run(["wl-paste", "-n"], capture_output=True, timeout=10)
    return out.stdout.decode("utf-8", "replace") if out.returncode == 0 else None


def pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    stat = pathlib.Path(f"/proc/{pid}/stat")
    return stat.exists() and stat.read_text().split(")")[-1].split()[0] != "Z"


def session_processes(word):
    """Processes of this session whose command line names `word`."""
    found = []
    for proc in pathlib.Path("/proc").iterdir():
        if not proc.name.isdigit():
            continue
        try:
            cmd = (proc / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace")
            env = (proc / "environ").read_bytes()
        except OSError:
            continue
        if word in cmd and f"={RUNTIME}".encode() in env:
            found.append(int(proc.name))
    return found


def sparse(path, size):
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "wb") as f:
        f.truncate(size)


# The account Vozmo runs in: the session's own XDG folders, set up as after a first run.
config = RUNTIME / "config" / "Vozmo" / "prefs.json"
config.parent.mkdir(parents=True, exist_ok=True)
config.write_text(json.dumps({"setupShown": True, "hotkey": "fn", "language": "es",
                              "polish": True, "sounds": False}))
support = RUNTIME / "data" / "Vozmo"
sparse(support / "models" / "whisper.bin", 800_000_000)
sparse(support / "models" / "llm.gguf", 2_000_000_000)
(support / "diccionario.txt").write_text("")
log_file = support / "logs" / "app.log"
standin_dir = RUNTIME / "standin"
standin_dir.mkdir()
out_file = RUNTIME / "window.txt"
keys_file = RUNTIME / "window.txt.keys"
pid_file = RUNTIME / "vozmo.pid"
starter = RUNTIME / "start-vozmo"
starter.write_text(
    "#!/bin/sh\n"
    f"echo $$ > {pid_file}\n"
    f"exec env PATH={args.standins}:/usr/bin:/bin VOZMO_STANDIN_DIR={standin_dir} "
    f"{args.vozmo} >{RUNTIME}/vozmo.out 2>&1\n")
starter.chmod(0o755)

speech_dir = pathlib.Path(tempfile.mkdtemp(prefix="vozmo-kde-speech-"))
speech = speech_dir / "speech.wav"
subprocess.run(["espeak-ng", "-v", "es", "-w", str(speech), EXPECTED], check=True)

portal = Portal()
keyboard = None
vozmo_pid = None
try:
    # Vozmo as the session's autostart starts it.
    subprocess.run([KDE_EXEC, str(starter)], check=True)
    check(wait_until(lambda: read(pid_file).strip() != "", 10), "the session starts Vozmo")
    vozmo_pid = int(read(pid_file).strip())
    check(wait_until(lambda: port_open(8178), 60), "Vozmo's speech server answers")
    check(wait_until(lambda: "Tecla de dictado: atajo global del portal del escritorio, F8"
                     in read(log_file), 20),
          "the desktop reports F8 as the dictation key")
    check(wait_until(lambda: "Pegado: teclas a través del portal del escritorio" in
                     read(log_file), 20),
          "the remote desktop session is open at start, before any dictation")

    keyboard = RemoteKeyboard(portal)
    subprocess.run([KDE_EXEC, f"NO_AT_BRIDGE=1 GDK_BACKEND=wayland /usr/bin/python3 "
                              f"{args.window} {out_file} 2>{RUNTIME}/window.err"], check=True)
    check(wait_until(lambda: pathlib.Path(str(out_file) + ".ready").exists(), 30),
          "the GTK window on Wayland has the focus")

    # Escape belongs to the applications: no global shortcut takes it.
    keyboard.key(KEY_ESC, True)
    keyboard.key(KEY_ESC, False)
    check(wait_until(lambda: "Escape" in read(keys_file).split(), 5),
          f"Escape reaches the window while no dictation runs (it saw {read(keys_file).split()})")

    owner = subprocess.Popen(["wl-copy", "--foreground", "--type", "text/plain",
                              USER_CLIPBOARD])
    started.append(owner)
    check(wait_until(lambda: clipboard() == USER_CLIPBOARD, 10), "the user's clipboard is set")
    time.sleep(1.0)  # the panel's start-up message and the servers settle

    # Push-to-talk, held for over 3 s: KWin repeats Activated from 660 ms on.
    keyboard.key(KEY_F8, True)
    time.sleep(0.4)
    subprocess.run(["paplay", "--device=vsink", str(speech)], timeout=30)
    time.sleep(0.3)
    keyboard.key(KEY_F8, False)

    landed = wait_until(lambda: EXPECTED in read(out_file), 60)
    check(landed, f"the text lands in the Wayland window (it holds {read(out_file)!r})")
    came_back = wait_until(lambda: clipboard() == USER_CLIPBOARD, 10)
    check(came_back, f"the user's clipboard comes back (it holds {clipboard()!r})")
    log = read(log_file)
    dictations = [line for line in log.splitlines() if "Dictado " in line]
    check(len(dictations) == 1, f"a held key is one dictation ({len(dictations)} in the log)")
    check("Escritura: portal RemoteDesktop" in log, "the RemoteDesktop portal types the paste")
    check("Accesibilidad: true" in log or "Tecla y pegado: true" in log,
          "Vozmo says at start that it can listen and type")
    if failures:
        print("--- app.log\n" + log, flush=True)
        print("--- keys the window received\n" + read(keys_file), flush=True)
finally:
    if keyboard:
        keyboard.close()
    if vozmo_pid:
        try:
            os.kill(vozmo_pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        stopped = wait_until(lambda: not pid_alive(vozmo_pid), 20)
        check(stopped, "Vozmo quits on SIGTERM")
        if not stopped:
            os.kill(vozmo_pid, signal.SIGKILL)
        left = session_processes("-server")
        check(not left and not port_open(8178) and not port_open(8179),
              f"quitting leaves no server ({left})")
        for pid in left:
            os.kill(pid, signal.SIGKILL)
    for proc in started:
        if proc.poll() is None:
            proc.terminate()
        proc.wait(timeout=10)
    shutil.rmtree(speech_dir, ignore_errors=True)
    if failures:
        for name in ("window.err", "vozmo.out", "portal-kde.log", "portal.log"):
            text = read(RUNTIME / name)
            if text:
                print(f"--- {name}\n" + text[-4000:], flush=True)

sys.exit(1 if failures else 0)
