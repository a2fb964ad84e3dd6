#!/usr/bin/env python3
"""A scripted HTTP peer for fault tests.

Usage: http_scripted.py SCRIPT.json LOGDIR [PORT]

Listens on PORT of 127.0.0.1 (a free one when not given) and prints it on
the first line of stdout.
Connection i gets reply i of the script (the last one again once they run
out). Every request is saved as LOGDIR/request-<i>.bin exactly as received:
the header block, then as many body bytes as its Content-Length announces.

A reply is an object:
  "parts":  list of [latin-1 text, repeat count] sent one after the other
  "then":   "close" (default), "hold" (keep the connection open until the
            client closes it), "silent" (send nothing, wait for the client),
            "reset" (pause, then close with a reset) or "endless" (send
            bytes "e" until the client closes)
  "read":   false to answer without reading the request first
"""
import json
import os
import socket
import struct
import sys
import threading
import time

DEADLINE = 30


def read_request(conn):
    data = b''
    while b'\r\n\r\n' not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return data
        data += chunk
    head, _, body = data.partition(b'\r\n\r\n')
    length = 0
    for line in head.split(b'\r\n')[1:]:
        name, _, value = line.partition(b':')
        if name.strip().lower() == b'content-length':
            digits = value.strip()
            length = int(digits) if digits.isdigit() else 0
    while len(body) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        body += chunk
    return head + b'\r\n\r\n' + body


def wait_for_close(conn):
    try:
        while conn.recv(65536):
            pass
    except OSError:
        pass


def serve(conn, index, reply, logdir):
    conn.settimeout(DEADLINE)
    try:
        request = read_request(conn) if reply.get('read', True) else b''
        path = os.path.join(logdir, 'request-%d.bin' % index)
        with open(path + '.part', 'wb') as f:
            f.write(request)
        os.rename(path + '.part', path)
        then = reply.get('then', 'close')
        if then != 'silent':
            for text, count in reply.get('parts', []):
                conn.sendall(text.encode('latin-1') * count)
        if then in ('hold', 'silent'):
            wait_for_close(conn)
        elif then == 'reset':
            time.sleep(0.2)
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
        elif then == 'endless':
            chunk = b'e' * 65536
            while True:
                conn.sendall(chunk)
    except OSError:
        pass
    finally:
        conn.close()


def main():
    script = json.load(open(sys.argv[1]))
    logdir = sys.argv[2]
    replies = script['replies']
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(('127.0.0.1', int(sys.argv[3]) if len(sys.argv) > 3 else 0))
    server.listen(16)
    print(server.getsockname()[1], flush=True)
    index = 0
    while True:
        conn, _ = server.accept()
        reply = replies[min(index, len(replies) - 1)]
        threading.Thread(target=serve, args=(conn, index, reply, logdir), daemon=True).start()
        index += 1


if __name__ == '__main__':
    main()
