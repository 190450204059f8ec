"""Drives the real tool inside a private namespace pair, on a virtual display
(or the user's), against the mixer simulator: the demo, the screenshots, the
benchmark and the end-to-end tests all run the tool through this.

A Session owns one namespace pair (scripts/netns.sh), one Xvfb and every process
started for it; close() ends them all, and is safe to call more than once.
An App is one copy of the binary in its own folder (the update file lies beside
it), started in the tool's namespace with a private /var/tmp, so that its
single-instance lock is shared only with the copies meant to share it.
Every wait here polls against a deadline. Nothing here touches a real network:
whatever the tool announces stays inside the pair.
"""

import hashlib
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
NETNS = REPO / "scripts" / "netns.sh"
SIMULATOR = REPO / "tools" / "mixer_sim.py"
PYTHON = "/usr/bin/python3"

APP_ADDR = "192.0.2.1"
MIX_ADDR = "192.0.2.2"
BROADCAST = "192.0.2.255"
TITLE = "QVR Firmware Downloader"

# The main screen's colour and layout, in window coordinates (x, y, w, h).
PANEL = (239, 235, 222)
SCREEN_SIZE = (450, 200)
MESSAGE = (80, 20, 360, 110)
LANGS = (250, 140, 190, 24)
# The buttons end 8 pixels above the bottom of the 200-pixel screen.
BUTTON1 = (190, 168, 120, 24)
BUTTON2 = (320, 168, 120, 24)
BUTTON1_CLICK = (250, 180)
BUTTON2_CLICK = (380, 180)


class DriverError(AssertionError):
    pass


def use_source(path):
    """Takes the helper scripts and the simulator from another source tree."""
    global REPO, NETNS, SIMULATOR
    REPO = Path(path).resolve()
    NETNS = REPO / "scripts" / "netns.sh"
    SIMULATOR = REPO / "tools" / "mixer_sim.py"


def poll(what, timeout, probe, interval=0.05):
    """Calls probe() until it returns something true; returns that, or fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise DriverError(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def run(cmd, timeout=20, check=True, **kw):
    result = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout, **kw)
    if check and result.returncode != 0:
        raise DriverError(f"{' '.join(map(str, cmd))} failed ({result.returncode}): {result.stderr.strip()}")
    return result


def end_process(proc, grace=3.0):
    """TERM, a bounded grace, then KILL; always reaps."""
    if proc.poll() is not None:
        return proc.returncode
    try:
        proc.terminate()
        return proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        return proc.wait(grace)


class Image:
    """An RGB screenshot, read from ImageMagick's binary PPM."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    @classmethod
    def from_ppm(cls, data):
        fields, pos = [], 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            if data[pos:pos + 1] == b"#":
                pos = data.index(b"\n", pos) + 1
                continue
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise DriverError("unexpected screenshot format")
        width, height = int(fields[1]), int(fields[2])
        rgb = data[pos + 1:pos + 1 + width * height * 3]
        if len(rgb) != width * height * 3:
            raise DriverError("short screenshot")
        return cls(width, height, rgb)

    def pixels(self, rect):
        x, y, w, h = rect
        x1, y1 = min(x + w, self.width), min(y + h, self.height)
        for row in range(max(y, 0), y1):
            base = row * self.width * 3
            for col in range(max(x, 0), x1):
                i = base + col * 3
                yield self.rgb[i], self.rgb[i + 1], self.rgb[i + 2]

    def ink(self, rect, background=PANEL, tolerance=48):
        """Pixels that differ clearly from the background: drawn text or lines."""
        br, bg, bb = background
        return sum(1 for r, g, b in self.pixels(rect)
                   if abs(r - br) + abs(g - bg) + abs(b - bb) > tolerance)

    def difference(self, other, rect):
        """Fraction of the pixels in rect that differ between two screenshots."""
        mine, theirs = list(self.pixels(rect)), list(other.pixels(rect))
        if not mine or len(mine) != len(theirs):
            return 1.0
        return sum(1 for a, b in zip(mine, theirs) if a != b) / len(mine)


