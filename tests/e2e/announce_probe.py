#!/usr/bin/python3
"""Listens for the tool's announcement datagrams and reports each one at once.

Runs inside the mixer's namespace beside (or instead of) the mixer simulator:
the simulator only reports at its end, the tests need a live count to see that
announcements start and, after a cancel, stop. Prints "ready" once bound, then
one line per datagram: "<seconds since ready> <sender ip> <payload hex>".
Never connects anywhere; ends after --timeout seconds or on SIGTERM.
"""

import argparse
import select
import signal
import socket
import sys
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=56000)
    parser.add_argument("--timeout", type=float, default=60.0)
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    # The simulator may hold the same port: both get every broadcast.
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    sock.bind(("0.0.0.0", args.port))

    start = time.monotonic()
    end = start + args.timeout
    print("ready", flush=True)
    while True:
        left = end - time.monotonic()
        if left <= 0:
            return 0
        readable, _, _ = select.select([sock], [], [], min(left, 0.5))
        if not readable:
            continue
        data, (host, _) = sock.recvfrom(2048)
        print(f"{time.monotonic() - start:.3f} {host} {data.hex()}", flush=True)


if __name__ == "__main__":
    sys.exit(main())
