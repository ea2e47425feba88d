#!/usr/bin/python3
"""The benchmarks of scripts/bench.sh: setup.exe's copy under Wine, interactive (the pointer where
Install was clicked, and over the main window) and silent, against CopyFileA and the bare chain of
posted 8192-byte steps; the delay of a click on Cancel; a silent installation from a packed setup.exe
against the same from the folder; the copy dialog's responsiveness; the installer's peak memory;
start-up to the first paint and the script reader on the host. Prints a Markdown table (and keeps it,
with every raw number, in build/bench-results/).

    tests/perf/bench.py [--runs N] [--only copy,cancel,packed,probe,memory,startup,reader,payload]
                        [--quick] [--before BUILD]

Each Wine figure comes from one prefix of our own (build/bench-wine) with its wineserver kept running,
on a virtual display of our own; runs of the copiers alternate and the median is reported. --before
names the build folder of another setup.exe (an earlier commit's), measured as more copiers in the
same rounds, so that before and after meet the same machine at the same moments.
A measurement, not a test: nothing here fails on a number, only on a wrong copy.
"""

import argparse
import datetime
import json
import os
import platform
import random
import re
import statistics
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineperf  # noqa: E402
from wineperf import DIST, TARGET, run  # noqa: E402

ROOT = wineperf.ROOT
MB = 1 << 20
KB = 1 << 10
# The two copy cases: one large file, many small ones.
LARGE_SIZE = 256 * MB
SMALL_COUNT, SMALL_SIZE = 2000, 64 * KB
MEMORY_SIZES = (10 * MB, 1024 * MB)
# The goals: each installer's copy of the large file within this multiple of CopyFileA's, and the
# interactive copy of the small files within this multiple of the silent one's; a click on Cancel
# answered within this many milliseconds.
COPYFILE_GOAL_RATIO = 2.0
SILENT_GOAL_RATIO = 1.15
CANCEL_GOAL_MS = 50
# Where the robot leaves the system's pointer when it presses Install: on the button itself, as a
# hand that clicked it, or over the main window's backdrop, away from every dialog.
POINTER_AT_INSTALL = "259"
POINTER_OVER_MAIN = "40,60"
# The copy dialog's file percentage at which the Cancel button is clicked, and the name the file
# being copied has until it is complete (its destination's with this suffix).
CANCEL_AT_PERCENT = 20
TEMPORARY_SUFFIX = ".~qs"
# Seconds the robot allows one installation; far beyond what any of them takes.
INSTALL_TIMEOUT = 1800
PROGRAM_TIMEOUT = 1800
SECTIONS = ("copy", "cancel", "packed", "probe", "memory", "startup", "reader", "payload")
# A silent installation of one file from a packed setup.exe against the same from the folder, for
# data that deflate cannot shrink and for text; the goals, as a multiple of the folder's time.
PACKED_SIZE = 256 * MB
PACKED_GOALS = {"incompressible": 1.2, "text": 1.5}
PACKED_INSTALLER = "C:\\downloads\\Quillet-setup.exe"
# The one-file distribution: one file of this size packed and read back, on the host.
PAYLOAD_SIZE = 1024 * MB
PAYLOAD_SCRIPT = b"[Install]\r\nApplication=Bench\r\n[Files]\r\nData=data.bin\r\n"


def machine():
    """Where and when the numbers were measured."""
    with open("/proc/cpuinfo") as f:
        model = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "unknown")
    with open("/proc/meminfo") as f:
        total_kb = int(re.search(r"MemTotal:\s+(\d+)", f.read()).group(1))
    return {
        "date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
        "nproc": os.cpu_count(),
        "cpu": model,
        "ram_gb": round(total_kb / (1 << 20), 1),
        "wine": run.wine_version(),
        "kernel": platform.release(),
    }


def size_text(size):
    return f"{size / MB:g} MB" if size >= MB else f"{size / KB:g} KB"


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def say(text):
    print(f"bench: {text}", flush=True)


