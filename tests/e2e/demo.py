#!/usr/bin/python3
"""The demo: packs samples/ with the built setup.exe into the one file a user downloads, named as a
browser names a second download (Quillet-setup (1).exe, in the user's Downloads folder of a fresh Wine
prefix, build/demo/prefix), installs from that file alone, then removes the installation again as a
user does, from Wine's Add/Remove Programs (`uninstaller --remove`).

On the user's display when there is a usable one (the user answers), otherwise on a virtual display
where robot.exe answers as tests/e2e/demo.scn says, printing the transcripts and leaving them in
build/demo/ (the removal's in build/demo/removal/) with the screenshots as PNG and index.html, which
shows them in order with their transcript lines. The distribution gets a payload made on the spot,
large enough for the copy dialog to be seen at work.

    tests/e2e/demo.py [--robot] [--language en|fr|it]
"""

import argparse
import fcntl
import html
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
# The payload added to the samples' script and made on the spot: three files, so that the overall bar,
# which moves only when a file is complete, moves too. Under Wine the installer copies at a few
# hundred MB/s, so each file is large enough that a tenth of it lasts many of the robot's looks and
# its pictures catch the bars halfway through each file.
PAYLOAD_FILES = 3
PAYLOAD_BYTES = 256 << 20  # each
PAGE = "index.html"
# The removal's transcript and pictures: a folder of their own, since the robot numbers the windows of
# each run from 1 and names the pictures after those numbers.
REMOVAL = "removal"
UNINSTALLER = "C:\\windows\\system32\\uninstaller.exe"
APPLICATION = "Quillet"  # the sample script's Application, the name its uninstall entry is listed by
# The one file, as a browser names it when an earlier download of the same name is there.
DOWNLOADED = "Quillet-setup (1).exe"
# The robot's limit for the whole demo: generous, since an emulated machine (scripts/testvm.sh) copies
# the payload several times slower than a real one.
DEMO_TIMEOUT = 600


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
    """The distribution: every plain file at the top of samples/ but its scripts, the editor's
    stand-in the win32 build made from samples/src, the real uninstaller and setup.exe."""
    files = [os.path.join(SAMPLES, name) for name in sorted(os.listdir(SAMPLES))
             if os.path.isfile(os.path.join(SAMPLES, name)) and not name.startswith(".")
             and not name.endswith(".sh")]
    built = os.path.join(build, "samples")
    files += [os.path.join(built, name) for name in sorted(os.listdir(built))
              if name.endswith(".exe") and name != "Unquil.exe"]
    return files + [os.path.join(build, "Unquil.exe"), os.path.join(build, "setup.exe")]


def add_payload(dist_host):
    """The payload files, and their [Files] lines first in that section of the distribution's script."""
    data = run.pseudo_random_bytes(PAYLOAD_BYTES)
    entries = []
    for n in range(1, PAYLOAD_FILES + 1):
        with open(os.path.join(dist_host, f"payload{n}.bin"), "wb") as f:
            f.write(data)
        entries.append(f"Demo payload {n}=demo\\payload{n}.bin;payload{n}.bin".encode("cp1252"))
    script = os.path.join(dist_host, "setup.inf")
    with open(script, "rb") as f:
        lines = f.read().split(b"\n")
    at = next(i for i, line in enumerate(lines) if line.strip() == b"[Files]") + 1
    ending = b"\r" if lines[at - 1].endswith(b"\r") else b""
    lines[at:at] = [entry + ending for entry in entries]
    with open(script, "wb") as f:
        f.write(b"\n".join(lines))


def write_page(demo, parts_of_run):
    """The screenshots as PNG (the BMP files removed) and one page showing them in transcript order,
    each under its window's transcript line, run after run: `parts_of_run` holds (heading, folder
    below `demo`, records) for each. Returns the page's path."""
    convert = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"
    parts = []
    for heading, folder, records in parts_of_run:
        parts.append(f"<h2>{html.escape(heading)}</h2>")
        for record in records:
            parts.append(f"<p><code>{html.escape(run.describe(record))}</code></p>")
            for shot in record.get("screenshots", []):
                bmp = os.path.join(demo, folder, shot)
                png = os.path.join(folder, os.path.splitext(shot)[0] + ".png")
                if subprocess.run([convert, bmp, os.path.join(demo, png)]).returncode == 0:
                    os.remove(bmp)
                    parts.append(f'<p><img src="{html.escape(png)}" alt="{html.escape(shot)}"></p>')
    page = os.path.join(demo, PAGE)
    with open(page, "w", encoding="utf-8") as f:
        f.write("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Quillet setup: the demo</title>\n"
                "<style>body { font-family: sans-serif; background: #eee; } code { white-space: pre-wrap; }"
                " img { border: 1px solid #888; }</style></head><body>\n<h1>Quillet setup: the demo</h1>\n"
                + "\n".join(parts) + "\n</body></html>\n")
    return page


