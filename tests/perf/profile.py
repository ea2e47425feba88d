#!/usr/bin/python3
"""Where the installer's copy time goes under Wine, beyond the bare chain's.

Two views, each in a prefix of our own (build/bench-wine):
  requests  wineserver requests per chunk step, counted from a debug server's log (wineserver -d1) while
            a 1 MB file is copied: by the installer, by the bare chain, and by the chain with the
            installer's dialog emulated (chain.exe --emulate all);
  times     the time per chunk step of the installer and of chain.exe with parts of the installer's
            work emulated or changed (see chain.exe's --emulate), medians of alternating runs.

    tests/perf/profile.py [requests] [times] [--size-mb N] [--runs N]

Needs the builds of scripts/bench.sh (build/win32-bench, build/perf).
"""

import argparse
import collections
import os
import re
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineperf  # noqa: E402
from wineperf import DIST, TARGET, run  # noqa: E402

ROOT = wineperf.ROOT
MB = 1 << 20
CHUNK = 8192
WM_COPY_CHUNK = "00000402"
# The variants timed: what each adds to or changes in the bare chain.
VARIANTS = [
    ("bare chain", None),
    ("+ dialog (IsDialogMessageA)", "dialog"),
    ("+ bar after every chunk", "dialog,bar"),
    ("+ percentage after every chunk", "dialog,text"),
    ("+ bar, percentage, label", "dialog,bar,text,label"),
    ("installer's copy phase emulated", "all"),
    ("emulated, controls looked up once", "all,cache"),
    ("emulated, input peeked for any window", "all,inputpeek"),
    ("emulated, both of those", "all,cache,inputpeek"),
    ("emulated, those and the percentage when it changes", "all,cache,inputpeek,sametext"),
    ("emulated, percentage set when it changes", "all,sametext"),
    ("emulated, bar drawn when its width changes", "all,samebar"),
    ("emulated, all four changes", "all,cache,inputpeek,sametext,samebar"),
]
REQUEST_LINE = re.compile(r"^([0-9a-f]{4}): (\w+)\( ", re.M)


def chain_arguments(parts, listing):
    return (["--emulate", parts] if parts else []) + [listing]


class DebugSession(wineperf.Session):
    """A session whose wineserver logs every request (its debug level 1) into `log_path`."""

    def __init__(self, work, build, perf_build, log_path):
        self.log_path = log_path
        self.log = open(log_path, "w")
        super().__init__(work, build, perf_build, name="prefix-debug")

    def start_server(self):
        self.server = subprocess.Popen(["wineserver", "-f", "-p", "-d1"], env=self.env, stdout=self.log,
                                       stderr=self.log)
        # The server is up once its socket folder exists; the first client would start another one.
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and not os.path.exists(os.path.join(self.prefix, "wineserver")):
            time.sleep(0.05)
        time.sleep(0.5)

    def close(self):
        try:
            super().close()
        finally:
            self.server.wait(timeout=60)
            self.log.close()

    def log_from(self, offset):
        self.log.flush()
        with open(self.log_path, errors="replace") as f:
            f.seek(offset)
            return f.read()

    def log_size(self):
        self.log.flush()
        return os.path.getsize(self.log_path)


def requests_per_step(text):
    """Requests per chunk step of the thread that posted the most WM_COPY_CHUNK-numbered messages:
    counted between its first and its last such post. Returns (per step, {request: per step})."""
    posts = collections.Counter(m.group(1) for m in re.finditer(
        r"^([0-9a-f]{4}): send_message\( id=\w+, type=6, flags=\w+, win=\w+, msg=" + WM_COPY_CHUNK, text, re.M))
    if not posts:
        return None, {}
    thread = posts.most_common(1)[0][0]
    lines = [m for m in REQUEST_LINE.finditer(text) if m.group(1) == thread]
    post_at = [i for i, m in enumerate(lines) if m.group(2) == "send_message"
               and WM_COPY_CHUNK in text[m.start():text.find("\n", m.start())]]
    window = lines[post_at[0]:post_at[-1]]
    steps = len(post_at) - 1
    counts = collections.Counter(m.group(2) for m in window)
    return len(window) / steps, {name: count / steps for name, count in counts.most_common()}


