#!/usr/bin/python3
"""A whole update without touching a real network: the tool runs in one private
network namespace, the mixer simulator in another, joined by a veth pair
(192.0.2.1 <-> 192.0.2.2). Needs root (ip netns) and a built tool.

    demo.py --auto      clicks through by itself on a virtual display
    demo.py --display   shows the tool on $DISPLAY; you click

Prints the simulator's report and whether it matches the file sent; exit 0
only when the mixer received the whole file.
"""

import argparse
import hashlib
import json
import os
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import qvr_driver as driver  # noqa: E402

ROOT = Path(__file__).resolve().parents[1]


def find_binary():
    for pattern in ("build/src/app/QvrUpdater_artefacts/*/QvrUpdater", "build*/src/app/QvrUpdater_artefacts/*/QvrUpdater"):
        for candidate in sorted(ROOT.glob(pattern)):
            if os.access(candidate, os.X_OK):
                return candidate
    return None


def user_xauthority():
    """The cookie file of the user's display. The tool runs with a HOME of its own, so the
    default ~/.Xauthority (under sudo: the invoking user's) is named explicitly."""
    if os.environ.get("XAUTHORITY"):
        return os.environ["XAUTHORITY"]
    for home in (os.environ.get("SUDO_USER") and os.path.expanduser("~" + os.environ["SUDO_USER"]), os.environ.get("HOME")):
        if home and os.path.isfile(os.path.join(home, ".Xauthority")):
            return os.path.join(home, ".Xauthority")
    return None


def click_through(app, sim, timeout):
    """Language screen: OK; confirm screen: START; then the simulator's report
    tells when the file is in; the finished screen's OK ends the tool."""
    app.wait_window()
    language = app.wait_screen("the language screen", driver.language_screen)
    print("language screen: OK")
    app.press_first()
    confirm = app.wait_screen("the confirm screen", driver.confirm_screen(language), timeout=60)
    print("confirm screen: START; waiting for the simulated mixer")
    app.press_first()
    report = sim.result(timeout)
    if report["result"] == "ok":
        # OK enabled again, as on the language screen; the message new.
        app.wait_screen("the finished screen", lambda img: driver.differs(confirm)(img)
                        and img.difference(language, driver.BUTTON1) < 0.02, timeout=30)
        print("finished screen: OK")
        app.press_first()
        app.wait_exit(15)
    return report


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--auto", action="store_true", help="click through by itself on a virtual display")
    mode.add_argument("--display", action="store_true", help="show the tool on $DISPLAY; you click")
    parser.add_argument("--binary", type=Path, help="the tool (default: the build folder's)")
    parser.add_argument("--size", type=int, default=300000, help="bytes of the demo update file (300000)")
    parser.add_argument("--timeout", type=float, help="how long the simulator waits for the tool (60 with --auto, 600 otherwise)")
    args = parser.parse_args()

    if os.geteuid() != 0:
        print("demo: needs root for the network namespaces", file=sys.stderr)
        return 2
    if args.display and not os.environ.get("DISPLAY"):
        print("demo: --display needs DISPLAY set", file=sys.stderr)
        return 2
    binary = args.binary or find_binary()
    if binary is None or not os.access(binary, os.X_OK):
        print("demo: no tool binary found; build it first (scripts/run.sh or scripts/test.sh) or pass --binary",
              file=sys.stderr)
        return 2
    timeout = args.timeout or (60 if args.auto else 600)

    session = (driver.Session() if args.auto
               else driver.Session(display=os.environ["DISPLAY"], xauthority=user_xauthority()))
    driver.install_termination_cleanup(session)
    try:
        session.open()
        print(f"namespaces: {session.app_ns} ({driver.APP_ADDR})  {session.mix_ns} ({driver.MIX_ADDR}); "
              f"display {session.display}")
        update = b"QVR-7000" + os.urandom(max(args.size - 8, 0))
        sent_sha = hashlib.sha256(update).hexdigest()
        print(f"update file: {len(update)} bytes, sha256 {sent_sha}")

        sim = session.simulator("--timeout", timeout)
        app = driver.App(session, binary, update=update, lang=os.environ.get("LANG", "C.UTF-8")).start()
        if args.auto:
            report = click_through(app, sim, timeout + 10)
        else:
            print("the tool is on your display: choose the language, press OK, then START")
            report = sim.result(timeout + 10)
            print("close the tool when you are done")
            app.wait_exit(3600)
    except driver.DriverError as e:
        print(f"demo: {e}", file=sys.stderr)
        return 1
    finally:
        session.close()

    print("simulator report:")
    print(json.dumps(report))
    if report.get("sha256") == sent_sha and report.get("bytes") == len(update):
        print("the mixer received the whole file (sha256 matches)")
        return 0
    print("the mixer did not receive the file", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