def run_robot(build, env, folder, program, options=()):
    """robot.exe starts `program` and answers its windows by the demo's rules, its transcript and
    pictures going into `folder`; prints the transcript. Returns (the robot's exit status, the records)."""
    transcript = os.path.join(folder, "transcript.jsonl")
    with open(os.path.join(folder, "wine.log"), "w") as log:
        result = subprocess.run(
            ["wine", run.z_path(os.path.join(build, "robot.exe")), "--timeout", str(DEMO_TIMEOUT), *options,
             run.z_path(DEMO_RULES), program, run.z_path(transcript)],
            env=env, stdout=log, stderr=subprocess.STDOUT, timeout=DEMO_TIMEOUT + run.RUNNER_GRACE)
    print(f"demo: transcript of {program}")
    records = run.read_transcript(transcript)
    for record in records:
        print("  " + run.describe(record))
    return result.returncode, records


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
                if name.endswith((".bmp", ".png")) or name in ("transcript.jsonl", "wine.log", PAGE):
                    os.remove(os.path.join(demo, name))
            shutil.rmtree(os.path.join(demo, REMOVAL), ignore_errors=True)
            run.remove_tree(home)
            os.makedirs(home)
            run.copy_prefix(template, prefix)

        # The distribution is packed outside the prefix: the installer finds nothing but its one file.
        downloads = run.profile_folder(prefix) + "\\Downloads"
        downloads_host = run.host_path(prefix, downloads)
        os.makedirs(downloads_host, exist_ok=True)
        installer = downloads + "\\" + DOWNLOADED
        with tempfile.TemporaryDirectory(prefix="distribution-", dir=demo) as dist_host:
            for path in sample_files(build):
                shutil.copy2(path, dist_host)
            add_payload(dist_host)
            run.pack_distribution(dist_host, run.host_path(prefix, installer))
        print(f"demo: the distribution packed into one file, {installer}"
              f" ({os.path.getsize(run.host_path(prefix, installer)) >> 20} MB)")

        if display is not None:
            # A person answers on their own desktop, whose window manager frames Wine's windows.
            user_reg = os.path.join(prefix, "user.reg")
            with open(user_reg, encoding="latin-1") as f:
                text = f.read()
            with open(user_reg, "w", encoding="latin-1") as f:
                f.write(text.replace('"Managed"="N"', '"Managed"="Y"'))
            env = wine.env(prefix, home, args.language)
            print(f"demo: running {installer} on display {display}; answer its windows there")
            result = subprocess.run(["wine", installer], env=env, cwd=downloads_host)
            print(f"demo: setup.exe ended with exit code {result.returncode}")
            print(f"demo: removing it from Add/Remove Programs ({UNINSTALLER} --remove {APPLICATION});"
                  " answer its windows there")
            subprocess.run(["wine", UNINSTALLER, "--remove", APPLICATION], env=env)
            wine.stop_server(env)
            status = 0
        else:
            env = wine.env(prefix, home, args.language or "en")
            print(f"demo: no usable display; the robot answers on virtual display {virtual.name}")
            installed, records = run_robot(build, env, demo, installer)
            print(f"demo: removing it from Add/Remove Programs ({UNINSTALLER} --remove {APPLICATION})")
            removal = os.path.join(demo, REMOVAL)
            os.makedirs(removal)
            removed, removal_records = run_robot(build, env, removal, UNINSTALLER,
                                                 ["--follow", "--args", "--remove " + APPLICATION])
            wine.stop_server(env)
            page = write_page(demo, [("The installation", "", records),
                                     ("The removal, from Add/Remove Programs", REMOVAL, removal_records)])
            shots = sum(len(r.get("screenshots", [])) for r in records + removal_records)
            print(f"demo: transcripts and {shots} screenshot(s) in {os.path.relpath(demo, ROOT)};"
                  f" every window at a glance: {os.path.relpath(page, ROOT)}")
            # Wine's uninstaller does not pass the uninstaller's exit code on; the robot saw it end.
            unquil = [r.get("exit") for r in removal_records
                      if r.get("kind") == "process" and r.get("image", "").lower().endswith("\\unquil.exe")]
            status = installed or removed or (0 if unquil == [0] else 1)
            if installed or removed:
                print("demo: the robot met a window it had no answer for, or a program did not end;"
                      f" see {os.path.relpath(os.path.join(demo, 'wine.log'), ROOT)} and"
                      f" {os.path.relpath(os.path.join(removal, 'wine.log'), ROOT)}")
            elif unquil != [0]:
                print(f"demo: Unquil.exe was expected to end once with exit code 0; it ended with {unquil}")
        print(f"demo: the prefix stays in {os.path.relpath(prefix, ROOT)}"
              f" (WINEPREFIX={prefix} wine explorer)")
        return status
    finally:
        if virtual is not None:
            virtual.close()


if __name__ == "__main__":
    sys.exit(main())
