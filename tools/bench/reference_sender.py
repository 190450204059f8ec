#!/usr/bin/python3
"""Minimal reference sender of the update protocol, for comparison in the benchmark.

Announces itself on one broadcast address, accepts one TCP connection, sends the
4-byte big-endian length and then the file in 1024-byte chunks with time.sleep(0.001)
after each. Prints one JSON line with the send time.
"""
import json
import socket
import struct
import sys
import time


def main():
    path, local, broadcast = sys.argv[1], sys.argv[2], sys.argv[3]
    data = open(path, "rb").read()

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("0.0.0.0", 54000))
    listener.listen(1)
    listener.settimeout(0.1)

    announcer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    announcer.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    datagram = b"\x20\x00" + struct.pack(">H", 54000) + socket.inet_aton(local)

    deadline = time.monotonic() + 30
    connection = None
    while connection is None and time.monotonic() < deadline:
        announcer.sendto(datagram, (broadcast, 56000))
        try:
            connection, _ = listener.accept()
        except socket.timeout:
            pass
    if connection is None:
        print(json.dumps({"result": "timeout"}))
        return 1

    connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    start = time.monotonic()
    connection.sendall(struct.pack(">I", len(data)))
    chunks = 0
    for offset in range(0, len(data) + 1, 1024):
        connection.sendall(data[offset:offset + 1024])
        chunks += 1
        time.sleep(0.001)
    seconds = time.monotonic() - start
    print(json.dumps({"result": "ok", "bytes": len(data), "send_seconds": seconds,
                      "chunks": chunks, "ideal_seconds": chunks * 0.001}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
