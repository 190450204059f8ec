#!/usr/bin/python3
"""The tool as the Debian package installs it, unpacked into a scratch root
(dpkg -x): its launcher, usr/bin/qvr-updater, takes the whole road of tests/e2e.

    test_deb_e2e.py --root SCRATCH_ROOT [unittest arguments]
"""

import re
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[0] / "e2e"))
import harness  # noqa: E402
import test_e2e  # noqa: E402

CASES = ["test_e2e.EndToEnd.test_whole_road"]


class LauncherApp(harness.App):
    """The installed launcher, given the update file written beside the copy the harness made."""

    def start(self):
        script = 'mount --bind "$0" /var/tmp && cd "$1" && shift && exec "$@"'
        self.proc = self.session.spawn(
            ["ip", "netns", "exec", self.session.app_ns, "sh", "-c", script,
             str(self.lock), str(self.folder), str(LAUNCHER), str(self.exe.with_suffix(".upd"))],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        return self

    def wait_window(self, timeout=20):
        main = super().wait_window(timeout)
        # Desktops tie the window to its menu entry, and so to the entry's icon, by this class.
        entry = (LAUNCHER.parents[1] / "share" / "applications" / "qvr-updater.desktop").read_text()
        wanted = re.search(r"^StartupWMClass=(.+)$", entry, re.M)
        wm_class = harness.run(["xprop", "-display", self.session.display, "-id", main.id, "WM_CLASS"]).stdout
        if not wanted or f'"{wanted.group(1)}"' not in wm_class:
            raise harness.DriverError(f"the window's {wm_class.strip()} is not the menu entry's StartupWMClass")
        return main

    @property
    def pid(self):
        # The window belongs to the launcher's child, the copy it runs.
        out = subprocess.run(["pgrep", "-P", str(self.proc.pid), "-n"], capture_output=True, text=True).stdout.split()
        return int(out[0]) if out else self.proc.pid


LAUNCHER = None


def main():
    global LAUNCHER
    args, rest = harness.options("root")
    LAUNCHER = args.root / "usr" / "bin" / "qvr-updater"
    # The harness copies the "binary" into each case's folder; the launcher
    # itself is what runs, from the scratch root, and finds the tool beside it.
    test_e2e.BINARY = args.root / "usr" / "lib" / "qvr-updater" / "QvrUpdater"
    test_e2e.App = LauncherApp
    return harness.run_cases(rest, CASES, lambda: test_e2e.SESSION)


if __name__ == "__main__":
    sys.exit(main())
