"""The end-to-end tests' side of the driver (tools/qvr_driver.py, which the demo,
the screenshots and the benchmark use too): a live count of announcements, text
read back from the screen, and one way to run and clean up every runner's cases.
"""

import argparse
import ctypes
import ctypes.util
import hashlib
import os
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

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


class _ClientMessage(ctypes.Structure):
    # XClientMessageEvent, padded to the size of an XEvent (24 longs).
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


class WindowManager:
    """A window manager's part in closing a window, without one running. The tool looks up
    WM_PROTOCOLS only if some client made it, so this connection makes it before the tool
    starts and holds the server (a bare Xvfb forgets its atoms when its last client leaves)."""

    def __init__(self, session):
        self.x11 = x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        x11.XFlush.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.display = x11.XOpenDisplay(session.display.encode())
        if not self.display:
            raise DriverError(f"cannot open display {session.display}")
        self.atoms = [x11.XInternAtom(self.display, name, 0) for name in (b"WM_PROTOCOLS", b"WM_DELETE_WINDOW", b"WM_TAKE_FOCUS")]

    def close(self, window):
        """What the title bar's close button makes a window manager send."""
        event = _ClientMessage(type=33, window=int(window.id), format=32, message_type=self.atoms[0])  # 33: ClientMessage
        event.data[0] = self.atoms[1]
        self.x11.XSendEvent(self.display, int(window.id), 0, 0, ctypes.byref(event))
        self.x11.XFlush(self.display)

    def end(self):
        self.x11.XCloseDisplay(self.display)


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
