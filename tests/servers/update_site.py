#!/usr/bin/env python3
"""An update site for tests: serves a folder over HTTP/1.0 on a free
127.0.0.1 port, printed on the first line of stdout, with faults by path.

Usage: update_site.py FOLDER [FAULT...]

A fault is KIND:PATH:
  404:/tirmo/cdl/x.cdl    answer 404 with an error page
  short:/tirmo/cdl/x.cdl  announce the whole length, send half, close
  slow:/tirmo/cdl/x.cdl   send the body a byte every 50 ms
  nolength:PATH           send the whole body without a Content-Length
  cut:PATH                no Content-Length, send half, close
  half-length:PATH        announce half the length, send that half, close
  reset:PATH              announce the whole length, send half, reset
  reset-nolength:PATH     no Content-Length, send half, reset
  endless:PATH            no Content-Length, send bytes "e" until the client closes
and "stop-after:N" stops listening once it has taken N connections, before
it answers the Nth, so that every later connection is refused. Every request path is appended to FOLDER/../requests.log.
"""
import os
import socket
import struct
import sys
import threading
import time
import urllib.parse

DEADLINE = 60


def reply(conn, status, body, length=None):
    """length None: the body's own; -1: no Content-Length at all."""
    length = len(body) if length is None else length
    head = "HTTP/1.0 %d X\r\nContent-Type: application/octet-stream\r\n" % status
    if length >= 0:
        head += "Content-Length: %d\r\n" % length
    conn.sendall((head + "\r\n").encode() + body)


def reset(conn):
    time.sleep(0.2)
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))


def serve(conn, folder, faults, log):
    conn.settimeout(DEADLINE)
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return
        data += chunk
    target = data.split(b"\r\n")[0].split(b" ")[1].decode("latin-1")
    with open(log, "a") as f:
        f.write(target + "\n")
    path = urllib.parse.unquote(target)
    kind = faults.get(path)
    file = os.path.normpath(os.path.join(folder, path.lstrip("/")))
    if kind == "404" or not file.startswith(folder) or not os.path.isfile(file):
        reply(conn, 404, b"<html><body>404 Not Found</body></html>")
        return
    body = open(file, "rb").read()
    half = body[: len(body) // 2]
    if kind == "short":
        reply(conn, 200, half, len(body))
    elif kind == "nolength":
        reply(conn, 200, body, -1)
    elif kind == "cut":
        reply(conn, 200, half, -1)
    elif kind == "half-length":
        reply(conn, 200, half)
    elif kind == "reset":
        reply(conn, 200, half, len(body))
        reset(conn)
    elif kind == "reset-nolength":
        reply(conn, 200, half, -1)
        reset(conn)
    elif kind == "endless":
        reply(conn, 200, b"", -1)
        chunk = b"e" * 65536
        while True:
            conn.sendall(chunk)
    elif kind == "slow":
        conn.sendall(("HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body)).encode())
        for i in range(len(body)):
            conn.sendall(body[i:i + 1])
            time.sleep(0.05)
    else:
        reply(conn, 200, body)


def main():
    folder = os.path.abspath(sys.argv[1])
    faults, stop_after = {}, None
    for arg in sys.argv[2:]:
        kind, _, path = arg.partition(":")
        if kind == "stop-after":
            stop_after = int(path)
        else:
            faults[path] = kind
    log = os.path.join(os.path.dirname(folder), "requests.log")
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    listener.settimeout(DEADLINE)
    served = 0
    while stop_after is None or served < stop_after:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            break
        served += 1
        # Closed before the last answer goes out: the client's next connect
        # can't reach the queue of a listener about to close, which would
        # take it and then drop it unanswered.
        if served == stop_after:
            listener.close()

        def run(c=conn):
            try:
                serve(c, folder, faults, log)
            except OSError:
                pass
            finally:
                c.close()

        threading.Thread(target=run, daemon=True).start()
    listener.close()
    time.sleep(DEADLINE)


if __name__ == "__main__":
    main()
