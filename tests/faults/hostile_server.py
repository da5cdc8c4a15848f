#!/usr/bin/python3
"""An HTTP server on 127.0.0.1 that misbehaves on purpose; answers every request the same way.

    hostile_server.py PORT MODE [BODY_HEX]

MODE:
  trickle    200 with BODY, its headers at once and the body one byte per second
  flood      200 announcing and sending 100 MB of JSON-looking bytes as fast as it can
  bytes      200 with BODY as is (e.g. ill-formed UTF-8)
  halfclose  200 announcing BODY's length, sending its first half and closing the connection
BODY_HEX is the body in hexadecimal, so any byte can be sent.
"""
import socket
import socketserver
import sys
import time

FLOOD_BYTES = 100 * 1024 * 1024


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.request.recv(65536)
            if not chunk:
                return False
            data += chunk
        head, _, rest = data.partition(b"\r\n\r\n")
        length = 0
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value.strip())
        while len(rest) < length:
            chunk = self.request.recv(65536)
            if not chunk:
                return False
            rest += chunk
        return True

    def head(self, length):
        return (b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                b"Content-Length: %d\r\nConnection: close\r\n\r\n" % length)

    def handle(self):
        if not self.read_request():
            return
        mode, body = self.server.mode, self.server.body
        try:
            if mode == "trickle":
                self.request.sendall(self.head(len(body)))
                for i in range(len(body)):
                    self.request.sendall(body[i:i + 1])
                    time.sleep(1)
            elif mode == "flood":
                self.request.sendall(self.head(FLOOD_BYTES) + b'{"text":"')
                block = b"a" * 65536
                sent = 9
                while sent + len(block) <= FLOOD_BYTES:
                    self.request.sendall(block)
                    sent += len(block)
            elif mode == "bytes":
                self.request.sendall(self.head(len(body)) + body)
            elif mode == "halfclose":
                self.request.sendall(self.head(len(body)) + body[:len(body) // 2])
                self.request.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass  # the client gave up: that is what the tests look for


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    port, mode = int(sys.argv[1]), sys.argv[2]
    server = Server(("127.0.0.1", port), Handler)
    server.mode = mode
    server.body = bytes.fromhex(sys.argv[3]) if len(sys.argv) > 3 else b""
    server.serve_forever()


if __name__ == "__main__":
    main()