# ---- (a) copy time: the installer, CopyFileA and the bare chain ------------------------------------

def verify(session, sums, deep):
    problems = wineperf.check_installed(session, sums, deep)
    if problems:
        raise RuntimeError("wrong copy: " + "; ".join(problems[:5]))


def install_rules(pointer):
    """The robot's rules of a whole installation with the pointer left at `pointer` (a control or a
    point of the screen) when Install is pressed."""
    return ("on dialog control=261 : leave\n"
            f"on dialog control=259 control=260 : point {pointer} ; press 259\n"
            "on box button=No : press No\n"
            "on box button=OK : press OK\n")


# Each installer's run writes its log here: its copy phase is timed from it, from the line naming the
# target directory to the last file copied, interactive and silent alike.
RUN_LOG = "C:\\bench-run.log"


def run_logged(session, installer, rules, arguments, whole=False):
    """`installer` run under the robot's `rules` with `arguments` and a log; its copy phase from the
    times of its own log (with `whole`, also the run's own time from its log's first line to its
    last, start-up included)."""
    log = session.host(RUN_LOG)
    if os.path.exists(log):
        os.remove(log)
    records, _ = session.run_installer(INSTALL_TIMEOUT, rules=rules, arguments=f"{arguments}/LOG={RUN_LOG}",
                                       installer=installer)
    ms = wineperf.log_copy_ms(log) if os.path.exists(log) else None
    if not wineperf.installed_cleanly(records) or ms is None:
        raise RuntimeError(f"the installation by {installer} did not go through; see build/bench-wine/runs")
    return (ms, wineperf.log_span_ms(log)) if whole else ms


def installer_copiers(installer, label):
    """The three ways of running one setup.exe: interactive with the pointer at Install, interactive
    with it over the main window, silent (no window at all)."""
    return {
        f"{label}": lambda session: run_logged(session, installer, install_rules(POINTER_AT_INSTALL), ""),
        f"{label}-main": lambda session: run_logged(session, installer, install_rules(POINTER_OVER_MAIN), ""),
        f"{label}-silent": lambda session: run_logged(session, installer, "", "/S "),
    }


BEFORE_INSTALLER = "before.exe"


def copy_case(session, name, files, runs, before):
    """One copy case: the copiers alternately, `runs` times each. Returns the medians and raws."""
    say(f"copy {name}: laying out the distribution")
    others = {BEFORE_INSTALLER: os.path.join(before, "setup.exe")} if before else None
    sums = session.lay_out(files, [(f"F{i}", n) for i, n in enumerate(files)], others)
    pairs = [(DIST + "\\" + n, TARGET + "\\" + n) for n in files]
    listing = session.write_list("list.txt", pairs)
    copiers = installer_copiers(DIST + "\\setup.exe", "installer")
    if before:
        copiers.update(installer_copiers(DIST + "\\" + BEFORE_INSTALLER, "before"))
    copiers["copyfile"] = lambda session: session.run_program("copyfile.exe", [listing], PROGRAM_TIMEOUT)["ms"]
    copiers["chain"] = lambda session: session.run_program("chain.exe", [listing], PROGRAM_TIMEOUT)["ms"]
    order = list(copiers)
    times = {c: [] for c in order}
    for round_number in range(runs):
        # A different copier goes first in each round, so that none always follows the same one.
        shift = round_number % len(order)
        for copier in order[shift:] + order[:shift]:
            session.clear_target()
            if copier in ("copyfile", "chain"):
                os.makedirs(session.host(TARGET))
            times[copier].append(copiers[copier](session))
            verify(session, sums, deep=round_number == 0)
        say(f"copy {name}: round {round_number + 1}/{runs}: " +
            ", ".join(f"{c} {times[c][-1]:.0f} ms" for c in order) + f" (load {load()})")
    session.clear_target()
    session.remove_dist()
    return {"median_ms": {c: statistics.median(t) for c, t in times.items()}, "runs_ms": times}


