"""Stand-ins for whisper-server and llama-server, run as real HTTP servers by the tests.

They accept only the exact command lines the application uses, bind 127.0.0.1 on the port of
that command line and answer like the real servers. A test steers them through a JSON file in
the folder named by VOZMO_STANDIN_DIR (whisper.json / llama.json), read again on every request,
and reads back what they received in whisper.record.jsonl / llama.record.jsonl in the same
folder (one JSON object per line). README.md beside this file lists every key.
"""

import base64
import json
import math
import os
import signal
import socket
import struct
import sys
import threading
import time
import warnings
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

try:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        import audioop  # C speed for the tone words; gone from Python 3.13 on
except ImportError:
    audioop = None

KINDS = {
    "whisper": {
        "executable": "whisper-server",
        "probe_path": "/",
        "work_path": "/inference",
        "port_env": "VOZMO_STANDIN_WHISPER_PORT",
    },
    "llama": {
        "executable": "llama-server",
        "probe_path": "/health",
        "work_path": "/v1/chat/completions",
        "port_env": "VOZMO_STANDIN_LLAMA_PORT",
    },
}

WHISPER_USAGE = """
usage: whisper-server [options]

options:
  -h,        --help              [default] show this help message and exit
  -t N,      --threads N         [4      ] number of threads to use during computation
  -l LANG,   --language LANG     [en     ] spoken language ('auto' for auto-detect)
  -m FNAME,  --model FNAME       [models/ggml-base.en.bin] model path
  --host HOST,                   [127.0.0.1] Hostname/ip-adress for the server
  --port PORT,                   [8080   ] Port number for the server
"""

DEFAULT_TRANSCRIPT = " Esto es una prueba de dictado.\n"
DEFAULT_ANSWER = "Esto es una prueba de dictado."


# What llama-server answers without its key.
PUBLIC_PATHS = ("/", "/health", "/v1/health", "/models", "/v1/models", "/api/tags")


def expected_args(kind, argv):
    """The command line the application passes; model path, port and thread count are taken
    from argv (tests use their own folders and free ports) and checked separately."""
    model = argv[1] if len(argv) > 1 else ""
    port = argv[5] if len(argv) > 5 else ""
    threads = argv[7] if len(argv) > 7 else ""
    if kind == "whisper":
        return ["-m", model, "--host", "127.0.0.1", "--port", port, "-t", threads, "-l", "es"]
    return ["-m", model, "--host", "127.0.0.1", "--port", port, "-t", threads, "-ngl", "99",
            "-c", "4096", "-np", "1", "--jinja"]


def valid_numbers(argv):
    """The port and the thread count are positive decimal numbers."""
    return (len(argv) > 7 and argv[5].isdigit() and argv[7].isdigit() and int(argv[7]) > 0)


FULL_WINDOW = 1500  # whisper-server's encoder window: 30 s at 50 frames per second
WINDOW_SECONDS = 30.0

# Tone words: the n-th word of `tone_words` is a tone of TONE_BASE + n * TONE_STEP Hz.
TONE_BASE = 400.0
TONE_STEP = 150.0
TONE_FRAME = 320  # 20 ms at 16 kHz
TONE_LEVEL = 300  # RMS in 16-bit units (-40 dBFS): quieter frames are gaps
CHARACTERS_PER_TOKEN = 3.5


def chat_prompt(messages):
    """The prompt text a Qwen3 chat template would make of the messages, up to the start of a
    non-thinking answer: what the stand-in counts tokens and cache hits on."""
    text = ""
    if isinstance(messages, list):
        for message in messages:
            if isinstance(message, dict):
                text += f"<|im_start|>{message.get('role')}\n{message.get('content')}<|im_end|>\n"
    return text + "<|im_start|>assistant\n<think>\n\n</think>\n\n"


def tokens(characters):
    return max(1, round(characters / CHARACTERS_PER_TOKEN))


def common_prefix(a, b):
    n = 0
    for x, y in zip(a, b):
        if x != y:
            break
        n += 1
    return n


