#!/usr/bin/python3
"""The real tool end to end, on a virtual display in a private namespace pair
against the mixer simulator, then the README's commands as a newcomer runs them.

    test_e2e.py --binary PATH/QvrUpdater [unittest arguments, e.g. -k whole_road]
"""

import hashlib
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
from harness import (App, BUTTON1, BUTTON2, BUTTON2_CLICK, LANGS, LATIN1_FOLDER, MESSAGE,  # noqa: E402
                     SCREEN_SIZE, TITLE, confirm_screen, language_screen, make_update_file, ocr, poll)

BINARY = None
SESSION = None
UPDATE_SIZE = 200 * 1024


def setUpModule():
    global SESSION
    SESSION = harness.Session.opened()


def tearDownModule():
    SESSION.close()


class E2ECase(unittest.TestCase):
    """What every end-to-end case does: start copies of the tool, drive them, end them."""

    def setUp(self):
        self.session = SESSION
        self.addCleanup(self.session.end_processes)

    def start_app(self, update=b"", lang="C.UTF-8", **kw):
        """Starts a copy with an update file (a fresh one unless given) and waits for its window."""
        update = update or make_update_file(UPDATE_SIZE)
        app = App(self.session, BINARY, update=update, lang=lang, **kw).start()
        app.wait_window()
        return app

    def to_confirm(self, app):
        """Language screen -> OK -> initialise -> confirm screen; returns both screenshots."""
        first = app.wait_screen("the language screen", language_screen)
        app.press_first()
        return first, app.wait_screen("the confirm screen", confirm_screen(first))

    def keys(self, window, *keys):
        """Key presses as the X server delivers them, to the window given the focus first."""
        self.session.xdo("windowfocus", window.id)
        if keys:
            self.session.xdo("key", "--delay", 80, *keys)

    def focus_ring(self, app):
        """Which control shows the focus mark: a dark line 3 pixels inside its left edge."""
        img = app.screen()
        marked = [name for name, (x, y, w, h) in (("list", LANGS), ("first", BUTTON1), ("second", BUTTON2))
                  if img.ink((x + 3, y + 6, 1, h - 12), tolerance=400) == h - 12]
        return marked[0] if len(marked) == 1 else None

    def wait_focus(self, app, control):
        poll(f"the focus mark on the {control} control", 10, lambda: self.focus_ring(app) == control)

    def dismiss_and_expect_exit(self, app, box):
        app.dismiss_box(box)
        code = app.wait_exit(10)
        # A negative code is a signal (SIGPIPE from a reset peer, a crash).
        self.assertEqual(code, 0, f"the tool ended with {code} after the box")