def bench_copy(session, runs, scale, before):
    large_size = int(LARGE_SIZE * scale)
    large = {"large.bin": (large_size, b"large")}
    # The quick run keeps the small files' size and takes fewer of them.
    small = {f"f{i:04d}.bin": (SMALL_SIZE, b"small %d" % i) for i in range(int(SMALL_COUNT * scale))}
    return {
        "large": dict(copy_case(session, f"one {size_text(large_size)} file", large, runs, before), files=1,
                      bytes=large_size),
        "small": dict(copy_case(session, f"{len(small)} files of {size_text(SMALL_SIZE)}", small, runs, before),
                      files=len(small), bytes=len(small) * SMALL_SIZE),
    }


# ---- (g) one file to download: a silent installation from a packed setup.exe -------------------------

def bench_packed(session, runs, scale):
    """One file installed silently from a packed setup.exe, which inflates and checks it as it goes,
    against the same from the folder, in the same prefix, the two alternating within each round."""
    subprocess.run(["bash", os.path.join(ROOT, "scripts", "pack.sh"), "--build-only"], check=True)
    pack = os.path.join(ROOT, "build", "check", "pack")
    size = int(PACKED_SIZE * scale)
    results = {}
    for kind in ("incompressible", "text"):
        say(f"packed: one {size_text(size)} file of {kind} data: laying out and packing")
        if kind == "text":
            sums = session.lay_out({}, [("Data", "data.bin")])
            data = session.host(DIST + "\\data.bin")
            write_data(data, size, "text")
            os.utime(data, ns=(wineperf.SOURCE_MTIME_NS, wineperf.SOURCE_MTIME_NS))
            sums = {"data.bin": wineperf.sha1_of(data)}
        else:
            sums = session.lay_out({"data.bin": (size, b"packed")}, [("Data", "data.bin")])
        packed = session.host(PACKED_INSTALLER)
        os.makedirs(os.path.dirname(packed), exist_ok=True)
        output = subprocess.run([pack, "--out", packed, session.host(DIST)], check=True, capture_output=True,
                                text=True).stdout
        method = re.search(r"data\.bin: \d+ -> (\d+) bytes, (\w+)", output)
        installers = {"folder": DIST + "\\setup.exe", "packed": PACKED_INSTALLER}
        copy_ms = {name: [] for name in installers}
        whole_ms = {name: [] for name in installers}
        for round_number in range(runs):
            order = list(installers) if round_number % 2 == 0 else list(reversed(installers))
            for name in order:
                session.clear_target()
                copy, whole = run_logged(session, installers[name], "", "/S ", whole=True)
                copy_ms[name].append(copy)
                whole_ms[name].append(whole)
                verify(session, sums, deep=round_number == 0)
            say(f"packed {kind}: round {round_number + 1}/{runs}: " +
                ", ".join(f"{n} {copy_ms[n][-1]:.0f} ms (run {whole_ms[n][-1]:.0f} ms)" for n in installers) +
                f" (load {load()})")
        session.clear_target()
        session.remove_dist()
        os.remove(packed)
        medians = {n: statistics.median(t) for n, t in copy_ms.items()}
        whole = {n: statistics.median(t) for n, t in whole_ms.items()}
        results[kind] = {"bytes": size, "packed_bytes": int(method.group(1)), "method": method.group(2),
                         "median_ms": medians, "runs_ms": copy_ms, "whole_median_ms": whole, "whole_runs_ms": whole_ms,
                         "ratio": medians["packed"] / medians["folder"],
                         "whole_ratio": whole["packed"] / whole["folder"], "goal": PACKED_GOALS[kind]}
    return results


# ---- (b) a click on Cancel ------------------------------------------------------------------------------

