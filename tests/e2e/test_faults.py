#!/usr/bin/python3
"""Faults met end to end by the real tool: a held port, a mixer that closes or
stops reading mid-stream, update files that cannot be sent. Each ends in its
box, and the process ends cleanly once the box is dismissed.

    test_faults.py --binary PATH/QvrUpdater [unittest arguments, e.g. -k held_port]
"""

import os
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import test_e2e  # noqa: E402
from harness import App, make_update_file, poll  # noqa: E402

HOLD_PORT = """
import socket, sys, time
s = socket.socket()          # no SO_REUSEADDR: nobody else may listen here
s.bind(("0.0.0.0", 54000))
s.listen()
print("held", flush=True)
time.sleep(float(sys.argv[1]))
"""


def setUpModule():
    test_e2e.setUpModule()


def tearDownModule():
    test_e2e.tearDownModule()


class Faults(test_e2e.E2ECase):
    def start_to_connect(self, update=b""):
        app = self.start_app(update)
        self.to_confirm(app)
        app.press_first()
        return app

    def test_held_port_shows_C1_before_any_announcement(self):
        holder = self.session.spawn(["ip", "netns", "exec", self.session.app_ns, harness.PYTHON, "-c", HOLD_PORT, "30"],
                                    stdout=subprocess.PIPE, text=True)
        self.assertEqual(holder.stdout.readline().strip(), "held")
        probe = self.session.probe()
        app = self.start_to_connect()
        box = app.wait_box()
        self.assert_box_text(box, r"MIXER.?C[1l|I]")
        # The port is the first thing the link sets up: nobody was called to a port we do not hold.
        self.assertEqual(probe.count(), 0)
        self.dismiss_and_expect_exit(app, box)

    def test_mixer_closing_mid_stream_shows_a_send_box(self):
        sim = self.session.simulator("--close-after", 100000, "--rcvbuf", 4096, "--timeout", 30)
        app = self.start_to_connect(make_update_file(2 * 1024 * 1024))
        report = sim.result(40)
        self.assertEqual(report["result"], "closed", report)
        box = app.wait_box(15)
        self.assert_box_text(box, r"UpdateFile.?[S5$][1-9]|Senderror")
        self.dismiss_and_expect_exit(app, box)

    def test_cancel_with_a_mixer_that_stopped_reading_ends_within_a_second(self):
        sim = self.session.simulator("--stop-reading-after", 100000, "--rcvbuf", 4096, "--hold", 20, "--timeout", 30)
        app = self.start_to_connect(make_update_file(8 * 1024 * 1024))
        poll("the connection", 15, lambda: self.established(54000))
        # Let the buffers fill, so the transfer really hangs on the peer.
        time.sleep(1.0)
        self.assertTrue(app.alive())
        self.assertEqual(app.boxes(), [])
        clicked = time.monotonic()
        app.press_second()
        box = app.wait_box(5)
        self.assertLess(time.monotonic() - clicked, 1.5, "the cancel box took too long")
        self.assert_box_text(box, r"Sendingcancel")
        self.dismiss_and_expect_exit(app, box)
        harness.end_process(sim.proc)

    def test_update_files_that_cannot_be_sent_show_I4(self):
        cases = {
            "empty": b"",
            "shorter than the model string": b"QVR-70",
            "another model": b"QVR-6000" + bytes(1000),
            "a folder": None,
            "4 GiB (sparse)": None,
        }
        for name, content in cases.items():
            with self.subTest(name):
                app = App(self.session, test_e2e.BINARY, update=None)
                update = app.exe.with_suffix(".upd")
                if name == "a folder":
                    update.mkdir()
                elif name.startswith("4 GiB"):
                    with open(update, "wb") as f:
                        f.write(b"QVR-7000")
                        f.truncate(4 * 1024 ** 3)
                else:
                    update.write_bytes(content)
                app.start()
                app.wait_window()
                app.wait_screen("the language screen", test_e2e.language_screen)
                app.press_first()
                box = app.wait_box()
                self.assert_box_text(box, r"UpdateFile.?[I1l|]4")
                self.assertFalse(self.session.listening(54000))
                self.dismiss_and_expect_exit(app, box)
                if update.is_file():
                    os.remove(update)

    def established(self, port):
        out = harness.run(["ip", "netns", "exec", self.session.app_ns, "ss", "-tnH", "state", "established"]).stdout
        return any(f":{port}" in line.split()[2] for line in out.splitlines() if len(line.split()) > 2)


def main():
    return test_e2e.main()


if __name__ == "__main__":
    sys.exit(main())