def number(value):
    """value when it is a real number (not a boolean), else None."""
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return value
    return None


def sleep_for(seconds):
    seconds = number(seconds)
    if seconds is not None and seconds > 0:
        time.sleep(seconds)


class Standin:
    def __init__(self, kind, argv):
        self.kind = kind
        self.info = KINDS[kind]
        self.argv = argv
        self.dir = os.environ.get("VOZMO_STANDIN_DIR", "")
        self.lock = threading.Lock()  # the counters
        self.serial = threading.Lock()  # the real servers handle one request at a time
        self.work_count = 0
        self.probe_count = 0
        self.bound_at = None
        self.loading = False
        self.answer_list = None  # the list of answers in use and how many were given
        self.answers_given = 0
        self.audio_ctx = 0  # whisper-server keeps a request's audio_ctx for later ones
        self.cached_prompt = ""  # llama-server's evaluated prompt, reused by the next request
        # llama-server takes a key from its environment; then every request but the public
        # ones must carry it.
        self.api_key = os.environ.get("LLAMA_API_KEY", "") if kind == "llama" else ""

    # ----- behaviour and record -----

    def config(self):
        if not self.dir:
            return {}
        try:
            with open(os.path.join(self.dir, self.kind + ".json"), encoding="utf-8") as f:
                value = json.load(f)
            return value if isinstance(value, dict) else {}
        except (OSError, ValueError):
            return {}

    def record(self, entry):
        if not self.dir:
            return
        entry = dict(entry)
        entry.setdefault("pid", os.getpid())
        entry["time"] = time.time()
        line = (json.dumps(entry, ensure_ascii=False) + "\n").encode("utf-8")
        path = os.path.join(self.dir, self.kind + ".record.jsonl")
        # One O_APPEND write per line keeps lines whole without a lock; a lock here could
        # deadlock the SIGTERM handler, which runs on the main thread between any two steps.
        fd = os.open(path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
        try:
            os.write(fd, line)
        finally:
            os.close(fd)

    def die(self, reason, code, signal_name):
        """Ends the process now: by the named signal when one is given (a crash), otherwise
        with the exit code."""
        self.record({"event": "exit", "reason": reason})
        sys.stdout.flush()
        sys.stderr.flush()
        if signal_name is True:
            signal_name = "ABRT"
        if isinstance(signal_name, str) and hasattr(signal, "SIG" + signal_name.upper()):
            signum = getattr(signal, "SIG" + signal_name.upper())
            # SIGKILL and SIGSTOP take no handler: setting one raises, and the process lived on.
            if signum not in (signal.SIGKILL, signal.SIGSTOP):
                signal.signal(signum, signal.SIG_DFL)
            os.kill(os.getpid(), signum)
            time.sleep(5)
        os._exit(code if isinstance(code, int) and not isinstance(code, bool) else 1)

    # ----- start-up -----

    def run(self):
        cfg = self.config()
        launch = 1 + self.count_starts()
        self.record({"event": "start", "argv": [self.info["executable"]] + self.argv,
                     "ppid": os.getppid(), "launch": launch, "nice": os.nice(0)})
        if self.argv != expected_args(self.kind, self.argv) or not valid_numbers(self.argv):
            self.record({"event": "refused_arguments"})
            if self.kind == "whisper":
                # whisper-server prints its usage for an unknown flag and exits with status 0
                print("error: unknown argument", file=sys.stderr)
                print(WHISPER_USAGE, flush=True)
                os._exit(0)
            print("error: invalid argument", file=sys.stderr, flush=True)
            os._exit(1)
        port = int(self.argv[5])
        override = os.environ.get(self.info["port_env"], "")
        if override.isdigit():
            port = int(override)
        model = self.argv[1]

        launches = number(cfg.get("at_start_launches"))
        if launches is None or launch <= launches:
            if cfg.get("crash_at_start"):
                self.die("crash_at_start", 1, cfg["crash_at_start"])
            if "exit_at_start" in cfg:
                self.die("exit_at_start", cfg["exit_at_start"], None)

        sleep_for(cfg.get("bind_delay"))
        if self.kind == "whisper":
            # whisper-server loads its model before it opens the port
            self.check_model(model)
            # Loaded: from here on SIGTERM ends the process cleanly (before, it dies at once).
            signal.signal(signal.SIGTERM, self.on_term)
            server = self.bind(port)
        else:
            # llama-server opens the port first and answers 503 while the model loads
            self.loading = True
            server = self.bind(port)
            self.serve_in_background(server)
            sleep_for(cfg.get("loading_seconds"))
            self.check_model(model)
            signal.signal(signal.SIGTERM, self.on_term)
            self.loading = False
        self.record({"event": "listening", "port": port})
        print(f"listening on 127.0.0.1:{port}", file=sys.stderr, flush=True)
        if self.kind == "whisper":
            self.serve_in_background(server)
        while True:
            time.sleep(3600)

    @staticmethod
    def serve_in_background(server):
        # The serving thread, and every request thread it starts, blocks SIGTERM so the kernel
        # hands it to the main thread, the only one where Python runs signal handlers.
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})
        threading.Thread(target=server.serve_forever, daemon=True).start()
        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGTERM})

    def count_starts(self):
        """How many stand-ins of this kind have started with this folder before."""
        if not self.dir:
            return 0
        try:
            with open(os.path.join(self.dir, self.kind + ".record.jsonl"), "rb") as f:
                return sum(1 for line in f if line.startswith(b'{"event": "start"'))
        except OSError:
            return 0

    def check_model(self, model):
        if not os.path.isfile(model):
            print(f"error: failed to load model '{model}'", file=sys.stderr, flush=True)
            self.record({"event": "model_missing", "model": model})
            os._exit(1)

    def next_in_list(self, answers):
        """Position of the next answer of a list; a list different from the last one used
        starts again from its first entry."""
        with self.lock:
            if answers != self.answer_list:
                self.answer_list = answers
                self.answers_given = 0
            self.answers_given += 1
            return self.answers_given - 1

    def on_term(self, signum, frame):
        self.record({"event": "exit", "reason": "SIGTERM"})
        os._exit(0)

    def bind(self, port):
        owner = self

        class Handler(StandinHandler):
            standin = owner

        server = ThreadingHTTPServer(("127.0.0.1", port), Handler, bind_and_activate=False)
        server.daemon_threads = True
        server.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            server.server_bind()
            server.server_activate()
        except OSError as error:
            print(f"error: couldn't bind to 127.0.0.1:{port}: {error}", file=sys.stderr,
                  flush=True)
            self.record({"event": "bind_failed", "port": port, "error": str(error)})
            os._exit(1)
        self.bound_at = time.monotonic()
        return server


