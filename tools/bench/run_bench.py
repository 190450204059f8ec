#!/usr/bin/python3
"""Runs the benchmark inside a private namespace pair and writes docs/performance.md.

Every figure is the median of several runs. The tool's side is tools/bench/qvr_send (the
connect and send phases of the tool, headless) and, for the start-up figure, the
real binary under a virtual display; the mixer side is tools/bench/timing_peer.py.
"""
import argparse
import datetime
import hashlib
import json
import os
import platform
import random
import select
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
HERE = os.path.dirname(os.path.abspath(__file__))
PEER = os.path.join(HERE, "timing_peer.py")
REFERENCE = os.path.join(HERE, "reference_sender.py")
sys.path.insert(0, os.path.join(ROOT, "tools"))
import qvr_driver as driver  # noqa: E402


class Pair:
    """The exchanges of the headless sender with the timing peer, in the session's namespace pair."""

    def __init__(self, session):
        self.app, self.mix = session.app_ns, session.mix_ns

    def exchange(self, sender, peer_args=(), timeout=120):
        """Starts the peer on the mixer side, then the sender on the tool side.

        Both are bounded: the sender gives up waiting for a connection after
        `timeout` seconds, and a peer that ends before the sender (it could not
        bind, or heard nothing) ends the sender too, so that a broken run is
        reported with what both printed instead of waiting for the limit."""
        peer = subprocess.Popen(["ip", "netns", "exec", self.mix, PEER, "--timeout", str(timeout), *peer_args],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        time.sleep(0.2)  # the peer binds its UDP port; announcements repeat anyway
        ours = subprocess.Popen(["ip", "netns", "exec", self.app, *sender, "--timeout", str(timeout)],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            deadline = time.monotonic() + timeout + 30
            while ours.poll() is None and time.monotonic() < deadline:
                if peer.poll() not in (None, 0):
                    break
                time.sleep(0.05)
            if ours.poll() is None:
                ours.kill()
            mine_out, mine_err = ours.communicate(timeout=10)
            if peer.poll() is None:
                # The sender has ended, so the peer's socket is closed or never was.
                try:
                    peer.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    peer.kill()
            peer_out, peer_err = peer.communicate(timeout=10)
            theirs = last_json(PEER, peer_out, peer_err)
            return last_json(sender[0], mine_out, mine_err + f"\n(peer: {peer_out} {peer_err})"), theirs
        finally:
            for proc in (ours, peer):
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()


def last_json(name, stdout, stderr):
    lines = [line for line in stdout.splitlines() if line.startswith("{")]
    if not lines:
        raise RuntimeError(f"{os.path.basename(name)} printed no result: {stdout} {stderr}")
    return json.loads(lines[-1])


def make_file(folder, mib, sparse=False):
    path = os.path.join(folder, f"fw{mib}.upd")
    with open(path, "wb") as f:
        f.write(b"QVR-7000")
        if sparse:
            f.truncate(mib * 1024 * 1024)
        else:
            f.write(os.urandom(mib * 1024 * 1024 - 8))
    return path


def median(values):
    # A run that could not measure gives nan; the others still count.
    values = [v for v in values if v == v]
    return statistics.median(values) if values else float("nan")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--sizes", default="1,16,64")
    parser.add_argument("--out", default=os.path.join(ROOT, "docs", "performance.md"))
    parser.add_argument("--only", choices=["all", "transfer", "fleet", "soak"], default="all",
                        help="transfer: only the paced transfers; fleet: only several mixers at once; "
                             "soak: --rounds transfers in one process, printed, docs/performance.md left alone")
    parser.add_argument("--rounds", type=int, default=200)
    args = parser.parse_args()
    send = os.path.join(args.build, "tools", "bench", "qvr_send")
    cli = os.path.join(args.build, "src", "cli", "qvr-update")
    app = os.path.join(args.build, "src", "app", "QvrUpdater_artefacts", "RelWithDebInfo", "QvrUpdater")

    rows = []
    # One session (namespace pair, virtual display) serves every figure; the
    # harness removes it also when the run is killed.
    session = driver.Session()
    driver.install_termination_cleanup(session)
    session.open()
    pair = Pair(session)
    folder = tempfile.mkdtemp(prefix="qvr-bench.")
    session.folders.append(folder)  # removed with the pair, also when the run is interrupted
    try:
        if args.only == "soak":
            return soak(session, os.path.join(args.build, "tools", "bench", "qvr_soak_bench"), folder, args.rounds)
        if args.only == "fleet":
            rows += fleet_figures(session, cli, folder, args.runs)
            return write_report(args.out, rows, args.runs)

        latency_announce, latency_first_byte, cpu_send, tail_wait = [], [], [], []
        for mib in [int(s) for s in args.sizes.split(",")]:
            path = make_file(folder, mib)
            ours, ref, ideal = [], [], None
            for _ in range(args.runs):
                mine, peer = pair.exchange([send, path])
                assert mine["result"] == "ok" and peer["bytes"] == mib * 1024 * 1024, (mine, peer)
                ours.append(mine["send_seconds"])
                ideal = mine["ideal_seconds"]
                latency_announce.append(1000 * (peer["first_announcement"] - mine["connect_start"]))
                latency_first_byte.append(1000 * (peer["first_byte"] - mine["accepted"]))
                tail_wait.append(1000 * (mine["ended"] - peer["last_byte"]) if "ended" in mine else float("nan"))
                if mib == 16:
                    cpu_send.append(mine["cpu_seconds"] / mine["send_seconds"])
                theirs, peer = pair.exchange([sys.executable, REFERENCE, path, "192.0.2.1", "192.0.2.255"])
                assert peer["bytes"] == mib * 1024 * 1024, peer
                ref.append(theirs["send_seconds"])
            rows.append((f"transfer {mib} MiB: seconds (ideal {ideal:.3f} s)", median(ours), median(ref), "ratio ≤ 1.03",
                         f"ratio {median(ours) / ideal:.4f}; reference {median(ref) / ideal:.4f}"))

        rows.append(("the mixer's last byte → the transfer ends well (ms)", median(tail_wait), None, "",
                     "the last chunk's own pause, then the look for its acknowledgement"))
        if args.only == "transfer":
            return write_report(args.out, rows, args.runs)

        rows.append(("START → first announcement (ms)", median(latency_announce), None, "≤ 10", ""))
        rows.append(("connection accepted → first byte (ms)", median(latency_first_byte), None, "≤ 12", ""))

        small = make_file(folder, 16)
        stops = [pair.exchange([send, small, "--wait-only", "0.5"], ["--never-connect", "1"])[0]["stop_ms"] for _ in range(args.runs)]
        rows.append(("cancel while connecting → announcements stopped, port closed (ms)", median(stops), None, "≤ 20", ""))
        stops = [pair.exchange([send, small, "--cancel-after-ms", "300"])[0]["stop_ms"] for _ in range(args.runs)]
        rows.append(("cancel while sending → transfer thread gone (ms)", median(stops), None, "≤ 20", ""))
        stops = [pair.exchange([send, small, "--cancel-after-ms", "1500"], ["--stop-after", "100000", "--hold", "4"])[0]["stop_ms"]
                 for _ in range(args.runs)]
        rows.append(("cancel while sending, peer stopped reading (ms)", median(stops), None, "≤ 1000", ""))

        screen = cancel_through_screen(args.build, args.runs)
        rows.append(("the same through the main screen, while connecting: Cancel → link quiet, box up (ms)",
                     median(screen["connecting_ms"]), None, "≤ 20", "in-process, loopback; port and silence checked after"))
        rows.append(("the same through the main screen, while sending (ms)", median(screen["sending_ms"]), None, "≤ 20", ""))
        rows.append(("the same through the main screen, peer stopped reading (ms)", median(screen["stalled_peer_ms"]), None, "≤ 1000", ""))

        waits = [pair.exchange([send, small, "--wait-only", "5"], ["--never-connect", "5.5"])[0] for _ in range(args.runs)]
        rows.append(("CPU while waiting for the mixer, 5 s (% of a core)", median([100 * w["wait_cpu_seconds"] / w["seconds"] for w in waits]), None, "< 1 %", ""))
        rows.append(("CPU during a 16 MiB transfer (% of a core)", 100 * median(cpu_send) if cpu_send else float("nan"), None, "", "spin of the last 0.1 ms of each pause"))

        sparse = make_file(folder, 1024, sparse=True)
        rss = [pair.exchange([send, sparse, "--cancel-after-ms", "5000"])[0]["max_rss_kb"] / 1024 for _ in range(args.runs)]
        rows.append(("peak RSS, 1 GiB sparse file: check + 5 s of transfer (MB)", median(rss), None, "< 40", "VmHWM; includes the check's full read of the file"))

        if os.path.exists(app):
            tool = tool_figures(session, app, args.runs)
            rows.append(("16 MiB through the real tool (window, progress bar): stream seconds / ideal", median(tool["ratio"]), None,
                         "ratio ≤ 1.03", "as received by the mixer simulator"))
            rows.append(("CPU of the real tool while waiting for the mixer, 5 s (% of a core)", median(tool["cpu_wait"]), None, "< 1 %",
                         "the whole process: worker, announcer, listener and the idle window"))
            rows.append(("… of which the link's threads (worker, announcer, listener)", median(tool["cpu_wait_link"]), None, "", ""))
            rows.append(("CPU of the real tool during the 16 MiB transfer (% of a core)", median(tool["cpu_send"]), None, "", ""))
            rows.append(("peak RSS of the real tool, 1 GiB sparse file: check + 5 s of transfer (MB)", median(tool["rss"]), None, "< 40",
                         "VmHWM, read while the cancel box is up"))
            rows.append(("start-up to first window (ms)", median([startup_ms(session, app) for _ in range(args.runs)]), None, "< 300",
                         "until the window is mapped under Xvfb"))
        rows += fleet_figures(session, cli, folder, args.runs)
        write_report(args.out, rows, args.runs)
    finally:
        session.close()
        subprocess.run(["rm", "-rf", folder])


def fleet_run(session, cli, path, count, delays=None):
    """qvr-update --mixers COUNT against COUNT simulated mixers, each from its own
    address; its JSON result, its own CPU seconds and its wall time."""
    addresses = [f"192.0.2.{2 + k}" for k in range(count)]
    faults = [a for k, d in enumerate(delays or []) if d for a in ("--fault", f"{k + 1}:delay={d:.3f}")]
    sim = session.simulator("--count", count, "--addresses", ",".join(addresses), "--timeout", 120, *faults)
    with tempfile.TemporaryFile("w+") as out:
        start = time.monotonic()
        proc = subprocess.Popen(["ip", "netns", "exec", session.app_ns, cli, "--mixers", str(count), "--json", "--quiet",
                                 "--timeout", "60", path], stdout=out, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        wall = time.monotonic() - start
        out.seek(0)
        result = last_json(cli, out.read(), "")
    report = sim.result(30)
    assert proc.returncode == 0 and all(m["result"] == "ok" for m in report.get("mixers", [report])), (result, report)
    return result, (usage.ru_utime, usage.ru_stime), wall


def fleet_figures(session, cli, folder, runs):
    """Several mixers at once: each gets the file whole, the slowest is not held
    up by the number of mixers, and the tool's CPU does not grow with it beyond
    the sends."""
    path = make_file(folder, 4)
    rows, times, cpus, users = [], {}, {}, {}
    for count in (1, 4, 8):
        results = [fleet_run(session, cli, path, count) for _ in range(runs)]
        times[count] = median([max(m["seconds"] for m in r["mixers"]) for r, _, _ in results])
        cpus[count] = median([sum(cpu) for _, cpu, _ in results])
        users[count] = median([cpu[0] for _, cpu, _ in results])
        rows.append((f"{count} mixers at once, 4 MiB each: seconds until the last took it (ideal 4.097 s)", times[count], None,
                     "≤ 1.05 × one mixer's" if count > 1 else "", f"ratio to one mixer {times[count] / times[1]:.3f}"))
        rows.append(("… CPU of qvr-update for the whole run (s)", cpus[count], None, "≤ 1.5 × one mixer's" if count > 1 else "",
                     f"ratio to one mixer {cpus[count] / cpus[1]:.3f}"))
        rows.append(("… of which in qvr-update's own code (user time, s)", users[count], None, "",
                     f"ratio to one mixer {users[count] / users[1]:.3f}; the rest is the kernel's sends"))
    spread = [2.0 * k / 7 for k in range(8)]
    walls = [fleet_run(session, cli, path, 8, spread)[2] for _ in range(runs)]
    rows.append(("8 mixers connecting over 2 s: start → every mixer served (s)", median(walls), None, "",
                 "the last connects at 2 s and needs 4.1 s"))
    return rows


SOAK_SIZE = 256 * 1024
SOAK_STRANGER = "192.0.2.77"
# Per kind of round: the simulator's options, and what it must have seen.
SOAK_MIXER = {
    "delivered": ((), lambda r, digest: r["result"] == "ok" and r["bytes"] == SOAK_SIZE and r["sha256"] == digest),
    # Most of the file read, the rest more than its small buffer holds, a pause, then a reset.
    "reset": (("--rcvbuf", 8192, "--reset-after", SOAK_SIZE - 20000, "--hold", 0.3),
              lambda r, _: r["result"] == "reset" and r["bytes"] == SOAK_SIZE - 20000),
    # Stops reading for longer than the benchmark takes to notice and cancel.
    "stall": (("--rcvbuf", 8192, "--reset-after", 65536, "--hold", 1.2),
              lambda r, _: r["result"] == "reset" and r["bytes"] == 65536),
    "stranger": (("--addresses", SOAK_STRANGER),
                 lambda r, _: r["result"] == "short" and r["announced_length"] is None and r["address"] == SOAK_STRANGER),
}


def soak_line(proc, timeout):
    ready, _, _ = select.select([proc.stdout], [], [], timeout)
    line = proc.stdout.readline() if ready else ""
    if not line.startswith("{"):
        raise RuntimeError(f"qvr_soak_bench gave no line within {timeout} s (exit {proc.poll()}): {line!r}")
    return json.loads(line)


def soak(session, binary, folder, rounds):
    """tools/bench/SoakBench.cpp: every round in one process, each against a
    simulator of its own; prints the figures and a row for every 20th round."""
    path = os.path.join(folder, "soak.upd")
    update = driver.make_update_file(SOAK_SIZE)
    with open(path, "wb") as f:
        f.write(update)
    digest = hashlib.sha256(update).hexdigest()
    kinds = [list(SOAK_MIXER)[n % len(SOAK_MIXER)] for n in range(rounds)]
    random.Random(7000).shuffle(kinds)

    proc = session.spawn(["ip", "netns", "exec", session.app_ns, binary, path],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    lines, mixer_wrong, start = [], [], time.monotonic()
    for kind in kinds:
        options, saw_right = SOAK_MIXER[kind]
        sim = session.simulator(*options, "--timeout", 20)
        proc.stdin.write(kind + "\n")
        proc.stdin.flush()
        lines.append(soak_line(proc, 60))
        report = sim.result(30)
        # One simulator a round: its pipes go with it.
        session.processes.remove(sim.proc)
        sim.proc.stdout.close()
        sim.proc.stderr.close()
        if not saw_right(report, digest):
            mixer_wrong.append((len(lines), kind, report))
        if not lines[-1]["as_expected"]:
            print(f"round {len(lines)}: {lines[-1]}", file=sys.stderr)
    proc.stdin.close()
    summary = soak_line(proc, 30)
    proc.wait(10)
    minutes = (time.monotonic() - start) / 60

    print(f"{rounds} rounds in {minutes:.1f} min, {SOAK_SIZE // 1024} KiB file\n")
    print("| kind | rounds | outcome as expected | the mixer's side as expected |\n|---|---|---|---|")
    for kind, (good, total) in summary["as_expected"].items():
        print(f"| {kind} | {total} | {good} | {total - sum(1 for _, k, _ in mixer_wrong if k == kind)} |")
    print(f"\nslowest Cancel of a stalled transfer: {summary['slowest_cancel_ms']:.1f} ms\n")
    print("| after round | first | last | min | max | last changed after round | before the first round |\n"
          "|---|---|---|---|---|---|---|")
    for key, name in (("fds", "open descriptors"), ("rss_kb", "VmRSS (kB)"), ("threads", "threads"),
                      ("heap_bytes", "heap in use (bytes)")):
        r = summary[key]
        changed = max((b["round"] for a, b in zip(lines, lines[1:]) if a[key] != b[key]), default="never")
        print(f"| {name} | {r['first']} | {r['last']} | {r['min']} | {r['max']} | {changed} | {summary['before'][key]} |")
    print("\n| round | kind | outcome | descriptors | VmRSS (kB) | threads | heap in use (bytes) |\n|---|---|---|---|---|---|---|")
    for line in lines[:1] + lines[19::20]:
        print(f"| {line['round']} | {line['kind']} | {line['outcome']} | {line['fds']} | {line['rss_kb']} | {line['threads']} "
              f"| {line['heap_bytes']} |")
    for wrong in mixer_wrong:
        print(f"round {wrong[0]} ({wrong[1]}): the simulator saw {wrong[2]}", file=sys.stderr)
    if proc.returncode != 0 or mixer_wrong:
        raise SystemExit("soak: some rounds did not end as expected")


def cancel_through_screen(build, runs):
    """tools/bench/CancelBench.cpp: the screen and the real link on loopback, under a virtual display."""
    out = subprocess.run(["xvfb-run", "-a", os.path.join(build, "tools", "bench", "qvr_cancel_bench"), "--runs", str(runs)],
                         capture_output=True, text=True, timeout=300)
    result = json.loads([l for l in out.stdout.splitlines() if l.startswith("{")][-1])
    if not result["checks_passed"]:
        raise RuntimeError(f"cancel through the screen left the link running: {result}")
    return result


def process_cpu(pid, only_link_threads=False):
    """CPU seconds of the process, or of its threads other than the main and the
    framework's timer thread (that is, the worker, announcer, listener, transfer).

    The whole process is read from its own stat, which also counts threads that
    have ended (a finished transfer thread); the per-thread sum serves live threads."""
    def ticks(path):
        with open(path) as f:
            data = f.read()
        fields = data.rsplit(")", 1)[1].split()
        return data[data.index("(") + 1:data.rindex(")")], int(fields[11]) + int(fields[12])

    if not only_link_threads:
        return ticks(f"/proc/{pid}/stat")[1] / os.sysconf("SC_CLK_TCK")
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            name, used = ticks(f"/proc/{pid}/task/{task}/stat")
        except FileNotFoundError:
            continue  # a thread that just ended
        if int(task) != pid and name != "JUCE Timer":
            total += used
    return total / os.sysconf("SC_CLK_TCK")


def process_peak_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def tool_figures(session, binary, runs):
    """The real tool, driven like a user in the session's namespace pair and virtual display."""
    figures = {"ratio": [], "cpu_wait": [], "cpu_wait_link": [], "cpu_send": [], "rss": []}

    def to_connect(app):
        app.wait_window()
        language = app.wait_screen("the language screen", driver.language_screen)
        app.press_first()
        app.wait_screen("the confirm screen", driver.confirm_screen(language))
        app.press_first()

    def cancel_and_end(app):
        app.press_second()
        box = app.wait_box()
        app.dismiss_box(box)
        app.wait_exit(10)

    transfer = driver.make_update_file(16 * 1024 * 1024)
    for _ in range(runs):
        app = driver.App(session, binary, update=driver.make_update_file(200 * 1024)).start()
        to_connect(app)
        driver.poll("the listening port", 10, lambda: session.listening(54000))
        start, cpu, own = time.monotonic(), process_cpu(app.pid), process_cpu(app.pid, True)
        time.sleep(5)
        figures["cpu_wait"].append(100 * (process_cpu(app.pid) - cpu) / (time.monotonic() - start))
        figures["cpu_wait_link"].append(100 * (process_cpu(app.pid, True) - own) / (time.monotonic() - start))
        cancel_and_end(app)

        app = driver.App(session, binary, update=transfer).start()
        to_connect(app)
        driver.poll("the listening port", 10, lambda: session.listening(54000))
        sim = session.simulator("--timeout", 60)
        start, cpu = time.monotonic(), process_cpu(app.pid)
        report = sim.result(60)
        figures["cpu_send"].append(100 * (process_cpu(app.pid) - cpu) / (time.monotonic() - start))
        assert report["result"] == "ok" and report["bytes"] == len(transfer), report
        figures["ratio"].append(report["stream_seconds"] / ((len(transfer) // 1024 + 1) * 0.001))
        app.wait_screen("the finished screen", lambda img: img.ink(driver.LANGS) > 0, timeout=20)
        app.press_first()
        app.wait_exit(10)

        app = driver.App(session, binary, update=None)
        with open(app.exe.with_suffix(".upd"), "wb") as f:
            f.write(b"QVR-7000")
            f.truncate(1024 ** 3)
        app.start()
        sim = session.simulator("--timeout", 30)
        to_connect(app)
        driver.poll("the connection", 15, lambda: not session.listening(54000))
        time.sleep(5)
        app.press_second()
        box = app.wait_box()
        figures["rss"].append(process_peak_mb(app.pid))
        app.dismiss_box(box)
        app.wait_exit(10)
        driver.end_process(sim.proc)
        os.remove(app.exe.with_suffix(".upd"))
    return figures


def startup_ms(session, app):
    env = dict(os.environ, DISPLAY=session.display, LANG="C.UTF-8")
    start = time.monotonic()
    proc = subprocess.Popen(["ip", "netns", "exec", session.app_ns, app], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = float("nan")
    while time.monotonic() - start < 10 and proc.poll() is None:
        if session.window_named("QVR"):
            elapsed = 1000 * (time.monotonic() - start)
            break
        time.sleep(0.005)
    ended = proc.poll()
    driver.end_process(proc)
    if elapsed != elapsed:
        print(f"start-up: no window within 10 s (the tool {'ended with ' + str(ended) if ended is not None else 'still ran'})",
              file=sys.stderr)
    return elapsed


def write_report(path, rows, runs):
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    lines = [
        "# Performance",
        "",
        f"Measured by `scripts/bench.sh` on {datetime.date.today().isoformat()}: {platform.node()}, {os.cpu_count()} cores, {cpu}, "
        f"Linux {platform.release()}. Every figure is the median of {runs} runs, inside a private namespace pair "
        "(veth, 192.0.2.1/24 ↔ 192.0.2.2/24).",
        "",
        "| figure | ours | reference sender | target | notes |",
        "|---|---|---|---|---|",
    ]
    for name, ours, ref, target, note in rows:
        lines.append(f"| {name} | {ours:.3f} | {'' if ref is None else f'{ref:.3f}'} | {target} | {note} |")
    lines += ["", open(os.path.join(HERE, "NOTES.md")).read().strip(), ""]
    with open(path, "w") as f:
        f.write("\n".join(lines))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