def bench_cancel(session, runs, scale, before):
    """probe.exe clicks Cancel (SendInput, the pointer moved onto the button) once the copy dialog shows
    CANCEL_AT_PERCENT for a large file, and times until the copy stops (its temporary file grows no
    more) and until the copy dialog is gone (once that file is removed)."""
    size = int(LARGE_SIZE * scale)
    say(f"cancel: a click on Cancel at {CANCEL_AT_PERCENT} % of a file of {size_text(size)}")
    others = {BEFORE_INSTALLER: os.path.join(before, "setup.exe")} if before else None
    session.lay_out({"large.bin": (size, b"large")}, [("Large", "large.bin")], others)
    installers = {"installer": DIST + "\\setup.exe", **({"before": DIST + "\\" + BEFORE_INSTALLER} if before else {})}
    delays = {label: [] for label in installers}
    closes = {label: [] for label in installers}
    watched = TARGET + "\\large.bin" + TEMPORARY_SUFFIX
    for number in range(runs):
        for label, installer in installers.items():
            session.clear_target()
            records, probed = session.run_installer(
                INSTALL_TIMEOUT, rules=install_rules(POINTER_AT_INSTALL), installer=installer,
                probe=["--cancel-at", str(CANCEL_AT_PERCENT), "--watch", watched, "--limit", str(INSTALL_TIMEOUT)])
            end = next((r for r in records if r.get("kind") == "end"), {})
            if end.get("exit") != 1602 or not probed or "cancel_ms" not in probed:
                raise RuntimeError(f"the cancelled installation by {installer} did not go as foreseen: {end} {probed}")
            delays[label].append(probed["cancel_ms"])
            closes[label].append(probed["closed_ms"])
        say(f"cancel: run {number + 1}/{runs}: " + ", ".join(
            f"{label} {delays[label][-1]:.1f} ms to the stop, {closes[label][-1]:.1f} ms to the close"
            for label in installers) + f" (load {load()})")
    session.clear_target()
    session.remove_dist()
    return {label: {"runs_ms": delays[label], "median_ms": statistics.median(delays[label]),
                    "max_ms": max(delays[label]), "closed_runs_ms": closes[label],
                    "closed_median_ms": statistics.median(closes[label])}
            for label in installers}


# ---- (c) the copy dialog's responsiveness ------------------------------------------------------------

def bench_probe(session, runs, scale):
    size = int(LARGE_SIZE * scale)
    say(f"probe: the copy dialog's round trips while a file of {size_text(size)} is copied")
    files = {"large.bin": (size, b"large")}
    session.lay_out(files, [("Large", "large.bin")])
    results = []
    for number in range(runs):
        session.clear_target()
        records, probed = session.run_installer(INSTALL_TIMEOUT, probe=["--limit", str(INSTALL_TIMEOUT)])
        if not wineperf.installed_cleanly(records) or not probed or "max_ms" not in probed:
            raise RuntimeError(f"the probed installation did not go through: {probed}")
        results.append(probed)
        say(f"probe: run {number + 1}/{runs}: {probed['round_trips']} round trips, median {probed['median_ms']:.2f} ms, "
            f"99th percentile {probed['p99_ms']:.2f} ms, maximum {probed['max_ms']:.1f} ms (load {load()})")
    session.clear_target()
    session.remove_dist()
    return {
        "bytes": size,
        "runs": results,
        "p99_ms": statistics.median(r["p99_ms"] for r in results),
        "median_ms": statistics.median(r["median_ms"] for r in results),
        "max_ms": max(r["max_ms"] for r in results),
    }


# ---- (e) peak memory ---------------------------------------------------------------------------------

