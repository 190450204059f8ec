#!/usr/bin/python3
"""Mixer simulator: the far end of the update protocol, for trying the sender
without a QVR-7000.

It listens for the sender's 8-byte UDP announcement (20 00, TCP port, IPv4
address), connects to the announced address and port, reads the 4-byte
big-endian length and then exactly that many image bytes, and prints one JSON
line with what it received. Every wait is bounded by --timeout, so it always
ends by itself.

With --count N it plays N mixers at once, each connecting from an address of
its own (--addresses, added to the mixer's interface when missing), each with
its own faults (--fault), and prints one JSON line with a report per mixer.

Exit codes: 0 it behaved as asked; 2 timed out; 3 malformed announcement or
stream; 4 the stream ended short; 5 more bytes than announced; 6 could not
connect; 7 bad arguments or the announce port could not be had. With several
mixers, the first mixer's code that is not 0.
"""

import argparse
import copy
import hashlib
import ipaddress
import json
import socket
import struct
import subprocess
import sys
import threading
import time

EXIT_OK, EXIT_TIMEOUT, EXIT_PROTOCOL, EXIT_SHORT, EXIT_EXCESS, EXIT_CONNECT, EXIT_SETUP = 0, 2, 3, 4, 5, 6, 7

ANNOUNCEMENT_CODE = b"\x20\x00"
ANNOUNCE_PORT = 56000
# After the image, bytes beyond it are watched for this long.
EXCESS_WAIT = 0.2


class Deadline:
    def __init__(self, seconds):
        self.end = time.monotonic() + seconds

    def left(self):
        return max(0.0, self.end - time.monotonic())


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--timeout", type=float, default=30.0, help="overall limit in seconds (30)")
    p.add_argument("--never-connect", action="store_true", help="only count announcements until --timeout")
    p.add_argument("--print-announcements", action="store_true",
                   help="print a line per datagram as it arrives: announcement SECONDS SENDER HEX")
    p.add_argument("--reset-after", type=int, metavar="N", help="reset the connection (RST) after N image bytes")
    p.add_argument("--hold", type=float, help="with --reset-after: stop reading this long before the reset (a mixer that fails near the end)")
    p.add_argument("--rcvbuf", type=int, metavar="BYTES", help="receive buffer size of the connection")
    p.add_argument("--count", type=int, default=1, help="play this many mixers at once (1)")
    p.add_argument("--addresses", help="comma-separated source addresses, one per mixer (default: the system picks)")
    p.add_argument("--fault", action="append", default=[], metavar="K:WHAT",
                   help="for mixer K (from 1) only: reset-after=N, delay=SECONDS (connect that much later) "
                        "or never-connect (a mixer that is switched off)")
    a = p.parse_args(argv)
    a.addresses = a.addresses.split(",") if a.addresses else []
    a.delay = None
    if a.count < 1 or (a.addresses and len(a.addresses) != a.count):
        p.error("--count must be 1 or more, with one address per mixer when --addresses is given")
    a.faults = {}
    for fault in a.fault:
        k, _, what = fault.partition(":")
        name, _, value = what.partition("=")
        if not k.isdigit() or not 1 <= int(k) <= a.count or name not in FAULTS or (FAULTS[name] is None) == bool(value):
            p.error(f"bad --fault {fault}")
        a.faults.setdefault(int(k), {})[name] = value
    if a.timeout <= 0:
        p.error("--timeout must be above 0")
    return a


FAULTS = {"reset-after": int, "delay": float, "never-connect": None}


def mixer_args(args, k):
    """The options of mixer k (from 1): the common ones, with its own faults over them."""
    own = copy.copy(args)
    for name, value in args.faults.get(k, {}).items():
        setattr(own, name.replace("-", "_"), FAULTS[name](value) if FAULTS[name] else True)
    own.source = args.addresses[k - 1] if args.addresses else None
    return own


