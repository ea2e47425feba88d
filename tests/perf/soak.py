#!/usr/bin/python3
"""The soak run of scripts/soak.sh: two long installations by setup.exe under Wine, each checked to the
byte and to the 100 ns.

  1. 10,000 small files (0 bytes to about 20 KB, the chunk's edges 8191, 8192, 8193 and 16384 bytes
     among them) in 100 sub-directories, each with content and a last-write time of its own;
  2. one file of 1 GB.

Each must end with message 5 (installation normally terminated) and no other message box than the
registration question, and every installed file must have its source's bytes (SHA-1) and last-write
time. The distribution and the installed files are deleted afterwards, the 1 GB ones first of all.

    tests/perf/soak.py [--files N] [--large-mb N]
"""

import argparse
import os
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineperf  # noqa: E402

ROOT = wineperf.ROOT
MB = 1 << 20
SMALL_COUNT = 10000
FOLDERS = 100
LARGE_MB = 1024
# Sizes every run meets whatever the count: empty, one byte, and the edges of the 8192-byte chunk.
EDGE_SIZES = (0, 1, 8191, 8192, 8193, 16384)
SMALL_SIZE_LIMIT = 20000
# Last-write times one step apart: whole 100 ns units, so that each survives a FILETIME exactly.
MTIME_STEP_NS = 1_234_567_800
# Generous: the installations take a few minutes at most.
INSTALL_TIMEOUT = 3 * 3600


def small_files(count):
    files = {}
    for i in range(count):
        size = EDGE_SIZES[i] if i < len(EDGE_SIZES) else (i * 7919) % SMALL_SIZE_LIMIT
        name = f"d{i % FOLDERS:02d}\\f{i:05d}.bin"
        files[name] = (size, b"soak %d" % i, wineperf.SOURCE_MTIME_NS + i * MTIME_STEP_NS)
    return files


def say(text):
    print(f"soak: {text}", flush=True)


def install(session, title, files):
    """Lays out `files`, installs them and checks everything; returns (seconds, problems)."""
    started = time.monotonic()
    sums = session.lay_out(files, [(f"File{i}", name) for i, name in enumerate(files)])
    laid_out = time.monotonic()
    say(f"{title}: distribution laid out in {laid_out - started:.0f} s; installing (load "
        f"{open('/proc/loadavg').read().split()[0]})")
    session.clear_target()
    records, _ = session.run_installer(INSTALL_TIMEOUT)
    installed = time.monotonic()
    problems = []
    end = next((r for r in records if r.get("kind") == "end"), {})
    if not wineperf.installed_cleanly(records):
        problems.append(f"the installer's run ended {end.get('status')} with exit code {end.get('exit')} and "
                        f"{end.get('failures')} robot failure(s); transcript in build/bench-wine/runs")
    timing = wineperf.installer_timing(records)
    boxes = [r for r in wineperf.windows(records) if r["kind"] == "box"]
    if timing is None:
        problems.append("the installation did not reach its question and its report")
    else:
        others = [b for b in boxes if b is not timing["question"] and b is not timing["report"]]
        problems += [f"unexpected message box: {b.get('text')!r}" for b in others]
        if not timing["report"]["text"].startswith(wineperf.report_done_text()):
            problems.append(f"the report is not message 5: {timing['report']['text']!r}")
        say(f"{title}: installed in {timing['ms'] / 1000:.1f} s (Install to the report), peak working set "
            f"{timing['report']['peak_working_set'] / MB:.1f} MB")
    say(f"{title}: checking {len(files)} file(s)")
    problems += wineperf.check_installed(session, sums, deep=True)
    target = session.host(wineperf.TARGET)
    found = sum(len(names) for _, _, names in os.walk(target)) if os.path.isdir(target) else 0
    if found != len(files):
        problems.append(f"{found} file(s) installed instead of {len(files)}")
    say(f"{title}: checked in {time.monotonic() - installed:.0f} s; "
        + ("all bytes, times and the report right" if not problems else f"{len(problems)} problem(s)"))
    for problem in problems[:20]:
        say(f"  {problem}")
    session.clear_target()
    session.remove_dist()
    return time.monotonic() - started, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--files", type=int, default=SMALL_COUNT)
    parser.add_argument("--large-mb", type=int, default=LARGE_MB)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win32-bench"))
    parser.add_argument("--perf-build", default=os.path.join(ROOT, "build", "perf"))
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "bench-wine"))
    args = parser.parse_args()

    started = time.monotonic()
    say(f"load {open('/proc/loadavg').read().strip()}")
    session = wineperf.Session(args.work, args.build, args.perf_build, name="prefix-soak")
    results = []
    try:
        results.append(install(session, f"{args.files} small files", small_files(args.files)))
        large = {"large.bin": (args.large_mb * MB, b"soak large")}
        results.append(install(session, f"one file of {args.large_mb} MB", large))
    finally:
        session.clear_target()
        session.remove_dist()
        session.close()
    failed = sum(1 for _, problems in results if problems)
    say(f"{time.monotonic() - started:.0f} s in all; " + ", ".join(f"{s:.0f} s" for s, _ in results)
        + f" for the two installations; {'FAILED' if failed else 'passed'}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
