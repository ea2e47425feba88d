#!/usr/bin/python3
"""End-to-end scenarios: the real setup.exe under Wine on a virtual display, answered by robot.exe.

Each scenario in tests/e2e/scenarios/*.scn names a distribution to lay out, a language, the robot's
rules and the expectations checked afterwards against the transcript and the Wine prefix. A template
prefix is made once per build folder (build/e2e/template) and copied for every scenario.

    tests/e2e/run.py [--build DIR] [--arch win32|win64] [--keep] [--list] [NAME ...]

NAME selects scenarios whose file name contains it. Exit status 0 when every scenario passed.
--arch win64 runs the 64-bit leg instead: the scenarios of tests/e2e/scenarios-win64 in a 64-bit
(WoW64) template prefix of its own (build/e2e-win64/template), as on a 64-bit Windows.
"""

import argparse
import datetime
import errno
import fcntl
import hashlib
import json
import ntpath
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCENARIO_DIR = os.path.join(ROOT, "tests", "e2e", "scenarios")
# Each leg of the suite: the Wine prefix architecture it runs in, its scenarios and its work folder
# (beside the build folder; template, run folders and lock of its own, so the two never mix).
LEGS = {
    "win32": (SCENARIO_DIR, "e2e"),
    "win64": (os.path.join(ROOT, "tests", "e2e", "scenarios-win64"), "e2e-win64"),
}
# The 64-bit loader (Debian's wine64). The `wine` command takes the 32-bit one whenever wine32 is
# there, which in a 64-bit prefix starts the 32-bit builds of Wine's own programs (reg, cmd,
# uninstaller, start) from syswow64: the 64-bit leg starts them with this one instead.
WINE64_LOADER = "/usr/lib/wine/wine64"
# Stands in @built and @after for the build of the 64-bit shell clients (build/win64, beside the
# win32 build folder).
BUILD64 = "{build64}"

# Bump when the way the template is made changes, so that cached templates are rebuilt.
TEMPLATE_RECIPE = 4
TEMPLATE_STAMP = ".e2e-template"
# Folders of the prefix that no scenario writes to and that make up nearly all of its size:
# hard-linked into each copy instead of copied.
LINKED_FOLDERS = ("drive_c/windows/system32", "drive_c/windows/winsxs", "drive_c/windows/syswow64")
# Debian's Wine keeps the name of its server's socket folder (under /tmp) in this file of the prefix;
# a copy must start its own server, so the file is not copied.
SERVER_NAME_FILE = "wineserver"

LANGUAGES = {"en": "en_US.UTF-8", "fr": "fr_FR.UTF-8", "it": "it_IT.UTF-8"}
DEFAULT_DIST = "C:\\dist"
DEFAULT_INSTALLER = "setup.exe"
DEFAULT_TIMEOUT = 120
# Distribution files get this modification time unless the scenario says otherwise: far from "now",
# with a fraction of a second in 100 ns steps, so that a copy that does not keep times shows.
DEFAULT_MTIME_NS = 981173106_123456700  # 2001-02-03 04:05:06.1234567 UTC
# Time allowed beyond the robot's own timeout before the runner kills Wine itself.
RUNNER_GRACE = 60
WINE_COMMAND_TIMEOUT = 180
# The packer of a one-file setup.exe, built on the host by scripts/pack.sh (scripts/e2e.sh makes it
# before the legs run, in an emulated machine too).
PACKER = os.path.join(ROOT, "build", "check", "pack")
PAYLOAD_SIGNATURE = b"QPAYLOAD"
PAYLOAD_DEFLATED = 8


class ScenarioError(Exception):
    pass


# ---- Scenario files ---------------------------------------------------------------------------------

class Scenario:
    """A parsed .scn file: blocks introduced by lines starting with '@'."""

    def __init__(self, path):
        self.path = path
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.language = "en"
        self.dist = DEFAULT_DIST
        self.installer = DEFAULT_INSTALLER
        self.program = "setup.exe"  # the build's program laid out under the installer's name
        self.timeout = DEFAULT_TIMEOUT
        self.mtime_ns = DEFAULT_MTIME_NS
        self.installed_mtime_ns = None  # of files laid out outside the distribution: an earlier installation's
        self.runs = 1  # the installer run this often in the prefix, the checks after the last run
        self.files = []  # (windows path, kind, data): kind is text, bytes, bitmap or copy
        self.registry = []  # lines of a .reg file imported into the prefix before the run
        self.immutable = []  # C: paths made immutable (chattr +i) for the run
        self.small_disks = []  # (C: path, size): a tmpfs of that size mounted there for the run
        self.expect = []  # (line number, words)
        self.env = {}  # Wine's environment for the run beyond the runner's own
        self.dll_overrides = []  # added to WINEDLLOVERRIDES
        self.before = []  # (line number, words): Wine commands run before the installer, before the snapshot
        self.after = []  # (line number, words): Wine commands run once the installer has ended
        self.arguments = ""  # the installer's command line after its path
        self.caller = None  # (program, arguments) started instead of the installer, which it runs
        self.pack = None  # the C: path of the one file the distribution is packed into, which the robot starts
        self.cut = 0  # bytes the packed file loses at its end
        self.flip = []  # entries of the packed file with a byte changed inside their packed data
        self.has_robot = False
        self.rules = {}  # line number: text of each robot rule
        self._parse()

    def _parse(self):
        with open(self.path, encoding="utf-8") as f:
            lines = f.read().split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        block, head, body = None, None, []
        for number, line in enumerate(lines, 1):
            # "@name" opens a block; "@=" (a .reg file's default value) belongs to the block's body.
            if re.match(r"@[A-Za-z]", line):
                if block:
                    self._block(block, head, body)
                try:
                    head = (number, split_words(line[1:]))
                except ValueError as error:
                    self._fail(number, str(error))
                block, body = head[1][0] if head[1] else "", []
                continue
            body.append((number, line))
        if block:
            self._block(block, head, body)
        if not self.has_robot:
            raise ScenarioError(f"{self.path}: no @robot block")
        if (self.cut or self.flip) and not self.pack:
            raise ScenarioError(f"{self.path}: cut and flip change a packed file: pack is missing")

    def _fail(self, number, message):
        raise ScenarioError(f"{self.path}:{number}: {message}")

    def _block(self, block, head, body):
        number, words = head
        if block == "setup":
            for n, line in _meaningful(body):
                key, _, value = line.strip().partition(" ")
                value = value.strip()
                if key == "language":
                    if value not in LANGUAGES:
                        self._fail(n, f"language is one of {', '.join(LANGUAGES)}")
                    self.language = value
                elif key == "dist":
                    self.dist = value.rstrip("\\")
                elif key == "installer":
                    self.installer = value
                elif key == "program":
                    self.program = value
                elif key == "timeout":
                    self.timeout = int(value)
                elif key == "immutable":
                    # A folder ({programs} and the like allowed) that nothing may change during the run.
                    self.immutable.append(value if value.startswith("{") else self._place(value))
                elif key == "tmpfs":
                    # tmpfs PATH SIZE: a disk that fills up after SIZE bytes (k and m allowed).
                    path, _, size = value.rpartition(" ")
                    if not path or not re.fullmatch(r"\d+[km]?", size):
                        self._fail(n, "tmpfs needs a folder and a size")
                    self.small_disks.append((self._place(path.strip()), size))
                elif key == "env":
                    name, equals, text = value.partition("=")
                    if not equals or not name:
                        self._fail(n, "env needs NAME=VALUE")
                    self.env[name] = text
                elif key == "dlloverride":
                    self.dll_overrides.append(value)
                elif key == "arguments":
                    self.arguments = value
                elif key == "caller":
                    # caller PROGRAM ARGUMENTS: a program (cmd.exe with a batch file) that starts the
                    # installer; the robot answers the windows of all it starts.
                    program, _, rest = value.partition(" ")
                    self.caller = (program, rest.strip())
                elif key in ("mtime", "installed-mtime"):
                    moment = datetime.datetime.fromisoformat(value).replace(tzinfo=datetime.timezone.utc)
                    moment_ns = int(moment.timestamp()) * 10**9 + moment.microsecond * 1000
                    if key == "mtime":
                        self.mtime_ns = moment_ns
                    else:
                        self.installed_mtime_ns = moment_ns
                elif key == "pack":
                    # pack PATH: the distribution packed into one file there (outside the distribution
                    # folder, which goes once packed); the robot starts that file.
                    self.pack = self._place(value)
                    if self.pack.lower().startswith(self.dist.lower() + "\\"):
                        self._fail(n, "pack needs a path outside the distribution folder")
                elif key == "cut":
                    if not value.isdigit() or int(value) < 1:
                        self._fail(n, "cut needs a count of bytes from 1")
                    self.cut = int(value)
                elif key == "flip":
                    self.flip.append(value)
                elif key == "runs":
                    if not value.isdigit() or int(value) < 1:
                        self._fail(n, "runs needs a count from 1")
                    self.runs = int(value)
                else:
                    self._fail(n, f"unknown setting {key}")
        elif block == "file":
            # @file NAME [noeol]: the lines below, each ended by CR LF (the last one too unless noeol);
            # trailing blank lines are not part of it, so no lines at all is an empty file.
            if len(words) < 2:
                self._fail(number, "@file needs a name")
            name = " ".join(w for w in words[1:] if w != "noeol")
            text = [line for _, line in body]
            while text and text[-1].strip() == "":
                text.pop()
            data = "".join(line + "\r\n" for line in text)
            if "noeol" in words[2:] and data:
                data = data[:-2]
            self.files.append((self._place(name), "text", data.encode("cp1252")))
        elif block == "bytes":
            # @bytes NAME SIZE [SEED]: SIZE bytes of a fixed pseudo-random sequence, another one for each SEED.
            if len(words) not in (3, 4) or not words[2].isdigit():
                self._fail(number, "@bytes needs a name and a size, then maybe a seed")
            self.files.append((self._place(words[1]), "bytes", (int(words[2]), words[3] if len(words) == 4 else "")))
        elif block == "bitmap":
            # @bitmap NAME WIDTH HEIGHT [core]: a 24-bit bitmap file whose every pixel tells its position,
            # or with "core" an OS/2 one (core header, 8 bits, a colour table of fewer triples than 256).
            if len(words) not in (4, 5) or not words[2].isdigit() or not words[3].isdigit() \
                    or words[4:] not in ([], ["core"]):
                self._fail(number, "@bitmap needs a name, a width and a height, then maybe 'core'")
            self.files.append((self._place(words[1]), "bitmap", (int(words[2]), int(words[3])) + (True,) * len(words[4:])))
        elif block == "registry":
            # Lines of a .reg file (below its header line), imported with regedit before the run.
            self.registry += [line for _, line in body if not line.startswith("#")]
        elif block == "copy":
            # @copy NAME FROM: a file of the repository, FROM relative to its root.
            if len(words) != 3:
                self._fail(number, "@copy needs a name and a repository path")
            self.files.append((self._place(words[1]), "copy", os.path.join(ROOT, words[2])))
        elif block == "built":
            # @built NAME PROGRAM: a program of the win32 build laid out under that name.
            if len(words) != 3:
                self._fail(number, "@built needs a name and a program of the build")
            self.files.append((self._place(words[1]), "built", words[2]))
        elif block in ("before", "after"):
            for n, line in _meaningful(body):
                try:
                    getattr(self, block).append((n, split_words(line)))
                except ValueError as error:
                    self._fail(n, str(error))
        elif block == "robot":
            self.has_robot = True  # robot.exe reads this block from the scenario file itself
            self.rules.update((n, line.strip()) for n, line in _meaningful(body))
        elif block == "expect":
            for n, line in _meaningful(body):
                try:
                    self.expect.append((n, split_words(line)))
                except ValueError as error:
                    self._fail(n, str(error))
        else:
            self._fail(number, f"unknown block @{block}")

    def _place(self, name):
        """A distribution file name as a Windows path: relative names go into the distribution."""
        name = name.replace("/", "\\")
        return name if re.match(r"^[A-Za-z]:\\", name) else self.dist + "\\" + name

    @property
    def installer_path(self):
        return self.pack or self.dist + "\\" + self.installer