def parse_multipart(body, content_type):
    """(text fields, file part, part names in order), or None when the body is malformed."""
    boundary = None
    for piece in content_type.split(";"):
        piece = piece.strip()
        if piece.lower().startswith("boundary="):
            boundary = piece[len("boundary="):].strip('"')
    if not content_type.lower().startswith("multipart/form-data") or not boundary:
        return None
    delimiter = b"--" + boundary.encode("latin-1")
    if not body.startswith(delimiter):
        return None
    fields, file, names = {}, None, []
    position = len(delimiter)
    while True:
        if body.startswith(b"--", position):
            break  # the closing delimiter
        if not body.startswith(b"\r\n", position):
            return None
        header_end = body.find(b"\r\n\r\n", position + 2)
        if header_end < 0:
            return None
        headers = {}
        for line in body[position + 2:header_end].split(b"\r\n"):
            name, _, value = line.decode("utf-8", "replace").partition(":")
            headers[name.strip().lower()] = value.strip()
        content_start = header_end + 4
        content_end = body.find(b"\r\n" + delimiter, content_start)
        if content_end < 0:
            return None
        content = body[content_start:content_end]
        disposition = {}
        for item in headers.get("content-disposition", "").split(";")[1:]:
            key, _, value = item.strip().partition("=")
            disposition[key] = value.strip('"')
        name = disposition.get("name", "")
        names.append(name)
        if "filename" in disposition:
            if name == "file":
                file = {"filename": disposition["filename"],
                        "content_type": headers.get("content-type", ""), "data": content}
        else:
            fields[name] = content.decode("utf-8", "replace")
        position = content_end + 2 + len(delimiter)
    return fields, file, names


