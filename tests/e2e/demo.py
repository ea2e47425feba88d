#!/usr/bin/python3
"""The demo: installs samples/ with the built setup.exe in a fresh Wine prefix (build/demo/prefix).

On the user's display when there is a usable one (the user answers), otherwise on a virtual display
where robot.exe answers as tests/e2e/demo.scn says, printing the transcript and leaving it with the
screenshots in build/demo/.

    tests/e2e/demo.py [--robot] [--language en|fr|it]
"""

import argparse
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run  # noqa: E402  (the runner's prefix, display and transcript helpers)

ROOT = run.ROOT
SAMPLES = os.path.join(ROOT, "samples")
DEMO_RULES = os.path.join(ROOT, "tests", "e2e", "demo.scn")


def usable_display():
    display = os.environ.get("DISPLAY", "")
    if not display:
        return None
    try:
        probe = subprocess.run(["xdpyinfo"], capture_output=True, timeout=10)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return display if probe.returncode == 0 else None


def sample_files(build):
    """The distribution: every plain file at the top of samples/ but its scripts, the stand-in
    programs the win32 build made from samples/src, and setup.exe."""
    files = [os.path.join(SAMPLES, name) for name in sorted(os.listdir(SAMPLES))
             if os.path.isfile(os.path.join(SAMPLES, name)) and not name.startswith(".")
             and not name.endswith(".sh")]
    built = os.path.join(build, "samples")
    files += [os.path.join(built, name) for name in sorted(os.listdir(built)) if name.endswith(".exe")]
    return files + [os.path.join(build, "setup.exe")]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--robot", action="store_true", help="let the robot answer even when a display is there")
    parser.add_argument("--language", choices=sorted(run.LANGUAGES), help="installer language (robot runs: en)")
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win32"))
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    demo = os.path.join(os.path.dirname(build), "demo")
    prefix = os.path.join(demo, "prefix")
    home = os.path.join(demo, "home")
    display = None if args.robot else usable_display()

    virtual = None
    if display is None:
        virtual = run.VirtualDisplay()
    try:
        work = os.path.join(os.path.dirname(build), "e2e")
        os.makedirs(work, exist_ok=True)
        wine = run.Wine(work, display or virtual.name)
        # The template is shared with the end-to-end run; make or copy it only under its lock.
        with open(os.path.join(work, ".lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            with open(os.path.join(work, "template.log"), "w") as log:
                template = run.make_template(wine, log)
            os.makedirs(demo, exist_ok=True)
            for name in os.listdir(demo):
                if name.endswith(".bmp") or name in ("transcript.jsonl", "wine.log"):
                    os.remove(os.path.join(demo, name))
            run.remove_tree(home)
            os.makedirs(home)
            run.copy_prefix(template, prefix)

        temp = run.registry_key(prefix, "HKCU\\Environment")["temp"][1][1]
        temp_host = run.host_path(prefix, temp)
        os.makedirs(temp_host, exist_ok=True)
        dist_host = tempfile.mkdtemp(prefix="Quillet-", dir=temp_host)
        dist = temp + "\\" + os.path.basename(dist_host)
        for path in sample_files(build):
            shutil.copy2(path, dist_host)
        installer = dist + "\\setup.exe"
        print(f"demo: distribution laid out in {dist} ({os.path.relpath(dist_host, ROOT)})")

        if display is not None:
            # A person answers on their own desktop, whose window manager frames Wine's windows.
            user_reg = os.path.join(prefix, "user.reg")
            with open(user_reg, encoding="latin-1") as f:
                text = f.read()
            with open(user_reg, "w", encoding="latin-1") as f:
                f.write(text.replace('"Managed"="N"', '"Managed"="Y"'))
            env = wine.env(prefix, home, args.language)
            print(f"demo: running {installer} on display {display}; answer its windows there")
            result = subprocess.run(["wine", installer], env=env, cwd=dist_host)
            wine.stop_server(env)
            print(f"demo: setup.exe ended with exit code {result.returncode}")
            status = 0
        else:
            env = wine.env(prefix, home, args.language or "en")
            transcript = os.path.join(demo, "transcript.jsonl")
            print(f"demo: no usable display; the robot answers on virtual display {virtual.name}")
            with open(os.path.join(demo, "wine.log"), "w") as log:
                result = subprocess.run(
                    ["wine", run.z_path(os.path.join(build, "robot.exe")), run.z_path(DEMO_RULES), installer,
                     run.z_path(transcript)], env=env, stdout=log, stderr=subprocess.STDOUT,
                    timeout=run.DEFAULT_TIMEOUT + run.RUNNER_GRACE)
            wine.stop_server(env)
            print("demo: transcript")
            for record in run.read_transcript(transcript):
                print("  " + run.describe(record))
            shots = sorted(n for n in os.listdir(demo) if n.endswith(".bmp"))
            print(f"demo: transcript and {len(shots)} screenshot(s) in {os.path.relpath(demo, ROOT)}"
                  + (": " + ", ".join(shots) if shots else ""))
            status = result.returncode
            if status != 0:
                print("demo: the robot met a window it had no answer for, or the installer did not end;"
                      f" see {os.path.relpath(os.path.join(demo, 'wine.log'), ROOT)}")
        print(f"demo: the installed prefix stays in {os.path.relpath(prefix, ROOT)}"
              f" (WINEPREFIX={prefix} wine explorer)")
        return status
    finally:
        if virtual is not None:
            virtual.close()


if __name__ == "__main__":
    sys.exit(main())
