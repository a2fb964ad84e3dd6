#!/usr/bin/env python3
"""A scripted TCP peer for the socket tests.

Listens on a free port of 127.0.0.1, prints the port on its first line,
serves one connection by the actions given on the command line, and exits.

  --record FILE   write every byte received to FILE (appended as it comes)
  send:HEX        send these bytes
  fill:HEX:N      send N copies of these bytes
  sleep:MS        pause, silent and connected: between parts of the data that
                  must arrive apart, or while the client works; a peer that
                  must wait for a step of the client waits for its bytes (read)
  read:N          receive exactly N bytes (less if the client closes)
  readall         receive until the client closes
  close           close the connection now (the default at the end)
  reset           close with a reset (linger 0)
"""
import socket
import struct
import sys
import time

args = sys.argv[1:]
record = None
if len(args) >= 2 and args[0] == "--record":
    record = open(args[1], "wb", buffering=0)
    args = args[2:]

server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.bind(("127.0.0.1", 0))
server.listen(1)
print(server.getsockname()[1], flush=True)
server.settimeout(30)
conn, _ = server.accept()
conn.settimeout(30)


def keep(data):
    if record:
        record.write(data)


for action in args:
    name, _, value = action.partition(":")
    if name == "send":
        conn.sendall(bytes.fromhex(value))
    elif name == "fill":
        pattern, _, count = value.partition(":")
        conn.sendall(bytes.fromhex(pattern) * int(count))
    elif name == "sleep":
        time.sleep(int(value) / 1000)
    elif name == "read":
        left = int(value)
        while left > 0:
            data = conn.recv(left)
            if not data:
                break
            keep(data)
            left -= len(data)
    elif name == "readall":
        while True:
            data = conn.recv(65536)
            if not data:
                break
            keep(data)
    elif name == "close":
        break
    elif name == "reset":
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        break
    else:
        sys.exit("unknown action " + action)
conn.close()
server.close()
