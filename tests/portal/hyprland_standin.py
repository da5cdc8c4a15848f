#!/usr/bin/python3
"""A stand-in for Hyprland's request socket.

    hyprland_standin.py SOCKET BEHAVIOUR RECORD

Listens on the Unix socket SOCKET; each connection sends one request, which is appended to
RECORD as a line, and gets the answer from the JSON file BEHAVIOUR (read again per request):
    "answer": the bytes to send back, then the connection is closed like Hyprland does
    "hang": true keeps the connection open without answering
"""

import json
import os
import socket
import sys


def behaviour(path):
    try:
        with open(path, encoding="utf-8") as f:
            value = json.load(f)
        return value if isinstance(value, dict) else {}
    except (OSError, ValueError):
        return {}


def main():
    path, behaviour_path, record = sys.argv[1:4]
    if os.path.exists(path):
        os.unlink(path)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(8)
    print("ready", flush=True)
    held = []
    while True:
        conn, _ = server.accept()
        request = conn.recv(8192).decode("utf-8", "replace")
        with open(record, "a", encoding="utf-8") as f:
            f.write(request + "\n")
        wanted = behaviour(behaviour_path)
        if wanted.get("hang"):
            held.append(conn)
            continue
        conn.sendall(str(wanted.get("answer", "{}")).encode("utf-8"))
        conn.close()


if __name__ == "__main__":
    main()