class Window:
    def __init__(self, wid, x, y, width, height):
        self.id, self.x, self.y, self.width, self.height = wid, x, y, width, height

    @property
    def rect(self):
        return (self.x, self.y, self.width, self.height)

    def __repr__(self):
        return f"Window({self.id} {self.width}x{self.height}+{self.x}+{self.y})"


class Session:
    """One namespace pair, one virtual display and every process started in them.
    Given a display (e.g. the user's $DISPLAY), it uses that instead of starting Xvfb,
    with xauthority the file holding that display's cookie, if it wants one."""

    def __init__(self, display=None, xauthority=None):
        self.tag = str(os.getpid())
        self.app_ns = self.mix_ns = None
        self.display = display
        self.xauthority = xauthority
        self.xvfb = None
        self.processes = []
        self.folders = []

    def open(self):
        if os.geteuid() != 0:
            raise DriverError("needs root for the network namespaces (ip netns)")
        # Pairs left by a run that was killed outright.
        run([str(NETNS), "sweep"], check=False)
        out = run([str(NETNS), "up", self.tag]).stdout.split()
        self.app_ns, self.mix_ns = out
        if self.display is None:
            self._start_xvfb()
        return self

    def _start_xvfb(self):
        self.xvfb, self.display = self._xvfb()

    def _xvfb(self, *options):
        """Starts an Xvfb; returns it and its display."""
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp", *options],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        # Xvfb writes its display number once it takes clients: that is the ready signal.
        os.set_blocking(read_end, False)
        text = b""

        def number():
            nonlocal text
            try:
                text += os.read(read_end, 64)
            except BlockingIOError:
                pass
            if xvfb.poll() is not None:
                raise DriverError("Xvfb ended at start")
            return text.endswith(b"\n") and text.strip()

        try:
            return xvfb, ":" + poll("Xvfb", 15, number).decode()
        except BaseException:
            end_process(xvfb)
            raise
        finally:
            os.close(read_end)

    def end_processes(self):
        """Ends everything started so far (the pair and the display stay)."""
        for proc in reversed(self.processes):
            end_process(proc)
        self.processes.clear()

    def close(self):
        self.end_processes()
        if self.app_ns:
            # Kills whatever is still inside, then removes the pair.
            run([str(NETNS), "down", self.tag], check=False, timeout=30)
            self.app_ns = self.mix_ns = None
        if self.xvfb is not None:
            end_process(self.xvfb)
            self.xvfb = None
        for folder in self.folders:
            shutil.rmtree(folder, ignore_errors=True)
        self.folders.clear()

    def folder(self, prefix):
        path = Path(tempfile.mkdtemp(prefix=f"qvr-e2e-{prefix}-"))
        self.folders.append(path)
        return path

    def spawn(self, cmd, **kw):
        proc = subprocess.Popen(cmd, **kw)
        self.processes.append(proc)
        return proc

    # --- the display

    def x_env(self):
        """What an X client needs to reach this session's display."""
        return {"DISPLAY": self.display, **({"XAUTHORITY": self.xauthority} if self.xauthority else {})}

    def xdo(self, *args, check=True, timeout=10):
        return run(["xdotool", *map(str, args)], check=check, timeout=timeout, env={**os.environ, **self.x_env()})

    def window_named(self, name, size=None):
        """A visible window whose title holds name (and of that size, if given), or None."""
        for wid in self.xdo("search", "--onlyvisible", "--name", name, check=False).stdout.split():
            geo = self.xdo("getwindowgeometry", "--shell", wid, check=False).stdout.split()
            values = dict(line.split("=", 1) for line in geo if "=" in line)
            if "WIDTH" in values and (size is None or (int(values["WIDTH"]), int(values["HEIGHT"])) == size):
                return Window(wid, int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))
        return None

    def screenshot(self, rect=None):
        cmd = ["import", "-display", self.display, "-window", "root"]
        if rect:
            x, y, w, h = rect
            cmd += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        data = subprocess.run(cmd + ["-depth", "8", "ppm:-"], capture_output=True, timeout=20, check=True,
                              env={**os.environ, **self.x_env()}).stdout
        return Image.from_ppm(data)

    def save_png(self, rect, path):
        x, y, w, h = rect
        run(["import", "-display", self.display, "-window", "root",
             "-crop", f"{w}x{h}+{x}+{y}", "+repage", str(path)], env={**os.environ, **self.x_env()})

    def click(self, x, y):
        self.xdo("mousemove", x, y, "sleep", "0.05", "click", "1")
        # Out of the way again, so no button stays highlighted in later screenshots.
        self.xdo("mousemove", 1, 1)

    # --- the network side

    def listening(self, port, ns=None):
        out = run(["ip", "netns", "exec", ns or self.app_ns, "ss", "-ltnH"]).stdout
        return any(line.split()[3].endswith(f":{port}") for line in out.splitlines() if line.split())

    def simulator(self, *args):
        return Simulator(self, args)


