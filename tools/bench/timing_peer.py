#!/usr/bin/python3
"""A mixer stand-in that time-stamps the exchange for the benchmark.

Waits for the first announcement on UDP 56000, connects to the announced address
and port, reads the length and the image (or stops reading after --stop-after
bytes), and prints one JSON line with CLOCK_MONOTONIC stamps: first announcement,
connected, first image byte, last byte. Every wait is bounded by --timeout.
"""
import argparse
import json
import socket
import struct
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--timeout", type=float, default=30)
    parser.add_argument("--stop-after", type=int, default=-1, help="stop reading after N image bytes")
    parser.add_argument("--hold", type=float, default=3, help="seconds to keep a stalled connection open")
    parser.add_argument("--never-connect", type=float, default=0, help="only count announcements for S seconds")
    args = parser.parse_args()
    deadline = time.monotonic() + args.timeout
    out = {}

    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    udp.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    udp.bind(("0.0.0.0", 56000))
    udp.settimeout(0.05)

    heard = 0
    announced = None
    listen_until = time.monotonic() + args.never_connect
    while time.monotonic() < deadline:
        try:
            data = udp.recv(64)
        except socket.timeout:
            if args.never_connect and time.monotonic() > listen_until:
                break
            continue
        if len(data) == 8 and data[:2] == b"\x20\x00":
            heard += 1
            if announced is None:
                out["first_announcement"] = time.monotonic()
                announced = (socket.inet_ntoa(data[4:]), struct.unpack(">H", data[2:4])[0])
            if args.never_connect:
                out["last_announcement"] = time.monotonic()
                continue
            break
    out["announcements"] = heard
    if args.never_connect or announced is None:
        print(json.dumps(out))
        return 0 if announced or args.never_connect else 1

    tcp = socket.create_connection(announced, timeout=max(0.1, deadline - time.monotonic()))
    out["connected"] = time.monotonic()
    header = b""
    while len(header) < 4:
        part = tcp.recv(4 - len(header))
        if not part:
            break
        header += part
    length = struct.unpack(">I", header)[0] if len(header) == 4 else -1
    got = 0
    while got < length and time.monotonic() < deadline:
        if 0 <= args.stop_after <= got:
            time.sleep(args.hold)
            break
        part = tcp.recv(65536)
        if not part:
            break
        if got == 0:
            out["first_byte"] = time.monotonic()
        got += len(part)
    out["last_byte"] = time.monotonic()
    out.update(length=length, bytes=got)
    print(json.dumps(out))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