class HighWaterWatch:
    """Reads VmHWM of the prefix's setup.exe processes from /proc every few milliseconds, as a check
    on the robot's figure (Wine's GetProcessMemoryInfo)."""

    PERIOD = 0.02

    def __init__(self, prefix):
        self.prefix = prefix.encode()
        self.peak_kb = {}
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._watch, daemon=True)
        self.thread.start()

    def _ours(self, pid):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                first = f.read().split(b"\0")[0]
            if not first.lower().endswith(b"\\setup.exe"):
                return False
            with open(f"/proc/{pid}/environ", "rb") as f:
                return b"WINEPREFIX=" + self.prefix in f.read().split(b"\0")
        except OSError:
            return False

    def _watch(self):
        known = set()
        while not self.done.is_set():
            for pid in os.listdir("/proc"):
                if pid.isdigit() and (pid in known or self._ours(pid)):
                    known.add(pid)
                    try:
                        with open(f"/proc/{pid}/status") as f:
                            value = int(re.search(r"VmHWM:\s+(\d+)", f.read()).group(1))
                        self.peak_kb[pid] = max(value, self.peak_kb.get(pid, 0))
                    except (OSError, AttributeError):
                        pass
            time.sleep(self.PERIOD)

    def stop(self):
        self.done.set()
        self.thread.join()
        return max(self.peak_kb.values(), default=None)


def bench_memory(session, scale):
    results = {}
    for size in MEMORY_SIZES:
        size = int(size * scale)
        label = size_text(size)
        say(f"memory: installing one file of {label}")
        session.lay_out({"data.bin": (size, b"memory")}, [("Data", "data.bin")])
        session.clear_target()
        watch = HighWaterWatch(session.prefix)
        records, _ = session.run_installer(INSTALL_TIMEOUT)
        vmhwm_kb = watch.stop()
        timing = wineperf.installer_timing(records)
        if not wineperf.installed_cleanly(records) or timing is None:
            raise RuntimeError(f"the {label} installation did not go through")
        verify(session, {"data.bin": None}, deep=False)
        # The robot's figure is taken when the report appears: the copy is behind it.
        peak = timing["report"]["peak_working_set"]
        results[label] = {"peak_working_set": peak, "vmhwm_kb": vmhwm_kb, "bytes": size}
        say(f"memory: {label}: peak working set {peak / MB:.2f} MB (VmHWM seen in /proc: "
            f"{'-' if vmhwm_kb is None else f'{vmhwm_kb / 1024:.2f} MB'})")
        session.clear_target()
        session.remove_dist()
    return results


# ---- (f) the packer and the payload reader -------------------------------------------------------------

def measured(command, work):
    """Runs a command to its end; its wall time, its peak resident size in KiB and its output. The
    peak is GNU time's: a child of this process would start with this process's own size, as a
    fork counts the parent's pages until the program is loaded."""
    peak = os.path.join(work, "peak-kb")
    started = time.monotonic()
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak] + command, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)
    seconds = time.monotonic() - started
    output = result.stdout.decode(errors="replace")
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed:\n{output}")
    with open(peak) as f:
        return seconds, int(f.read().split()[-1]), output


def write_data(path, size, kind):
    """`size` bytes that deflate cannot shrink (from the system's random source), or text of words
    and numbers (a pseudo-random megabyte again and again: deflate's window is 32 KB)."""
    with open(path, "wb") as f:
        if kind == "text":
            words = random.Random(1)
            vocabulary = ("the", "editor", "saves", "a", "file", "line", "of", "text")
            lines, length = [], 0
            while length < MB:
                line = " ".join(words.choice(vocabulary + (str(words.randrange(10 ** 6)),)) for _ in range(12))
                lines.append(line.encode() + b"\r\n")
                length += len(lines[-1])
            block = b"".join(lines)[:MB]
        for done in range(0, size, MB):
            f.write(block[:size - done] if kind == "text" else os.urandom(min(MB, size - done)))


