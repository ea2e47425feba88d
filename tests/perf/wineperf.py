"""The Wine side of the benchmarks and the soak run: one prefix of our own, its distribution, and the
installer, the bare chain, CopyFileA and the probe run in it.

Builds on tests/e2e/run.py (template prefix, prefix copies, virtual display, Wine's environment) but
works in a folder of its own (build/bench-wine by default), so that it never touches an end-to-end run.
"""

import fcntl
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
import run  # noqa: E402  (template prefix, prefix copies, display, Wine's environment, transcripts)

ROOT = run.ROOT
DIST = "C:\\dist"
# Where the installer's directory dialog proposes to install (the prefix's program-files folder), and
# so where the bare chain and CopyFileA write too: the same folder of the same file system.
TARGET = "C:\\Program Files\\Quillet"
# Every distribution file gets this modification time, with a fraction in 100 ns steps, so that a
# copy that loses the time or its fraction shows.
SOURCE_MTIME_NS = run.DEFAULT_MTIME_NS
GENERATE_BLOCK = 1 << 20
# The robot's rules for a whole installation: Install in the directory dialog, the copy dialog left
# alone, No to the registration question, OK to the report.
INSTALL_RULES = """\
on dialog control=261 : leave
on dialog control=259 control=260 : press 259
on box button=No : press No
on box button=OK : press OK
"""
COMMAND_GRACE = 120


def pseudo_random_file(path, size, seed):
    """Writes `size` reproducible bytes (SHAKE-256 blocks of `seed`) to `path`; returns their SHA-1."""
    digest = hashlib.sha1()
    with open(path, "wb") as f:
        block = 0
        while size > 0:
            data = hashlib.shake_256(b"%s %d" % (seed, block)).digest(min(GENERATE_BLOCK, size))
            f.write(data)
            digest.update(data)
            size -= len(data)
            block += 1
    return digest.hexdigest()


def sha1_of(path):
    digest = hashlib.sha1()
    with open(path, "rb") as f:
        for data in iter(lambda: f.read(GENERATE_BLOCK), b""):
            digest.update(data)
    return digest.hexdigest()


def install_script(entries):
    """The install script of a distribution: [Install], then one [Files] line per (label, value)."""
    lines = ["[Install]", "Application=Quillet", "Caption=Quillet installation", "Directory=C:\\Quillet", "",
             "[Files]"]
    lines += [f"{label}={value}" for label, value in entries]
    return ("\r\n".join(lines) + "\r\n").encode("cp1252")