def wav_facts(data):
    """The header facts of a RIFF/WAVE file, or None when it is not one."""
    if len(data) < 12 or data[0:4] != b"RIFF" or data[8:12] != b"WAVE":
        return None
    facts = {"riff_size": struct.unpack_from("<I", data, 4)[0], "size": len(data), "chunks": []}
    position = 12
    while position + 8 <= len(data):
        chunk_id = data[position:position + 4].decode("latin-1")
        chunk_size = struct.unpack_from("<I", data, position + 4)[0]
        facts["chunks"].append(chunk_id)
        body = position + 8
        if chunk_id == "fmt " and chunk_size >= 16 and body + 16 <= len(data):
            (facts["audio_format"], facts["channels"], facts["sample_rate"], facts["byte_rate"],
             facts["block_align"], facts["bits_per_sample"]) = struct.unpack_from(
                 "<HHIIHH", data, body)
        if chunk_id == "data":
            facts["data_offset"] = body
            facts["data_size"] = chunk_size
            facts["data_present"] = len(data) - body
            break
        position = body + chunk_size + (chunk_size & 1)
    return facts


def acceptable_wav(facts):
    return (facts is not None and facts.get("audio_format") == 1
            and facts.get("channels") == 1 and facts.get("sample_rate") == 16000
            and facts.get("bits_per_sample") == 16 and "data_size" in facts
            and facts["data_present"] >= facts["data_size"])


