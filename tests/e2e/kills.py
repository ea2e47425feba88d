"""The kill test, a special run of run.py ("kills"): setup.exe ended by force (the process, as a shutdown
or a deployment tool's time-out ends it) at chosen chunks of a reinstall over an earlier installation,
one installation after the other in one prefix. After each, every destination must be the earlier file
or the whole new one, each with its own time, and at most one temporary file of the run's own may be
left (one that a late kill left in a folder this run never reached is not); a last, complete run must
leave exactly the new files and no temporary file at all.
"""

import functools
import os
import shutil
import subprocess

import run as e2e

NAME = "kills"
TEMPORARY_SUFFIX = ".~qs"
TARGET = "C:\\Program Files\\Quillet"
# Large enough that the copy of each file lasts many of the robot's looks at the copy dialog, which
# its steps of about 10 ms update as they go, and that flushing it before it replaces the earlier one
# lasts a while too.
FILE_SIZE = 64 << 20
OLD_MTIME_NS = 915_152_400_000_000_000  # 1999-01-01 01:00 UTC
NEW_MTIME_NS = e2e.DEFAULT_MTIME_NS
ROBOT_TIMEOUT = 60


class Entry:
    """One [Files] entry: its label and value, what the copy dialog shows for it, its source and
    destination, and the bytes of its earlier and new versions (an earlier one longer or shorter)."""

    def __init__(self, label, value, source, destination, old_size):
        self.label, self.value, self.source, self.destination = label, value, source, destination
        self.shown = value.lstrip("%") + " : " + label
        self.old_size = old_size

    # Made when first asked for: run.py imports this module for every selection.
    @functools.cached_property
    def old(self):
        return e2e.pseudo_random_bytes(self.old_size, "old " + self.label)

    @functools.cached_property
    def new(self):
        return e2e.pseudo_random_bytes(FILE_SIZE, "new " + self.label)


# The first file below the target directory, a middle one in a sub-folder, the last in the Windows
# directory.
ENTRIES = [
    Entry("Editor", "Quillet.exe", "Quillet.exe", TARGET + "\\Quillet.exe", FILE_SIZE + 5000),
    Entry("Help", "help\\Quillet.hlp;Quillet.hlp", "Quillet.hlp", TARGET + "\\help\\Quillet.hlp", FILE_SIZE // 3),
    Entry("Uninstaller", "%Unquil.exe", "Unquil.exe", "C:\\windows\\Unquil.exe", FILE_SIZE - 1),
]
# The entries and file percentages at which the copy is ended, in copy order. The last file's stay
# well clear of its end, so that the copy dialog is still up when the robot acts, even on a busy machine.
POINTS = [(0, percent) for percent in (0, 30, 60, 90, 99)] + [(1, percent) for percent in (0, 30, 60, 90, 99)] + \
         [(2, percent) for percent in (0, 25, 50, 75)]

SCRIPT = ("[Install]\r\nApplication=Quillet\r\nCaption=Quillet installation\r\n\r\n[Files]\r\n" +
          "".join(f"{e.label}={e.value}\r\n" for e in ENTRIES))
INSTALL_RULE = "on dialog control=259 control=260 : click 259\n"
# The complete run: no [Registration] section, so the question and the report are all that follow.
COMPLETE_RULES = INSTALL_RULE + "on dialog control=261 : leave\non box icon=question : click 7\n" \
                                "on box icon=information : click 1\n"


def destination_state(data, mtime_ns, entry):
    """"old" or "new" when a destination is one of the two versions whole, with that version's time
    (to the 100 ns Windows keeps); "torn" for anything else, an absent file included."""
    units = None if mtime_ns is None else mtime_ns // 100
    if data == entry.old and units == OLD_MTIME_NS // 100:
        return "old"
    if data == entry.new and units == NEW_MTIME_NS // 100:
        return "new"
    return "torn"


def write_file(path, data, mtime_ns):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, ns=(mtime_ns, mtime_ns))


def temporary_files(prefix):
    """The temporary files in the folders the installation writes to, by host path."""
    found = []
    for folder in sorted({os.path.dirname(e2e.host_path(prefix, e.destination)) for e in ENTRIES}):
        for name in os.listdir(folder) if os.path.isdir(folder) else []:
            if name.lower().endswith(TEMPORARY_SUFFIX):
                found.append(os.path.join(folder, name))
    return found


def stamps(paths):
    """{path: (size, time)} of each file."""
    return {path: (os.stat(path).st_size, os.stat(path).st_mtime_ns) for path in paths}


def run_robot(wine_env, build, rules, transcript, log):
    """One run of the installer by robot.exe with these rules; how it ended, as its transcript says."""
    command = ["wine", e2e.z_path(os.path.join(build, "robot.exe")), "--timeout", str(ROBOT_TIMEOUT),
               e2e.z_path(rules), e2e.DEFAULT_DIST + "\\setup.exe", e2e.z_path(transcript)]
    try:
        subprocess.run(command, env=wine_env, stdout=log, stderr=subprocess.STDOUT,
                       timeout=ROBOT_TIMEOUT + e2e.RUNNER_GRACE)
    except subprocess.TimeoutExpired:
        return "hung"
    end = next((r for r in e2e.read_transcript(transcript) if r.get("kind") == "end"), {})
    return end.get("status")