def split_words(line):
    """Words as the robot reads its rules: bare words are taken as they are (backslashes too),
    "double quoted" parts unescape \\" and \\\\, 'single quoted' parts are literal, and a # at the
    start of a word begins a comment."""
    words, i = [], 0
    while i < len(line):
        if line[i] in " \t\r":
            i += 1
            continue
        if line[i] == "#":
            break
        word = ""
        while i < len(line) and line[i] not in " \t\r":
            quote = line[i]
            if quote not in "\"'":
                word += quote
                i += 1
                continue
            j = i + 1
            while j < len(line) and line[j] != quote:
                if quote == '"' and line[j] == "\\" and line[j + 1:j + 2] in ('"', "\\"):
                    j += 1
                word += line[j]
                j += 1
            if j >= len(line):
                raise ValueError("unterminated quote")
            i = j + 1
        words.append(word)
    return words


def _meaningful(body):
    for number, line in body:
        if line.strip() and not line.strip().startswith("#"):
            yield number, line


def pseudo_random_bytes(size, seed=""):
    """A reproducible byte sequence: the SHAKE-256 stream of a fixed seed, quick even for tens of MB;
    another seed gives another sequence, so that two versions of a file differ from the first byte."""
    return hashlib.shake_256(b"Quillet e2e" + (b" " + seed.encode() if seed else b"")).digest(size)


def tile_color(x, y):
    """The colour of pixel (x, y) of an @bitmap: red and green count columns and rows, so that a
    pixel seen out of place shows where it came from."""
    return (x * 4) & 0xFF, (y * 5) & 0xFF, 0x5A


# The colour table of a core @bitmap: fewer triples than the 256 that 8 bits can index, as OS/2
# files often have; the pixels use only these.
CORE_TILE_COLORS = 252


def core_tile_index(x, y):
    return (x + 16 * y) % CORE_TILE_COLORS


def core_tile_color(index):
    return index, (index * 7) & 0xFF, 0xA5


def coded_core_bitmap(width, height):
    """An OS/2 1.x BMP file: 12-byte core header, 8 bits, CORE_TILE_COLORS RGB triples."""
    stride = (width + 3) & ~3
    pixels = b"".join(bytes(core_tile_index(x, y) for x in range(width)) + b"\0" * (stride - width)
                      for y in reversed(range(height)))
    table = b"".join(bytes(reversed(core_tile_color(i))) for i in range(CORE_TILE_COLORS))
    info = (12).to_bytes(4, "little") + width.to_bytes(2, "little") + height.to_bytes(2, "little") \
        + (1).to_bytes(2, "little") + (8).to_bytes(2, "little")
    header = b"BM" + (14 + len(info) + len(table) + len(pixels)).to_bytes(4, "little") + bytes(4) \
        + (14 + len(info) + len(table)).to_bytes(4, "little")
    return header + info + table + pixels


def coded_bitmap(width, height, core=False):
    """An uncompressed 24-bit bottom-up BMP file of tile_color pixels, with its image size filled in."""
    if core:
        return coded_core_bitmap(width, height)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in reversed(range(height)):
        row = bytearray()
        for x in range(width):
            red, green, blue = tile_color(x, y)
            row += bytes((blue, green, red))
        rows.append(bytes(row) + b"\0" * (stride - len(row)))
    pixels = b"".join(rows)
    info = (40).to_bytes(4, "little") + width.to_bytes(4, "little") + height.to_bytes(4, "little") \
        + (1).to_bytes(2, "little") + (24).to_bytes(2, "little") + (0).to_bytes(4, "little") \
        + len(pixels).to_bytes(4, "little") + (2835).to_bytes(4, "little") * 2 + bytes(8)
    header = b"BM" + (14 + len(info) + len(pixels)).to_bytes(4, "little") + bytes(4) \
        + (14 + len(info)).to_bytes(4, "little")
    return header + info + pixels


# ---- Paths --------------------------------------------------------------------------------------

def host_path(prefix, windows_path):
    """Where a C:\\ path of the prefix lives on the Linux side."""
    match = re.match(r"^[Cc]:\\?(.*)$", windows_path)
    if not match:
        raise ScenarioError(f"only C: paths are laid out in the prefix: {windows_path}")
    parts = [p for p in match.group(1).split("\\") if p]
    return os.path.join(prefix, "drive_c", *parts)


def find_case_insensitive(path):
    """`path` as it exists on disk, matching each component without regard to case, or None.

    Wine matches file names that way, so a check of C:\\Quillet\\README.TXT must find readme.txt."""
    if os.path.lexists(path):
        return path
    head, tail = os.path.split(path)
    if not tail:
        return path if os.path.isdir(path) else None
    parent = find_case_insensitive(head)
    if parent is None or not os.path.isdir(parent):
        return None
    for entry in os.listdir(parent):
        if entry.lower() == tail.lower():
            return os.path.join(parent, entry)
    return None


