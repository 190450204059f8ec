#!/usr/bin/python3
"""The command-line updater end to end, in the private namespace pair against
the mixer simulator: the whole road with sha256, Ctrl-C while waiting, a mixer
that resets mid-stream, and the bad starts that must end before announcing.

    test_cli.py --cli PATH/qvr-update [unittest arguments]
"""

import argparse
import hashlib
import json
import signal
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from harness import make_update_file, poll  # noqa: E402

CLI = None
SESSION = None


def setUpModule():
    global SESSION
    SESSION = harness.Session.opened()


def tearDownModule():
    SESSION.close()


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.folder = SESSION.folder("cli")
        self.addCleanup(SESSION.end_processes)

    def start(self, *args, update=None, name="fw.upd"):
        """qvr-update in the tool's namespace; returns the process and the file it was given."""
        path = self.folder / name
        if update is not None:
            path.write_bytes(update)
        proc = SESSION.spawn(["ip", "netns", "exec", SESSION.app_ns, str(CLI), *map(str, args), str(path)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             env={"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"})
        return proc, path

    def finish(self, proc, timeout=30):
        out, err = proc.communicate(timeout=timeout)
        return proc.returncode, out, err

    def test_whole_road_with_json_result(self):
        update = make_update_file(300 * 1024)
        sim = SESSION.simulator("--timeout", 30)
        proc, path = self.start("--json", update=update)
        report = sim.result(40)
        code, out, err = self.finish(proc)
        self.assertEqual(code, 0, err)
        self.assertEqual((report["sha256"], report["announced_address"]), (hashlib.sha256(update).hexdigest(), harness.APP_ADDR))

        result = json.loads(out.strip().splitlines()[-1])
        self.assertEqual(result["outcome"], "sent", result)
        self.assertEqual((result["size"], result["sha256"], result["mixer"], result["exit"]),
                         (len(update), hashlib.sha256(update).hexdigest(), harness.MIX_ADDR, 0))
        self.assertEqual(result["file"], str(path))
        # Human lines go to stderr with --json: the subnet, then plain progress lines up to 100 %.
        self.assertIn(f"announcing on {harness.APP_ADDR} to {harness.BROADCAST}:56000", err)
        self.assertRegex(err, r"100 %  307 / 307 kB")

    def test_ctrl_c_while_waiting_stops_announcing_and_closes_the_port(self):
        probe = SESSION.probe()
        proc, _ = self.start(update=make_update_file(4096))
        poll("announcements", 10, lambda: probe.count() >= 2)
        poll("the listening port", 5, lambda: SESSION.listening(54000))
        proc.send_signal(signal.SIGINT)
        code, out, err = self.finish(proc, 10)
        self.assertEqual(code, 130, err)
        self.assertEqual(out.strip().splitlines()[-1], "Connecting cancel.")
        self.assertFalse(SESSION.listening(54000))
        heard = probe.count()
        poll("silence", 2, lambda: probe.count() == heard, interval=0.6)

    def test_mixer_reset_ends_with_the_send_code_and_status(self):
        sim = SESSION.simulator("--reset-after", 100000, "--timeout", 30)
        proc, _ = self.start(update=make_update_file(2 * 1024 * 1024))
        self.assertEqual(sim.result(40)["result"], "reset")
        code, out, err = self.finish(proc)
        self.assertEqual(code, 6, err)
        self.assertRegex(out.strip().splitlines()[-1], r"^Cannot find the UpdateFile_S[23]$")

    def test_bad_starts_end_before_announcing(self):
        probe = SESSION.probe()
        (self.folder / "dir.upd").mkdir()
        good = make_update_file(100)
        cases = [  # arguments, file name, its content, exit status, what stderr says
            (["--interface", "nosuch0"], "fw.upd", good, 2, "no IPv4 interface"),
            (["--timeout", "soon"], "fw.upd", good, 2, "--timeout"),
            (["--frobnicate"], "fw.upd", good, 2, "unknown option"),
            ([], "empty.upd", b"", 3, "does not begin"),
            ([], "other.upd", b"QVR-6000" + bytes(100), 3, "does not begin"),
            ([], "missing.upd", None, 3, "does not exist"),
            ([], "dir.upd", None, 3, "is a folder"),
            (["--timeout", "1"], "fw.upd", good, 5, "no mixer connected within 1"),
        ]
        for args, name, content, status, says in cases:
            with self.subTest(args=args, name=name):
                if status == 5:
                    self.assertEqual(probe.count(), 0, "a bad start announced")
                proc, _ = self.start(*args, update=content, name=name)
                code, out, err = self.finish(proc)
                self.assertEqual(code, status, err)
                self.assertIn(says, err)


def main():
    global CLI
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--source", help="source tree (scripts/, tools/); default: this file's")
    parser.add_argument("--watchdog", type=int, default=240)
    args, rest = parser.parse_known_args()
    if args.source:
        harness.use_source(args.source)
    CLI = Path(args.cli).resolve()
    harness.install_watchdog(args.watchdog)
    return harness.run_cases(rest, ["__main__"], lambda: SESSION)


if __name__ == "__main__":
    sys.exit(main())
