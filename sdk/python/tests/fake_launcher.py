"""A stand-in for the launcher, for tests without a display: connects to
the socket, sends the lines in FAKE_SEND (a JSON list), logs every line it
gets to FAKE_LOG, answers "GET <id> windows", and exits with status n on
"RAW EXIT <n>"."""

import json
import os
import socket
import sys

sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
sock.connect(sys.argv[2])
out = sock.makefile("wb", buffering=0)
out.write(b"SYS theme light\n")
for text in json.loads(os.environ.get("FAKE_SEND", "[]")):
    out.write(text.encode() + b"\n")
with open(os.environ["FAKE_LOG"], "a", encoding="utf-8") as log:
    for raw in sock.makefile("rb"):
        text = raw.decode().rstrip("\n")
        log.write(text + "\n")
        log.flush()
        words = text.split(" ")
        if words[0] == "GET" and words[2] == "windows":
            out.write(f'GOT {words[1]} ["main"]\n'.encode())
        elif text.startswith("RAW EXIT "):
            sys.exit(int(words[2]))
        elif text == "QUIT":
            sys.exit(0)
