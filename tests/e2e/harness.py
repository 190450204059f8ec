"""The end-to-end tests' side of the driver (tools/qvr_driver.py, which the demo,
the screenshots and the benchmark use too): a live count of announcements, text
read back from the screen, and one way to run and clean up every runner's cases.
"""

import argparse
import fnmatch
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import qvr_driver  # noqa: E402
from qvr_driver import *  # noqa: E402,F401,F403

HarnessError = qvr_driver.DriverError


def use_source(path):
    """Takes the helper scripts and the simulator from another source tree."""
    global REPO, NETNS, SIMULATOR
    qvr_driver.use_source(path)
    REPO, NETNS, SIMULATOR = qvr_driver.REPO, qvr_driver.NETNS, qvr_driver.SIMULATOR


class Session(qvr_driver.Session):
    @classmethod
    def opened(cls):
        """A session for a test module, cleaned up also when the run is killed."""
        session = cls()
        install_termination_cleanup(session)
        return session.open()

    def probe(self, timeout=60):
        """The mixer's side of the announcements without a mixer: each datagram as it arrives."""
        return self.simulator("--never-connect", "--print-announcements",
                              "--listen-seconds", timeout, "--timeout", timeout + 5)


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


def run_cases(args, names, session, cleanup=None):
    """Runs end-to-end cases the way every runner here does and returns the exit status.

    args: the command line's unittest part: case names (default: names) and
    -k PATTERN (as unittest's, a substring unless it has wildcards).
    session: a callable giving the Session the cases opened (their setUpModule
    makes it), or None. Whatever happens, cleanup(session) runs first, then the
    session is closed and must have left no namespace pair behind.
    """
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("names", nargs="*")
    parser.add_argument("-k", dest="patterns", action="append", default=[])
    parsed = parser.parse_args(args)

    def chosen(case):
        return not parsed.patterns or any(
            fnmatch.fnmatchcase(case.id(), p if "*" in p else f"*{p}*") for p in parsed.patterns)

    def flatten(suite):
        for item in suite:
            yield from (flatten(item) if isinstance(item, unittest.TestSuite) else [item])

    loaded = unittest.defaultTestLoader.loadTestsFromNames(parsed.names or names)
    suite = unittest.TestSuite(case for case in flatten(loaded) if chosen(case))
    if suite.countTestCases() == 0:
        print("no case matches " + " ".join(args), file=sys.stderr)
        return 2
    status = 1
    try:
        result = unittest.TextTestRunner(verbosity=2).run(suite)
        status = 0 if result.wasSuccessful() else 1
    finally:
        current = session()
        if current is not None:
            tag = current.tag
            try:
                if cleanup is not None:
                    cleanup(current)
            finally:
                current.close()
            left = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True).stdout
            if f"qvr-{tag}-" in left:
                print("namespaces left behind: " + left, file=sys.stderr)
                status = 1
    return status