def add_missing_addresses(addresses):
    """Gives the mixer's interface every source address it lacks (we run as root in its namespace)."""
    shown = subprocess.run(["ip", "-o", "-4", "addr", "show"], capture_output=True, text=True).stdout
    have = {line.split()[3].split("/")[0]: line.split()[1] for line in shown.splitlines()}
    for a in addresses:
        if a in have:
            continue
        network = ipaddress.ip_network(f"{a}/24", strict=False)
        device = next((dev for addr, dev in have.items() if ipaddress.ip_address(addr) in network), None)
        if device is None or subprocess.run(["ip", "addr", "add", f"{a}/24", "dev", device]).returncode != 0:
            raise OSError(f"cannot give this namespace the address {a}")


class Report:
    def __init__(self):
        self.fields = {"result": None, "bytes": 0, "sha256": hashlib.sha256().hexdigest(),
                       "announced_length": None, "seconds": None, "stream_seconds": None,
                       "announcements": 0, "announced_address": None, "announced_port": None,
                       "announced_addresses": []}

    def finish(self, result, code):
        self.fields["result"] = result
        print(json.dumps(self.fields), flush=True)
        return code


def parse_announcement(data):
    """(address, port) of a well-formed announcement, else None."""
    if len(data) != 8 or data[:2] != ANNOUNCEMENT_CODE:
        return None
    port = struct.unpack(">H", data[2:4])[0]
    return socket.inet_ntoa(data[4:8]), port


def hear_announcements(args, deadline, report):
    """Listens until an announcement came (or, with --never-connect, until the
    deadline). Returns the first announced (address, port), or an exit code."""
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        udp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        udp.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        try:
            udp.bind(("0.0.0.0", ANNOUNCE_PORT))
        except OSError as e:
            print(f"mixer_sim: cannot listen on udp {ANNOUNCE_PORT}: {e}", file=sys.stderr)
            return report.finish("setup_failed", EXIT_SETUP)

        # The ready line: a driver may start the sender once it sees it.
        print(f"mixer_sim: listening on udp {ANNOUNCE_PORT}", file=sys.stderr, flush=True)
        started = time.monotonic()

        first = None
        heard = report.fields
        while True:
            left = deadline.left()
            if left <= 0:
                break
            udp.settimeout(min(left, 0.5))
            try:
                data, (sender, _) = udp.recvfrom(64)
            except socket.timeout:
                continue
            if args.print_announcements:
                print(f"announcement {time.monotonic() - started:.3f} {sender} {data.hex()}", flush=True)
            parsed = parse_announcement(data)
            if parsed is None:
                print(f"mixer_sim: malformed announcement {data.hex()}", file=sys.stderr)
                return report.finish("bad_announcement", EXIT_PROTOCOL)
            heard["announcements"] += 1
            address = parsed[0]
            if address not in heard["announced_addresses"]:
                heard["announced_addresses"].append(address)
            if first is None:
                first = parsed
                heard["announced_address"], heard["announced_port"] = parsed
            if not args.never_connect:
                return first

        if args.never_connect:
            return report.finish("ok", EXIT_OK)
        return report.finish("timeout", EXIT_TIMEOUT)
    finally:
        udp.close()


def receive(sock, count, deadline):
    """Up to count bytes; b"" at the end of the stream; None on time-out."""
    while True:
        left = deadline.left()
        if left <= 0:
            return None
        sock.settimeout(min(left, 0.5))
        try:
            return sock.recv(min(count, 1 << 16))
        except socket.timeout:
            continue


