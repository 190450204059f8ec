"""The end-to-end tests' side of the driver (tools/qvr_driver.py, which the demo,
the screenshots and the benchmark use too): a live count of announcements, text
read back from the screen, and one way to run and clean up every runner's cases.
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

import Xlib.display
import Xlib.protocol.event
import Xlib.X

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import qvr_driver  # noqa: E402
from qvr_driver import *  # noqa: E402,F401,F403

# A zip made on Windows, unpacked on Linux: names in cp1252 bytes.
LATIN1_FOLDER = os.fsdecode(b"Fran\xe7ais 100\x80")


class Session(qvr_driver.Session):
    @classmethod
    def opened(cls):
        """A session for a test module, cleaned up also when the run is killed."""
        session = cls()
        install_termination_cleanup(session)
        return session.open()

    def guarded_display(self):
        """Another virtual display, one that lets in only clients holding its cookie, as a
        desktop's X server does; ends with the session. Returns it and its XAUTHORITY file."""
        folder = self.folder("xauth")
        cookie = hashlib.sha256(os.urandom(32)).hexdigest()[:32]
        # The server takes every cookie in its file, whatever display it names.
        run(["xauth", "-f", str(folder / "server"), "add", ":0", ".", cookie])
        xvfb, display = self._xvfb("-auth", str(folder / "server"))
        self.processes.append(xvfb)
        run(["xauth", "-f", str(folder / "client"), "add", display, ".", cookie])
        return display, str(folder / "client")

    def probe(self, timeout=60):
        """The mixer's side of the announcements without a mixer: each datagram as it arrives."""
        return self.simulator("--never-connect", "--print-announcements", "--timeout", timeout)


def ocr(session, rect, lang="eng"):
    """Text read back from a part of the screen, or None when tesseract is not installed."""
    if not shutil.which("tesseract"):
        return None
    folder = session.folder("ocr")
    png = folder / "shot.png"
    x, y, w, h = rect
    # Small screen text reads far better enlarged.
    run(["import", "-display", session.display, "-window", "root",
         "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-resize", "300%", str(png)])
    out = run(["tesseract", str(png), "stdout", "-l", lang, "--psm", "6"], check=False, timeout=60)
    return out.stdout


class WindowManager:
    """A window manager's part in closing a window, without one running. The tool looks up
    WM_PROTOCOLS only if some client made it, so this connection makes it before the tool
    starts and holds the server (a bare Xvfb forgets its atoms when its last client leaves)."""

    def __init__(self, session):
        self.x = Xlib.display.Display(session.display)
        self.protocols, self.delete, _ = (self.x.intern_atom(n) for n in ("WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS"))

    def close(self, window):
        """What the title bar's close button makes a window manager send."""
        target = self.x.create_resource_object("window", int(window.id))
        target.send_event(Xlib.protocol.event.ClientMessage(window=target, client_type=self.protocols,
                                                             data=(32, [self.delete, Xlib.X.CurrentTime, 0, 0, 0])))
        self.x.flush()

    def end(self):
        self.x.close()


def options(*programs, watchdog=240):
    """The runners' command line: --PROGRAM PATH for each program named, --source TREE
    (the helper scripts and the simulator; default: this file's) and --watchdog SECONDS.
    Returns them and the rest, unittest's part (e.g. -k PATTERN)."""
    global REPO
    parser = argparse.ArgumentParser(add_help=False)
    for name in programs:
        parser.add_argument("--" + name, required=True, type=lambda p: Path(p).resolve())
    parser.add_argument("--source")
    parser.add_argument("--watchdog", type=int, default=watchdog)
    args, rest = parser.parse_known_args()
    if args.source:
        qvr_driver.use_source(args.source)
        REPO = qvr_driver.REPO
    install_watchdog(args.watchdog)
    return args, rest


def run_cases(args, names, session):
    """Runs the named cases (args: unittest's, e.g. -k PATTERN) and returns the exit status.
    Whatever happens, the session (which the cases' setUpModule made) is closed, which ends
    all that runs in its namespace pair, and must have left no pair behind."""
    status = 1
    try:
        program = unittest.main(module=None, argv=["e2e", "-v", *names, *args], exit=False, warnings="ignore")
        status = 0 if program.result.wasSuccessful() and program.result.testsRun else 1
    finally:
        current = session()
        if current is not None:
            tag = current.tag
            current.close()
            left = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True).stdout
            if f"qvr-{tag}-" in left:
                print("namespaces left behind: " + left, file=sys.stderr)
                status = 1
    return status