class EndToEnd(E2ECase):
    # 1: by keys alone, installed where users keep downloads: under an account named in Japanese or with accents
    def test_whole_road(self):
        update = make_update_file(UPDATE_SIZE)
        sim = self.session.simulator("--timeout", 30)
        probe = self.session.probe()
        app = self.start_app(update, folder=self.session.folder("app") / "山田 Müller")
        # The title bar and the task bar show the window's own icon (xprop draws it as text).
        icon = harness.run(["xprop", "-id", app.main.id, "_NET_WM_ICON"],
                           env={**os.environ, "DISPLAY": self.session.display}).stdout
        size = re.search(r"Icon \((\d+) x (\d+)\)", icon)
        self.assertTrue(size and int(size[1]) == int(size[2]) >= 16, f"no icon: {icon[:80]!r}")
        app.wait_screen("the language screen", language_screen)
        # The first button has the focus once the window has it; Tab goes round the list and both buttons.
        self.keys(app.main)
        self.wait_focus(app, "first")
        for control in ("second", "list", "first"):
            self.keys(app.main, "Tab")
            self.wait_focus(app, control)
        language = app.screen()

        self.keys(app.main, "Return")  # OK
        confirm = app.wait_screen("the confirm screen", confirm_screen(language))
        self.assertEqual(probe.count(), 0, "announced before START")
        self.assertFalse(self.session.listening(54000), "listening before START")
        self.wait_focus(app, "first")
        self.keys(app.main, "Return")  # START
        report = sim.result(40)
        got = [report[k] for k in ("result", "announced_address", "announced_port", "announced_length", "bytes", "sha256")]
        self.assertEqual(got, ["ok", harness.APP_ADDR, 54000, len(update), len(update), hashlib.sha256(update).hexdigest()])

        # Finished: first button "OK" enabled again and focused, the same look as on the language screen.
        app.wait_screen("the finished screen", lambda img: (
            img.difference(confirm, MESSAGE) > 0.01 and img.difference(language, BUTTON1) < 0.02))
        self.assertEqual(app.boxes(), [], "a message box on the finished screen")
        self.keys(app.main, "Return")
        self.assertEqual(app.wait_exit(10), 0)

    # 2: the title bar's close button while waiting, as a window manager delivers it, in a
    # copy started from a folder not named in UTF-8 (as a file manager starts it) that
    # still finds the update file beside it. That the close stops the link as Cancel does,
    # the workflow's and the link's own tests show.
    def test_close_while_waiting_asks_to_confirm_the_end(self):
        probe = self.session.probe()
        window_manager = harness.WindowManager(self.session)
        self.addCleanup(window_manager.end)
        folder = self.session.folder("app") / LATIN1_FOLDER
        folder.mkdir()
        self.addCleanup(os.chdir, os.getcwd())
        os.chdir(folder)
        app = self.start_app(folder=folder)
        self.to_confirm(app)
        app.press_first()
        poll("announcements", 10, lambda: probe.count() >= 3)
        poll("the listening port", 5, lambda: self.session.listening(54000))

        window_manager.close(app.main)
        box = app.wait_box()
        self.assertTrue(app.alive(), "ended without waiting for the box")
        self.keys(box, "Return")
        self.assertEqual(app.wait_exit(10), 0)

    # 3
    def test_second_start_raises_the_first_window_and_exits_zero(self):
        first = self.start_app()
        first.wait_screen("the language screen", language_screen)
        tool = int(first.main.id)
        for round in (1, 2):  # a second time: the first copy still listens after a raise
            cover = self._cover(first.main, f"qvr-cover-{round}")
            self.assertTrue(self._above(cover, tool), "the covering window is not above the tool's")
            # Same folder, same lock: a second start of the same installation.
            second = App(self.session, BINARY, folder=first.folder, lock=first.lock).start()
            self.assertEqual(second.wait_exit(15), 0)
            self.assertEqual(second.windows(), [])
            poll("the tool's window above the covering one", 5, lambda: self._above(tool, cover))
        self.assertTrue(first.alive())
        self.assertEqual([w.id for w in first.windows()], [first.main.id])
        first.press_second()  # Cancel on the language screen: no box, just the end
        self.assertEqual(first.wait_exit(10), 0)

    # 4
    def test_second_start_with_another_file_says_so_above_the_first_copys_own_box(self):
        first = App(self.session, BINARY, update=None).start()  # no file: the I4 box waits for the user
        first.wait_window()
        first.wait_screen("the language screen", language_screen)
        first.press_first()
        first_box = first.wait_box()
        # Another folder with another file, the same user's lock: "Open with" on a second file.
        second = App(self.session, BINARY, update=make_update_file(UPDATE_SIZE), lock=first.lock).start()
        box = second.wait_box(20)
        # Which of the two notices: the running copy answered that its file is another.
        text = ocr(self.session, box.rect)
        if text is not None:
            self.assertRegex(re.sub(r"\s+", "", text), r"anotherfile.*alreadyrunning", f"the box reads {text!r}")
        stack = [int(w.id) for w in (box, first_box, first.main)]
        self.assertTrue(self._above(stack[0], stack[1]) and self._above(stack[1], stack[2]),
                        "not: the second start's box, the first copy's box, its window, from the top")
        self.assertTrue(first.alive())
        second.dismiss_box(box)
        self.assertEqual(second.wait_exit(10), 0)
        self.dismiss_and_expect_exit(first, first_box)

    def _cover(self, window, name):
        """Maps another client's window over window (and on top, as no window manager runs)."""
        x, y, w, h = window.rect
        self.session.spawn(["xmessage", "-name", name, "-geometry", f"{w + 40}x{h + 40}+{max(x - 20, 0)}+{max(y - 20, 0)}",
                            "cover"], env={**os.environ, "DISPLAY": self.session.display},
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        found = poll("the covering window", 10, lambda: self.session.xdo(
            "search", "--onlyvisible", "--classname", name, check=False).stdout.split())
        return int(found[0])

    def _above(self, upper, lower):
        # The X server's stacking order of the root's children; xwininfo lists the top first.
        out = harness.run(["xwininfo", "-root", "-children"], env={**os.environ, "DISPLAY": self.session.display}).stdout
        order = [int(line.split()[0], 16) for line in out.splitlines() if line.strip().startswith("0x")]
        return order.index(upper) < order.index(lower)


class Commands(E2ECase):
    """The README's commands."""

    def test_run_sh_starts_the_window_from_a_folder_that_lets_it_run(self):
        # A copy without build folders: run.sh builds in its own (from ccache), not in the
        # build/ that CTest runs from.
        copy = self.session.folder("copy") / "source"
        shutil.copytree(harness.REPO, copy, ignore=lambda folder, names: [
            n for n in names if folder == str(harness.REPO) and (n.startswith("build") or n == ".git")])
        script = str(copy / "scripts" / "run.sh")
        home = self.session.folder("home")
        # The user's compiler cache, which a HOME of its own would hide.
        cache = harness.run(["ccache", "--get-config", "cache_dir"]).stdout.strip()
        env = {"PATH": os.environ["PATH"], "HOME": str(home), "LANG": "C.UTF-8", "CCACHE_DIR": cache}
        without = subprocess.run([script], env=env, capture_output=True, text=True, timeout=30)
        self.assertEqual(without.returncode, 2)
        self.assertIn("scripts/demo.sh --auto", without.stderr)

        update = self.session.folder("run") / "firmware.upd"
        update.write_bytes(make_update_file(4096))
        noexec, lock, log = self.session.folder("noexec"), self.session.folder("lock"), self.session.folder("log") / "run.log"

        def start(**more):
            # A mount namespace of its own: a noexec tmpfs as the runtime and temporary
            # folders, and a /var/tmp (the single-instance lock) of its own.
            setup = 'mount -t tmpfs -o noexec tmpfs "$0" && mount --bind "$1" /var/tmp && shift && exec "$@"'
            with open(log, "w") as out:
                return self.session.spawn(
                    ["ip", "netns", "exec", self.session.app_ns, "unshare", "-m", "sh", "-c", setup,
                     str(noexec), str(lock), script, str(update)],
                    env={**env, "DISPLAY": self.session.display, "XDG_RUNTIME_DIR": str(noexec), "TMPDIR": str(noexec), **more},
                    stdout=out, stderr=subprocess.STDOUT)

        proc = start()

        def window():
            if proc.poll() is not None:
                raise harness.DriverError(f"run.sh ended with {proc.returncode}: {log.read_text()[-2000:]}")
            return self.session.window_named(TITLE, SCREEN_SIZE)

        main = poll("the tool's window", 180, window, interval=0.2)
        poll("the language screen", 15, lambda: language_screen(self.session.screenshot(main.rect)))
        self.session.click(main.x + BUTTON2_CLICK[0], main.y + BUTTON2_CLICK[1])
        self.assertEqual(proc.wait(15), 0, log.read_text())
        folder = re.search(r"starting (\S+)/QvrUpdater with", log.read_text())
        self.assertRegex(folder.group(1) if folder else log.read_text(), f"^{home}/.cache/qvr-updater.")

        # Nowhere it could run: said, where a menu start would otherwise show nothing at all.
        self.assertEqual(start(XDG_CACHE_HOME=str(noexec)).wait(60), 126)
        self.assertIn("no folder here lets programs run", log.read_text())

    def test_demo_auto_reports_the_whole_file(self):
        result = subprocess.run([str(harness.REPO / "scripts" / "demo.sh"), "--auto"], capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("the mixer received the whole file (sha256 matches)", result.stdout)

    def test_demo_display_shows_the_tool_on_a_display_that_wants_a_cookie(self):
        display, xauthority = self.session.guarded_display()
        demo = self.session.spawn([str(harness.REPO / "scripts" / "demo.sh"), "--display", "--timeout", "60"],
                                  env={**os.environ, "DISPLAY": display, "XAUTHORITY": xauthority},
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        viewer = harness.Session(display, xauthority)
        poll("the tool on that display", 60, lambda: demo.poll() is None and viewer.window_named(TITLE, SCREEN_SIZE))
        # Interrupted, the demo still removes what it made.
        demo.send_signal(signal.SIGINT)
        self.assertEqual(demo.wait(30), 130)
        self.assertNotIn(f"qvr-{demo.pid}-", harness.run(["ip", "netns", "list"]).stdout)


class NetworkHint(E2ECase):
    """When no mixer comes, the waiting screen tells why, from the network check of the
    tool's own namespace (where this root run may read nftables)."""

    HINT = (80, 56, 360, 36)
    DROP = "table inet qvrhint { chain input { type filter hook input priority 0; tcp dport 54000 drop; }; }"
    # Wine has no firewall to ask: there the hint is the general line.
    FIREWALL_READABLE = True

    def drop_port(self):
        nft = ["ip", "netns", "exec", self.session.app_ns, "nft"]
        harness.run(nft + ["-f", "-"], input=self.DROP)
        self.addCleanup(harness.run, nft + ["delete", "table", "inet", "qvrhint"], check=False)
        return lambda: harness.run(nft + ["delete", "table", "inet", "qvrhint"])

    def read(self, app, rect, lang="eng"):
        """The text in a part of the main screen, without white space."""
        x, y, w, h = rect
        return re.sub(r"\s+", "", ocr(self.session, (app.main.x + x, app.main.y + y, w, h), lang) or "")

    # The firewall found (or, under Wine, the general line), then the mixer let in: its transfer
    # goes through, with no hint left.
    def test_firewall_hint_then_the_mixer_gets_in(self):
        let_in = self.drop_port()
        update = make_update_file(UPDATE_SIZE)
        app = self.start_app(update)
        self.to_confirm(app)
        app.press_first()
        wanted = ("firewall(nftables)keepsthemixerout", "sudonftinsertrule") if self.FIREWALL_READABLE else ("Nomixeryet?Itmustbeonthesame",)
        poll("the hint", 40, lambda: all(w in self.read(app, self.HINT) for w in wanted), interval=1)

        let_in()
        sim = self.session.simulator("--timeout", 30)
        self.assertEqual(sim.result(40)["sha256"], hashlib.sha256(update).hexdigest())
        poll("the finished screen", 15, lambda: "Finishsending" in self.read(app, MESSAGE), interval=0.5)
        self.assertNotRegex(self.read(app, MESSAGE), r"(?i)firewall|mixeryet", "the hint stayed")
        app.press_first()
        self.assertEqual(app.wait_exit(10), 0)

    # What only the real program shows: the locale read at start picks the Japanese texts, and
    # a font that draws them, for the confirm screen and for the hint.
    def test_japanese_start_tells_it_in_japanese(self):
        self.drop_port()
        app = self.start_app(lang="ja_JP.UTF-8")
        self.to_confirm(app)
        # The confirm screen: "...firmware... download... choose start / end"; the hint: "firewall ... connection ... permit".
        self.assertGreaterEqual(len(set("ファームウェアダウンロード開始終了選択") & set(self.read(app, MESSAGE, "jpn"))), 6)
        app.press_first()
        poll("the hint", 40, lambda: len(set("ファイアウォール接続許可") & set(hint := self.read(app, self.HINT, "jpn"))) >= 6 and "nft" in hint,
             interval=1)
        app.press_second()
        self.dismiss_and_expect_exit(app, app.wait_box())

    # Listening failed: the box names the program that holds the port, and ends in its code.
    def test_port_held_by_another_program_is_named_in_the_box(self):
        helper = self.session.spawn(["ip", "netns", "exec", self.session.app_ns, harness.PYTHON, "-c",
                                     "import socket, time; s = socket.socket(); s.bind(('0.0.0.0', 54000)); s.listen(); time.sleep(60)"])
        poll("the other program's port", 10, lambda: self.session.listening(54000))
        app = self.start_app()
        self.to_confirm(app)
        app.press_first()
        box = app.wait_box()
        text = ocr(self.session, box.rect)
        if text is not None:
            self.assertRegex(re.sub(r"\s+", "", text), rf"python3\(pid{helper.pid}\)holdsTCPport54000.*MIXER_C1", text)
        self.dismiss_and_expect_exit(app, box)


def main():
    global BINARY
    args, rest = harness.options("binary")
    BINARY = args.binary
    return harness.run_cases(rest, ["__main__"], lambda: SESSION)


if __name__ == "__main__":
    sys.exit(main())
