#!/usr/bin/python3
"""Dictation on GNOME 43 on Wayland, as a user of Debian 12 or Ubuntu 24.04 meets it. Runs inside
tests/gnome/with-gnome.

GNOME 43 has no global-shortcuts portal: the dictation key is a custom shortcut of GNOME's
settings running `vozmo --key toggle` (F9 here, fired by GNOME's own settings daemon), and the
paste goes through the remote desktop portal, whose dialog the test answers through the
accessibility bus. Two runs of Vozmo:
- dialog allowed: the text lands in a GTK 3 window on Wayland and the user's clipboard comes back;
- dialog refused: nothing is typed, the text stays on the clipboard and the panel says so.
Quitting must leave no server behind.
"""
import os
import pathlib
import signal
import shutil
import subprocess
import sys
import time

from gnome_keys import MutterKeys
import portal_dialog

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
from session_util import (  # noqa: E402
    check, failures, first_run_account, port_open, read, session_args, session_processes, spoken,
    stop_all, wait_until, window_ready)

args = session_args()

RUNTIME = pathlib.Path(os.environ["VOZMO_GNOME_RUNTIME"])
EXPECTED = "Esto es una prueba de dictado."
USER_CLIPBOARD = "contenido del usuario ñ"
WINDOW_TITLE = "Vozmo Wayland target"
SHORTCUT = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/vozmo/"
started = []  # processes of ours, stopped by pid at the end


def start(argv, **kwargs):
    proc = subprocess.Popen(argv, **kwargs)
    started.append(proc)
    return proc


def clipboard():
    """The clipboard as X11 programs see it (XWayland hands GNOME's clipboard on both ways)."""
    out = subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True,
                         timeout=10)
    return out.stdout.decode("utf-8", "replace") if out.returncode == 0 else None


def panel_titles(prefix):
    """Ids of Vozmo's X11 windows whose title starts with `prefix` (the panel's title says what
    it shows)."""
    out = subprocess.run(["xdotool", "search", "--name", "^" + prefix], capture_output=True,
                         text=True, timeout=10)
    return out.stdout.split()


def focus_window(keys):
    """Back to the text window as a user would from the keyboard: Alt+Escape goes to the next
    window (the setup window opens at every start: GNOME has no tray)."""
    for _ in range(6):
        if portal_dialog.window_active(WINDOW_TITLE):
            return True
        keys.combo("Alt_L", "Escape")
        wait_until(lambda: portal_dialog.window_active(WINDOW_TITLE), 1)
    return portal_dialog.window_active(WINDOW_TITLE)


def gsettings(*argv):
    subprocess.run(["gsettings", "set", *argv], check=True, timeout=10)


support = first_run_account(RUNTIME, "ropt")
log_file = support / "logs" / "app.log"
out_file = RUNTIME / "window.txt"
speech_dir, speech = spoken(EXPECTED, "vozmo-gnome-speech-")
vozmo_env = dict(os.environ, PATH=f"{args.standins}:/usr/bin:/bin",
                 VOZMO_STANDIN_DIR=str(RUNTIME / "standin"))


def window_text():
    return read(out_file)


