#!/usr/bin/python3
"""Screenshots of every screen of the real tool, in English and Japanese, and of
one failure box, taken in a private namespace pair on a virtual display.

    screenshots.py --binary PATH/QvrUpdater --out docs/screenshots

Writes <lang>-<screen>.png: language, confirm, waiting, waiting-hint (what the
waiting screen tells after 20 s without a mixer, here a firewall rule of the
tool's namespace that drops the mixer's connection), sending, finished, and
error-I4 (the message box for a missing update file).
"""

import argparse
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import qvr_driver as driver  # noqa: E402
from qvr_driver import App, LANGS, differs, language_screen, confirm_screen, make_update_file, poll  # noqa: E402

LANGUAGES = {"en": "C.UTF-8", "ja": "ja_JP.UTF-8"}
# Big enough that the paced transfer (about 1 ms per KiB) stays on screen for seconds.
SENDING_SIZE = 6 * 1024 * 1024
# Below the one-line waiting message: where the hint appears.
HINT = (80, 56, 360, 36)
DROP = "table inet qvrshots { chain input { type filter hook input priority 0; tcp dport 54000 drop; }; }"


def shoot(session, binary, out, code):
    def save(name, rect):
        path = out / f"{code}-{name}.png"
        session.save_png(rect, path)
        print(f"wrote {path}")

    update = make_update_file(SENDING_SIZE)
    app = App(session, binary, update=update, lang=LANGUAGES[code]).start()
    app.wait_window()
    language = app.wait_screen("the language screen", language_screen)
    save("language", app.main.rect)

    app.press_first()
    confirm = app.wait_screen("the confirm screen", confirm_screen(language))
    save("confirm", app.main.rect)

    # No mixer yet: the tool waits as long as it takes, and after 20 s tells why
    # none comes: the firewall of its namespace, which this run can read.
    nft = ["ip", "netns", "exec", session.app_ns, "nft"]
    driver.run(nft + ["-f", "-"], input=DROP)
    try:
        app.press_first()
        poll("the listening port", 10, lambda: session.listening(54000))
        waiting = app.wait_screen("the waiting screen", differs(confirm))
        save("waiting", app.main.rect)
        poll("the hint", 40, lambda: app.screen().ink(HINT) > 0, interval=0.5)
        time.sleep(0.5)
        save("waiting-hint", app.main.rect)
    finally:
        driver.run(nft + ["delete", "table", "inet", "qvrshots"], check=False)

    sim = session.simulator("--timeout", 60)
    # The moving progress bar never lets the whole screen settle: wait for the
    # new message with the bar up, and for the bar to have visibly moved on.
    def sending_shown():
        img = app.screen()
        return img if differs(waiting)(img) and img.ink(LANGS) > 0 else None

    poll("the sending screen", 20, sending_shown, interval=0.1)
    time.sleep(2.5)  # about 40 % of the file
    sending = app.screen()
    save("sending", app.main.rect)

    report = sim.result(60)
    if report["result"] != "ok" or report["bytes"] != len(update):
        raise driver.DriverError(f"the simulator got {report}")
    app.wait_screen("the finished screen", differs(sending), timeout=20)
    save("finished", app.main.rect)
    app.press_first()
    app.wait_exit(10)

    app = App(session, binary, update=None, lang=LANGUAGES[code]).start()
    app.wait_window()
    app.wait_screen("the language screen", language_screen)
    app.press_first()
    box = app.wait_box()
    # Let it finish drawing before the shot.
    poll("a steady box", 5, lambda: session.screenshot(box.rect).rgb == session.screenshot(box.rect).rgb)
    save("error-I4", box.rect)
    app.dismiss_box(box)
    app.wait_exit(10)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--source")
    parser.add_argument("--lang", choices=sorted(LANGUAGES), action="append")
    args = parser.parse_args()
    if args.source:
        driver.use_source(args.source)
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)

    session = driver.Session()
    driver.install_termination_cleanup(session)
    driver.install_watchdog(240)
    try:
        session.open()
        for code in args.lang or ("en", "ja"):
            shoot(session, Path(args.binary).resolve(), out, code)
    finally:
        session.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
