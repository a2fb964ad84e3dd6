#!/usr/bin/env python3
"""Scripted TCP clients for the listening-server tests.

  drain PORT N SIZE   N clients connect, then all read until the server
                      closes; each must get SIZE bytes of the pattern
                      i % 251 and then an orderly close (FIN)
  echo PORT N         N sessions one after the other: send a line, read
                      the echo, close
  burst PORT N        the same N sessions all at once, connecting together

Prints one line per client that went wrong, then "ok N" with the number
of clients that got everything, and exits.
"""
import socket
import sys
import threading

mode, port, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
problems = []
good = 0
lock = threading.Lock()


def report(ok, problem=None):
    global good
    with lock:
        if ok:
            good += 1
        else:
            problems.append(problem)


def connect():
    conn = socket.create_connection(("127.0.0.1", port), timeout=30)
    conn.settimeout(30)
    return conn


def drain(index, conn, size):
    expected = bytes(i % 251 for i in range(size))
    received = bytearray()
    try:
        while True:
            data = conn.recv(65536)
            if not data:
                break
            received += data
    except OSError as e:
        report(False, f"client {index}: {len(received)} bytes, then {e}")
        return
    finally:
        conn.close()
    if received != expected:
        report(False, f"client {index}: {len(received)} bytes, not the {size} sent")
    else:
        report(True)


def echo(index, start=None):
    if start:
        start.wait()
    line = f"session {index}\r\n".encode()
    try:
        with connect() as conn:
            conn.sendall(line)
            reply = b""
            while not reply.endswith(b"\n"):
                data = conn.recv(256)
                if not data:
                    break
                reply += data
    except OSError as e:
        report(False, f"session {index}: {e}")
        return
    if reply != line:
        report(False, f"session {index}: echo {reply!r}")
    else:
        report(True)


if mode == "drain":
    size = int(sys.argv[4])
    conns = [connect() for _ in range(count)]
    threads = [threading.Thread(target=drain, args=(i, c, size)) for i, c in enumerate(conns)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
elif mode == "echo":
    for i in range(count):
        echo(i)
elif mode == "burst":
    start = threading.Barrier(count)
    threads = [threading.Thread(target=echo, args=(i, start)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
else:
    sys.exit("unknown mode " + mode)

for p in problems:
    print(p)
print("ok", good, flush=True)
