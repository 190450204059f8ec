#!/usr/bin/python3
"""The cross-built programs under Wine, end to end, with cases of the Linux run
(tests/e2e) and a fresh Wine prefix for the run.

    test_wine_e2e.py --binary PATH/QvrUpdater.exe --cli PATH/qvr-update.exe [unittest arguments]

Wine's server creates the sockets, so it must run inside the tool's namespace:
the prefix is made there, and nothing of Wine runs outside it.
"""

import hashlib
import json
import shutil
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[0] / "e2e"))
import harness  # noqa: E402
import test_e2e  # noqa: E402
from harness import poll  # noqa: E402

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
PREFIX = None
CLI = None
CASES = [
    "test_e2e.EndToEnd.test_whole_road",
    "test_e2e.EndToEnd.test_second_start_with_another_file_says_so_above_the_first_copys_own_box",
    "test_e2e.WineCommandLine",
    "test_e2e.NetworkHint.test_firewall_hint_then_the_mixer_gets_in",
]


def wine_env(extra=None):
    return {**(extra or {}), "WINEPREFIX": str(PREFIX), "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=", "WINEARCH": "win64"}


class WineApp(harness.App):
    """A copy of the .exe (its .upd beside it), started through Wine in the tool's namespace."""

    def start(self):
        self.proc = self.session.spawn(
            ["ip", "netns", "exec", self.session.app_ns, WINE, str(self.exe)],
            env=wine_env(self.env), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        return self

    def wait_window(self, timeout=45):
        # The first start in a prefix also starts Wine's services.
        return super().wait_window(timeout)

    def _main_window(self):
        # With no window manager Wine draws the native frame itself (the prefix
        # leaves windows unmanaged), so the X window is the frame: the screen
        # the cases look at is its client area, inside equal side and bottom
        # borders and below the caption.
        if not self.alive():
            raise harness.DriverError(f"the tool ended early with {self.proc.returncode}: {self._stderr()}")
        width, height = harness.SCREEN_SIZE
        for w in self.windows():
            border, extra = divmod(w.width - width, 2)
            if extra == 0 and 0 <= border <= 16 and height + 2 * border <= w.height <= height + 2 * border + 48:
                return harness.Window(w.id, w.x + border, w.y + w.height - height - border, width, height)
        return None

    def boxes(self):
        # JUCE gives a box a drop shadow on Windows as four thin windows of its own
        # along its edges, none thicker than 24 pixels; those are no boxes. The
        # largest box comes first.
        found = [w for w in super().boxes() if min(w.width, w.height) > 24]
        return sorted(found, key=lambda w: w.width * w.height, reverse=True)


class WineCommandLine(test_e2e.E2ECase):
    def wine_cli(self, exe, *args, cwd=None):
        """qvr-update.exe through Wine in the tool's namespace; returns the process."""
        return self.session.spawn(["ip", "netns", "exec", self.session.app_ns, WINE, str(exe), *args], cwd=cwd,
                                  env=wine_env({"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}),
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def test_cancel_while_sending_stops_the_transfer(self):
        update = harness.make_update_file(16_000_000)  # about 16 s at the tool's own pace
        sim = self.session.simulator("--rcvbuf", 8192, "--timeout", 60)
        app = self.start_app(update)
        self.to_confirm(app)
        app.press_first()
        # The bar shows where the list stood once the mixer is connected.
        poll("the progress bar", 30, lambda: app.screen().ink(harness.LANGS) > 0)
        shown = app.screen().ink(harness.LANGS)
        poll("the bar moving on", 10, lambda: app.screen().ink(harness.LANGS) > shown)
        app.press_second()
        self.dismiss_and_expect_exit(app, app.wait_box(15))
        report = sim.result(40)
        self.assertEqual(report["result"], "short", report)
        self.assertLess(report["bytes"], len(update) // 2, report)

    def test_qvr_update_exe_sends_a_file_named_in_japanese_to_two_mixers_at_once(self):
        # Arguments and console text pass through UTF-16 on Windows, not the ANSI code page.
        folder = self.session.folder("cli") / "山田 Müller"
        folder.mkdir()
        exe = folder / CLI.name
        shutil.copy2(CLI, exe)
        update = harness.make_update_file(100 * 1024)
        (folder / "ファーム.upd").write_bytes(update)
        sim = self.session.simulator("--count", 2, "--addresses", "192.0.2.2,192.0.2.3", "--timeout", 60)
        proc = self.wine_cli(exe, "--mixers", "2", "--json", "ファーム.upd", cwd=folder)
        report = sim.result(60)
        out, err = proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, 0, err.decode(errors="replace"))
        sha = hashlib.sha256(update).hexdigest()
        self.assertEqual([m["sha256"] for m in report["mixers"]], [sha, sha], report)
        result = json.loads(out.decode().strip().splitlines()[-1])
        # Wine does not tell what a peer acknowledged: the transfers end as sent, not delivered.
        self.assertEqual((result["outcome"], result["sha256"], sorted(m["outcome"] for m in result["mixers"])),
                         ("sent", sha, ["sent", "sent"]))
        self.assertTrue(result["file"].endswith("ファーム.upd"), result["file"])

    def test_qvr_update_exe_check_reports_what_it_can_and_what_wine_hides(self):
        proc = self.wine_cli(CLI, "--check", "--json")
        out, err = proc.communicate(timeout=60)
        result = json.loads(out.decode())
        checks = {c["check"]: (c["status"], c["detail"]) for c in result["checks"]}
        self.assertEqual((proc.returncode, result["exit"]), (0, 0), err.decode(errors="replace"))
        self.assertEqual(checks[f"interface {harness.APP_ADDR}"], ("ok", f"{harness.APP_ADDR}/24, broadcast {harness.BROADCAST}"))
        self.assertEqual(checks["TCP port 54000"], ("ok", "free to listen on"))
        # Wine names the network but keeps the firewall's state to itself.
        self.assertEqual(checks[f"firewall on qvr0 {harness.APP_ADDR}"],
                         ("unchecked", "Public network; could not check: the firewall did not tell whether it is on"))


original_setup = test_e2e.setUpModule
original_teardown = test_e2e.tearDownModule


def setup_module():
    # In a folder of the session: whatever fails from here on, closing the session
    # ends Wine (it runs in the namespace pair) and removes the prefix.
    global PREFIX
    original_setup()
    PREFIX = test_e2e.SESSION.folder("wine") / "prefix"
    harness.run(["ip", "netns", "exec", test_e2e.SESSION.app_ns, str(harness.REPO / "scripts" / "wine-prefix.sh"), str(PREFIX)],
                timeout=240)


def teardown_module():
    # Ended by Wine itself, its server removes its socket folder as well.
    harness.run(["ip", "netns", "exec", test_e2e.SESSION.app_ns, WINESERVER, "-k"],
                check=False, timeout=30, env=wine_env({"PATH": "/usr/bin:/bin"}))
    original_teardown()


def main():
    global CLI
    args, rest = harness.options("binary", "cli", watchdog=360)
    CLI = args.cli
    # One module, so one namespace pair and one prefix serve every case.
    WineCommandLine.__module__ = "test_e2e"
    test_e2e.WineCommandLine = WineCommandLine
    test_e2e.BINARY = args.binary
    test_e2e.App = WineApp
    test_e2e.NetworkHint.FIREWALL_READABLE = False
    test_e2e.setUpModule = setup_module
    test_e2e.tearDownModule = teardown_module
    return harness.run_cases(rest, CASES, lambda: test_e2e.SESSION)


if __name__ == "__main__":
    sys.exit(main())
