#!/usr/bin/python3
"""The command-line updater end to end, in the private namespace pair against
the mixer simulator; --check reads a real nftables table in the tool's namespace
(its rules are its own: nothing of the machine's firewall changes).

    test_cli.py --cli PATH/qvr-update [unittest arguments]
"""

import functools
import hashlib
import json
import os
import pty
import select
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from harness import LATIN1_FOLDER, make_update_file, poll  # noqa: E402

CLI = None
SESSION = None
DROP_TABLE = "table inet qvrcheck { chain input { type filter hook input priority 0; tcp dport 54000 drop; }; }"


def setUpModule():
    global SESSION
    SESSION = harness.Session.opened()


def tearDownModule():
    SESSION.close()


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.folder = SESSION.folder("cli")
        self.addCleanup(SESSION.end_processes)

    def start(self, *args, update=None, name="fw.upd", cwd=None, stdout=subprocess.PIPE, stderr=subprocess.PIPE, sbin=None):
        """qvr-update in the tool's namespace; returns the process and the file it was given
        (by its bare name when started in the folder cwd). sbin: stand-ins (name: shell script)
        for the firewall programs, in a folder mounted over /usr/sbin in a mount namespace of its own."""
        path = (cwd or self.folder) / name
        if update is not None:
            path.write_bytes(update)
        mounted = []
        if sbin is not None:
            folder = self.folder / "sbin"
            folder.mkdir()
            for program, script in sbin.items():
                (folder / program).write_text("#!/bin/sh\n" + script + "\n")
                (folder / program).chmod(0o755)
            mounted = ["unshare", "-m", "--propagation", "private", "sh", "-c", 'mount --bind "$0" /usr/sbin && exec "$@"', folder]
        proc = SESSION.spawn(["ip", "netns", "exec", SESSION.app_ns, *map(str, mounted), str(CLI), *map(str, args), name if cwd else str(path)],
                             stdout=stdout, stderr=stderr, text=True, cwd=cwd,
                             env={"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"})
        return proc, path

    def finish(self, proc, timeout=30):
        out, err = proc.communicate(timeout=timeout)
        return proc.returncode, out, err

    def test_whole_road_with_json_result(self):
        update = make_update_file(300 * 1024)
        sim = SESSION.simulator("--timeout", 30)
        # Linux names may hold anything but '/' and NUL; started in a folder that is not UTF-8.
        folder = self.folder / LATIN1_FOLDER
        folder.mkdir()
        name = '"quoted" back\\slash ' + "".join(map(chr, range(1, 32))) + " ファーム 😀.upd"
        proc, _ = self.start("--json", update=update, name=name, cwd=folder)
        report = sim.result(40)
        code, out, err = self.finish(proc)
        self.assertEqual(code, 0, err)
        self.assertEqual((report["sha256"], report["announced_address"]), (hashlib.sha256(update).hexdigest(), harness.APP_ADDR))

        result = json.loads(out)  # the only line on stdout
        self.assertEqual((result["outcome"], result["size"], result["sha256"], result["mixer"], result["delivered"], result["exit"]),
                         ("sent", len(update), hashlib.sha256(update).hexdigest(), harness.MIX_ADDR, True, 0), result)
        self.assertEqual(result["file"], f"{self.folder}/Fran\ufffdais 100\ufffd/{name}")
        # Human lines go to stderr with --json: the subnet, then plain progress lines up to 100 %.
        self.assertIn(f"announcing on {harness.APP_ADDR} to {harness.BROADCAST}:56000", err)
        self.assertRegex(err, r"100 %  307 / 307 kB")

    def test_ctrl_c_or_term_while_waiting_cancels_at_once(self):
        waiting = (f"announcing on {harness.APP_ADDR} to {harness.BROADCAST}:56000\n"
                   "waiting for the mixer on TCP port 54000 (Ctrl-C cancels)\n")
        for sig, quiet, said in ((signal.SIGINT, [], waiting), (signal.SIGTERM, ["--quiet"], "")):
            with self.subTest(signal=sig):
                probe = SESSION.probe()
                proc, _ = self.start(*quiet, update=make_update_file(4096))
                poll("announcements", 10, lambda: probe.count() >= 2)
                proc.send_signal(sig)
                code, out, err = self.finish(proc, 10)
                self.assertEqual((code, out), (130, said + "Connecting cancel.\n"), err)

    def test_port_held_by_another_program_is_C1_status_4_told_as_json_and_named_by_check(self):
        # SO_REUSEADDR as servers set it: no way past it for the tool's own socket.
        helper = SESSION.spawn(["ip", "netns", "exec", SESSION.app_ns, harness.PYTHON, "-c",
                                "import socket, time; s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); "
                                "s.bind(('0.0.0.0', 54000)); s.listen(); time.sleep(60)"])
        poll("the other program's port", 10, lambda: SESSION.listening(54000))
        proc, path = self.start("--json", update=make_update_file(100))
        code, out, err = self.finish(proc, 10)
        self.assertEqual(code, 4, err)
        result = json.loads(out)  # the only line on stdout
        self.assertGreaterEqual(result.pop("seconds"), 0)
        self.assertEqual(result, {"file": str(path), "size": 100, "sha256": None, "mixer": None, "outcome": "C1",
                                  "delivered": False, "message": "Cannot connect the MIXER_C1", "exit": 4})
        self.assertEqual(err.splitlines()[-1], "Cannot connect the MIXER_C1")

        code, out, _ = self.finish(self.start("--check")[0], 60)
        self.assertEqual(code, 7, out)
        self.assertIn(f"✗ TCP port 54000: held by python3 (pid {helper.pid})"
                      f" — fix: end python3 (pid {helper.pid}), then update\n", out)
        self.assertTrue(out.endswith("\n1 finding will keep the mixer from connecting: see the lines marked ✗\n"), out)

    def test_check_finds_an_nftables_drop_and_a_bad_file_without_announcing(self):
        probe = SESSION.probe()
        update = make_update_file(1000)
        code, out, err = self.finish(self.start("--check", "--json", update=update)[0], 60)
        self.assertEqual(code, 0, err)
        checks = {c["check"]: (c["status"], c["detail"]) for c in json.loads(out)["checks"]}
        self.assertEqual(checks[f"file {self.folder}/fw.upd"], ("ok", f"1000 bytes, sha256 {hashlib.sha256(update).hexdigest()}, begins with QVR-700"))
        self.assertEqual(checks["interface qvr0"], ("ok", f"{harness.APP_ADDR}/24, broadcast {harness.BROADCAST}"))
        self.assertEqual(checks["UDP announcements to port 56000"], ("ok", "can leave from every interface's own address"))
        self.assertEqual(checks["firewall nftables"], ("ok", "no input rules"))
        self.assertTrue(err.endswith("\nnothing found that keeps the mixer from connecting\n"), err)

        nft = ["ip", "netns", "exec", SESSION.app_ns, "nft"]
        harness.run(nft + ["-f", "-"], input=DROP_TABLE)
        self.addCleanup(harness.run, nft + ["delete", "table", "inet", "qvrcheck"], check=False)
        # A file that fails its check decides the status over what blocks the mixer.
        code, out, _ = self.finish(self.start("--check", name="missing.upd")[0], 60)
        self.assertEqual(code, 3, out)
        self.assertTrue(out.startswith(f"✗ file {self.folder}/missing.upd: does not exist"), out)
        self.assertIn("✗ firewall nftables: rule 2 of chain inet qvrcheck input drops TCP 54000"
                      " — fix: sudo nft insert rule inet qvrcheck input tcp dport 54000 accept\n", out)
        self.assertTrue(out.endswith("\nthe update file fails the check\n"), out)
        self.assertEqual(probe.count(), 0, "the check announced")

    def test_check_ends_at_once_on_ctrl_c_or_term_and_kills_the_firewall_program_it_waits_for(self):
        with open(self.folder / "big.upd", "wb") as big:  # seconds to read and hash
            big.write(b"QVR-7000")
            big.truncate(3_500_000_000)
        for sig, args, name, sbin in ((signal.SIGINT, [], "big.upd", None),
                                      (signal.SIGTERM, ["--json"], "fw.upd", {"ufw": f"echo $$ > {self.folder}/ufw.pid; exec sleep 60"})):
            with self.subTest(signal=sig):
                proc, path = self.start("--check", *args, update=make_update_file(1000) if sbin else None, name=name, sbin=sbin)
                poll("ufw asked", 10, (self.folder / "ufw.pid").exists) if sbin else time.sleep(0.3)
                proc.send_signal(sig)
                signalled = time.monotonic()
                code, out, err = self.finish(proc, 30)
                self.assertLess(time.monotonic() - signalled, 1.0)
                if not sbin:
                    self.assertEqual((code, out), (130, "interrupted before the check was done\n"), err)
                    continue
                result = json.loads(out)  # the only line on stdout: the findings before ufw's
                self.assertEqual(([c["check"] for c in result["checks"]], result["exit"], code),
                                 ([f"file {path}", "interface qvr0", "TCP port 54000", "UDP announcements to port 56000"], 130, 130))
                self.assertTrue(err.endswith("\ninterrupted before the check was done\n"), err)
                self.assertFalse(Path(f"/proc/{(self.folder / 'ufw.pid').read_text().strip()}").exists(), "ufw still runs")

    def test_check_waits_10_s_at_most_for_a_firewall_program_that_closed_its_output(self):
        started = time.monotonic()
        proc, _ = self.start("--check", update=make_update_file(1000), sbin={"firewall-cmd": "exec sleep 60 >&- 2>&-"})
        code, out, err = self.finish(proc, 30)
        self.assertLess(time.monotonic() - started, 15)
        self.assertEqual(code, 0, err)
        self.assertIn('! firewall firewalld: could not check: firewall-cmd said "firewall-cmd gave no answer within 10 s"'
                      " — fix: see what firewall-cmd --state says\n", out)

    def test_mixer_that_fails_near_the_end_is_no_success(self):
        # All but the last 20 kB read, the rest in the buffers, a pause, then a reset.
        size, tail = 300 * 1024, 20000
        sim = SESSION.simulator("--rcvbuf", 8192, "--reset-after", size - tail, "--hold", 0.5, "--timeout", 30)
        proc, _ = self.start("--json", update=make_update_file(size))
        self.assertEqual(sim.result(40)["result"], "reset")
        code, out, err = self.finish(proc)
        self.assertEqual(code, 6, err)
        self.assertIn("Cannot find the UpdateFile_S3\n", err)
        result = json.loads(out)
        self.assertEqual((result["outcome"], result["delivered"], result["exit"]), ("S3", False, 6), result)

    def test_three_mixers_at_once_one_fails_the_others_take_the_file(self):
        update = make_update_file(512 * 1024)
        sim = SESSION.simulator("--count", 3, "--addresses", "192.0.2.2,192.0.2.3,192.0.2.4",
                                "--fault", "2:reset-after=100000", "--timeout", 30)
        proc, _ = self.start("--mixers", 3, "--json", update=update)
        report = sim.result(40)
        code, out, err = self.finish(proc)
        self.assertEqual(code, 6, err)
        result = json.loads(out)
        digest = hashlib.sha256(update).hexdigest()
        self.assertEqual((result["expected"], result["connected"], result["delivered"], result["outcome"]), (3, 3, 2, "failed"))
        got = {m["address"]: (m["outcome"], m["bytes"] == len(update), m["sha256"] == digest) for m in result["mixers"]}
        self.assertEqual(got, {"192.0.2.2": ("delivered", True, True), "192.0.2.3": ("S3", False, False),
                               "192.0.2.4": ("delivered", True, True)})
        heard = {m["address"]: (m["result"], m["sha256"] == digest) for m in report["mixers"]}
        self.assertEqual(heard, {"192.0.2.2": ("ok", True), "192.0.2.3": ("reset", False), "192.0.2.4": ("ok", True)})
        self.assertIn("mixer 192.0.2.3: S3", err)

    def test_a_mixer_not_listed_gets_nothing_and_too_few_in_time_is_status_5(self):
        update = make_update_file(64 * 1024)
        sim = SESSION.simulator("--count", 3, "--addresses", "192.0.2.2,192.0.2.3,192.0.2.77",
                                "--fault", "2:never-connect", "--timeout", 30)
        proc, _ = self.start("--mixer", "192.0.2.2", "--mixer", "192.0.2.3", "--timeout", 2, update=update)
        report = sim.result(40)
        code, out, err = self.finish(proc)
        self.assertEqual(code, 5, err)
        heard = {m["address"]: (m["result"], m["bytes"]) for m in report["mixers"]}
        self.assertEqual(heard, {"192.0.2.2": ("ok", len(update)), "192.0.2.3": ("never_connected", 0), "192.0.2.77": ("short", 0)})
        self.assertIn("ignored a connection from 192.0.2.77: not in --mixer", out)
        self.assertIn("1 of 2 mixers connected within 2 s", err)
        # The one that came is the only one sending, and the line says so.
        self.assertRegex(out, r"\n1 mixer  \d+ %  ")

    def test_output_that_goes_away_stops_no_transfer_and_the_last_progress_line_keeps_no_fragment(self):
        # stdout's reader gone from the start (| true), the progress on a terminal,
        # then the SSH session drops (SIGHUP): the mixer still gets the whole file.
        update = make_update_file(2_000_000)
        sim = SESSION.simulator("--timeout", 30)
        master, slave = pty.openpty()
        proc, _ = self.start("--json", update=update, stderr=slave)
        proc.stdout.close()
        os.close(slave)
        shown, hung_up, deadline = b"", False, time.monotonic() + 40
        while select.select([master], [], [], max(0, deadline - time.monotonic()))[0]:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # EIO: the last writer has gone
                break
            if not chunk:
                break
            shown += chunk
            if not hung_up and b" MB " in shown:
                proc.send_signal(signal.SIGHUP)
                hung_up = True
        os.close(master)
        self.assertEqual(sim.result(10)["sha256"], hashlib.sha256(update).hexdigest())
        self.assertEqual(proc.wait(10), 0)
        self.assertGreater(shown.count(b" %  "), 3, "the progress line did not move while sending")

        def on_screen(line):  # each \r goes back to the line's start and overwrites
            return functools.reduce(lambda screen, part: part + screen[len(part):], line.split("\r"), "").rstrip()
        self.assertIn("100 %  2.0 / 2.0 MB  0:00", [on_screen(line) for line in shown.decode().split("\n")])

    def test_bad_starts_end_before_announcing(self):
        probe = SESSION.probe()
        (self.folder / "dir.upd").mkdir()
        os.mkfifo(self.folder / "fifo.upd")
        good = make_update_file(100)
        cases = [  # arguments, file name, its content, exit status, how stderr ends
            (["--json", "--interface", "nosuch0"], "fw.upd", good, 2, "there are: lo 127.0.0.1, qvr0 192.0.2.1, qvrb0 198.51.100.1\n"),
            (["--frobnicate", "--json"], "fw.upd", good, 2, "unknown option --frobnicate\nTry 'qvr-update --help'.\n"),
            ([], "empty.upd", b"", 3, 'empty.upd does not begin with "QVR-700": not an update file for this mixer\n'),
            ([], "missing.upd", None, 3, "missing.upd does not exist\n"),
            ([], "dir.upd", None, 3, "dir.upd is a folder\n"),
            ([], "fifo.upd", None, 3, "fifo.upd is not a regular file (a FIFO, a device or a socket)\n"),
            (["--json"], "/dev/zero", None, 3, "/dev/zero is not a regular file (a FIFO, a device or a socket)\nCannot find the UpdateFile_I4\n"),
            (["--interface", "qvr0", "--timeout", "1"], "fw.upd", good, 5, "no mixer connected within 1 s\n"),
        ]
        # A second interface that --interface leaves out: a veth pair of its own, both ends here.
        harness.run(["ip", "-n", SESSION.app_ns, "-batch", "-"], input="link add qvrb0 type veth peer name qvrb1\n"
                    "addr add 198.51.100.1/24 dev qvrb0\nlink set qvrb0 up\nlink set qvrb1 up\n")
        self.addCleanup(harness.run, ["ip", "-n", SESSION.app_ns, "link", "del", "qvrb0"], check=False)
        for args, name, content, status, says in cases:
            with self.subTest(args=args, name=name):
                if status == 5:
                    self.assertEqual(probe.count(), 0, "a bad start announced")
                proc, _ = self.start(*args, update=content, name=name)
                code, out, err = self.finish(proc, 10)
                self.assertEqual(code, status, err)
                self.assertTrue(err.endswith(says), err)
                if status == 5:
                    self.assertEqual([line for line in out.splitlines() if line.startswith("announcing")],
                                     [f"announcing on {harness.APP_ADDR} to {harness.BROADCAST}:56000"])
                if "--json" in args:  # one line, and nothing else, on stdout
                    result = json.loads(out)
                    self.assertEqual((result["exit"], result["outcome"]), (status, {2: "usage", 3: "I4"}[status]))
                    self.assertEqual(out.count("\n"), 1)


def main():
    global CLI
    args, rest = harness.options("cli")
    CLI = args.cli
    return harness.run_cases(rest, ["__main__"], lambda: SESSION)


if __name__ == "__main__":
    sys.exit(main())
