#!/usr/bin/python3
"""The mixer simulator against the real announcer, listener and transfer, on
loopback only (interfaces 127.0.0.2/8 and 127.0.0.3/8, broadcast 127.255.255.255).

usage: mixer_sim_test.py QVR_LOOPBACK_SENDER MIXER_SIM
"""

import hashlib
import json
import os
import select
import socket
import subprocess
import sys
import tempfile
import time
import unittest

SENDER = SIMULATOR = None
INTERFACES = ["--interface", "127.0.0.2/8", "--interface", "127.0.0.3/8"]


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


def image(size):
    body = bytearray(hashlib.sha256(str(size).encode()).digest() * (size // 32 + 1))[:size]
    body[:7] = b"QVR-700"[:size]
    return bytes(body)


def last_json(text):
    lines = [l for l in text.splitlines() if l.startswith("{")]
    return json.loads(lines[-1]) if lines else None


class MixerSimulatorTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="qvr_sim")
        self.port = free_udp_port()

    def tearDown(self):
        self.folder.cleanup()

    def run_pair(self, size, sim_options, sender_options=()):
        data = image(size)
        path = os.path.join(self.folder.name, "fw.upd")
        with open(path, "wb") as f:
            f.write(data)

        sim_command = [SIMULATOR, "--announce-port", str(self.port), *sim_options]
        sim = subprocess.Popen(sim_command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            # The announcer takes the port without sharing it, so the simulator must hold it first.
            ready, _, _ = select.select([sim.stderr], [], [], 10)
            self.assertTrue(ready and "listening" in sim.stderr.readline(), "simulator did not get ready")

            sender = subprocess.run([SENDER, "--file", path, "--announce-port", str(self.port), *INTERFACES,
                                     *sender_options], capture_output=True, text=True, timeout=60)
            sim_out, sim_err = sim.communicate(timeout=60)
        finally:
            if sim.poll() is None:
                sim.kill()
                sim.wait()

        self.assertEqual(sender.returncode, 0, "sender died: " + sender.stderr)
        result = last_json(sim_out)
        self.assertIsNotNone(result, "simulator printed no JSON: " + sim_err)
        return data, sim.returncode, result, last_json(sender.stdout), " ".join(sim_command)

    def test_one_mebibyte_arrives_unchanged_and_paced(self):
        output = os.path.join(self.folder.name, "received.bin")
        data, code, sim, sender, command = self.run_pair(
            1024 * 1024, ["--timeout", "30", "--min-announcements", "2", "--output", output])

        self.assertEqual((code, sim["result"]), (0, "ok"))
        self.assertEqual(sim["bytes"], len(data))
        self.assertEqual(sim["announced_length"], len(data))
        self.assertEqual(sim["sha256"], hashlib.sha256(data).hexdigest())
        with open(output, "rb") as f:
            self.assertEqual(f.read(), data)
        self.assertEqual(sim["announced_address"], "127.0.0.2")
        self.assertEqual(sim["announced_addresses"], ["127.0.0.2", "127.0.0.3"])
        self.assertEqual(sim["announced_port"], sender["port"])
        self.assertGreaterEqual(sim["announcements"], 2)
        self.assertEqual((sender["result"], sender["send_status"]), ("sent", 0))

        chunks = len(data) // 1024 + 1
        self.assertGreaterEqual(sim["stream_seconds"], (chunks - 1) * 0.001)
        print(f"\n{command}\n{json.dumps(sim)}\npacing: simulator {sim['stream_seconds'] / (chunks * 0.001):.4f}, "
              f"sender {sender['pacing_ratio']:.4f} (seconds / ({chunks} chunks x 1 ms))")

    def test_smallest_and_odd_sizes(self):
        # 7 bytes is the smallest file the check lets through.
        for size in (7, 1024, 1025):
            with self.subTest(size=size):
                data, code, sim, sender, _ = self.run_pair(size, ["--timeout", "15"])
                self.assertEqual((code, sim["result"]), (0, "ok"))
                self.assertEqual((sim["bytes"], sim["announced_length"]), (size, size))
                self.assertEqual(sim["sha256"], hashlib.sha256(data).hexdigest())
                self.assertEqual(sender["send_status"], 0)

    def test_peer_that_goes_away_mid_stream_fails_the_send_without_killing_the_sender(self):
        for option, result in (("--reset-after", "reset"), ("--close-after", "closed")):
            with self.subTest(option=option):
                _, code, sim, sender, _ = self.run_pair(1024 * 1024, ["--timeout", "15", option, "20000"])
                self.assertEqual((code, sim["result"], sim["bytes"]), (0, result, 20000))
                self.assertEqual((sender["result"], sender["send_status"]), ("sent", 3))

    def test_slow_reader_with_a_small_buffer_still_gets_every_byte(self):
        data, code, sim, sender, _ = self.run_pair(
            100 * 1024, ["--timeout", "15", "--slow", "400000", "--rcvbuf", "4096"])
        self.assertEqual((code, sim["result"], sim["bytes"]), (0, "ok", len(data)))
        self.assertEqual(sim["sha256"], hashlib.sha256(data).hexdigest())
        self.assertEqual(sender["send_status"], 0)
        self.assertGreaterEqual(sim["stream_seconds"], len(data) / 400000 * 0.9)

    def test_peer_that_stops_reading_does_not_hold_up_the_stop(self):
        _, code, sim, sender, _ = self.run_pair(
            4 * 1024 * 1024, ["--timeout", "15", "--stop-reading-after", "10000", "--rcvbuf", "4096", "--hold", "2"],
            ["--send-timeout", "1.5"])
        self.assertEqual((code, sim["result"]), (0, "stopped"))
        self.assertEqual(sender["result"], "cancelled")
        self.assertLess(sender["stop_ms"], 1000)

    def test_announcements_come_ten_times_a_second_per_interface(self):
        _, code, sim, sender, _ = self.run_pair(
            100, ["--timeout", "10", "--never-connect", "--listen-seconds", "0.6"], ["--connect-timeout", "1.5"])
        self.assertEqual((code, sim["result"]), (0, "ok"))
        self.assertEqual(sim["announced_addresses"], ["127.0.0.2", "127.0.0.3"])
        self.assertGreaterEqual(sim["announcements"], 8)
        self.assertLessEqual(sim["announcements"], 16)
        self.assertEqual(sender["result"], "waited")
        self.assertEqual(sender["broadcast_status"], -1)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    SENDER, SIMULATOR = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