def check_installation(prefix, label, problems, earlier=None):
    """The state of each destination and the temporary files this run left; a torn destination, or
    more than one such file, is a problem. A temporary file that an earlier kill left in a folder this
    run never reached, as `earlier` ({path: (size, time)}) saw it, is not this run's: a kill that came
    late, into the next file, leaves that file's in another folder."""
    states = []
    for entry in ENTRIES:
        path = e2e.host_path(prefix, entry.destination)
        try:
            with open(path, "rb") as f:
                data = f.read()
            mtime_ns = os.stat(path).st_mtime_ns
        except OSError:
            data, mtime_ns = None, None
        states.append(destination_state(data, mtime_ns, entry))
        if states[-1] == "torn":
            size = "absent" if data is None else f"{len(data)} bytes"
            problems.append(f"{label}: {entry.destination} is torn ({size})")
    temporaries = [path for path, stamp in stamps(temporary_files(prefix)).items()
                   if (earlier or {}).get(path) != stamp]
    if len(temporaries) > 1:
        problems.append(f"{label}: {len(temporaries)} temporary files left: {temporaries}")
    return states, temporaries


def run_kill_test(wine, template, build, keep):
    run_dir = os.path.join(wine.work, "runs", NAME)
    e2e.remove_tree(run_dir)
    prefix = os.path.join(run_dir, "prefix")
    home = os.path.join(run_dir, "home")
    os.makedirs(home)
    e2e.copy_prefix(template, prefix)
    env = wine.env(prefix, home, "en")
    dist = e2e.host_path(prefix, e2e.DEFAULT_DIST)
    os.makedirs(dist)
    shutil.copy(os.path.join(build, "setup.exe"), dist)
    write_file(os.path.join(dist, "setup.inf"), SCRIPT.encode("cp1252"), NEW_MTIME_NS)
    for entry in ENTRIES:
        write_file(os.path.join(dist, entry.source), entry.new, NEW_MTIME_NS)

    problems, kills, checked, torn, record = [], 0, 0, 0, []
    with open(os.path.join(run_dir, "wine.log"), "w") as log:
        try:
            for number, (index, percent) in enumerate(POINTS, 1):
                entry = ENTRIES[index]
                label = f"kill {number} ({entry.source} at {percent} %)"
                # Each run reinstalls over the earlier installation; what earlier kills left beside it stays.
                for each in ENTRIES:
                    write_file(e2e.host_path(prefix, each.destination), each.old, OLD_MTIME_NS)
                rules = os.path.join(run_dir, f"kill-{number}.rules")
                with open(rules, "w") as f:
                    f.write(f'on dialog control=261 : wait "control.256={entry.shown}" "control.260>={percent}" ; kill\n'
                            + INSTALL_RULE)
                earlier = stamps(temporary_files(prefix))
                status = run_robot(env, build, rules, os.path.join(run_dir, f"kill-{number}.jsonl"), log)
                if status != "killed":
                    problems.append(f"{label}: the installer was not ended by the robot (run {status})")
                    continue
                kills += 1
                before = len(problems)
                states, temporaries = check_installation(prefix, label, problems, earlier)
                checked += len(states)
                torn += states.count("torn")
                # A kill must not come before its point: the entry's own temporary file, when it is the
                # one left, holds at least that share of the file.
                own = e2e.host_path(prefix, entry.destination) + TEMPORARY_SUFFIX
                written = os.path.getsize(own) if own in temporaries else None
                if written is not None and states[index] == "old" and written < FILE_SIZE * percent // 100:
                    problems.append(f"{label}: ended with only {written} bytes written")
                record.append(f"{label}: {' '.join(states)}; " + (
                    f"its temporary file {written} bytes" if written is not None else
                    f"{len(temporaries)} temporary file(s)") + ("" if len(problems) == before else " (FAILED)"))
            rules = os.path.join(run_dir, "complete.rules")
            with open(rules, "w") as f:
                f.write(COMPLETE_RULES)
            status = run_robot(env, build, rules, os.path.join(run_dir, "complete.jsonl"), log)
            states, temporaries = check_installation(prefix, "the complete run", problems)
            if status != "exited" or states != ["new"] * len(ENTRIES) or temporaries:
                problems.append(f"the complete run after the kills ({status}) left {states} and {temporaries}")
        finally:
            wine.stop_server(env)
    with open(os.path.join(run_dir, "kills.txt"), "w") as f:
        f.write("".join(line + "\n" for line in record))
    print(f"kills: {kills}, destinations checked: {checked}, torn: {torn}", flush=True)
    if kills < len(POINTS):
        problems.append(f"only {kills} of {len(POINTS)} kills happened")
    if not problems and not keep:
        e2e.remove_tree(prefix)
        e2e.remove_tree(home)
    return problems, [], run_dir