class Session:
    """One virtual display, one prefix copied from the template and its wineserver, kept running."""

    def __init__(self, work, build, perf_build, language="en", name="prefix"):
        self.work = os.path.abspath(work)
        self.build = os.path.abspath(build)
        self.perf_build = os.path.abspath(perf_build)
        os.makedirs(self.work, exist_ok=True)
        # The work folder's template, lists and outputs are shared: one session at a time.
        self.lock = open(os.path.join(self.work, ".lock"), "w")
        fcntl.flock(self.lock, fcntl.LOCK_EX)
        self.display = run.VirtualDisplay()
        try:
            self.wine = run.Wine(self.work, self.display.name)
            with open(os.path.join(self.work, "template.log"), "w") as log:
                template = run.make_template(self.wine, log)
            self.prefix = os.path.join(self.work, name)
            self.home = os.path.join(self.work, "home-" + name)
            run.remove_tree(self.home)
            os.makedirs(self.home)
            run.copy_prefix(template, self.prefix)
            self.env = self.wine.env(self.prefix, self.home, language)
            # A persistent server: its start and its registry saving stay out of every timed run.
            subprocess.run(["wineserver", "-p"], env=self.env, check=True, timeout=run.WINE_COMMAND_TIMEOUT)
        except BaseException:
            self.display.close()
            self.lock.close()
            raise
        self.runs = 0

    def close(self, discard=True):
        """Stops the wineserver and the display; `discard` also removes the prefix and its home."""
        try:
            self.wine.stop_server(self.env)
        finally:
            self.display.close()
        if discard:
            run.remove_tree(self.prefix)
            run.remove_tree(self.home)
        self.lock.close()

    def server_pid(self):
        """The Linux pid of this prefix's wineserver, or None."""
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open(f"/proc/{pid}/comm") as f:
                    if not f.read().startswith("wineserver"):
                        continue
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if b"WINEPREFIX=" + self.prefix.encode() in f.read().split(b"\0"):
                        return int(pid)
            except OSError:
                continue
        return None

    def helper_cpu_ms(self):
        """Processor time used so far by the wineserver and the X server of this session, in ms."""
        return {"wineserver": process_cpu_ms(self.server_pid()), "Xvfb": process_cpu_ms(self.display.process.pid)}

    def host(self, windows_path):
        return run.host_path(self.prefix, windows_path)

    def clear_target(self):
        """Removes what the last run installed and flushes the page cache's dirty pages, so that no
        run pays for the writes of the one before."""
        shutil.rmtree(self.host(TARGET), ignore_errors=True)
        subprocess.run(["sync"], check=True)

    def lay_out(self, files, script_entries, others=None):
        """Writes setup.exe, setup.inf and `files` ({name: (size, seed[, mtime in ns])}) into the
        distribution folder, which is emptied first; `others` ({name: host path}) adds more installers,
        each with the script under its own name. Returns {name: sha1}."""
        dist = self.host(DIST)
        shutil.rmtree(dist, ignore_errors=True)
        os.makedirs(dist)
        installers = {"setup.exe": os.path.join(self.build, "setup.exe"), **(others or {})}
        for name, path in installers.items():
            shutil.copy(path, os.path.join(dist, name))
            with open(os.path.join(dist, os.path.splitext(name)[0] + ".inf"), "wb") as f:
                f.write(install_script(script_entries))
        sums = {}
        for name, (size, seed, *mtime) in files.items():
            path = os.path.join(dist, *name.split("\\"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            sums[name] = pseudo_random_file(path, size, seed)
            mtime_ns = mtime[0] if mtime else SOURCE_MTIME_NS
            os.utime(path, ns=(mtime_ns, mtime_ns))
        subprocess.run(["sync"], check=True)
        return sums

    def remove_dist(self):
        shutil.rmtree(self.host(DIST), ignore_errors=True)

    def write_list(self, name, pairs):
        """A file list for chain.exe and copyfile.exe; returns its Windows path."""
        path = os.path.join(self.work, name)
        with open(path, "w", encoding="cp1252", newline="\r\n") as f:
            for source, destination in pairs:
                f.write(f"{source}|{destination}\n")
        return run.z_path(path)

    def run_installer(self, timeout, rules=INSTALL_RULES, poll_ms=None, probe=None, arguments=None,
                      installer=DIST + "\\setup.exe"):
        """Runs the installer (the distribution's setup.exe unless another is given) under the robot;
        returns the transcript's records (and the probe's result line when `probe` gives probe.exe's
        arguments: it is started first and waits for the dialog)."""
        self.runs += 1
        folder = os.path.join(self.work, "runs", str(self.runs))
        run.remove_tree(folder)
        os.makedirs(folder)
        rules_path = os.path.join(folder, "rules.txt")
        with open(rules_path, "w") as f:
            f.write(rules)
        transcript = os.path.join(folder, "transcript.jsonl")
        command = ["wine", run.z_path(os.path.join(self.build, "robot.exe")), "--timeout", str(timeout)]
        if poll_ms is not None:
            command += ["--poll", str(poll_ms)]
        if arguments:
            command += ["--args", arguments]
        command += [run.z_path(rules_path), installer, run.z_path(transcript)]
        prober = None
        probe_output = os.path.join(folder, "probe.out")
        with open(os.path.join(folder, "wine.log"), "w") as log, open(probe_output, "w") as out:
            if probe is not None:
                prober = subprocess.Popen(["wine", run.z_path(os.path.join(self.perf_build, "probe.exe"))] + probe,
                                          env=self.env, stdout=out, stderr=log)
            subprocess.run(command, env=self.env, stdout=log, stderr=subprocess.STDOUT,
                           timeout=timeout + COMMAND_GRACE)
            if prober is not None:
                try:
                    prober.wait(timeout=COMMAND_GRACE)
                except subprocess.TimeoutExpired:
                    prober.kill()
                    prober.wait()
        records = run.read_transcript(transcript)
        probed = None
        if prober is not None:
            with open(probe_output) as f:
                probed = last_json(f.read())
        # A run that went wrong keeps its transcript and Wine's log.
        if installed_cleanly(records):
            shutil.rmtree(folder, ignore_errors=True)
        return records, probed

    def run_program(self, name, arguments, timeout):
        """Runs one of our measuring programs; returns its result line as a dict."""
        command = ["wine", run.z_path(os.path.join(self.perf_build, name))] + arguments
        # Into a file, not a pipe: the services Wine starts with the first program inherit the
        # program's output and outlive it, so a pipe would never reach its end.
        output = os.path.join(self.work, "program.out")
        with open(output, "w+") as out:
            status = subprocess.run(command, env=self.env, stdout=out, stderr=subprocess.STDOUT,
                                    timeout=timeout).returncode
            out.seek(0)
            text = out.read()
        line = last_json(text)
        if status != 0 or line is None:
            raise RuntimeError(f"{name} failed with status {status}: {text}")
        return line


def process_cpu_ms(pid):
    """Processor time of all threads of a process so far (from the scheduler's nanosecond counts)."""
    if pid is None:
        return 0.0
    total = 0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
    except OSError:
        pass
    return total / 1e6


def check_installed(session, sums, deep=True):
    """Problems with the installed copies of the distribution files `sums` ({name: sha1}): each must
    have its source's size and, when `deep`, its bytes (SHA-1) and its last-write time to 100 ns."""
    problems = []
    for name, digest in sums.items():
        path = session.host(TARGET + "\\" + name)
        source = os.stat(session.host(DIST + "\\" + name))
        try:
            copy = os.stat(path)
        except OSError:
            problems.append(f"{name}: not installed")
            continue
        if copy.st_size != source.st_size:
            problems.append(f"{name}: {copy.st_size} bytes instead of {source.st_size}")
        elif deep and sha1_of(path) != digest:
            problems.append(f"{name}: other bytes than its source")
        if deep and copy.st_mtime_ns != source.st_mtime_ns:
            problems.append(f"{name}: last-write time {copy.st_mtime_ns} ns instead of {source.st_mtime_ns} ns")
    return problems


def last_json(text):
    """The last line of `text` that is a JSON object, as a dict, or None."""
    for line in reversed((text or "").splitlines()):
        line = line.strip()
        if line.startswith("{"):
            try:
                return json.loads(line)
            except ValueError:
                return None
    return None


def windows(records):
    return [r for r in records if r.get("kind") in run.WINDOW_KINDS]


def installed_cleanly(records):
    end = next((r for r in records if r.get("kind") == "end"), {})
    return end.get("status") == "exited" and end.get("failures") == 0 and end.get("exit") == 0


LOG_TIME = re.compile(r"^(\d\d):(\d\d):(\d\d)\.(\d\d\d) (.*)$")


def log_copy_ms(log_path):
    """A run's copy phase from its log: from the line that names the target directory to the last
    file copied, in ms; None when the log does not hold both."""
    stamps = []
    with open(log_path, encoding="cp1252") as f:
        for line in f:
            match = LOG_TIME.match(line.rstrip("\r\n"))
            if match:
                h, m, s, ms, text = match.groups()
                stamps.append((((int(h) * 60 + int(m)) * 60 + int(s)) * 1000 + int(ms), text))
    start = next((t for t, text in stamps if text.startswith("Target directory: ")), None)
    end = [t for t, text in stamps if text.startswith("File copied: ")]
    if start is None or not end:
        return None
    # Across midnight the clock starts again.
    return (end[-1] - start) % (24 * 3600 * 1000)


def log_span_ms(log_path):
    """A run's own time from its log: from the first line to the last, in ms; None without lines."""
    stamps = []
    with open(log_path, encoding="cp1252") as f:
        for line in f:
            match = LOG_TIME.match(line.rstrip("\r\n"))
            if match:
                h, m, s, ms, _ = match.groups()
                stamps.append(((int(h) * 60 + int(m)) * 60 + int(s)) * 1000 + int(ms))
    return (stamps[-1] - stamps[0]) % (24 * 3600 * 1000) if stamps else None


def installer_timing(records):
    """The installer's own time from the Install press to the final report, in ms: the time from the
    press to the registration question plus the time from the robot's answer to the report, so that
    the robot's own answering time is left out. Also the raw press-to-report time. None when the run
    did not go through the expected windows."""
    seen = windows(records)
    directory = next((r for r in seen if r["kind"] == "dialog" and any(c["id"] == 259 for c in r["controls"])
                      and not any(c["id"] == 261 for c in r["controls"])), None)
    question = next((r for r in seen if r["kind"] == "box" and "No" in r.get("buttons", [])), None)
    report = next((r for r in seen if r["kind"] == "box" and r.get("buttons") == ["OK"]), None)
    if not (directory and question and report and directory.get("action_ms") and question.get("action_ms")):
        return None
    pressed = directory["action_ms"][0]
    net = (question["seen_ms"] - pressed) + (report["seen_ms"] - question["action_ms"][0])
    return {"ms": net, "raw_ms": report["seen_ms"] - pressed, "copy_ms": question["seen_ms"] - pressed,
            "report": report, "question": question}


REPORT_DONE = None


def report_done_text():
    """The English text of message 5 (installation normally terminated) up to its first "%s"."""
    global REPORT_DONE
    if REPORT_DONE is None:
        with open(os.path.join(ROOT, "resources", "english.rc"), encoding="cp1252") as f:
            match = re.search(r'IDS_REPORT_DONE_S\s+"((?:[^"]|"")*)"', f.read())
        REPORT_DONE = match.group(1).replace('""', '"').split("%s")[0]
    return REPORT_DONE
