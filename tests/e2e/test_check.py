#!/usr/bin/python3
"""qvr-update --check end to end, in the tool's namespace of a private pair:
an open road, a real nftables table that drops TCP 54000 (rules in the
namespace are its own: nothing of the machine's firewall changes) and the
port held by a helper process, which is named.

    test_check.py --cli PATH/qvr-update [unittest arguments]
"""

import hashlib
import json
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from harness import poll  # noqa: E402

CLI = None
SESSION = None
DROP_TABLE = "table inet qvrcheck { chain input { type filter hook input priority 0; tcp dport 54000 drop; }; }"


def setUpModule():
    global SESSION
    SESSION = harness.Session.opened()


def tearDownModule():
    SESSION.close()


class Check(unittest.TestCase):
    def setUp(self):
        self.addCleanup(SESSION.end_processes)

    def in_app_ns(self, *cmd, **kw):
        return harness.run(["ip", "netns", "exec", SESSION.app_ns, *map(str, cmd)], **kw)

    def check(self, *args):
        result = self.in_app_ns(CLI, "--check", *args, check=False, timeout=60,
                                env={"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"})
        return result.returncode, result.stdout, result.stderr

    def test_nftables_drop_is_found_and_its_removal_seen_without_announcing(self):
        probe = SESSION.probe()
        folder = SESSION.folder("check")
        update = harness.make_update_file(1000)
        (folder / "fw.upd").write_bytes(update)
        code, out, err = self.check("--json")
        self.assertEqual(code, 0, err)
        checks = {c["check"]: (c["status"], c["detail"]) for c in json.loads(out)["checks"]}
        self.assertEqual(checks["interface qvr0"], ("ok", f"{harness.APP_ADDR}/24, broadcast {harness.BROADCAST}"))
        self.assertEqual(checks["UDP announcements to port 56000"], ("ok", "can leave from every interface's own address"))
        self.assertEqual(checks["firewall nftables"], ("ok", "no input rules"))
        self.assertTrue(err.endswith("\nnothing found that keeps the mixer from connecting\n"), err)

        self.in_app_ns("nft", "-f", "-", input=DROP_TABLE)
        self.addCleanup(self.in_app_ns, "nft", "delete", "table", "inet", "qvrcheck", check=False)
        code, out, _ = self.check(folder / "fw.upd")
        self.assertEqual(code, 7, out)
        self.assertIn(f"✓ file {folder}/fw.upd: 1000 bytes, sha256 {hashlib.sha256(update).hexdigest()}, begins with QVR-700\n", out)
        self.assertIn("✗ firewall nftables: rule 2 of chain inet qvrcheck input drops TCP 54000"
                      " — fix: sudo nft insert rule inet qvrcheck input tcp dport 54000 accept\n", out)
        self.assertTrue(out.endswith("\n1 finding will keep the mixer from connecting: see the lines marked ✗\n"), out)

        # Gone again; a file that fails its check decides the status then.
        self.in_app_ns("nft", "delete", "table", "inet", "qvrcheck")
        code, out, _ = self.check(folder / "missing.upd")
        self.assertEqual(code, 3, out)
        self.assertIn("✓ firewall nftables: no input rules\n", out)
        self.assertTrue(out.startswith(f"✗ file {folder}/missing.upd: does not exist"), out)
        self.assertEqual(probe.count(), 0, "the check announced")

    def test_port_held_by_a_helper_names_it(self):
        helper = SESSION.spawn(["ip", "netns", "exec", SESSION.app_ns, harness.PYTHON, "-c",
                                "import socket, time; s = socket.socket(); s.bind(('0.0.0.0', 54000)); s.listen(); time.sleep(60)"])
        poll("the helper's port", 10, lambda: SESSION.listening(54000))
        code, out, _ = self.check()
        self.assertEqual(code, 7, out)
        self.assertIn(f"✗ TCP port 54000: held by python3 (pid {helper.pid})"
                      f" — fix: end python3 (pid {helper.pid}), then update\n", out)


def main():
    global CLI
    args, rest = harness.options("cli", watchdog=180)
    CLI = args.cli
    return harness.run_cases(rest, ["__main__"], lambda: SESSION)


if __name__ == "__main__":
    sys.exit(main())
