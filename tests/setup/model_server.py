#!/usr/bin/env python3
"""Serves generated model files to the downloader tests over real HTTP on 127.0.0.1.

Paths (N is a byte count):
  /file/N        N bytes with a Content-Length
  /nolength/N    N bytes without a length; the end of the body is the closed connection
  /cut/N         announces N bytes, sends half of them and closes the connection
  /slow/N        N bytes with a length, 64 KiB every 50 ms
  /once-404/N    a small 404 page the first time, then like /file/N
  anything else  a small 404 page
Prints the port on the first line of standard output; appends each path requested to the file
given with --log.
"""
import argparse
import http.server
import sys
import threading
import time

CHUNK = 64 * 1024
lock = threading.Lock()
seen = set()


def body(n):
    block = bytes(range(256)) * (CHUNK // 256)
    while n > 0:
        part = block[: min(n, CHUNK)]
        n -= len(part)
        yield part


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with lock, open(self.server.log_path, "a") as log:
            log.write(self.path + "\n")
        parts = self.path.strip("/").split("/")
        kind = parts[0]
        size = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
        if kind == "once-404":
            with lock:
                first = self.path not in seen
                seen.add(self.path)
            kind = "missing" if first else "file"
        if kind in ("file", "slow"):
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.end_headers()
            for part in body(size):
                self.wfile.write(part)
                if kind == "slow":
                    time.sleep(0.05)
        elif kind == "nolength":
            self.protocol_version = "HTTP/1.0"
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            for part in body(size):
                self.wfile.write(part)
            self.close_connection = True
        elif kind == "cut":
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.end_headers()
            for part in body(size // 2):
                self.wfile.write(part)
            self.wfile.flush()
            self.close_connection = True
        else:
            page = b"<html><body><h1>404 Not Found</h1></body></html>\n"
            self.send_response(404)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            self.wfile.write(page)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.log_path = args.log
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