def profile_requests(work, build, perf_build):
    log_path = os.path.join(work, "server-debug.log")
    session = DebugSession(work, build, perf_build, log_path)
    results = {}
    try:
        # The persistent server was started without the log by Session; replace it with a logging one.
        session.wine.stop_server(session.env)
        session.start_server()
        session.lay_out({"one.bin": (MB, b"one")}, [("One", "one.bin")])
        listing = session.write_list("list.txt", [(DIST + "\\one.bin", TARGET + "\\one.bin")])
        for name, action in (("installer", lambda: session.run_installer(wineperf.COMMAND_GRACE)),
                             ("bare chain", lambda: session.run_program("chain.exe", [listing], 120)),
                             ("chain, installer emulated",
                              lambda: session.run_program("chain.exe", ["--emulate", "all", listing], 120))):
            session.clear_target()
            if name != "installer":
                os.makedirs(session.host(TARGET))
            offset = session.log_size()
            action()
            time.sleep(0.5)
            results[name] = requests_per_step(session.log_from(offset))
    finally:
        session.close()
        run.remove_tree(session.prefix)
    print("\nwineserver requests per chunk step (1 MB file, 128 steps):")
    for name, (total, by_request) in results.items():
        detail = ", ".join(f"{request} {count:.2f}" for request, count in by_request.items() if count >= 0.5)
        print(f"  {name:28s} {total:5.1f}: {detail}")
    return results


def profile_times(work, build, perf_build, size_mb, runs):
    """Wall time and processor time (chain.exe's own, less its start-up, plus the wineserver's and the X
    server's) per chunk step. Processor time hardly grows with the machine's other load; wall time
    does, and more so the more round trips a step makes."""
    session = wineperf.Session(work, build, perf_build)
    steps = size_mb * MB // CHUNK
    wall, cpu = collections.defaultdict(list), collections.defaultdict(list)
    try:
        session.lay_out({"large.bin": (size_mb * MB, b"large")}, [("Large", "large.bin")])
        listing = session.write_list("list.txt", [(DIST + "\\large.bin", TARGET + "\\large.bin")])
        empty = session.write_list("empty.txt", [])
        for round_number in range(runs):
            for name, parts in [("installer (robot-timed)", "installer")] + VARIANTS:
                session.clear_target()
                if parts == "installer":
                    records, _ = session.run_installer(wineperf.COMMAND_GRACE * 10)
                    timing = wineperf.installer_timing(records)
                    if timing is None or not wineperf.installed_cleanly(records):
                        raise RuntimeError("the installation did not go through")
                    wall[name].append(timing["ms"])
                    continue
                os.makedirs(session.host(TARGET))
                # The same program with nothing to copy: its start-up and its dialog's creation.
                idle = session.run_program("chain.exe", chain_arguments(parts, empty), 600)
                before = session.helper_cpu_ms()
                result = session.run_program("chain.exe", chain_arguments(parts, listing), 600)
                after = session.helper_cpu_ms()
                wall[name].append(result["ms"])
                cpu[name].append(result["cpu_ms"] - idle["cpu_ms"] + sum(after[k] - before[k] for k in after))
            print(f"profile: round {round_number + 1}/{runs} done (load {open('/proc/loadavg').read().split()[0]})",
                  flush=True)
    finally:
        session.close()
        run.remove_tree(session.prefix)
    bare_wall, bare_cpu = statistics.median(wall["bare chain"]), statistics.median(cpu["bare chain"])
    print(f"\nper chunk step, {size_mb} MB file ({steps} steps), medians of {runs}; processor time is chain.exe's, "
          "the wineserver's and Xvfb's together:")
    print(f"  {'variant':45s} {'wall us':>8s} {'x bare':>7s} {'cpu us':>8s} {'x bare':>7s}")
    for name in wall:
        w = statistics.median(wall[name])
        line = f"  {name:45s} {w * 1000 / steps:8.1f} {w / bare_wall:7.2f}"
        if cpu[name]:
            c = statistics.median(cpu[name])
            line += f" {c * 1000 / steps:8.1f} {c / bare_cpu:7.2f}"
        print(line)
    return wall, cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("views", nargs="*", default=["requests", "times"])
    parser.add_argument("--size-mb", type=int, default=64)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win32-bench"))
    parser.add_argument("--perf-build", default=os.path.join(ROOT, "build", "perf"))
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "bench-wine"))
    args = parser.parse_args()
    print(f"profile: load {open('/proc/loadavg').read().strip()}")
    if "requests" in args.views:
        profile_requests(args.work, args.build, args.perf_build)
    if "times" in args.views:
        profile_times(args.work, args.build, args.perf_build, args.size_mb, args.runs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