def read_stream(args, sock, deadline, report):
    fields = report.fields
    connected_at = time.monotonic()
    header = b""
    first_byte_at = None
    while len(header) < 4:
        data = receive(sock, 4 - len(header), deadline)
        if data is None:
            return report.finish("timeout", EXIT_TIMEOUT)
        if not data:
            return report.finish("short", EXIT_SHORT)
        first_byte_at = first_byte_at or time.monotonic()
        header += data
    length = struct.unpack(">I", header)[0]
    fields["announced_length"] = length

    limit = length if args.reset_after is None else min(length, args.reset_after)

    digest = hashlib.sha256()
    received = 0

    def note(data):
        nonlocal received
        received += len(data)
        digest.update(data)
        fields["bytes"] = received
        fields["sha256"] = digest.hexdigest()
        now = time.monotonic()
        fields["seconds"] = round(now - connected_at, 6)
        fields["stream_seconds"] = round(now - first_byte_at, 6)

    while received < limit:
        data = receive(sock, limit - received, deadline)
        if data is None:
            return report.finish("timeout", EXIT_TIMEOUT)
        if not data:
            return report.finish("short", EXIT_SHORT)
        note(data)
    if length == 0:
        note(b"")

    if args.reset_after is not None and received < length:
        if args.hold:
            time.sleep(min(args.hold, deadline.left()))
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        sock.close()
        return report.finish("reset", EXIT_OK)

    # The sender keeps the connection open after the image: anything more
    # that arrives within a short while breaks the announced length.
    sock.settimeout(max(0.001, min(EXCESS_WAIT, deadline.left())))
    try:
        extra = sock.recv(1)
    except (socket.timeout, ConnectionError):
        extra = b""
    if extra:
        return report.finish("excess", EXIT_EXCESS)
    return report.finish("ok", EXIT_OK)


def play_mixer(args, host, port, deadline, report):
    """One mixer's connection and stream; its exit code."""
    report.fields["address"] = args.source
    if args.never_connect:
        return report.finish("never_connected", EXIT_OK)
    if args.delay:
        time.sleep(min(args.delay, deadline.left()))

    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        if args.source:
            sock.bind((args.source, 0))
        if args.rcvbuf:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, args.rcvbuf)
        sock.settimeout(max(0.001, deadline.left()))
        try:
            sock.connect((host, port))
        except socket.timeout:
            return report.finish("timeout", EXIT_TIMEOUT)
        except OSError as e:
            print(f"mixer_sim: cannot connect to {host}:{port}: {e}", file=sys.stderr)
            return report.finish("connect_failed", EXIT_CONNECT)
        report.fields["address"] = sock.getsockname()[0]
        try:
            return read_stream(args, sock, deadline, report)
        except ConnectionError as e:
            print(f"mixer_sim: connection broke: {e}", file=sys.stderr)
            return report.finish("short", EXIT_SHORT)
    finally:
        sock.close()


class QuietReport(Report):
    """A mixer's report among several: kept for the common line, not printed alone."""

    def finish(self, result, code):
        self.fields["result"] = result
        return code


def main(argv):
    args = parse_args(argv)
    deadline = Deadline(args.timeout)
    report = Report()
    try:
        add_missing_addresses(args.addresses)
    except OSError as e:
        print(f"mixer_sim: {e}", file=sys.stderr)
        return report.finish("setup_failed", EXIT_SETUP)

    announced = hear_announcements(args, deadline, report)
    if isinstance(announced, int):
        return announced
    address, port = announced
    host = address
    if port == 0:
        return report.finish("bad_announcement", EXIT_PROTOCOL)

    if args.count == 1:
        return play_mixer(mixer_args(args, 1), host, port, deadline, report)

    reports = [QuietReport() for _ in range(args.count)]
    codes = [EXIT_TIMEOUT] * args.count

    def play(k):
        codes[k] = play_mixer(mixer_args(args, k + 1), host, port, deadline, reports[k])

    threads = [threading.Thread(target=play, args=(k,), daemon=True) for k in range(args.count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(max(0.0, deadline.left()) + 1.0)
    report.fields["mixers"] = [r.fields for r in reports]
    failed = next((c for c in codes if c != EXIT_OK), EXIT_OK)
    return report.finish("ok" if failed == EXIT_OK else "failed", failed)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
