#!/usr/bin/python3
"""The README's commands as a newcomer runs them: scripts/run.sh with a file (in
the tool's namespace: the window comes up, Cancel ends it, nothing announced) and
scripts/demo.sh --auto a few times in a row.
"""

import os
import re
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from harness import BUTTON2_CLICK, SCREEN_SIZE, TITLE, make_update_file, poll  # noqa: E402

SESSION = None


def setUpModule():
    global SESSION
    SESSION = harness.Session.opened()


def tearDownModule():
    SESSION.close()


class Commands(unittest.TestCase):
    def test_run_sh_starts_the_window_with_the_file_given(self):
        env = {"PATH": os.environ["PATH"], "HOME": str(SESSION.folder("home")), "LANG": "C.UTF-8"}
        script = str(harness.REPO / "scripts" / "run.sh")
        without = subprocess.run([script], env=env, capture_output=True, text=True, timeout=30)
        self.assertEqual(without.returncode, 2)
        self.assertIn("scripts/demo.sh --auto", without.stderr)

        update = SESSION.folder("run") / "firmware.upd"
        update.write_bytes(make_update_file(4096))
        probe = SESSION.probe()
        proc = SESSION.spawn(["ip", "netns", "exec", SESSION.app_ns, script, str(update)],
                             env={**env, "DISPLAY": SESSION.display},
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

        def window():
            if proc.poll() is not None:
                raise harness.HarnessError(f"run.sh ended with {proc.returncode}")
            return SESSION.window_named(TITLE, SCREEN_SIZE)

        main = poll("the tool's window", 120, window, interval=0.2)
        poll("the language screen", 15, lambda: harness.language_screen(SESSION.screenshot(main.rect)))
        SESSION.click(main.x + BUTTON2_CLICK[0], main.y + BUTTON2_CLICK[1])
        out, _ = proc.communicate(timeout=15)
        self.assertEqual(proc.returncode, 0)
        folder = re.search(r"starting (\S+)/QvrUpdater with", out)
        self.assertIsNotNone(folder, out)
        self.assertFalse(Path(folder.group(1)).exists(), "the temporary folder is left behind")
        self.assertEqual(probe.count(), 0)

    def test_demo_auto_reports_the_whole_file_every_time(self):
        for run in range(3):
            with self.subTest(run=run):
                result = subprocess.run([str(harness.REPO / "scripts" / "demo.sh"), "--auto"],
                                        capture_output=True, text=True, timeout=120)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertIn("the mixer received the whole file (sha256 matches)", result.stdout)


if __name__ == "__main__":
    harness.install_watchdog(280)
    sys.exit(harness.run_cases(sys.argv[1:], ["__main__"], lambda: SESSION))