class Simulator:
    """tools/mixer_sim.py in the mixer's namespace. Its JSON report comes at its
    end; with --print-announcements it also tells each datagram as it arrives (count())."""

    READY = b"mixer_sim: listening on udp"

    def __init__(self, session, args):
        if not SIMULATOR.exists():
            raise DriverError(f"{SIMULATOR} is missing")
        self.proc = session.spawn(
            ["ip", "netns", "exec", session.mix_ns, PYTHON, str(SIMULATOR), *map(str, args)],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.errors = b""
        self.out = b""
        for stream in (self.proc.stdout, self.proc.stderr):
            os.set_blocking(stream.fileno(), False)

        # It says so on stderr once its announcement port is bound.
        def ready():
            self._read()
            if self.READY not in self.errors and self.proc.poll() is not None:
                raise DriverError(f"the simulator ended at start: {self.errors.decode(errors='replace')}")
            return self.READY in self.errors

        poll("the simulator", 10, ready, interval=0.02)

    def _read(self):
        for stream, attr in ((self.proc.stdout, "out"), (self.proc.stderr, "errors")):
            while True:
                try:
                    chunk = os.read(stream.fileno(), 65536)
                except BlockingIOError:
                    break
                if not chunk:
                    break
                setattr(self, attr, getattr(self, attr) + chunk)

    def count(self):
        self._read()
        return sum(1 for line in self.out.split(b"\n")[:-1] if line.startswith(b"announcement "))

    def result(self, timeout):
        deadline = time.monotonic() + timeout
        while self.proc.poll() is None:
            if time.monotonic() >= deadline:
                end_process(self.proc)
                raise DriverError(f"the simulator did not finish within {timeout:g} s")
            self._read()
            time.sleep(0.02)
        self._read()
        lines = [line for line in self.out.decode().splitlines() if line.strip().startswith("{")]
        if not lines:
            raise DriverError(f"no report from the simulator (exit {self.proc.returncode}): "
                              f"{self.errors.decode(errors='replace').strip()}")
        return json.loads(lines[-1])


def make_update_file(size=200 * 1024, seed=7000):
    """Deterministic pseudo-random content that begins with the model string."""
    head = b"QVR-7000"
    body = bytearray()
    counter = 0
    while len(head) + len(body) < size:
        body += hashlib.sha256(f"{seed}:{counter}".encode()).digest()
        counter += 1
    return head + bytes(body[:size - len(head)])


class App:
    """One copy of the tool, started in the tool's namespace."""

    def __init__(self, session, binary, update=None, lang="C.UTF-8", folder=None, lock=None):
        self.session = session
        self.folder = folder or session.folder("app")
        self.folder.mkdir(parents=True, exist_ok=True)
        self.exe = self.folder / Path(binary).name
        if not self.exe.exists():
            shutil.copy2(binary, self.exe)
        if update is not None:
            self.exe.with_suffix(".upd").write_bytes(update)
        self.lock = lock or (self.folder / "lock")
        self.lock.mkdir(exist_ok=True)
        home = self.folder / "home"
        home.mkdir(exist_ok=True)
        # HOME is the copy's own, where X would look for the display's cookie: it is passed on.
        self.env = {
            "PATH": "/usr/sbin:/usr/bin:/sbin:/bin",
            "HOME": str(home),
            "LANG": lang,
            **session.x_env(),
        }
        self.proc = None
        self.main = None

    def start(self):
        # ip netns exec gives each start its own mount namespace; /var/tmp (where the
        # single-instance lock lives) is bound to this copy's lock folder in it.
        script = 'mount --bind "$0" /var/tmp && exec "$@"'
        self.proc = self.session.spawn(
            ["ip", "netns", "exec", self.session.app_ns, "sh", "-c", script, str(self.lock), str(self.exe)],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        return self

    @property
    def pid(self):
        return self.proc.pid

    def alive(self):
        return self.proc.poll() is None

    def windows(self):
        found = self.session.xdo("search", "--onlyvisible", "--pid", self.pid, check=False)
        result = []
        for wid in found.stdout.split():
            geo = self.session.xdo("getwindowgeometry", "--shell", wid, check=False)
            if geo.returncode != 0:
                continue
            values = dict(line.split("=", 1) for line in geo.stdout.split() if "=" in line)
            try:
                result.append(Window(wid, int(values["X"]), int(values["Y"]),
                                     int(values["WIDTH"]), int(values["HEIGHT"])))
            except (KeyError, ValueError):
                continue
        return result

    def _main_window(self):
        if not self.alive():
            raise DriverError(f"the tool ended early with {self.proc.returncode}: {self._stderr()}")
        for w in self.windows():
            if (w.width, w.height) == SCREEN_SIZE:
                return w
        return None

    def wait_window(self, timeout=20):
        self.main = poll("the main window", timeout, self._main_window, interval=0.1)
        return self.main

    def screen(self):
        return self.session.screenshot(self.main.rect)

    def wait_screen(self, what, condition, timeout=15):
        """Waits for a screen that satisfies condition and stays unchanged on a second look."""
        state = {"last": None}

        def settled():
            img = self.screen()
            last, state["last"] = state["last"], img
            if not condition(img):
                return None
            if last is not None and condition(last) and last.rgb == img.rgb:
                return img
            return None

        return poll(what, timeout, settled, interval=0.1)

    def press(self, position):
        x, y = position
        self.session.click(self.main.x + x, self.main.y + y)

    def press_first(self):
        self.press(BUTTON1_CLICK)

    def press_second(self):
        self.press(BUTTON2_CLICK)

    def boxes(self):
        return [w for w in self.windows() if self.main is None or w.id != self.main.id]

    def wait_box(self, timeout=15):
        def box():
            if not self.alive():
                raise DriverError(f"the tool ended before showing a message box ({self.proc.returncode})")
            found = self.boxes()
            return found[0] if found else None
        return poll("a message box", timeout, box, interval=0.1)

    def dismiss_box(self, box):
        # The box's single button sits centred at the bottom.
        self.session.click(box.x + box.width // 2, box.y + int(box.height * 0.95) - 14)

    def wait_exit(self, timeout=15):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise DriverError(f"the tool did not end within {timeout:g} s") from None

    def _stderr(self):
        try:
            return (self.proc.stderr.read() or "").strip()[-2000:] if self.proc.poll() is not None else ""
        except (ValueError, OSError):
            return ""


def language_screen(img):
    """The first screen: the language list and a message."""
    return img.ink(LANGS) > 0 and img.ink(MESSAGE) > 0


def differs(reference, rect=MESSAGE):
    return lambda img: img.ink(rect) > 0 and img.difference(reference, rect) > 0.01


def confirm_screen(language):
    """The list is hidden from phase 1 on; phase 1's message is empty, phase 2's is not."""
    return lambda img: img.ink(LANGS) == 0 and differs(language)(img)


def install_watchdog(seconds):
    """Turns a hang into a failure (and so a cleanup) well before CTest's own limit."""
    def expire(*_):
        raise DriverError(f"the run exceeded {seconds} s")
    signal.signal(signal.SIGALRM, expire)
    signal.alarm(seconds)


def install_termination_cleanup(session):
    """SIGTERM/SIGHUP/SIGINT (CTest, a CI runner, a user) still clean up the pair and the display."""
    def terminate(signum, _):
        session.close()
        os._exit(128 + signum)
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(sig, terminate)