def run_vozmo(allow, keys):
    """One run of Vozmo: started, the portal's dialog answered, one dictation by the key.
    Returns the log's lines of this run."""
    log_start = log_file.stat().st_size if log_file.exists() else 0
    vozmo_out = open(RUNTIME / f"vozmo-{'allow' if allow else 'refuse'}.out", "w")
    vozmo = start([args.vozmo], env=vozmo_env, stdout=vozmo_out, stderr=subprocess.STDOUT)
    what = "allowed" if allow else "refused"
    try:
        socket_file = RUNTIME / f"vozmo-{os.getuid()}.sock"
        check(wait_until(lambda: socket_file.exists() and port_open(8178), 60),
              f"[{what}] Vozmo listens and its speech server answers")
        # The dialog is asked for at start, not in the middle of a dictation.
        answered = portal_dialog.answer(allow, 30)
        check(answered == "answered", f"[{what}] the remote desktop dialog is answered ({answered})")
        time.sleep(1.0)
        check(focus_window(keys),
              f"[{what}] the GTK window has the focus again (active: "
              f"{portal_dialog.active_windows()})")

        # The key as the user set it up in GNOME's settings: a tap starts, a tap ends.
        before = window_text()
        keys.tap("F9")
        time.sleep(0.6)
        subprocess.run(["paplay", "--device=vsink", str(speech)], timeout=30)
        time.sleep(0.3)
        keys.tap("F9")
        if allow:
            landed = wait_until(lambda: EXPECTED in window_text(), 60)
            check(landed, f"[{what}] the text lands in the Wayland window (it holds "
                          f"{window_text()!r})")
            came_back = wait_until(lambda: clipboard() == USER_CLIPBOARD, 10)
            check(came_back, f"[{what}] the user's clipboard comes back (it holds {clipboard()!r})")
        else:
            copied = wait_until(lambda: clipboard() == EXPECTED, 60)
            check(copied, f"[{what}] the text stays on the clipboard (it holds {clipboard()!r})")
            check(bool(panel_titles("Copiado")), f"[{what}] the panel says it was copied")
            check(window_text() == before,
                  f"[{what}] nothing is typed into the window ({window_text()!r})")
            # A refusal is an answer: asking again at once would put the dialog over the user's
            # work after every dictation.
            check(not portal_dialog.dialog_open(), f"[{what}] the dialog is not shown again")
    finally:
        vozmo.send_signal(signal.SIGTERM)
        try:
            vozmo.wait(timeout=20)
            check(True, f"[{what}] Vozmo quits on SIGTERM")
        except subprocess.TimeoutExpired:
            check(False, f"[{what}] Vozmo quits on SIGTERM")
            vozmo.kill()
            vozmo.wait()
        vozmo_out.close()
        left = session_processes(RUNTIME, "-server")
        check(not left and not port_open(8178) and not port_open(8179),
              f"[{what}] quitting leaves no server ({left})")
        for pid in left:
            os.kill(pid, signal.SIGKILL)
    log = log_file.read_bytes()[log_start:].decode("utf-8", "replace") if log_file.exists() else ""
    return log


try:
    # The dictation key exactly as the setup window tells a GNOME 43 user to add it.
    gsettings("org.gnome.settings-daemon.plugins.media-keys", "custom-keybindings",
              f"['{SHORTCUT}']")
    custom = f"org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:{SHORTCUT}"
    gsettings(custom, "name", "Vozmo")
    gsettings(custom, "command", f"{args.vozmo} --key toggle")
    gsettings(custom, "binding", "F9")
    start(["/usr/libexec/gsd-media-keys"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    start(["/usr/bin/python3", args.window, str(out_file)],
          env=dict(os.environ, GDK_BACKEND="wayland"), stderr=open(RUNTIME / "window.err", "w"))
    check(wait_until(lambda: window_ready(out_file), 30),
          "the GTK window on Wayland has the focus")
    # The user's clipboard, owned by another program.
    owner = start(["xclip", "-selection", "clipboard", "-loops", "0", "-quiet"],
                  stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    owner.stdin.write(USER_CLIPBOARD.encode())
    owner.stdin.close()
    check(wait_until(lambda: clipboard() == USER_CLIPBOARD, 10), "the user's clipboard is set")

    keys = MutterKeys()
    log = run_vozmo(True, keys)
    check("Tecla: orden vozmo --key" in log,
          "the GNOME custom shortcut is taken for the key before any key was pressed")
    check("Escritura: portal RemoteDesktop" in log, "the remote desktop portal types the paste")
    if failures:
        print("--- app.log (allowed)\n" + log, flush=True)

    failed_before = len(failures)
    log = run_vozmo(False, keys)
    if len(failures) > failed_before:
        print("--- app.log (refused)\n" + log, flush=True)
finally:
    stop_all(started)
    shutil.rmtree(speech_dir, ignore_errors=True)
    if failures:
        for name in sorted(RUNTIME.glob("*.out")) + [RUNTIME / "window.err"]:
            if name.exists():
                print(f"--- {name.name}\n" + name.read_text(errors="replace"), flush=True)

sys.exit(1 if failures else 0)