def frame_facts(frame):
    """(RMS, zero crossings) of 16-bit little-endian mono samples."""
    if audioop is not None:
        return audioop.rms(frame, 2), audioop.cross(frame, 2)
    values = struct.unpack("<%dh" % (len(frame) // 2), frame)
    rms = math.sqrt(sum(v * v for v in values) / max(1, len(values)))
    crossings = sum(1 for a, b in zip(values, values[1:]) if (a < 0) != (b < 0))
    return rms, crossings


def tone_transcript(pcm, words):
    """The words whose tones the audio holds, in order: a run of loud 20 ms frames is one word,
    named by the pitch most of its frames have. A tone cut in two is heard as two words, and a
    part of the audio sent twice or never shows up as a word too many or too few."""
    heard = []
    run = []

    def close_run():
        if len(run) >= 2:  # 40 ms: shorter is a click, not a word
            counts = {}
            for index in run:
                counts[index] = counts.get(index, 0) + 1
            heard.append(max(counts, key=counts.get))
        run.clear()

    seconds_per_frame = TONE_FRAME / 16000.0
    for start in range(0, len(pcm) - 2 * TONE_FRAME + 1, 2 * TONE_FRAME):
        rms, crossings = frame_facts(pcm[start:start + 2 * TONE_FRAME])
        if rms < TONE_LEVEL:
            close_run()
            continue
        pitch = crossings / 2.0 / seconds_per_frame
        index = int(round((pitch - TONE_BASE) / TONE_STEP))
        if 0 <= index < len(words):
            run.append(index)
    close_run()
    return "".join(" " + words[i] for i in heard) + ("\n" if heard else "")


def pick_answer(cfg, key, list_key, index, match_text):
    """The configured answer as (found, value): the first rule whose "match" occurs in
    match_text, else the next entry of the list (index(list) says which; its last entry
    repeats), else the single value."""
    rules = cfg.get("rules")
    if isinstance(rules, list) and isinstance(match_text, str):
        for rule in rules:
            if (isinstance(rule, dict) and isinstance(rule.get("match"), str)
                    and rule["match"] in match_text and key in rule):
                return True, rule[key]
    answers = cfg.get(list_key)
    if isinstance(answers, list) and answers:
        return True, answers[min(index(answers), len(answers) - 1)]
    if key in cfg:
        return True, cfg[key]
    return False, None


class StandinHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "standin"
    standin = None

    def log_message(self, format, *args):
        sys.stderr.write("%s %s\n" % (self.command, format % args))

    def do_GET(self):
        self.handle_request()

    def do_POST(self):
        self.handle_request()

    def handle_request(self):
        owner = self.standin
        began = time.time()
        self.transcript = None  # one handler serves every request of a kept-alive connection
        cfg = owner.config()
        try:
            length = int(self.headers.get("Content-Length") or 0)
        except ValueError:
            length = 0
        body = self.rfile.read(length) if length > 0 else b""
        path = self.path.split("?", 1)[0]
        entry = {"event": "request", "method": self.command, "path": self.path,
                 "headers": [[k, v] for k, v in self.headers.items()], "body_size": len(body)}
        if cfg.get("record_bodies", True):
            entry["body_base64"] = base64.b64encode(body).decode("ascii")

        if path == owner.info["probe_path"] and self.command == "GET":
            with owner.lock:
                owner.probe_count += 1
                count = owner.probe_count
            entry["probe_number"] = count
            owner.record(entry)
            sleep_for(cfg.get("probe_delay"))
            self.answer_probe(cfg, count)
            return

        if owner.loading:
            owner.record(entry)
            self.send_loading()
            return

        if owner.api_key and path not in PUBLIC_PATHS and \
                self.headers.get("Authorization", "") != "Bearer " + owner.api_key:
            entry["refused"] = "api_key"
            owner.record(entry)
            self.send_error_json(401, "Invalid API Key", "authentication_error")
            return

        if path != owner.info["work_path"] or self.command != "POST":
            owner.record(entry)
            self.send_not_found(path)
            return

        with owner.serial:
            with owner.lock:
                owner.work_count += 1
                count = owner.work_count
            entry["request_number"] = count
            if owner.kind == "whisper":
                self.handle_inference(cfg, body, entry, count)
            else:
                self.handle_completion(cfg, body, entry, count)
            # The stand-in's own share of the exchange, which benchmarks take off their figures,
            # and the transcript it gave, so that a test can tell which piece lost a word.
            answered = {"event": "answered", "request_number": count,
                        "seconds": time.time() - began}
            if getattr(self, "transcript", None) is not None:
                answered["text"] = self.transcript
            owner.record(answered)
            after = cfg.get("exit_after_requests")
            if isinstance(after, int) and count >= after:
                owner.die("exit_after_requests", cfg.get("exit_code", 0), cfg.get("exit_signal"))

    # ----- answers -----

    def send(self, status, body, content_type):
        if isinstance(body, str):
            body = body.encode("utf-8")
        try:
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Access-Control-Allow-Origin", "*")
            self.end_headers()
            self.wfile.write(body)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up (its time limit); nothing to answer

    def send_json(self, status, value):
        self.send(status, json.dumps(value, ensure_ascii=False), "application/json; charset=utf-8")

    def send_error_json(self, status, message, kind):
        self.send_json(status, {"error": {"code": status, "message": message, "type": kind}})

    def send_not_found(self, path):
        if self.standin.kind == "whisper":
            self.send(404, f"File Not Found ({path})", "text/plain")
        else:
            self.send_error_json(404, "File Not Found", "not_found_error")

    def send_loading(self):
        self.send_json(503, {"error": {"message": "Loading model", "type": "unavailable_error",
                                       "code": 503}})

    def probe_override(self, cfg, count):
        """The configured probe status while it applies (for the first probe_status_count
        probes and/or the first probe_status_seconds after binding), else None."""
        status = cfg.get("probe_status")
        if not isinstance(status, int) or isinstance(status, bool):
            return None
        probes = number(cfg.get("probe_status_count"))
        seconds = number(cfg.get("probe_status_seconds"))
        if probes is not None and count > probes:
            return None
        if seconds is not None:
            elapsed = time.monotonic() - (self.standin.bound_at or time.monotonic())
            if elapsed >= seconds:
                return None
        return status

    def answer_probe(self, cfg, count):
        owner = self.standin
        status = self.probe_override(cfg, count)
        if owner.loading or (owner.kind == "llama" and status == 503):
            self.send_loading()
        elif status is not None and status != 200:
            if owner.kind == "whisper":
                self.send(status, f"File Not Found ({self.path})", "text/plain")
            else:
                self.send_error_json(status, "error", "server_error")
        elif owner.kind == "whisper":
            self.send(200, "<html><head><title>Whisper.cpp Server</title></head>"
                      "<body><h1>Whisper.cpp Server</h1></body></html>",
                      "text/html; charset=utf-8")
        else:
            self.send_json(200, {"status": "ok"})

    def common_answer(self, cfg, entry):
        """Records the request, then applies what both servers share: dying mid-request, the
        delay, a forced status or raw body. True when the answer has been sent."""
        owner = self.standin
        owner.record(entry)
        die_on = cfg.get("exit_during_request")
        if isinstance(die_on, int) and entry["request_number"] >= die_on:
            owner.die("exit_during_request", cfg.get("exit_code", 1), cfg.get("exit_signal"))
        sleep_for(cfg.get("delay"))
        status = cfg.get("status", 200)
        if not isinstance(status, int) or isinstance(status, bool):
            status = 200
        if "body" in cfg:
            body = cfg["body"]
            if not isinstance(body, str):
                body = json.dumps(body, ensure_ascii=False)
            self.send(status, body, cfg.get("content_type", "application/json"))
            return True
        if status == 200:
            return False
        if owner.kind == "whisper":
            # whisper-server rewrites every 4xx body to plain text
            if status == 400:
                self.send(status, "Invalid request", "text/plain")
            elif 400 <= status < 500:
                self.send(status, f"File Not Found ({self.path})", "text/plain")
            else:
                self.send_json(status, {"error": "failed to process audio file"})
        else:
            self.send_error_json(status, "error", "server_error" if status >= 500
                                 else "invalid_request_error")
        return True

    def handle_inference(self, cfg, body, entry, count):
        parsed = parse_multipart(body, self.headers.get("Content-Type", ""))
        facts = None
        if parsed is not None:
            fields, file, names = parsed
            entry["fields"] = fields
            entry["parts"] = names
            if file is not None:
                facts = wav_facts(file["data"])
                entry["file"] = {"filename": file["filename"],
                                 "content_type": file["content_type"],
                                 "size": len(file["data"])}
                entry["wav"] = facts
        else:
            entry["multipart_error"] = True
        if not (parsed is not None and parsed[1] is not None and acceptable_wav(facts)):
            entry["refused"] = "Invalid request"
            self.standin.record(entry)
            self.send(400, "Invalid request", "text/plain")
            return
        if self.common_answer(cfg, entry):
            return
        began = time.monotonic()
        data = parsed[1]["data"][facts["data_offset"]:facts["data_offset"] + facts["data_size"]]
        words = cfg.get("tone_words")
        if isinstance(words, list) and words:
            found, text = True, tone_transcript(data, [str(w) for w in words])
        else:
            found, text = pick_answer(cfg, "text", "texts", self.standin.next_in_list,
                                      parsed[0].get("prompt"))
        audio_seconds = len(data) / 2 / 16000.0
        self.encode(cfg, parsed[0].get("audio_ctx"), audio_seconds, time.monotonic() - began)
        self.transcript = text if found else DEFAULT_TRANSCRIPT
        self.send_json(200, {"text": self.transcript})

    def encode(self, cfg, audio_ctx, audio_seconds, spent):
        """The encoder's time: proportional to the window, `window_seconds` for the full one,
        once for every 30 s of audio; `spent` seconds of it have passed already. A request
        without audio_ctx uses the one in force, as whisper-server does."""
        owner = self.standin
        if audio_ctx is not None:
            try:
                owner.audio_ctx = int(audio_ctx)
            except ValueError:
                pass
        window = owner.audio_ctx if 0 < owner.audio_ctx <= FULL_WINDOW else FULL_WINDOW
        full = number(cfg.get("window_seconds"))
        if full is not None and full > 0:
            windows = max(1, math.ceil(audio_seconds / WINDOW_SECONDS - 1e-9))
            time.sleep(max(0.0, windows * full * window / FULL_WINDOW - spent))

    def generate(self, cfg, messages, content):
        """Prompt evaluation beyond the cached prefix and generation of the answer, at the
        configured speeds; the `timings` object of the answer."""
        owner = self.standin
        prompt = chat_prompt(messages)
        cached = common_prefix(prompt, owner.cached_prompt)
        owner.cached_prompt = prompt
        prompt_n = tokens(len(prompt) - cached)
        predicted_n = tokens(len(content)) if isinstance(content, str) else 1
        prompt_speed = number(cfg.get("prompt_per_second"))
        predicted_speed = number(cfg.get("predicted_per_second"))
        if prompt_speed and prompt_speed > 0 and predicted_speed and predicted_speed > 0:
            prompt_ms = 1000.0 * prompt_n / prompt_speed
            predicted_ms = 1000.0 * predicted_n / predicted_speed
            time.sleep((prompt_ms + predicted_ms) / 1000.0)
        else:
            prompt_ms, predicted_ms = 1.0, 1.0
        return {"cache_n": tokens(cached) if cached else 0,
                "prompt_n": prompt_n, "prompt_ms": prompt_ms,
                "prompt_per_second": 1000.0 * prompt_n / prompt_ms,
                "predicted_n": predicted_n, "predicted_ms": predicted_ms,
                "predicted_per_second": 1000.0 * predicted_n / predicted_ms}

    def handle_completion(self, cfg, body, entry, count):
        try:
            request = json.loads(body.decode("utf-8"))
        except (UnicodeDecodeError, ValueError):
            request = None
        entry["json"] = request
        if not isinstance(request, dict):
            self.standin.record(entry)
            # llama-server answers a body that is not JSON with 500, not 400
            self.send_error_json(500, "invalid JSON", "server_error")
            return
        if self.common_answer(cfg, entry):
            return
        last_user = None
        messages = request.get("messages")
        if isinstance(messages, list):
            for message in messages:
                if isinstance(message, dict) and message.get("role") == "user":
                    last_user = message.get("content")
        found, content = pick_answer(cfg, "content", "contents", self.standin.next_in_list,
                                     last_user)
        if not found:
            content = DEFAULT_ANSWER
        message = {"role": "assistant", "content": content}
        if "reasoning_content" in cfg:
            message["reasoning_content"] = cfg["reasoning_content"]
        choice = {"finish_reason": cfg.get("finish_reason", "stop"), "index": 0,
                  "message": message}
        if choice["finish_reason"] is None:
            del choice["finish_reason"]
        timings = self.generate(cfg, messages, content)
        self.send_json(200, {
            "choices": [choice],
            "created": int(time.time()),
            "model": "standin.gguf",
            "system_fingerprint": "standin",
            "object": "chat.completion",
            "usage": {"completion_tokens": timings["predicted_n"],
                      "prompt_tokens": timings["prompt_n"] + timings["cache_n"],
                      "total_tokens": timings["prompt_n"] + timings["cache_n"]
                      + timings["predicted_n"]},
            "id": f"chatcmpl-standin{os.getpid()}x{count}",
            "timings": timings,
        })


def main(kind):
    Standin(kind, sys.argv[1:]).run()
