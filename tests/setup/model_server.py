#!/usr/bin/env python3
"""Serves generated model files to the downloader tests over real HTTPS on 127.0.0.1.

The body of every file is the same pattern: the byte at offset i is i % 256, so a transfer
continued from any offset gives the same file as one in a single piece.

Paths (N is a byte count, P a percentage):
  /file/N          N bytes with a Content-Length; "Range: bytes=A-" gets 206 and the rest
  /nolength/N      N bytes without a length; the end of the body is the closed connection
  /cut/N           announces N bytes, sends half of them and closes the connection
  /once-cut/P/N    the first time: announces N bytes, sends P % of them and closes; then like
                   /file/N
  /slow/N          like /file/N, 64 KiB every 50 ms
  /norange/N       like /file/N, but always the whole file with 200 (no ranges)
  /once-404/N      a small 404 page the first time, then like /file/N
  /redirect/PATH   302 to https://127.0.0.1:PORT/PATH
  /to-http/PATH    302 to http://127.0.0.1:PORT/PATH (in the clear)
  anything else    a small 404 page
Prints the port on the first line of standard output. Appends each path requested to the file
given with --log, followed by " from=A" when a range was asked for; with --bytes, appends the
number of body bytes sent for each request to that file.
"""
import argparse
import http.server
import re
import ssl
import sys
import threading
import time

CHUNK = 64 * 1024
BLOCK = bytes(range(256)) * (2 * CHUNK // 256)
lock = threading.Lock()
seen = set()


def body(start, end):
    pos = start
    while pos < end:
        size = min(end - pos, CHUNK)
        offset = pos % 256
        yield BLOCK[offset : offset + size]
        pos += size


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        self.request.do_handshake()
        super().setup()

    def log_message(self, *args):
        pass

    def first_time(self):
        with lock:
            first = self.path not in seen
            seen.add(self.path)
        return first

    def send_body(self, start, end, slow=False, stop=None):
        sent = 0
        try:
            for part in body(start, end if stop is None else min(end, stop)):
                self.wfile.write(part)
                sent += len(part)
                if slow:
                    time.sleep(0.05)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            self.close_connection = True
        finally:
            if self.server.bytes_path:
                with lock, open(self.server.bytes_path, "a") as log:
                    log.write("%d\n" % sent)

    def send_file(self, size, ranged=True, slow=False, stop=None):
        start = 0
        match = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        if ranged and match:
            start = int(match.group(1))
            if start >= size:
                self.send_error(416)
                return
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
        else:
            self.send_response(200)
        self.send_header("Content-Length", str(size - start))
        self.end_headers()
        self.send_body(start, size, slow, stop)
        if stop is not None and stop < size:
            self.close_connection = True

    def redirect(self, location):
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def not_found(self):
        page = b"<html><body><h1>404 Not Found</h1></body></html>\n"
        self.send_response(404)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(page)))
        self.end_headers()
        self.wfile.write(page)

    def do_GET(self):
        match = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        with lock, open(self.server.log_path, "a") as log:
            log.write(self.path + (" from=" + match.group(1) if match else "") + "\n")
        parts = self.path.strip("/").split("/")
        kind = parts[0]
        numbers = [int(p) for p in parts[1:] if p.isdigit()]
        size = numbers[-1] if numbers else 0
        port = self.server.server_address[1]
        if kind == "redirect":
            self.redirect("https://127.0.0.1:%d/%s" % (port, "/".join(parts[1:])))
        elif kind == "to-http":
            self.redirect("http://127.0.0.1:%d/%s" % (port, "/".join(parts[1:])))
        elif kind == "once-404":
            if self.first_time():
                self.not_found()
            else:
                self.send_file(size)
        elif kind == "file":
            self.send_file(size)
        elif kind == "slow":
            self.send_file(size, slow=True)
        elif kind == "norange":
            self.send_file(size, ranged=False)
        elif kind == "once-cut" and len(numbers) == 2:
            if self.first_time():
                self.send_file(size, ranged=False, stop=size * numbers[0] // 100)
            else:
                self.send_file(size)
        elif kind == "cut":
            self.send_file(size, ranged=False, stop=size // 2)
        elif kind == "nolength":
            self.protocol_version = "HTTP/1.0"
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.send_body(0, size)
            self.close_connection = True
        else:
            self.not_found()


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def get_request(self):
        # The handshake happens in the handler's thread, so a client that never completes
        # one holds up nobody else.
        sock, address = super().get_request()
        return self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False), address


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--bytes")
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    args = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    server.context.load_cert_chain(args.cert, args.key)
    server.log_path = args.log
    server.bytes_path = args.bytes
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
