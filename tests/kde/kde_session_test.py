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
import os
import pathlib
import shutil
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path[:0] = [str(HERE), str(HERE.parent / "support")]
from portal_client import Portal, RemoteKeyboard  # noqa: E402
from session_util import (  # noqa: E402
    check, failures, first_run_account, launch, port_open, read, session_args, spoken, stop_all,
    stop_vozmo, wait_until, window_ready, write_starter)

args = session_args()

RUNTIME = pathlib.Path(os.environ["VOZMO_KDE_RUNTIME"])
KDE_EXEC = os.environ["VOZMO_KDE_EXEC"]
EXPECTED = "Esto es una prueba de dictado."
USER_CLIPBOARD = "contenido del usuario ñ"
# evdev key codes, as NotifyKeyboardKeycode takes them.
KEY_ESC, KEY_F8 = 1, 66
started = []  # processes of ours, stopped by pid at the end


def clipboard():
    out = subprocess.run(["wl-paste", "-n"], capture_output=True, timeout=10)
    return out.stdout.decode("utf-8", "replace") if out.returncode == 0 else None


support = first_run_account(RUNTIME, "fn")
log_file = support / "logs" / "app.log"
out_file = RUNTIME / "window.txt"
keys_file = RUNTIME / "window.txt.keys"
starter = write_starter(RUNTIME, args.vozmo, args.standins)
speech_dir, speech = spoken(EXPECTED, "vozmo-kde-speech-")

portal = Portal()
keyboard = None
vozmo_pid = None
try:
    # Vozmo as the session's autostart starts it.
    vozmo_pid = launch([KDE_EXEC, str(starter)], RUNTIME)
    check(vozmo_pid is not None, "the session starts Vozmo")
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
    check(wait_until(lambda: window_ready(out_file), 30),
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
        stop_vozmo(vozmo_pid, RUNTIME)
    stop_all(started)
    shutil.rmtree(speech_dir, ignore_errors=True)
    if failures:
        for name in ("window.err", "vozmo.out", "portal-kde.log", "portal.log"):
            text = read(RUNTIME / name)
            if text:
                print(f"--- {name}\n" + text[-4000:], flush=True)

sys.exit(1 if failures else 0)
