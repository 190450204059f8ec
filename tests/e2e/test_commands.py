#!/usr/bin/python3
"""The README's commands as a newcomer runs them: scripts/run.sh in a fresh copy
of the sources with a file (in the tool's namespace, where the temporary folders
do not let programs run: the window comes up, Cancel ends it, nothing announced),
scripts/demo.sh --auto, and demo.sh --display on a display
that wants a cookie.
"""

import os
import re
import shutil
import signal
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
    def test_run_sh_starts_the_window_from_a_folder_that_lets_it_run(self):
        # A copy without build folders: run.sh builds in its own (from ccache), not in the
        # build/ that CTest runs from.
        copy = SESSION.folder("copy") / "source"
        shutil.copytree(harness.REPO, copy, ignore=lambda folder, names: [
            n for n in names if folder == str(harness.REPO) and (n.startswith("build") or n == ".git")])
        script = str(copy / "scripts" / "run.sh")
        home = SESSION.folder("home")
        # The user's compiler cache, which a HOME of its own would hide.
        cache = harness.run(["ccache", "--get-config", "cache_dir"]).stdout.strip()
        env = {"PATH": os.environ["PATH"], "HOME": str(home), "LANG": "C.UTF-8", "CCACHE_DIR": cache}
        without = subprocess.run([script], env=env, capture_output=True, text=True, timeout=30)
        self.assertEqual(without.returncode, 2)
        self.assertIn("scripts/demo.sh --auto", without.stderr)

        update = SESSION.folder("run") / "firmware.upd"
        update.write_bytes(make_update_file(4096))
        noexec, lock, log = SESSION.folder("noexec"), SESSION.folder("lock"), SESSION.folder("log") / "run.log"

        def start(**more):
            # A mount namespace of its own: a noexec tmpfs as the runtime and temporary
            # folders, and a /var/tmp (the single-instance lock) of its own.
            setup = 'mount -t tmpfs -o noexec tmpfs "$0" && mount --bind "$1" /var/tmp && shift && exec "$@"'
            with open(log, "w") as out:
                return SESSION.spawn(
                    ["ip", "netns", "exec", SESSION.app_ns, "unshare", "-m", "sh", "-c", setup,
                     str(noexec), str(lock), script, str(update)],
                    env={**env, "DISPLAY": SESSION.display, "XDG_RUNTIME_DIR": str(noexec), "TMPDIR": str(noexec), **more},
                    stdout=out, stderr=subprocess.STDOUT)

        probe = SESSION.probe(240)
        proc = start()

        def window():
            if proc.poll() is not None:
                raise harness.HarnessError(f"run.sh ended with {proc.returncode}: {log.read_text()[-2000:]}")
            return SESSION.window_named(TITLE, SCREEN_SIZE)

        main = poll("the tool's window", 180, window, interval=0.2)
        poll("the language screen", 15, lambda: harness.language_screen(SESSION.screenshot(main.rect)))
        SESSION.click(main.x + BUTTON2_CLICK[0], main.y + BUTTON2_CLICK[1])
        self.assertEqual(proc.wait(15), 0, log.read_text())
        folder = re.search(r"starting (\S+)/QvrUpdater with", log.read_text())
        self.assertRegex(folder.group(1) if folder else log.read_text(), f"^{home}/.cache/qvr-updater.")
        self.assertFalse(Path(folder.group(1)).exists(), "the folder is left behind")
        self.assertEqual(probe.count(), 0)

        # Nowhere it could run: said, where a menu start would otherwise show nothing at all.
        self.assertEqual(start(XDG_CACHE_HOME=str(noexec)).wait(60), 126)
        self.assertIn("no folder here lets programs run", log.read_text())

    def test_demo_auto_reports_the_whole_file(self):
        result = subprocess.run([str(harness.REPO / "scripts" / "demo.sh"), "--auto"], capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("the mixer received the whole file (sha256 matches)", result.stdout)

    def test_demo_display_shows_the_tool_on_a_display_that_wants_a_cookie(self):
        display, xauthority = SESSION.guarded_display()
        demo = SESSION.spawn([str(harness.REPO / "scripts" / "demo.sh"), "--display", "--timeout", "60"],
                             env={**os.environ, "DISPLAY": display, "XAUTHORITY": xauthority},
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        viewer = harness.Session(display, xauthority)
        poll("the tool on that display", 60, lambda: demo.poll() is None and viewer.window_named(TITLE, SCREEN_SIZE))
        # Interrupted, the demo still removes what it made.
        demo.send_signal(signal.SIGINT)
        self.assertEqual(demo.wait(30), 130)
        self.assertNotIn(f"qvr-{demo.pid}-", harness.run(["ip", "netns", "list"]).stdout)


if __name__ == "__main__":
    harness.install_watchdog(280)
    sys.exit(harness.run_cases(sys.argv[1:], ["__main__"], lambda: SESSION))
