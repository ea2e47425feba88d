#!/usr/bin/python3
"""Where the installer's copy time goes under Wine, beyond the bare chain's.

Two views, each in a prefix of our own (build/bench-wine):
  requests  wineserver requests per chunk step (a 1 MB file) and per file (50 files of 64 KB), counted
            from a debug server's log (wineserver -d1): of the installer, of the bare chain, and of
            the chain with the installer's dialog emulated (chain.exe --emulate all);
  times     the time per chunk step of the installer and of chain.exe with parts of the installer's
            work emulated or changed (see chain.exe's --emulate), medians of alternating runs.

    tests/perf/profile.py [requests] [times] [--size-mb N | --files N] [--variants 0,5,...] [--runs N]

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
from wineperf import DIST, TARGET  # noqa: E402

ROOT = wineperf.ROOT
MB = 1 << 20
CHUNK = 8192
WM_COPY_NEXT_FILE, WM_COPY_CHUNK = "00000401", "00000402"
SMALL_FILES, SMALL_SIZE = 50, 64 << 10
# The variants timed: what each adds to or changes in the bare chain.
VARIANTS = [
    ("bare chain", None),
    ("+ dialog (IsDialogMessageA)", "dialog"),
    ("+ bar after every chunk", "dialog,bar"),
    ("+ percentage after every chunk", "dialog,text"),
    ("+ bar, percentage, label", "dialog,bar,text,label"),
    ("installer's copy phase emulated", "all"),
    ("  a. controls looked up once", "all,cache"),
    ("  b. input peeked for any window", "all,inputpeek"),
    ("  c. percentage set when it changes", "all,sametext"),
    ("  d. bar drawn when its width changes", "all,samebar"),
    ("  e. dialog served first every 10 ms", "all,throttle"),
    ("  a+c (no visible change)", "all,cache,sametext"),
    ("  a+c+d", "all,cache,sametext,samebar"),
    ("  a+b+c+d", "all,cache,inputpeek,sametext,samebar"),
    ("  a+c+d+e", "all,cache,sametext,samebar,throttle"),
    ("  a+b+c+d+e", "all,cache,inputpeek,sametext,samebar,throttle"),
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


def requests_per_post(text, message):
    """Requests per posted `message` of the thread that posted the most of them (the installer's and
    the chain's steps use the same numbers), counted between its first and its last such post.
    Returns (per post, {request: per post})."""
    pattern = r"^([0-9a-f]{4}): send_message\( id=\w+, type=6, flags=\w+, win=\w+, msg=" + message
    posts = collections.Counter(m.group(1) for m in re.finditer(pattern, text, re.M))
    if not posts:
        return None, {}
    thread = posts.most_common(1)[0][0]
    lines = [m for m in REQUEST_LINE.finditer(text) if m.group(1) == thread]
    post_at = [i for i, m in enumerate(lines) if m.group(2) == "send_message"
               and message in text[m.start():text.find("\n", m.start())]]
    window = lines[post_at[0]:post_at[-1]]
    steps = len(post_at) - 1
    counts = collections.Counter(m.group(2) for m in window)
    return len(window) / steps, {name: count / steps for name, count in counts.most_common()}


def profile_requests(work, build, perf_build):
    log_path = os.path.join(work, "server-debug.log")
    session = DebugSession(work, build, perf_build, log_path)
    cases = (("one 1 MB file, per chunk step", {"one.bin": (MB, b"one")}, WM_COPY_CHUNK),
             (f"{SMALL_FILES} files of 64 KB, per file", {f"s{i:02d}.bin": (SMALL_SIZE, b"small %d" % i)
                                                          for i in range(SMALL_FILES)}, WM_COPY_NEXT_FILE))
    results = {}
    try:
        # Session started a quiet server; a logging one takes its place.
        session.wine.stop_server(session.env)
        session.start_server()
        for title, files, message in cases:
            session.lay_out(files, [(f"F{i}", n) for i, n in enumerate(files)])
            listing = session.write_list("list.txt", [(DIST + "\\" + n, TARGET + "\\" + n) for n in files])
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
                results[(title, name)] = requests_per_post(session.log_from(offset), message)
    finally:
        session.close()
    for title, _, _ in cases:
        print(f"\nwineserver requests, {title}:")
        for (case, name), (total, by_request) in results.items():
            if case == title:
                detail = ", ".join(f"{request} {count:.2f}" for request, count in by_request.items() if count >= 0.5)
                print(f"  {name:28s} {total:6.1f}: {detail}")
    return results


def profile_times(work, build, perf_build, size_mb, files, runs, selected):
    """Wall time and processor time (chain.exe's own, less its start-up, plus the wineserver's and the X
    server's) per chunk step, for one file of `size_mb` or, with `files`, that many of 64 KB.
    Processor time hardly grows with the machine's other load; wall time does, and more so the more
    round trips a step makes."""
    session = wineperf.Session(work, build, perf_build)
    if files:
        layout = {f"s{i:04d}.bin": (SMALL_SIZE, b"small %d" % i) for i in range(files)}
        # Each file: a full chunk per 8192 bytes and the read of 0 bytes that ends it.
        steps = files * (SMALL_SIZE // CHUNK + 1)
        title = f"{files} files of 64 KB"
    else:
        layout = {"large.bin": (size_mb * MB, b"large")}
        steps = size_mb * MB // CHUNK
        title = f"{size_mb} MB file"
    variants = [v for i, v in enumerate(VARIANTS) if selected is None or i in selected]
    wall, cpu = collections.defaultdict(list), collections.defaultdict(list)
    try:
        session.lay_out(layout, [(f"F{i}", n) for i, n in enumerate(layout)])
        listing = session.write_list("list.txt", [(DIST + "\\" + n, TARGET + "\\" + n) for n in layout])
        empty = session.write_list("empty.txt", [])
        for round_number in range(runs):
            for name, parts in [("installer (robot-timed)", "installer")] + variants:
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
    bare_wall, bare_cpu = statistics.median(wall["bare chain"]), statistics.median(cpu["bare chain"])
    print(f"\nper chunk step, {title} ({steps} steps), medians of {runs}; processor time is chain.exe's, "
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
    parser.add_argument("--files", type=int, default=0, help="that many files of 64 KB instead of one file")
    parser.add_argument("--variants", help="comma-separated numbers of the variants to time (0 = bare chain)")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win32-bench"))
    parser.add_argument("--perf-build", default=os.path.join(ROOT, "build", "perf"))
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "bench-wine"))
    args = parser.parse_args()
    print(f"profile: load {open('/proc/loadavg').read().strip()}")
    if "requests" in args.views:
        profile_requests(args.work, args.build, args.perf_build)
    if "times" in args.views:
        selected = None if args.variants is None else {int(v) for v in args.variants.split(",")}
        profile_times(args.work, args.build, args.perf_build, args.size_mb, args.files, args.runs, selected)
    return 0


if __name__ == "__main__":
    sys.exit(main())
