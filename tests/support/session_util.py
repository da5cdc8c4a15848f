"""What the desktop session tests and benches share: reporting checks, waiting, Vozmo's account as
after a first run, starting it the way a session does, and stopping it and everything it
started.

Import it after putting this folder on sys.path:
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
"""
import argparse
import json
import os
import pathlib
import queue
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

SPEECH_PORT, POLISH_PORT = 8178, 8179
failures = []  # what failed, in order; the script exits 1 when it is not empty


def session_args(bench=False):
    """The command line every session script takes; a bench also names its paste bench."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--vozmo", required=True)
    parser.add_argument("--standins", required=True, help="the stand-ins' bin folder")
    parser.add_argument("--window", required=True, help="tests/wayland/text_window.py")
    if bench:
        parser.add_argument("--paste-bench", required=True)
    return parser.parse_args()


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def wait_until(predicate, seconds):
    """True as soon as `predicate` holds; after `seconds`, its last answer."""
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
    """The file's text, or "" while it does not exist."""
    try:
        return pathlib.Path(path).read_text(encoding="utf-8")
    except OSError:
        return ""


def pid_alive(pid):
    """Whether `pid` runs; a zombie, already gone but not yet reaped, does not."""
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    stat = pathlib.Path(f"/proc/{pid}/stat")
    try:
        return stat.read_text().split(")")[-1].split()[0] != "Z"
    except OSError:
        return False


def session_processes(runtime, word, by_environment=True):
    """Processes whose command line names `word` and that belong to the session living in
    `runtime`: their environment points into it or, with by_environment False, their command
    line names it (for processes of another user, whose environment root may not read)."""
    found = []
    for proc in pathlib.Path("/proc").iterdir():
        if not proc.name.isdigit():
            continue
        try:
            cmd = (proc / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace")
            mine = (f"={runtime}".encode() in (proc / "environ").read_bytes() if by_environment
                    else str(runtime) in cmd)
        except OSError:
            continue
        if word in cmd and mine:
            found.append(int(proc.name))
    return found


def sparse(path, size):
    """A file of `size` bytes that takes no room: a model as far as a size check can tell."""
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "wb") as f:
        f.truncate(size)


def first_run_account(runtime, hotkey):
    """The session's own XDG folders under `runtime`, set up as after a first run with the
    dictation key `hotkey` (a stored prefs.json value). Returns Vozmo's data folder."""
    config = runtime / "config" / "Vozmo" / "prefs.json"
    config.parent.mkdir(parents=True, exist_ok=True)
    config.write_text(json.dumps({"setupShown": True, "hotkey": hotkey, "language": "es",
                                  "polish": True, "sounds": False}))
    support = runtime / "data" / "Vozmo"
    sparse(support / "models" / "whisper.bin", 800_000_000)
    sparse(support / "models" / "llm.gguf", 2_000_000_000)
    (support / "diccionario.txt").write_text("")
    (runtime / "standin").mkdir(exist_ok=True)
    return support


def write_starter(runtime, vozmo, standins):
    """A script for the session to start Vozmo with, as its autostart would: the stand-in servers
    first on its PATH, its pid in runtime/vozmo.pid, its output in runtime/vozmo.out."""
    starter = runtime / "start-vozmo"
    starter.write_text(
        "#!/bin/sh\n"
        f"echo $$ > {runtime}/vozmo.pid\n"
        f"exec env PATH={standins}:/usr/bin:/bin VOZMO_STANDIN_DIR={runtime / 'standin'} "
        f"{vozmo} >{runtime}/vozmo.out 2>&1\n")
    starter.chmod(0o755)
    return starter


def launch(argv, runtime):
    """Runs `argv`, which has the session start the starter, and returns Vozmo's pid once the
    starter wrote it (None when it never did)."""
    subprocess.run(argv, check=True)
    return started_pid(runtime)


def started_pid(runtime, seconds=10):
    """The pid the starter wrote, once it has; None when it never did."""
    pid_file = runtime / "vozmo.pid"
    if not wait_until(lambda: read(pid_file).strip() != "", seconds):
        return None
    return int(read(pid_file).strip())


def instance_and_servers_up(instance_socket):
    """Whether Vozmo's instance socket and both its servers answer."""
    return instance_socket.exists() and port_open(SPEECH_PORT) and port_open(POLISH_PORT)


def window_ready(out_file):
    """Whether text_window.py, writing to `out_file`, has its window up and focused."""
    return pathlib.Path(str(out_file) + ".ready").exists()


def spoken(text, prefix):
    """`text` spoken in Spanish into a WAV file in a new temporary folder: (folder, file)."""
    folder = pathlib.Path(tempfile.mkdtemp(prefix=prefix))
    speech = folder / "speech.wav"
    subprocess.run(["espeak-ng", "-v", "es", "-w", str(speech), text], check=True)
    return folder, speech


def terminate(pid):
    """Sends SIGTERM; whether the process is gone within 20 s."""
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    return wait_until(lambda: not pid_alive(pid), 20)


def stop_vozmo(pid, runtime, by_environment=True):
    """Ends Vozmo with SIGTERM and checks that it quits and leaves no server behind; what is left
    anyway is killed, so the next test starts clean."""
    stopped = terminate(pid)
    check(stopped, "Vozmo quits on SIGTERM")
    if not stopped:
        os.kill(pid, signal.SIGKILL)
    left = session_processes(runtime, "-server", by_environment)
    check(not left and not port_open(SPEECH_PORT) and not port_open(POLISH_PORT),
          f"quitting leaves no server ({left})")
    for server in left:
        os.kill(server, signal.SIGKILL)


def stop_all(started):
    """Stops the processes of ours in `started`, newest first."""
    for proc in reversed(started):
        if proc.poll() is None:
            proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


# For the benches.

def bench_fail(name, runtime, why):
    """Says why a figure cannot be taken, with the end of Vozmo's output, and exits 1."""
    print(f"{name}: {why}", file=sys.stderr, flush=True)
    print(read(runtime / "vozmo.out")[-3000:], file=sys.stderr, flush=True)
    sys.exit(1)


def paste_figure(paste_bench, out_file, clipboard_owner, started):
    """Runs the paste bench against the window writing to `out_file` while `clipboard_owner`
    holds the user's clipboard; exits 1 when the bench does."""
    started.append(subprocess.Popen(clipboard_owner))
    time.sleep(0.5)
    if subprocess.run([paste_bench, str(out_file)]).returncode != 0:
        sys.exit(1)


def watch(proc, pattern, kind_of, events, clock=time.monotonic):
    """Puts (time, kind, line) on `events` for every line of `proc` matching `pattern` that
    kind_of names; run it on a thread of its own."""
    for line in proc.stdout:
        if re.search(pattern, line):
            kind = kind_of(line)
            if kind:
                events.put((clock(), kind, line))


def next_event(events, kind, seconds=10):
    """(time, line) of the next event of `kind`, passing over others; None after `seconds`."""
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


def capture_stream_kind(line):
    """"new" or "remove" for a capture stream line of `pactl subscribe`, else None."""
    return "new" if "'new'" in line else "remove" if "'remove'" in line else None
