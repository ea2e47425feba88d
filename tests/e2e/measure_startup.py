#!/usr/bin/python3
"""Start-up of setup.exe under Wine, to the first paint of its main window, measured several times.

robot.exe starts the installer of tests/e2e/measure-startup.scn and times, with the performance
counter, from its CreateProcess to the moment a pixel of the main window's client area shows the
backdrop tile's colour on the screen. The prefix is made once and used first for a warm-up run that
is not counted, so that the runs measure a warm prefix. Prints every time, the median and the maximum.

    tests/e2e/measure_startup.py [--runs N] [--build DIR]

A measurement, not a test: nothing here passes or fails on a number.
"""

import argparse
import fcntl
import json
import os
import statistics
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run  # noqa: E402  (prefixes, display, distribution and transcript helpers)

SCENARIO = os.path.join(run.ROOT, "tests", "e2e", "measure-startup.scn")
# The pixel of the client area that is watched: the last of the first tile, a colour of its own.
SPOT_X, SPOT_Y = 63, 47
RUN_TIMEOUT = 60


def measure_once(wine, env, build, scenario, folder, number):
    """One start of the installer: the milliseconds to its first paint, or None."""
    transcript = os.path.join(folder, f"transcript-{number}.jsonl")
    spot = "%d,%d:#%02x%02x%02x" % ((SPOT_X, SPOT_Y) + run.tile_color(SPOT_X, SPOT_Y))
    command = ["wine", run.z_path(os.path.join(build, "robot.exe")), "--timeout", str(RUN_TIMEOUT),
               "--first-paint", spot, run.z_path(scenario.path), scenario.installer_path, run.z_path(transcript)]
    with open(os.path.join(folder, "wine.log"), "a") as log:
        subprocess.run(command, env=env, stdout=log, stderr=subprocess.STDOUT, timeout=RUN_TIMEOUT + run.RUNNER_GRACE)
    end = next((r for r in run.read_transcript(transcript) if r.get("kind") == "end"), {})
    if end.get("status") != "exited" or end.get("failures"):
        print(f"measure: run {number} did not end cleanly: {json.dumps(end)}", file=sys.stderr)
    return end.get("first_paint_ms")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=10, help="measured runs after the warm-up (default 10)")
    parser.add_argument("--build", default=os.path.join(run.ROOT, "build", "win32"))
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    for exe in ("setup.exe", "robot.exe"):
        if not os.path.isfile(os.path.join(build, exe)):
            print(f"measure: {os.path.join(build, exe)} is missing; build the win32 preset first", file=sys.stderr)
            return 2
    scenario = run.Scenario(SCENARIO)
    work = os.path.join(os.path.dirname(build), "e2e")
    folder = os.path.join(work, "measure")
    prefix = os.path.join(folder, "prefix")
    home = os.path.join(folder, "home")
    os.makedirs(work, exist_ok=True)
    # The template and the display are shared with the end-to-end run: one at a time.
    lock = open(os.path.join(work, ".lock"), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    display = run.VirtualDisplay()
    try:
        wine = run.Wine(work, display.name)
        with open(os.path.join(work, "template.log"), "w") as log:
            template = run.make_template(wine, log)
        run.remove_tree(folder)
        os.makedirs(home)
        run.copy_prefix(template, prefix)
        run.lay_out(scenario, prefix, os.path.join(build, scenario.program))
        env = wine.env(prefix, home, scenario.language)
        try:
            measure_once(wine, env, build, scenario, folder, 0)  # warm-up, not counted
            times = [measure_once(wine, env, build, scenario, folder, n) for n in range(1, args.runs + 1)]
        finally:
            wine.stop_server(env)
    finally:
        display.close()

    seen = [t for t in times if t is not None]
    print("measure: start-up to the first paint of the main window, warm prefix, "
          f"{len(times)} run(s) on a virtual display")
    print("measure: " + " ".join("-" if t is None else f"{t:.0f}" for t in times) + " ms")
    if seen:
        print(f"measure: median {statistics.median(seen):.0f} ms, maximum {max(seen):.0f} ms"
              + (f"; {len(times) - len(seen)} run(s) never painted" if len(seen) < len(times) else ""))
    return 0 if len(seen) == len(times) else 1


if __name__ == "__main__":
    sys.exit(main())