def bench_payload(work, setup, scale):
    """Peak resident size and time of the packer (which reads its output back through the reader)
    and of the reader alone, for one large file; a small file gives what the program takes anyway."""
    pack = os.path.join(ROOT, "build", "check", "pack")
    subprocess.run(["bash", os.path.join(ROOT, "scripts", "pack.sh"), "--build-only"], check=True)
    folder = os.path.join(work, "payload", "dist")
    packed = os.path.join(work, "payload", "packed.exe")
    results = {}
    size = int(PAYLOAD_SIZE * scale)
    for kind, data_size in (("small", KB), ("incompressible", size), ("text", size)):
        subprocess.run(["rm", "-rf", folder, packed], check=True)
        os.makedirs(folder)
        subprocess.run(["cp", setup, os.path.join(folder, "setup.exe")], check=True)
        with open(os.path.join(folder, "setup.inf"), "wb") as f:
            f.write(PAYLOAD_SCRIPT)
        say(f"payload: packing one {size_text(data_size)} file ({kind})")
        write_data(os.path.join(folder, "data.bin"), data_size, "text" if kind == "text" else "noise")
        pack_s, pack_kb, output = measured([pack, "--out", packed, folder], work)
        check_s, check_kb, _ = measured([pack, "--check", packed], work)
        method = re.search(r"data\.bin: \d+ -> (\d+) bytes, (\w+)", output)
        results[kind] = {"bytes": data_size, "packed_bytes": int(method.group(1)), "method": method.group(2),
                         "pack_s": round(pack_s, 1), "pack_peak_kb": pack_kb,
                         "read_s": round(check_s, 1), "read_peak_kb": check_kb}
        say(f"payload: {kind}: packed to {int(method.group(1)) / MB:.1f} MB ({method.group(2)}) in "
            f"{pack_s:.1f} s, peak {pack_kb / 1024:.1f} MB; read back in {check_s:.1f} s, peak {check_kb / 1024:.1f} MB")
    subprocess.run(["rm", "-rf", os.path.join(work, "payload")], check=True)
    return results


# ---- (b) start-up, (d) the reader ---------------------------------------------------------------------

def bench_startup(build, runs):
    say(f"start-up: tests/e2e/measure_startup.py --runs {runs}")
    result = subprocess.run([sys.executable, os.path.join(ROOT, "tests", "e2e", "measure_startup.py"), "--runs",
                             str(runs), "--build", build], capture_output=True, text=True)
    print(result.stdout, end="", flush=True)
    match = re.search(r"median (\d+) ms, maximum (\d+) ms", result.stdout)
    if result.returncode != 0 or not match:
        raise RuntimeError(f"measure_startup.py failed: {result.stdout}{result.stderr}")
    times = re.search(r"measure: ([\d -]+) ms\n", result.stdout)
    return {"median_ms": int(match.group(1)), "max_ms": int(match.group(2)),
            "runs_ms": times.group(1).split() if times else []}


def bench_reader(bench_build):
    say("reader: build/bench/benchmarks on a 50 MB script")
    result = subprocess.run([os.path.join(bench_build, "benchmarks"), "--benchmark_format=json",
                             "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"],
                            capture_output=True, text=True, check=True)
    data = json.loads(result.stdout)
    speeds = {}
    for entry in data["benchmarks"]:
        if entry.get("aggregate_name") == "median":
            speeds[entry["run_name"]] = {"mb_per_s": entry["bytes_per_second"] / MB,
                                         "ms": entry["real_time"]}
    return speeds


# ---- The table -----------------------------------------------------------------------------------------

def copy_lines(copy, label, title):
    lines = []
    for key in ("large", "small"):
        case = copy[key]
        if label not in case["median_ms"]:
            continue
        each = case["bytes"] // case["files"]
        what = (f"one {size_text(each)} file" if case["files"] == 1
                else f"{case['files']} files of {size_text(each)}")
        med = case["median_ms"]
        runs = len(case["runs_ms"][label])
        at, main, silent, copyfile = med[label], med[f"{label}-main"], med[f"{label}-silent"], med["copyfile"]

        # A ratio is taken in each round, whose copiers meet the machine at nearly the same moment, and
        # the median of the rounds' ratios is given.
        def ratio(copier, reference):
            return statistics.median(a / b for a, b in zip(case["runs_ms"][copier], case["runs_ms"][reference]))

        ratios = (f"× CopyFileA {ratio(label, 'copyfile'):.2f} / {ratio(label + '-main', 'copyfile'):.2f} / "
                  f"{ratio(label + '-silent', 'copyfile'):.2f} (goal ≤ {COPYFILE_GOAL_RATIO:g})" if key == "large" else
                  f"interactive × silent {ratio(label, label + '-silent'):.2f} / "
                  f"{ratio(label + '-main', label + '-silent'):.2f} (goal ≤ {SILENT_GOAL_RATIO:g})")
        lines.append(f"| {title}: copy of {what}, interactive (pointer at Install / over the main window) / silent"
                     f" / CopyFileA / bare chain (median of {runs}) | {at:.0f} / {main:.0f} / {silent:.0f} / "
                     f"{copyfile:.0f} / {med['chain']:.0f} ms; {ratios}, medians of the rounds' ratios |")
    return lines