def z_path(path):
    """The Windows name of a Linux path through Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# ---- Removing run folders --------------------------------------------------------------------------

def remove_tree(path):
    """Removes a run folder even when a scenario left a mount or an immutable folder in it."""
    if not os.path.lexists(path):
        return
    real = os.path.realpath(path)
    with open("/proc/mounts") as f:
        mounts = [line.split()[1].encode().decode("unicode_escape") for line in f]
    for mount in sorted((m for m in mounts if m.startswith(real + "/")), key=len, reverse=True):
        subprocess.run(["umount", "-l", mount], check=False)
    try:
        shutil.rmtree(path)
    except OSError:
        subprocess.run(["chattr", "-R", "-i", path], check=False, stderr=subprocess.DEVNULL)
        shutil.rmtree(path)


# ---- Wine -----------------------------------------------------------------------------------------

class Wine:
    def __init__(self, work, display, arch="win32"):
        self.work = work
        self.display = display
        # Where wine64 is installed, a prefix made without WINEARCH is a 64-bit one: always say which.
        self.arch = arch
        # What starts Wine's own programs and the @after commands: the prefix's native ones.
        self.loader = "wine" if arch == "win32" else WINE64_LOADER

    def env(self, prefix, home, language="en"):
        """Wine's environment; language None keeps the caller's own locale variables."""
        dropped = ("WINE", "DISPLAY") if language is None else ("LC_", "LANG", "WINE", "DISPLAY")
        env = {k: v for k, v in os.environ.items() if not k.startswith(dropped)}
        env.update({
            "WINEPREFIX": prefix,
            "WINEARCH": self.arch,
            "WINEDEBUG": "-all",
            # No Mono or Gecko installers at prefix creation; no desktop entries for shortcuts made
            # in the prefix (winemenubuilder would write them into the home folder).
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "DISPLAY": self.display,
            "HOME": home,
        })
        if language is not None:
            env["LC_ALL"] = LANGUAGES[language]
        return env

    def stop_server(self, env):
        """Ends the prefix's wineserver (which saves its registry) and waits until it is gone."""
        subprocess.run(["wineserver", "-k"], env=env, check=False, timeout=WINE_COMMAND_TIMEOUT,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, check=False, timeout=WINE_COMMAND_TIMEOUT,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        forget_server_folder(env["WINEPREFIX"])


def forget_server_folder(prefix):
    try:
        with open(os.path.join(prefix, SERVER_NAME_FILE)) as f:
            name = f.read().strip()
    except OSError:
        return
    if re.fullmatch(r"wine-[A-Za-z0-9]+", name):
        shutil.rmtree(os.path.join("/tmp", name), ignore_errors=True)


def wine_version():
    return subprocess.run(["wine", "--version"], capture_output=True, text=True, check=True).stdout.strip()


def prefix_arch(prefix):
    """win32 or win64, as the prefix's registry says (Wine's "#arch=" line), or None."""
    try:
        with open(os.path.join(prefix, "system.reg"), encoding="latin-1") as f:
            for line in f:
                if line.startswith("#arch="):
                    return line[len("#arch="):].strip()
    except OSError:
        pass
    return None


def template_ok(template, stamp, arch="win32"):
    try:
        with open(os.path.join(template, TEMPLATE_STAMP)) as f:
            if f.read() != stamp:
                return False
    except OSError:
        return False
    if prefix_arch(template) != arch:
        return False
    needed = ["system.reg", "user.reg", "userdef.reg", "drive_c/windows/system32/kernel32.dll",
              "drive_c/windows/system32/user32.dll", "dosdevices/c:"]
    return all(os.path.lexists(os.path.join(template, n)) for n in needed)


# Wine's own fonts (Debian's fonts-wine: MS Sans Serif, Tahoma, Marlett for the title bar's boxes).
# Debian's Wine 8 looks for them beside its data folder ("/usr/share/wine/../fonts") and misses them,
# so the template gets them in its own Fonts folder, where Wine loads every font it finds; a template
# made before they were installed is made again.
WINE_FONTS = "/usr/share/wine/fonts"


def wine_fonts():
    try:
        return sorted(os.listdir(WINE_FONTS))
    except OSError:
        return []


def make_template(wine, log):
    """The template prefix: made once per build folder and rebuilt when missing or broken, or made by
    another Wine or with other fonts of Wine's own."""
    template = os.path.join(wine.work, "template")
    stamp = json.dumps({"wine": wine_version(), "recipe": TEMPLATE_RECIPE, "arch": wine.arch,
                        "fonts": hashlib.sha256("\n".join(wine_fonts()).encode()).hexdigest()[:16]})
    if template_ok(template, stamp, wine.arch):
        return template
    print(f"e2e: making the {wine.arch} template Wine prefix (about 15 s)", flush=True)
    building = template + ".new"
    remove_tree(building)
    remove_tree(template)
    home = os.path.join(wine.work, "home")
    os.makedirs(home, exist_ok=True)
    env = wine.env(building, home)
    steps = [
        [wine.loader, "wineboot", "-i"],
        # Without a window manager Wine waits for each closed window; unmanaged windows close at once.
        [wine.loader, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
        # A crash ends the process with its exception code instead of waiting in a crash dialog.
        [wine.loader, "reg", "add", "HKCU\\Software\\Wine\\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
         "/d", "0", "/f"],
    ]
    for step in steps:
        result = subprocess.run(step, env=env, stdout=log, stderr=log, timeout=WINE_COMMAND_TIMEOUT)
        if result.returncode != 0:
            wine.stop_server(env)
            raise RuntimeError(f"template prefix: {' '.join(step)} failed with {result.returncode}")
    wine.stop_server(env)
    fonts = os.path.join(building, "drive_c", "windows", "Fonts")
    os.makedirs(fonts, exist_ok=True)
    for name in wine_fonts():
        shutil.copy2(os.path.join(WINE_FONTS, name), fonts)
    # Wine links the user's shell folders (Desktop, Documents, ...) to the home folder; each
    # scenario needs folders of its own, so the links become real folders.
    users = os.path.join(building, "drive_c", "users")
    for dirpath, dirnames, _ in os.walk(users):
        for name in dirnames:
            path = os.path.join(dirpath, name)
            if os.path.islink(path):
                os.unlink(path)
                os.mkdir(path)
    with open(os.path.join(building, "user.reg"), encoding="latin-1") as f:
        if '"Managed"="N"' not in f.read():
            raise RuntimeError("template prefix: the X11 Driver setting did not reach user.reg")
    if prefix_arch(building) != wine.arch:
        raise RuntimeError(f"template prefix: Wine made a {prefix_arch(building)} prefix, not {wine.arch}")
    with open(os.path.join(building, TEMPLATE_STAMP), "w") as f:
        f.write(stamp)
    os.rename(building, template)
    return template


def link_or_copy(source, destination):
    """A hard link where both sides are on one file system, a copy where they are not (the demo's
    prefix on the emulated machine's own disk, in another mount than the template)."""
    try:
        os.link(source, destination)
    except OSError as error:
        if error.errno != errno.EXDEV:
            raise
        shutil.copy2(source, destination)


def copy_prefix(template, prefix):
    """A scenario's own prefix: real copies of the registry and everything writable, hard links for
    the big system folders that nothing writes to."""
    remove_tree(prefix)
    for dirpath, dirnames, filenames in os.walk(template):
        relative = os.path.relpath(dirpath, template)
        target = os.path.join(prefix, relative) if relative != "." else prefix
        os.makedirs(target, exist_ok=True)
        linked = any(relative == f or relative.startswith(f + "/") for f in LINKED_FOLDERS)
        for name in list(dirnames):
            source = os.path.join(dirpath, name)
            if os.path.islink(source):
                os.symlink(os.readlink(source), os.path.join(target, name))
                dirnames.remove(name)
        for name in filenames:
            if relative == "." and name in (SERVER_NAME_FILE, TEMPLATE_STAMP):
                continue
            source, destination = os.path.join(dirpath, name), os.path.join(target, name)
            if os.path.islink(source):
                os.symlink(os.readlink(source), destination)
            elif linked:
                link_or_copy(source, destination)
            else:
                shutil.copy2(source, destination)
        shutil.copystat(dirpath, target)


# ---- The virtual display --------------------------------------------------------------------------

class VirtualDisplay:
    """One Xvfb for the whole run; it picks a free display number itself (-displayfd)."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number.isdigit():
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


# ---- Registry files -------------------------------------------------------------------------------

# The registry file of each root; Wine's files hold key paths relative to their root.
ROOT_KEYS = {
    "HKCU": "user.reg", "HKEY_CURRENT_USER": "user.reg",
    "HKLM": "system.reg", "HKEY_LOCAL_MACHINE": "system.reg",
}


def _reg_unescape(text):
    if "\\" not in text:
        return text
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        i += 1
        c = text[i] if i < len(text) else ""
        if c == "x":
            digits = re.match(r"[0-9a-fA-F]{1,4}", text[i + 1:])
            out.append(chr(int(digits.group(0), 16)))
            i += 1 + len(digits.group(0))
        elif c in "01234567":
            digits = re.match(r"[0-7]{1,3}", text[i:])
            out.append(chr(int(digits.group(0), 8)))
            i += len(digits.group(0))
        else:
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(c, c))
            i += 1
    return "".join(out)


def _reg_value(data):
    """A value as Wine writes it: "text", str(N):"text", dword:hex, hex:bytes or hex(N):bytes."""
    if data.startswith('"'):
        return ("sz", _reg_unescape(data[1:-1]))
    match = re.match(r'^str\((\d+)\):"(.*)"$', data)
    if match:
        return ({"2": "expand_sz", "7": "multi_sz"}.get(match.group(1), "str" + match.group(1)),
                _reg_unescape(match.group(2)))
    if data.startswith("dword:"):
        return ("dword", int(data[6:], 16))
    match = re.match(r"^hex(?:\((\w+)\))?:(.*)$", data)
    if match:
        raw = bytes(int(b, 16) for b in match.group(2).replace(" ", "").split(",") if b)
        return ("hex" + (f"({match.group(1)})" if match.group(1) else ""), raw)
    return ("unknown", data)


_REGISTRY_FILES = {}


def read_registry_file(path):
    """{key path in lower case: (key path, {value name in lower case: (name, (type, data))})}, read once
    for as long as the file stays as it is (a scenario checks many values of one file)."""
    status = os.stat(path)
    stamp = (status.st_mtime_ns, status.st_size, status.st_ino)
    cached = _REGISTRY_FILES.get(path)
    if cached is None or cached[0] != stamp:
        cached = _REGISTRY_FILES[path] = (stamp, _parse_registry_file(path))
    return cached[1]


def _parse_registry_file(path):
    keys = {}
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        lines = f.read().split("\n")
    current = None
    i = 0
    while i < len(lines):
        line = lines[i]
        while line.endswith("\\") and i + 1 < len(lines):  # hex data continued on the next line
            i += 1
            line = line[:-1] + lines[i].strip()
        i += 1
        if line.startswith("["):
            name = _reg_unescape(line[1:line.rindex("]")])
            current = keys.setdefault(name.lower(), (name, {}))[1]
        elif current is not None and (line.startswith('"') or line.startswith("@=")):
            if line.startswith("@="):
                name, data = "", line[2:]
            else:
                match = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line)
                if not match:
                    continue
                name, data = _reg_unescape(match.group(1)), match.group(2)
            current[name.lower()] = (name, _reg_value(data))
    return keys


def registry_key(prefix, key):
    """The values of a key, from the prefix's registry files, or None when the key does not exist."""
    root, _, rest = key.partition("\\")
    root = root.upper()
    if root in ("HKCR", "HKEY_CLASSES_ROOT"):
        # The merged view: the user's classes over the machine's.
        found = [registry_key(prefix, "HKCU\\Software\\Classes\\" + rest),
                 registry_key(prefix, "HKLM\\Software\\Classes\\" + rest)]
        if found == [None, None]:
            return None
        merged = dict(found[1] or {})
        merged.update(found[0] or {})
        return merged
    if root not in ROOT_KEYS:
        raise ScenarioError(f"unknown registry root {root}")
    keys = read_registry_file(os.path.join(prefix, ROOT_KEYS[root]))
    entry = keys.get(rest.rstrip("\\").lower())
    return None if entry is None else entry[1]


def format_reg(value):
    kind, data = value
    if kind == "dword":
        return f"dword:{data}"
    if isinstance(data, bytes):
        return kind + ":" + ",".join(f"{b:02x}" for b in data)
    return data


def reg_matches(value, expected):
    kind, data = value
    if expected.startswith("dword:"):
        return kind == "dword" and data == int(expected[6:], 0)
    if re.match(r"^hex(\(\w+\))?:", expected):
        return format_reg(value) == expected.lower()
    return kind in ("sz", "expand_sz") and data == expected


# ---- Checks ---------------------------------------------------------------------------------------

WINDOW_KINDS = ("box", "dialog", "window")


def record_field(record, field):
    """The value of a transcript record's field as text, or None when the record has no such field."""
    if field == "buttons":
        return ",".join(record.get("buttons", []))
    if field == "owner":
        owner = record.get("owner")
        return "none" if owner is None else owner["caption"]
    if field in ("owner.class", "owner.caption"):
        owner = record.get("owner")
        return None if owner is None else owner[field.split(".")[1]]
    if field.startswith("item.") and field[5:].isdigit():
        # The N-th control in template order, for controls that share an id (65535).
        controls = record.get("controls", [])
        n = int(field[5:])
        return controls[n - 1]["text"] if 1 <= n <= len(controls) else None
    if field.startswith("control."):
        for control in record.get("controls", []):
            if str(control["id"]) == field[8:]:
                return control["text"]
        return None
    if field == "controls":
        return ",".join(str(c["id"]) for c in record.get("controls", []) if c["visible"])
    if field in ("rect", "client"):
        return ",".join(str(n) for n in record[field]) if field in record else None
    value = record.get(field)
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, list):
        return "; ".join(str(v) for v in value)
    return None if value is None else str(value)


def check_window(record, words):
    """The ways a window record differs from an expectation line's field=value / field~value words."""
    problems = []
    if record.get("kind") != words[0]:
        return [f"expected a {words[0]}, saw a {record.get('kind')} ({record.get('caption')!r})"]
    for word in words[1:]:
        match = re.match(r"^([\w.]+)([=~])(.*)$", word, re.S)
        if not match:
            problems.append(f"cannot read {word!r} (field=value or field~value)")
            continue
        field, operator, expected = match.groups()
        actual = record_field(record, field)
        good = actual is not None and (actual == expected if operator == "=" else expected in actual)
        if not good:
            problems.append(f"{field}: expected {'' if operator == '=' else 'to contain '}{expected!r}, "
                            f"saw {actual!r}")
    return problems


def profile_folder(prefix):
    """C:\\users\\NAME: Wine names the profile after the Unix user running it."""
    users = os.path.join(prefix, "drive_c", "users")
    names = [n for n in os.listdir(users) if n.lower() != "public" and os.path.isdir(os.path.join(users, n))]
    if len(names) != 1:
        raise ScenarioError(f"cannot tell the user's profile among {names}")
    return "C:\\users\\" + names[0]


def expand_path(prefix, path):
    """{profile}, {desktop} and {programs} (the Start menu's Programs folder) in a checked path."""
    if "{" not in path:
        return path
    profile = profile_folder(prefix)
    return (path.replace("{desktop}", profile + "\\Desktop")
            .replace("{programs}", profile + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs")
            .replace("{profile}", profile))


# Offset of the show command in a shell link's header; lnkinfo 20181227 prints 0 as its
# "Show Window value" whatever the file holds, so the runner reads these four bytes itself.
LINK_SHOW_COMMAND_OFFSET = 0x3C


def read_link(path):
    """The "Link information" of a .lnk file as lnkinfo decodes it: {local_path: ..., description: ...},
    and show_command, the header's show command in decimal."""
    result = subprocess.run(["lnkinfo", path], capture_output=True, timeout=WINE_COMMAND_TIMEOUT)
    if result.returncode != 0:
        raise ScenarioError(f"lnkinfo cannot read {path}: {result.stderr.decode(errors='replace').strip()}")
    fields, inside = {}, False
    for line in result.stdout.decode("utf-8", errors="replace").splitlines():
        if not line.startswith("\t"):
            inside = line.strip() == "Link information:"
            continue
        if inside and ":" in line:
            key, _, value = line.strip().partition(":")
            fields[re.sub(r"\W+", "_", key.strip().lower())] = value.strip()
    with open(path, "rb") as f:
        header = f.read(LINK_SHOW_COMMAND_OFFSET + 4)
    if len(header) == LINK_SHOW_COMMAND_OFFSET + 4:
        fields["show_command"] = str(int.from_bytes(header[LINK_SHOW_COMMAND_OFFSET:], "little"))
    return fields


def check_link(prefix, words):
    # lnk PATH FIELD=VALUE | FIELD~VALUE ...   (fields of lnkinfo's "Link information", in lower case)
    if len(words) < 3:
        return ["lnk needs a path and at least one field"]
    path = expand_path(prefix, words[1])
    found = find_case_insensitive(host_path(prefix, path))
    if found is None:
        return [f"{path} does not exist"]
    fields = read_link(found)
    problems = []
    for word in words[2:]:
        match = re.match(r"^(\w+)([=~])(.*)$", word, re.S)
        if not match:
            problems.append(f"cannot read {word!r} (field=value or field~value)")
            continue
        field, operator, expected = match.groups()
        actual = fields.get(field)
        if actual is None or not (actual == expected if operator == "=" else expected in actual):
            problems.append(f"{path}: {field} is {actual!r}, expected {'' if operator == '=' else 'to contain '}"
                            f"{expected!r}")
    return problems


def dist_source(scenario, dist_files, name):
    """(bytes, mtime in ns) of a file the scenario laid out, named as in its @file or @bytes line."""
    key = scenario._place(name).lower()
    if key not in dist_files:
        raise ScenarioError(f"{name} is not a file of the distribution")
    return dist_files[key]


def check_file(scenario, prefix, dist_files, words):
    if len(words) < 3:
        return ["file needs a path and a check"]
    path, check, args = expand_path(prefix, words[1]), words[2], words[3:]
    found = find_case_insensitive(host_path(prefix, path))
    if check == "absent":
        return [] if found is None else [f"{path} exists"]
    if found is None:
        return [f"{path} does not exist"]
    if check == "exists":
        return []
    if check == "dir":
        return [] if os.path.isdir(found) else [f"{path} is not a folder"]
    if check == "holds":
        # Exactly these files, by their paths relative to the folder, those in its sub-folders too.
        if not os.path.isdir(found):
            return [f"{path} is not a folder"]
        held = sorted(os.path.relpath(os.path.join(base, name), found).replace("/", "\\").lower()
                      for base, _, names in os.walk(found) for name in names)
        wanted = sorted(name.lower() for name in args)
        return [] if held == wanted else [f"{path} holds {held}, expected {wanted}"]
    if os.path.isdir(found):
        return [f"{path} is a folder"]
    with open(found, "rb") as f:
        data = f.read()
    mtime_units = os.stat(found).st_mtime_ns // 100  # Windows keeps file times in 100 ns units

    def source(name):
        return dist_source(scenario, dist_files, name)

    if check == "size":
        return [] if len(data) == int(args[0]) else [f"{path}: size {len(data)}, expected {args[0]}"]
    if check == "lines":
        expected = b"".join(line.encode("cp1252") + b"\r\n" for line in args)
        if data == expected:
            return []
        seen = data.decode("cp1252", errors="replace").split("\r\n")
        return [f"{path}: lines {seen!r}, expected {list(args)!r}"]
    if check == "contains":
        # contains TEXT ...: each text somewhere in the file (a log, whose lines begin with the time)
        content = data.decode("cp1252", errors="replace")
        return [f"{path} does not contain {text!r}" for text in args if text not in content]
    if check == "text":
        expected = args[0].encode("cp1252")
        return [] if data == expected else [f"{path}: content {data[:200]!r}, expected {expected[:200]!r}"]
    if check in ("unchanged", "same-as", "mtime-of"):
        name = path if check == "unchanged" else args[0]
        original, original_mtime = source(name)
        problems = []
        if check != "mtime-of" and data != original:
            problems.append(f"{path}: content differs from the distribution's {name} "
                            f"({len(data)} bytes against {len(original)})")
        if check != "same-as" and mtime_units != original_mtime // 100:
            seen = datetime.datetime.fromtimestamp(mtime_units / 1e7, datetime.timezone.utc)
            wanted = datetime.datetime.fromtimestamp(original_mtime / 1e9, datetime.timezone.utc)
            problems.append(f"{path}: modified {seen.isoformat()}, expected {wanted.isoformat()}")
        return problems
    return [f"unknown file check {check}"]


def check_reg(prefix, words):
    # reg KEY absent | reg KEY NAME absent | reg KEY NAME = VALUE   (NAME @ is the default value)
    if len(words) == 3 and words[2] == "absent":
        return [] if registry_key(prefix, words[1]) is None else [f"key {words[1]} exists"]
    if len(words) < 4:
        return ["reg needs a key, a value name and 'absent' or '= VALUE'"]
    key, name = words[1], "" if words[2] == "@" else words[2]
    values = registry_key(prefix, key)
    if words[3] == "absent" and len(words) == 4:
        return [] if values is None or name.lower() not in values else [f"{key} [{words[2]}] exists"]
    if words[3] != "=" or len(words) != 5:
        return ["reg needs '= VALUE' or 'absent' after the value name"]
    if values is None:
        return [f"key {key} does not exist"]
    if name.lower() not in values:
        return [f"{key} has no value {words[2]}"]
    value = values[name.lower()][1]
    return [] if reg_matches(value, words[4]) else [f"{key} [{words[2]}] is {format_reg(value)!r}, "
                                                    f"expected {words[4]!r}"]


def read_bitmap_rows(data):
    """(width, height, rows top-down as BGR bytes without padding) of an uncompressed 24-bit BMP, or
    of an 8-bit one with a core header, its missing colour triples black."""
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    offset = int.from_bytes(data[10:14], "little")
    if int.from_bytes(data[14:18], "little") == 12:
        width, height = int.from_bytes(data[18:20], "little"), int.from_bytes(data[20:22], "little")
        if int.from_bytes(data[24:26], "little") != 8:
            raise ValueError("not an 8-bit core-header bitmap")
        table = [data[i:i + 3] for i in range(26, offset - 2, 3)]
        table += [bytes(3)] * (256 - len(table))
        stride = (width + 3) & ~3
        if len(data) < offset + stride * height:
            raise ValueError("the file is shorter than its pixels")
        rows = [b"".join(table[i] for i in data[offset + r * stride:offset + r * stride + width])
                for r in range(height)]
        return width, height, rows[::-1]
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    if int.from_bytes(data[28:30], "little") != 24 or int.from_bytes(data[30:34], "little") != 0:
        raise ValueError("not an uncompressed 24-bit bitmap")
    stride = (width * 3 + 3) & ~3
    if len(data) < offset + stride * abs(height):
        raise ValueError("the file is shorter than its pixels")
    rows = [data[offset + r * stride:offset + r * stride + width * 3] for r in range(abs(height))]
    return width, abs(height), rows[::-1] if height > 0 else rows


def read_bitmap(path):
    """(width, height, pixel function) of a 24-bit uncompressed BMP as the robot writes them."""
    with open(path, "rb") as f:
        width, height, rows = read_bitmap_rows(f.read())

    def pixel(x, y):
        blue, green, red = rows[y][x * 3:x * 3 + 3]
        return f"#{red:02x}{green:02x}{blue:02x}"
    return width, height, pixel


def covered_by_others(records, name):
    """Rectangles (x, y, w, h) of the screenshot `name`'s client area that other windows of the run
    may have covered when it was taken: every other window's rectangle, in client coordinates."""
    owner = next((r for r in records if name in r.get("screenshots", [])), None)
    if owner is None or "client_origin" not in owner:
        return []
    ox, oy = owner["client_origin"]
    return [(r["rect"][0] - ox, r["rect"][1] - oy, r["rect"][2], r["rect"][3])
            for r in records if r.get("kind") in WINDOW_KINDS and r is not owner and "rect" in r]


def compare_rows(name, width, height, rows, expected_row, covered):
    """Every pixel outside the covered rectangles must equal the expected row's."""
    wrong, first = 0, []
    for y in range(height):
        expected = expected_row(y)
        if rows[y] == expected:
            continue
        cuts = [(x, x + w) for x, top, w, h in covered if top <= y < top + h]
        for x in range(width):
            if rows[y][x * 3:x * 3 + 3] == expected[x * 3:x * 3 + 3] or any(a <= x < b for a, b in cuts):
                continue
            wrong += 1
            if len(first) < 3:
                b, g, r = rows[y][x * 3:x * 3 + 3]
                e = expected[x * 3:x * 3 + 3]
                first.append(f"{x},{y} is #{r:02x}{g:02x}{b:02x}, expected #{e[2]:02x}{e[1]:02x}{e[0]:02x}")
    return [] if not wrong else [f"{name}: {wrong} pixel(s) differ, first {'; '.join(first)}"]


def check_bitmap(run_dir, words, records=(), source=None):
    # bitmap NAME [size=WxH] [pixel=X,Y:#rrggbb ...] [tiled=DISTFILE] [plain=#rrggbb]
    # (a screenshot the robot saved; tiled and plain look at every pixel that no other window covered)
    if len(words) < 2:
        return ["bitmap needs a file name"]
    path = os.path.join(run_dir, words[1])
    if not os.path.isfile(path):
        return [f"no screenshot {words[1]}"]
    try:
        with open(path, "rb") as f:
            width, height, rows = read_bitmap_rows(f.read())
    except ValueError as error:
        return [f"{words[1]}: {error}"]

    def pixel(x, y):
        blue, green, red = rows[y][x * 3:x * 3 + 3]
        return f"#{red:02x}{green:02x}{blue:02x}"
    problems = []
    for word in words[2:]:
        size = re.fullmatch(r"size=(\d+)x(\d+)", word)
        spot = re.fullmatch(r"pixel=(\d+),(\d+):(#[0-9a-fA-F]{6})", word)
        plain = re.fullmatch(r"plain=#([0-9a-fA-F]{6})", word)
        tiled = re.fullmatch(r"tiled=(.+)", word)
        if size:
            if (width, height) != (int(size.group(1)), int(size.group(2))):
                problems.append(f"{words[1]}: {width}x{height}, expected {size.group(1)}x{size.group(2)}")
        elif spot:
            x, y = int(spot.group(1)), int(spot.group(2))
            if x >= width or y >= height:
                problems.append(f"{words[1]}: no pixel {x},{y} in {width}x{height}")
            elif pixel(x, y) != spot.group(3).lower():
                problems.append(f"{words[1]}: pixel {x},{y} is {pixel(x, y)}, expected {spot.group(3).lower()}")
        elif plain:
            color = bytes.fromhex(plain.group(1))[::-1]
            problems += compare_rows(words[1], width, height, rows, lambda y: color * width,
                                     covered_by_others(records, words[1]))
        elif tiled and source is not None:
            try:
                tile_width, tile_height, tile = read_bitmap_rows(source(tiled.group(1))[0])
            except ValueError as error:
                problems.append(f"{tiled.group(1)}: {error}")
                continue
            # The tile repeated from the top-left corner, the last column and row cut at the edges.
            repeats = width // tile_width + 1
            expected = [(tile[y] * repeats)[:width * 3] for y in range(tile_height)]
            problems += compare_rows(words[1], width, height, rows, lambda y: expected[y % tile_height],
                                     covered_by_others(records, words[1]))
        else:
            problems.append(f"cannot read {word!r} (size=WxH, pixel=X,Y:#rrggbb, plain=#rrggbb or tiled=FILE)")
    return problems


PLACEHOLDER = re.compile(r"\{(\w+)(?::([^{}]*))?\}")


def expand_placeholders(text, prefix, start, size_of):
    """{profile}, {desktop}, {programs}, {windows} (the Windows directory the robot was told),
    {appworkspace} (that system colour, #rrggbb) and {kb:A+B} (the distribution files A and B
    together in kilobytes, rounded up) in an expectation."""
    def value(match):
        name, argument = match.groups()
        if name in ("profile", "desktop", "programs") and argument is None:
            return expand_path(prefix, match.group(0))
        if name in ("windows", "appworkspace") and argument is None and start.get(name):
            return start[name]
        if name == "kb" and argument:
            return str((sum(size_of(n) for n in argument.split("+")) + 1023) // 1024)
        raise ScenarioError(f"cannot expand {match.group(0)}")
    return PLACEHOLDER.sub(value, text)


def installer_switches(arguments):
    """The installer's switches in a command line, as it reads them: {NAME: value or True}, names in
    capitals, a value in double quotes holding blanks, /D= last and taking the rest of the line."""
    switches, rest = {}, arguments.strip()
    while rest:
        directory = re.match(r"/D=(.*)$", rest, re.I | re.S)
        if directory:
            switches["D"] = directory.group(1).rstrip()
            break
        match = re.match(r'/(\w+|\?)(?:=("[^"]*"|\S*))?(?:\s+|$)', rest)
        if not match:
            raise ScenarioError(f"cannot read the installer's switches {arguments!r}")
        switches[match.group(1).upper()] = match.group(2).strip('"') if match.group(2) is not None else True
        rest = rest[match.end():]
    return switches


# The dry run's options for the installer's switches.
DRY_RUN_SWITCHES = {"S": "--silent", "NOASSOCIATE": "--no-associate", "ALLUSERS": "--all-users"}
LOG_BOX_NOT_SHOWN = "Message not shown (silent run): "


def boxes_not_shown(prefix, log):
    """(caption, text, answer) of every message a silent run logged instead of showing it."""
    found = find_case_insensitive(host_path(prefix, log))
    if found is None:
        raise ScenarioError(f"the installer wrote no log {log}")
    with open(found, "rb") as f:
        lines = f.read().decode("cp1252").split("\r\n")
    boxes = []
    for line in lines:
        line = line.partition(" ")[2]  # after the time of day
        if line.startswith(LOG_BOX_NOT_SHOWN):
            quoted, _, answer = line[len(LOG_BOX_NOT_SHOWN):].rpartition(" -> ")
            caption, _, text = quoted[1:-1].partition('": "')
            boxes.append((caption, text, answer))
    return boxes


def check_dry_run(scenario, prefix, records, start, dist_files):
    """dry-run: the host's dry run of the same distribution (scripts/check-distribution.sh --json),
    given the installer's switches, recorded exactly what this Wine run left: the copied files, the
    registry values, the shortcuts, the configuration file, the messages (those a silent run does not
    show as its log tells them) and the exit code; and no other file in the target directory. A
    packed distribution is dry-run from its one file, whose entries are the files packed into it."""
    dist = host_path(prefix, scenario.pack or scenario.dist)
    medium = ntpath.dirname(scenario.pack) if scenario.pack else scenario.dist
    switches = installer_switches(scenario.arguments)
    options = [DRY_RUN_SWITCHES[name] for name in DRY_RUN_SWITCHES if name in switches]
    if "D" in switches:
        options += ["--dir", switches["D"]]
    result = subprocess.run(["bash", os.path.join(ROOT, "scripts", "check-distribution.sh"), "--json",
                             "--language", scenario.language] + options + [dist],
                            capture_output=True, timeout=WINE_COMMAND_TIMEOUT)
    if result.returncode != 0:
        return [f"the dry run exits {result.returncode}: {result.stdout.decode(errors='replace')[-400:]}"
                f"{result.stderr.decode(errors='replace')[-400:]}"]
    dry = json.loads(result.stdout)
    machine = dry["machine"]

    def wine(text):
        # The dry run's machine folders are the prefix's under other names.
        text = text.replace(machine["profile"], profile_folder(prefix))
        text = text.replace(machine["windows"], start["windows"])
        return text.replace(machine["installer_folder"], medium + "\\")

    def source_bytes(source):
        if not scenario.pack:
            with open(host_path(prefix, source), "rb") as f:
                return f.read()
        entry = source[len(scenario.pack) + 1:] if source.lower().startswith(scenario.pack.lower() + "\\") else ""
        return dist_files.get((scenario.dist + "\\" + entry).lower(), (b"", 0))[0]

    problems, targets = [], set()
    for step in dry["steps"]:
        kind = step["kind"]
        if kind == "copy":
            path = find_case_insensitive(host_path(prefix, wine(step["destination"])))
            source = source_bytes(wine(step["source"]))
            if path is None or open(path, "rb").read() != source or len(source) != step["size"]:
                problems.append(f"dry run copies {step['source']} to {step['destination']} ({step['size']} bytes); "
                                f"Wine's copy is missing or differs")
            elif path:
                targets.add(os.path.normcase(path))
        elif kind == "registry" and "error" not in step:
            problems += check_reg(prefix, ["reg", step["key"], step["name"], "=", wine(step["value"])])
        elif kind == "shortcut":
            problems += check_link(prefix, ["lnk", wine(step["file"]), "local_path=" + wine(step["target"]),
                                            "description=" + step["description"], "icon_location=" + wine(step["icon"]),
                                            f"icon_index={step['index']}", f"show_command={step['show']}"])
        elif kind == "configuration":
            state = "absent" if step["result"] == "deleted" else "exists"
            problems += check_file(scenario, prefix, {}, ["file", wine(step["path"]), state])
    target = next((s["directory"] for s in dry["steps"] if s["kind"] == "directory-dialog"), None)
    folder = find_case_insensitive(host_path(prefix, wine(target))) if target else None
    for base, _, names in os.walk(folder or os.devnull):
        for name in names:
            if os.path.normcase(os.path.join(base, name)) not in targets:
                problems.append(f"Wine left {os.path.join(base, name)}, which the dry run does not copy")
    boxes = [r.get("text") for r in records if r.get("kind") == "box"]
    dry_boxes = [wine(s["text"]) for s in dry["steps"] if s["kind"] == "box" and s["shown"]]
    if boxes != dry_boxes:
        problems.append(f"message boxes: Wine showed {boxes}, the dry run {dry_boxes}")
    unseen = [(s["caption"], wine(s["text"]), s["answer"])
              for s in dry["steps"] if s["kind"] == "box" and not s["shown"]]
    if unseen or "S" in switches:
        logged = boxes_not_shown(prefix, switches["LOG"]) if isinstance(switches.get("LOG"), str) else None
        if logged is None:
            problems.append("a silent run needs /LOG= for its messages to be compared")
        elif logged != unseen:
            problems.append(f"messages not shown: the installer logged {logged}, the dry run {unseen}")
    end = next((r for r in records if r.get("kind") == "end"), {})
    if dry["installer_exit"] != end.get("exit"):
        problems.append(f"the dry run predicts exit code {dry['installer_exit']}, the installer gave {end.get('exit')}")
    return [f"dry run: {p}" for p in problems]


def check_expectations(scenario, records, prefix, dist_files, run_dir, before=None):
    """What is wrong with a run: its transcript `records` and its prefix against the scenario's
    expectations; `before` holds what take_snapshots saw before the installer ran."""
    problems = []
    start = next((r for r in records if r.get("kind") == "start"), None)
    end = next((r for r in records if r.get("kind") == "end"), None)
    windows = [r for r in records if r.get("kind") in WINDOW_KINDS]
    if start is None or end is None:
        return ["the transcript has no start or no end record (did the robot run to its end?)"]
    # Unless the scenario says otherwise, the installer ends by itself and every window meets a rule.
    status = next((w[1] for _, w in scenario.expect if w[:1] == ["status"] and len(w) > 1), "exited")
    if end["status"] != status:
        problems.append(f"the installer's run ended as {end['status']!r}, expected {status!r}")
    unmatched = [r for r in windows if r["unmatched"]]
    allowed = next((int(w[1]) for _, w in scenario.expect if w[:1] == ["unmatched"] and len(w) > 1), None)
    if allowed is None:
        for record in unmatched:
            problems.append(f"window #{record['seq']} ({record['kind']} {record['caption']!r}) met no rule")
    elif len(unmatched) != allowed:
        problems.append(f"{len(unmatched)} window(s) met no rule, expected {allowed}")
    for record in windows:
        for error in record["errors"]:
            problems.append(f"window #{record['seq']}: {error}")

    def source(name):
        return dist_source(scenario, dist_files, name)

    # Placeholders are filled in before anything is compared; a line that cannot be filled fails.
    expect = []
    for number, words in scenario.expect:
        try:
            expect.append((number, words[:1] + [expand_placeholders(w, prefix, start, lambda n: len(source(n)[0]))
                                                for w in words[1:]]))
        except (ScenarioError, OSError) as error:
            problems.append(f"line {number}: {error}")

    # Windows that an "ignore" line describes (one that may or may not be seen, as a short-lived
    # copy dialog) take no place in the order of the expected windows.
    ignored = [w for _, w in expect if w[:1] == ["ignore"] and len(w) > 1]
    windows = [r for r in windows if not any(not check_window(r, w[1:]) for w in ignored)]

    expected_windows = [(n, w) for n, w in expect if w and w[0] in WINDOW_KINDS]
    for index, (number, words) in enumerate(expected_windows):
        if index >= len(windows):
            problems.append(f"line {number}: expected a {words[0]} as window {index + 1}, "
                            f"but only {len(windows)} appeared")
            continue
        for problem in check_window(windows[index], words):
            problems.append(f"line {number}, window {index + 1}: {problem}")
    for record in windows[len(expected_windows):]:
        text = record.get("text", "")
        problems.append(f"unexpected window {record['seq']}: {record['kind']} {record['caption']!r} {text!r}")

    for number, words in expect:
        if not words or words[0] in WINDOW_KINDS:
            continue
        try:
            if words[0] == "exit" and len(words) > 2:
                # exit PROGRAM CODE ...: the processes of that name that the installer (a caller) started.
                ended = [r.get("exit") for r in records if r.get("kind") == "process"
                         and ntpath.basename(r.get("image", "")).lower() == words[1].lower()]
                if ended != [int(code, 0) for code in words[2:]]:
                    problems.append(f"line {number}: {words[1]} ended with {ended}, expected {words[2:]} "
                                    f"(null: still running)")
            elif words[0] == "exit":
                if end.get("exit") != int(words[1], 0):
                    problems.append(f"line {number}: exit code {end.get('exit')}, expected {words[1]}")
            elif words[0] == "file":
                problems += [f"line {number}: {p}" for p in check_file(scenario, prefix, dist_files, words)]
            elif words[0] == "reg":
                problems += [f"line {number}: {p}" for p in check_reg(prefix, words)]
            elif words[0] == "lnk":
                problems += [f"line {number}: {p}" for p in check_link(prefix, words)]
            elif words[0] == "dry-run":
                problems += [f"line {number}: {p}" for p in check_dry_run(scenario, prefix, records, start, dist_files)]
            elif words[0] == "bitmap":
                problems += [f"line {number}: {p}" for p in check_bitmap(run_dir, words, records, source)]
            elif words[0] == AS_BEFORE:
                if number not in (before or {}):
                    raise ScenarioError("nothing was seen before the run")
                now = snapshot(prefix, words)
                problems += [f"line {number}: {p}" for p in snapshot_differences(before[number], now)]
            elif words[0] in ("status", "unmatched", "ignore"):
                pass  # taken into account above
            else:
                problems.append(f"line {number}: unknown expectation {words[0]}")
        except (IndexError, ValueError, ScenarioError) as error:
            problems.append(f"line {number}: cannot read {' '.join(words)!r}: {error}")
    return problems


# ---- The machine as it was before the run ---------------------------------------------------------

# as-before reg KEY ... | as-before files PATH ... [except PATH ...]: each key with every key below it
# (their values, types included), each folder with everything below it (files by size and time), as
# they were before the installer or caller was started (after @registry and @before).
AS_BEFORE = "as-before"


def registry_tree(prefix, key):
    """{path below KEY in lower case ("" for KEY): (path as written, {value name in lower case: (name,
    (type, data))})} of KEY and every key below it, from the prefix's registry files; HKCR as the user's
    classes over the machine's."""
    root, _, rest = key.partition("\\")
    root = root.upper()
    if root in ("HKCR", "HKEY_CLASSES_ROOT"):
        tree = registry_tree(prefix, "HKLM\\Software\\Classes\\" + rest)
        for path, (name, values) in registry_tree(prefix, "HKCU\\Software\\Classes\\" + rest).items():
            merged = dict(tree.get(path, (name, {}))[1])
            merged.update(values)
            tree[path] = (name, merged)
        return tree
    if root not in ROOT_KEYS:
        raise ScenarioError(f"unknown registry root {root}")
    base = rest.rstrip("\\").lower()
    tree = {}
    for path, (name, values) in read_registry_file(os.path.join(prefix, ROOT_KEYS[root])).items():
        if path == base or path.startswith(base + "\\"):
            tree[path[len(base):].lstrip("\\")] = (name[len(base):].lstrip("\\"), values)
    # Wine's files leave out a key that holds keys and no value: its keys tell that it is there.
    for path, (name, _) in list(tree.items()):
        while path:
            path, name = path.rpartition("\\")[0], name.rpartition("\\")[0]
            tree.setdefault(path, (name, {}))
    return tree


def file_tree(prefix, path, excepted):
    """{path below PATH in lower case: (path, what)} of everything below the folder PATH but the
    `excepted` paths (lower case) and what is below them: "folder", ("link", target) or ("file", size,
    time in 100 ns units)."""
    top = find_case_insensitive(host_path(prefix, path))
    tree = {}
    for base, folders, files in os.walk(top or os.devnull):
        for name in sorted(folders) + sorted(files):
            full = os.path.join(base, name)
            relative = os.path.relpath(full, top).replace("/", "\\")
            windows = (path.rstrip("\\") + "\\" + relative).lower()
            if any(windows == e or windows.startswith(e + "\\") for e in excepted):
                if name in folders:
                    folders.remove(name)
                continue
            status = os.lstat(full)
            if os.path.islink(full):
                what = ("link", os.readlink(full))
            elif name in folders:
                what = "folder"
            else:
                what = ("file", status.st_size, status.st_mtime_ns // 100)
            tree[relative.lower()] = (relative, what)
    return tree


def snapshot(prefix, words):
    """What an as-before line looks at now: {(where, path): (path as written, what)}."""
    if len(words) < 3 or words[1] not in ("reg", "files"):
        raise ScenarioError("as-before needs 'reg KEY ...' or 'files PATH ... [except PATH ...]'")
    state = {}
    if words[1] == "reg":
        for key in words[2:]:
            for path, (name, values) in registry_tree(prefix, key).items():
                where = key + ("\\" + name if name else "")
                state[("key", where.lower())] = (where, "key")
                for value, (value_name, data) in values.items():
                    state[("value", where.lower() + "|" + value)] = (f"{where} [{value_name or '@'}]", data)
        return state
    paths, excepted = words[2:], [AFTER_OUTPUT]
    if "except" in paths:
        paths, excepted = paths[:paths.index("except")], excepted + paths[paths.index("except") + 1:]
    excepted = [expand_path(prefix, e).lower().rstrip("\\") for e in excepted]
    for path in paths:
        path = expand_path(prefix, path)
        for relative, (name, what) in file_tree(prefix, path, excepted).items():
            state[("file", path.lower() + "\\" + relative)] = (path.rstrip("\\") + "\\" + name, what)
    return state


def take_snapshots(scenario, prefix):
    """{expectation line number: snapshot} of every as-before line."""
    return {number: snapshot(prefix, words) for number, words in scenario.expect if words[:1] == [AS_BEFORE]}


def describe_state(what):
    """A snapshot's item in words: a key or folder, a file's size and time, a link's or value's type and data."""
    if what in ("key", "folder"):
        return what
    if what[0] == "file":
        written = datetime.datetime.fromtimestamp(what[2] / 1e7, datetime.timezone.utc)
        return f"a file of {what[1]} bytes written {written.isoformat()}"
    return f"{what[0]} {what[1]!r}"


def snapshot_differences(before, now):
    """Every item added, removed or changed between two snapshots, as a line each."""
    problems = []
    for item in sorted(set(before) | set(now)):
        if item not in now:
            problems.append(f"{before[item][0]} is gone (was {describe_state(before[item][1])})")
        elif item not in before:
            problems.append(f"{now[item][0]} was added ({describe_state(now[item][1])})")
        elif before[item][1] != now[item][1]:
            problems.append(f"{now[item][0]} is {describe_state(now[item][1])}, was {describe_state(before[item][1])}")
    return problems


# ---- Running a scenario -----------------------------------------------------------------------------

def build64_of(build):
    """The 64-bit shell clients' build folder: build/win64 beside the win32 build folder."""
    return os.path.join(os.path.dirname(os.path.abspath(build)), "win64")


def built_path(setup_exe, build64, program):
    """Where a @built program is: relative to the laid-out program's folder, or {build64}/NAME."""
    if program.startswith(BUILD64):
        if build64 is None:
            raise ScenarioError(f"{program}: no 64-bit build given")
        return os.path.join(build64, program[len(BUILD64):].lstrip("/\\"))
    return os.path.join(os.path.dirname(setup_exe), program)


def payload_entries(data):
    """{name: (file offset of its packed bytes, packed size, method)} of the payload a packed setup.exe
    carries after its image (the end of its last section's raw data, from the PE headers)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    end = struct.unpack_from("<I", data, pe + 24 + 60)[0]  # the headers' size
    for section in range(sections):
        raw_size, raw_offset = struct.unpack_from("<II", data, pe + 24 + optional_size + 40 * section + 16)
        if raw_size:
            end = max(end, raw_offset + raw_size)
    if data[end:end + len(PAYLOAD_SIGNATURE)] != PAYLOAD_SIGNATURE:
        raise ScenarioError("the packed file carries no payload after its image")
    count = struct.unpack_from("<I", data, end + 12)[0]
    entries, at = {}, end + 28
    for _ in range(count):
        offset, packed = struct.unpack_from("<II", data, at + 12)
        length = data[at + 25]
        entries[data[at + 26:at + 26 + length].decode("cp1252")] = (end + offset, packed, data[at + 24])
        at += 26 + length
    return entries


def pack_distribution(folder, out):
    """Packs a distribution folder (host paths) into one file with the project's packer."""
    result = subprocess.run([PACKER, "--out", out, folder], capture_output=True, text=True)
    if result.returncode != 0:
        raise ScenarioError(f"the packer refused the distribution: {result.stdout}{result.stderr}".strip())


def lay_out_packed(scenario, prefix, written):
    """Packs the laid-out distribution into the scenario's one file, damaged as it says, and removes
    the folder: the installer may find nothing but that file."""
    folder = host_path(prefix, scenario.dist)
    packed = host_path(prefix, scenario.pack)
    os.makedirs(os.path.dirname(packed), exist_ok=True)
    pack_distribution(folder, packed)
    shutil.rmtree(folder)
    with open(packed, "rb") as f:
        data = bytearray(f.read())
    entries = payload_entries(bytes(data))
    for name in scenario.flip:
        if name not in entries:
            raise ScenarioError(f"flip {name}: no such entry in the packed file ({', '.join(entries)})")
        offset, size, method = entries[name]
        if method != PAYLOAD_DEFLATED:
            raise ScenarioError(f"flip {name}: the entry is stored, not compressed")
        data[offset + size // 2] ^= 0x55
    if scenario.cut:
        del data[-scenario.cut:]
    with open(packed, "wb") as f:
        f.write(data)
    os.utime(packed, ns=(scenario.mtime_ns, scenario.mtime_ns))
    written[scenario.pack.lower()] = (bytes(data), scenario.mtime_ns)


def lay_out(scenario, prefix, setup_exe, build64=None):
    """Writes the distribution; returns {windows path in lower case: (bytes, mtime in ns)}."""
    written = {}
    installer = scenario.dist + "\\" + scenario.installer
    items = [(installer, "copy", setup_exe)] + scenario.files
    for windows_path, kind, data in items:
        path = host_path(prefix, windows_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if kind == "built":
            data = built_path(setup_exe, build64, data)
        if kind in ("copy", "built"):
            with open(data, "rb") as f:
                data = f.read()
        elif kind == "bytes":
            data = pseudo_random_bytes(*data)
        elif kind == "bitmap":
            data = coded_bitmap(*data)
        with open(path, "wb") as f:
            f.write(data)
        mtime_ns = scenario.mtime_ns
        if scenario.installed_mtime_ns is not None and not windows_path.lower().startswith(scenario.dist.lower() + "\\"):
            mtime_ns = scenario.installed_mtime_ns
        os.utime(path, ns=(mtime_ns, mtime_ns))
        written[windows_path.lower()] = (data, mtime_ns)
    if scenario.pack:
        lay_out_packed(scenario, prefix, written)
    return written


def describe(record):
    """One transcript record in a line for people."""
    def q(text):
        return '"' + str(text).replace("\r\n", "\\n").replace("\n", "\\n") + '"'
    kind = record.get("kind")
    if kind == "start":
        return (f"start {record.get('installer')} (language {record.get('ui_language')}, "
                f"code page {record.get('acp')})")
    if kind == "end":
        return (f"end: {record.get('status')}, exit code {record.get('exit')}, {record.get('windows')} window(s), "
                f"{record.get('failures')} failure(s), {record.get('seconds', 0):.1f} s")
    if kind == "process":
        ended = "still running" if record.get("exit") is None else f"exit code {record.get('exit')}"
        return f"process {record.get('image')}: {ended}"
    if kind not in WINDOW_KINDS:
        return json.dumps(record, ensure_ascii=False)
    line = f"#{record['seq']} {kind} {record['class']} {q(record['caption'])}"
    if kind == "box":
        line += f" [{record['icon']}] {q(record['text'])} buttons {','.join(record['buttons'])}"
    else:
        texts = [f"{c['id']}={q(c['text'])}" for c in record["controls"] if c["visible"] and c["text"]]
        if texts:
            line += " " + " ".join(texts)
    owner = record.get("owner")
    line += " owner " + ("none" if owner is None else f"{owner['class']} {q(owner['caption'])}")
    line += " -> " + ("; ".join(record["actions"]) or "nothing")
    if record["unmatched"]:
        line += "  (NO RULE MATCHED)"
    for error in record["errors"]:
        line += f"  (FAILED: {error})"
    for note in record.get("notes", []):
        line += f"  ({note})"
    return line


def read_transcript(path):
    records = []
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                if line.strip():
                    records.append(json.loads(line))
    except (OSError, ValueError) as error:
        records.append({"kind": "broken", "error": str(error)})
    return records


def import_registry(wine, env, run_dir, lines):
    """Sets the scenario's registry values in its prefix before the run, through Wine's own regedit."""
    path = os.path.join(run_dir, "setup.reg")
    with open(path, "w", encoding="utf-16", newline="\r\n") as f:
        f.write("Windows Registry Editor Version 5.00\n\n" + "\n".join(lines) + "\n")
    with open(os.path.join(run_dir, "regedit.log"), "w") as log:
        result = subprocess.run([wine.loader, "regedit", "/S", z_path(path)], env=env, stdout=log, stderr=log,
                                timeout=WINE_COMMAND_TIMEOUT)
    if result.returncode != 0:
        raise ScenarioError(f"regedit could not import {path} (status {result.returncode})")


# Where the output of a scenario's @after commands is kept in its prefix, for its checks.
AFTER_OUTPUT = "C:\\after.txt"


# A line of @before or @after that is not a command: the prefix's wineserver is ended (every program
# still running with it, the registry saved), so that the next command starts the prefix again and
# Wine carries out what was left for the restart (files to delete or rename).
RESTART = "restart"


def run_commands(commands, env, prefix, build, log, loader="wine", restart=None):
    """Wine commands of @before or @after, in order, each started by `loader` and waited for; `restart`
    ends the prefix's server. Returns (problems: a command that failed or hung, its standard output's lines)."""
    problems, output = [], []
    for number, words in commands:
        if words == [RESTART]:
            restart()
            continue
        command = [loader] + [expand_path(prefix, w.replace("{build}", z_path(build))
                                          .replace(BUILD64, z_path(build64_of(build)))) for w in words]
        try:
            result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=log,
                                    timeout=WINE_COMMAND_TIMEOUT)
        except subprocess.TimeoutExpired:
            problems.append(f"line {number}: {' '.join(words)} did not end")
            continue
        lines = result.stdout.decode("utf-8", errors="replace").replace("\r\n", "\n").splitlines()
        output += lines
        if result.returncode != 0:
            problems.append(f"line {number}: {' '.join(words)} ended with status {result.returncode}: {lines}")
    return problems, output


def run_after(scenario, env, prefix, build, log, loader="wine", restart=None):
    """The @after commands; their standard output, lines ended by CR LF, goes into AFTER_OUTPUT for the
    checks. Returns the problems."""
    problems, output = run_commands(scenario.after, env, prefix, build, log, loader, restart)
    with open(host_path(prefix, AFTER_OUTPUT), "wb") as f:
        f.write("".join(line + "\r\n" for line in output).encode("cp1252", errors="replace"))
    return problems


def run_robot(scenario, env, build, transcript, log):
    """One run of the installer by robot.exe; returns the robot's exit status, None when it hung."""
    started, arguments = scenario.caller or (scenario.installer_path, scenario.arguments)
    command = ["wine", z_path(os.path.join(build, "robot.exe")), "--timeout", str(scenario.timeout)] \
        + (["--args", arguments] if arguments else []) + (["--follow"] if scenario.caller else []) \
        + [z_path(scenario.path), started, z_path(transcript)]
    process = subprocess.Popen(command, env=env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        return process.wait(timeout=scenario.timeout + RUNNER_GRACE)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        return None


def run_scenario(scenario, wine, template, build, keep):
    run_dir = os.path.join(wine.work, "runs", scenario.name)
    remove_tree(run_dir)
    prefix = os.path.join(run_dir, "prefix")
    home = os.path.join(run_dir, "home")
    os.makedirs(home)
    copy_prefix(template, prefix)
    try:
        dist_files = lay_out(scenario, prefix, os.path.join(build, scenario.program), build64_of(build))
    except (ScenarioError, OSError) as error:
        return [f"the distribution could not be laid out: {error}"], [], run_dir
    transcript = os.path.join(run_dir, "transcript.jsonl")
    env = wine.env(prefix, home, scenario.language)
    env.update(scenario.env)
    env["WINEDLLOVERRIDES"] = ";".join([env["WINEDLLOVERRIDES"]] + scenario.dll_overrides)
    immutable = [host_path(prefix, expand_path(prefix, path)) for path in scenario.immutable]
    before = {}
    try:
        if scenario.registry:
            import_registry(wine, env, run_dir, scenario.registry)
        if scenario.before:
            with open(os.path.join(run_dir, "before.log"), "w") as log:
                failed, _ = run_commands(scenario.before, env, prefix, build, log, wine.loader,
                                         lambda: wine.stop_server(env))
            if failed:
                raise ScenarioError("@before: " + "; ".join(failed))
        if any(words[:1] == [AS_BEFORE] for _, words in scenario.expect):
            # The registry files hold what the server has saved: it ends first.
            wine.stop_server(env)
            before = take_snapshots(scenario, prefix)
        for path in immutable:
            os.makedirs(path, exist_ok=True)
            subprocess.run(["chattr", "+i", path], check=True)
        # Left mounted for the checks; remove_tree unmounts it with the run folder.
        for path, size in scenario.small_disks:
            mount = host_path(prefix, path)
            os.makedirs(mount, exist_ok=True)
            subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", mount], check=True)
    except (ScenarioError, subprocess.SubprocessError, OSError) as error:
        wine.stop_server(env)
        for path in immutable:
            subprocess.run(["chattr", "-i", path], check=False, stderr=subprocess.DEVNULL)
        return [f"the prefix could not be prepared: {error}"], [], run_dir
    problems = []
    with open(os.path.join(run_dir, "wine.log"), "w") as log:
        try:
            # Runs before the last one (an installation run again over itself) must each go through
            # as the rules foresee; the checks look at the last one.
            for number in range(1, scenario.runs + 1):
                last = number == scenario.runs
                robot_status = run_robot(scenario, env, build, transcript if last else os.path.join(
                    run_dir, f"transcript-{number}.jsonl"), log)
                if robot_status is None:
                    problems.append("the robot itself did not end; killed")
                    break
                if not last and robot_status != 0:
                    problems.append(f"run {number} of {scenario.runs}: the robot reports a failure (status "
                                    f"{robot_status}); see transcript-{number}.jsonl")
            else:
                problems += run_after(scenario, env, prefix, build, log, wine.loader, lambda: wine.stop_server(env))
        finally:
            wine.stop_server(env)
            for path in immutable:
                subprocess.run(["chattr", "-i", path], check=False)
    records = read_transcript(transcript)
    if robot_status not in (None, 0, 1):
        problems.append(f"the robot could not run the scenario (status {robot_status}); see wine.log")
    problems += check_expectations(scenario, records, prefix, dist_files, run_dir, before)
    end = next((r for r in records if r.get("kind") == "end"), {})
    unused = end.get("unused_rules") or []
    # A rule that only leaves a window be is there for one that may pass unseen: no note for it.
    notes = [f"rule on line {n} never applied" for n in unused
             if not re.search(r":\s*leave$", scenario.rules.get(n, ""))]
    if not problems and not keep:
        remove_tree(prefix)
        remove_tree(home)
    return problems, notes, run_dir


# conformance.exe (tests/conformance): the stand-in's checks against Wine's Win32, run in a prefix of its
# own with the scenarios; it creates windows, so it runs on the same display.
CONFORMANCE = "conformance"
CONFORMANCE_TIMEOUT = 300
CONFORMANCE_SUMMARY = re.compile(r"^conformance: (\d+) failure\(s\)", re.M)


def conformance_problems(output, status):
    """What is wrong with a conformance run that printed `output` and ended with `status`."""
    summary = CONFORMANCE_SUMMARY.search(output)
    if summary is None:
        return [f"conformance.exe printed no summary (exit status {status})"]
    if int(summary.group(1)) == 0 and status == 0:
        return []
    details = [line for line in output.splitlines() if line.startswith(("conformance failure", "  "))]
    return [f"conformance.exe: {summary.group(1)} failure(s), exit status {status}"] + details[:20]


def run_conformance(wine, template, build, keep):
    run_dir = os.path.join(wine.work, "runs", CONFORMANCE)
    remove_tree(run_dir)
    prefix = os.path.join(run_dir, "prefix")
    home = os.path.join(run_dir, "home")
    os.makedirs(home)
    copy_prefix(template, prefix)
    env = wine.env(prefix, home, "en")
    log_path = os.path.join(run_dir, "wine.log")
    problems = []
    with open(log_path, "w") as log:
        process = subprocess.Popen(["wine", z_path(os.path.join(build, CONFORMANCE + ".exe"))], env=env, cwd=run_dir,
                                   stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            status = process.wait(timeout=CONFORMANCE_TIMEOUT)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            status = None
            problems.append(f"conformance.exe did not end within {CONFORMANCE_TIMEOUT} s; killed")
        finally:
            wine.stop_server(env)
    with open(log_path, errors="replace") as f:
        problems += conformance_problems(f.read(), status)
    if not problems and not keep:
        remove_tree(prefix)
        remove_tree(home)
    return problems, [], run_dir


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win32"),
                        help="folder holding setup.exe and robot.exe (default build/win32)")
    parser.add_argument("--arch", choices=sorted(LEGS), default="win32",
                        help="the leg: win32 (default) or win64, the scenarios of a 64-bit Windows")
    parser.add_argument("--keep", action="store_true", help="keep every scenario's prefix, not only failed ones")
    parser.add_argument("--list", action="store_true", help="list the scenarios and stop")
    parser.add_argument("names", nargs="*", help="run only scenarios whose name contains one of these")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    scenario_dir, work_name = LEGS[args.arch]
    paths = sorted(os.path.join(scenario_dir, f) for f in os.listdir(scenario_dir) if f.endswith(".scn"))
    with_conformance = not args.names or any(n in CONFORMANCE for n in args.names)
    import kills  # a module of its own, which uses this one's pieces
    # The kill test stands for the copy engine, not for the platform: the 32-bit leg runs it.
    with_kills = args.arch == "win32" and (not args.names or any(n in kills.NAME for n in args.names))
    if args.names:
        paths = [p for p in paths if any(n in os.path.basename(p) for n in args.names)]
    try:
        scenarios = [Scenario(p) for p in paths]
    except (ScenarioError, ValueError) as error:
        print(f"e2e: {error}", file=sys.stderr)
        return 2
    if args.list:
        for scenario in scenarios:
            print(scenario.name)
        if with_conformance:
            print(CONFORMANCE)
        if with_kills:
            print(kills.NAME)
        return 0
    if not scenarios and not with_conformance and not with_kills:
        print("e2e: no scenario selected", file=sys.stderr)
        return 2
    for exe in ("setup.exe", "robot.exe") + ((CONFORMANCE + ".exe",) if with_conformance else ()):
        if not os.path.isfile(os.path.join(build, exe)):
            print(f"e2e: {os.path.join(build, exe)} is missing; build the win32 preset first", file=sys.stderr)
            return 2
    # Programs made after the build, such as the signed copy (tests/release/signing.sh), and the
    # 64-bit shell clients (build/win64).
    programs = {os.path.join(build, s.program) for s in scenarios}
    programs |= {built_path(os.path.join(build, s.program), build64_of(build), data)
                 for s in scenarios for _, kind, data in s.files if kind == "built"}
    for program in sorted(programs):
        if not os.path.isfile(program):
            print(f"e2e: {program} is missing; scripts/e2e.sh makes it", file=sys.stderr)
            return 2

    work = os.path.join(os.path.dirname(build), work_name)
    os.makedirs(work, exist_ok=True)
    # Two runs over one build folder would share the template and the run folders.
    lock = open(os.path.join(work, ".lock"), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    started = time.monotonic()
    display = VirtualDisplay()
    passed = failed = 0
    try:
        wine = Wine(work, display.name, args.arch)
        with open(os.path.join(work, "template.log"), "w") as log:
            template = make_template(wine, log)
        specials = [name for name, selected in (("conformance.exe", with_conformance), ("the kill test", with_kills))
                    if selected]
        print(f"e2e: {len(scenarios)} scenario(s){''.join(' and ' + name for name in specials)} "
              f"in {args.arch} prefixes on display {display.name}", flush=True)
        runs = [(s.name, lambda s=s: run_scenario(s, wine, template, build, args.keep)) for s in scenarios]
        if with_conformance:
            runs.append((CONFORMANCE, lambda: run_conformance(wine, template, build, args.keep)))
        if with_kills:
            runs.append((kills.NAME, lambda: kills.run_kill_test(wine, template, build, args.keep)))
        for name, run_one in runs:
            begun = time.monotonic()
            problems, notes, run_dir = run_one()
            seconds = time.monotonic() - begun
            if problems:
                failed += 1
                print(f"FAIL {name} ({seconds:.1f} s)")
                for problem in problems:
                    print(f"     {problem}")
                print(f"     transcript and prefix kept in {os.path.relpath(run_dir, ROOT)}")
                with open(os.path.join(run_dir, "wine.log"), errors="replace") as f:
                    log_lines = f.read().splitlines()[-15:]
                for line in log_lines:
                    print(f"     | {line}")
            else:
                passed += 1
                print(f"PASS {name} ({seconds:.1f} s)")
            for note in notes:
                print(f"     note: {note}")
            sys.stdout.flush()
    finally:
        display.close()
    print(f"e2e: {time.monotonic() - started:.1f} s in all")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