def table(results):
    m = results["machine"]
    where = " in scripts/testvm.sh's emulated machine (only the ratios mean anything)" if results.get("emulated") else ""
    lines = [f"Measured {m['date']}{where} on {m['nproc']} × {m['cpu']}, {m['ram_gb']} GB RAM, {m['wine']} "
             f"(Linux {m['kernel']}), load average {results['load_before']} before and "
             f"{results['load_after']} after; `bash scripts/bench.sh`.", "",
             "| measure | result |", "|---|---|"]
    copy = results.get("copy")
    if copy:
        lines += copy_lines(copy, "installer", "setup.exe")
        lines += copy_lines(copy, "before", "setup.exe before")
    cancel = results.get("cancel")
    if cancel:
        for label, title in (("installer", "setup.exe"), ("before", "setup.exe before")):
            if label in cancel:
                c = cancel[label]
                lines.append(f"| {title}: a click on Cancel at {CANCEL_AT_PERCENT} % to the copy's stop "
                             f"({len(c['runs_ms'])} runs) | median {c['median_ms']:.1f} ms, maximum "
                             f"{c['max_ms']:.1f} ms (goal ≤ {CANCEL_GOAL_MS} ms); to the dialog's close, once "
                             f"the partial copy is removed, median {c['closed_median_ms']:.1f} ms |")
    packed = results.get("packed")
    if packed:
        for kind in ("incompressible", "text"):
            case = packed[kind]
            med, whole = case["median_ms"], case["whole_median_ms"]
            lines.append(f"| silent installation (`/S`) of one {size_text(case['bytes'])} file of {kind} data: packed "
                         f"setup.exe / folder (median of {len(case['runs_ms']['packed'])}, copy phase from the log) | "
                         f"{med['packed']:.0f} / {med['folder']:.0f} ms; packed = {case['ratio']:.2f} × folder (goal ≤ "
                         f"{case['goal']}); whole run {whole['packed']:.0f} / {whole['folder']:.0f} ms "
                         f"({case['whole_ratio']:.2f} ×); packed to {case['packed_bytes'] / MB:.1f} MB "
                         f"({case['method']}) |")
    probe = results.get("probe")
    if probe:
        lines.append(f"| copy dialog's round trip (WM_NULL) while a {size_text(probe['bytes'])} file is copied "
                     f"({len(probe['runs'])} runs) | "
                     f"median {probe['median_ms']:.2f} ms, 99th percentile {probe['p99_ms']:.2f} ms, "
                     f"maximum {probe['max_ms']:.1f} ms |")
    startup = results.get("startup")
    if startup:
        lines.append(f"| start-up to the first paint ({len(startup['runs_ms'])} runs) | "
                     f"median {startup['median_ms']} ms, maximum {startup['max_ms']} ms |")
    reader = results.get("reader")
    if reader:
        parts = [f"{name} {value['mb_per_s']:.0f} MB/s" for name, value in sorted(reader.items())]
        lines.append(f"| script reader, 50 MB script (host build) | {', '.join(parts)} |")
    memory = results.get("memory")
    if memory:
        parts = [f"{label}: {value['peak_working_set'] / MB:.1f} MB (VmHWM {value['vmhwm_kb'] / 1024:.1f} MB)"
                 for label, value in memory.items()]
        lines.append(f"| installer's peak working set, one-file installation | {', '.join(parts)} |")
    payload = results.get("payload")
    if payload:
        small = payload["small"]
        for kind in ("incompressible", "text"):
            case = payload[kind]
            lines.append(f"| packer and reader, one {size_text(case['bytes'])} file of {kind} data (host build; "
                         f"the packer reads its output back) | packed to {case['packed_bytes'] / MB:.1f} MB "
                         f"({case['method']}); packer {case['pack_s']:.0f} s, peak "
                         f"{case['pack_peak_kb'] / 1024:.1f} MB; reader {case['read_s']:.0f} s, peak "
                         f"{case['read_peak_kb'] / 1024:.1f} MB (with a 1 KB file: "
                         f"{small['pack_peak_kb'] / 1024:.1f} and {small['read_peak_kb'] / 1024:.1f} MB) |")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=5, help="runs of each copier per case (default 5)")
    parser.add_argument("--probe-runs", type=int, default=3)
    parser.add_argument("--cancel-runs", type=int, default=5)
    parser.add_argument("--before", help="the build folder of another setup.exe, measured in the same rounds")
    parser.add_argument("--emulated", action="store_true",
                        help="run in scripts/testvm.sh's emulated machine: no host benchmark, ratios only")
    parser.add_argument("--startup-runs", type=int, default=10)
    parser.add_argument("--only", default=",".join(SECTIONS), help="comma-separated: " + ",".join(SECTIONS))
    parser.add_argument("--quick", action="store_true", help="sizes and file counts divided by 16 (a smoke run)")
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win32-bench"))
    parser.add_argument("--perf-build", default=os.path.join(ROOT, "build", "perf"))
    parser.add_argument("--bench-build", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "bench-wine"))
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "bench-results"))
    args = parser.parse_args()
    sections = [s for s in args.only.split(",") if s]
    unknown = [s for s in sections if s not in SECTIONS]
    if unknown:
        parser.error(f"unknown section(s): {', '.join(unknown)}")
    scale = 1 / 16 if args.quick else 1
    if args.emulated and "reader" in sections:
        # The host's own program: it measures the host, not the emulated machine.
        sections.remove("reader")
        say("reader: not in the emulated machine; build/bench/benchmarks runs on the host")

    started = time.monotonic()
    results = {"machine": machine(), "load_before": load(), "quick": args.quick, "emulated": args.emulated}
    say(f"{results['machine']}, load {results['load_before']}")
    before = os.path.abspath(args.before) if args.before else None
    if any(s in sections for s in ("copy", "cancel", "packed", "probe", "memory")):
        session = wineperf.Session(args.work, args.build, args.perf_build)
        try:
            if "copy" in sections:
                results["copy"] = bench_copy(session, args.runs, scale, before)
            if "cancel" in sections:
                results["cancel"] = bench_cancel(session, args.cancel_runs, scale, before)
            if "packed" in sections:
                results["packed"] = bench_packed(session, args.runs, scale)
            if "probe" in sections:
                results["probe"] = bench_probe(session, args.probe_runs, scale)
            if "memory" in sections:
                results["memory"] = bench_memory(session, scale)
        finally:
            session.close()
    if "startup" in sections:
        results["startup"] = bench_startup(args.build, args.startup_runs)
    if "reader" in sections:
        results["reader"] = bench_reader(args.bench_build)
    if "payload" in sections:
        results["payload"] = bench_payload(args.work, os.path.join(args.build, "setup.exe"), scale)
    results["load_after"] = load()
    results["seconds"] = round(time.monotonic() - started)

    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "results.json"), "w") as f:
        json.dump(results, f, indent=1, default=str)
    text = table(results)
    with open(os.path.join(args.out, "results.md"), "w") as f:
        f.write(text)
    print()
    print(text, end="")
    say(f"{results['seconds']} s in all; raw numbers in {os.path.relpath(args.out, ROOT)}/results.json")
    return 0


if __name__ == "__main__":
    sys.exit(main())
