#!/usr/bin/env python3
"""Writes the package manager's manifest of a release: the distribution folder as one zip archive,
and the version, installer and default-locale files filled in from the templates beside this file
with the version of CMakeLists.txt's project() and the archive's SHA-256.
    packaging/winget/write_manifest.py [--url URL] DISTRIBUTION OUT"""
import argparse
import hashlib
import os
import re
import shutil
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
PACKAGE_IDENTIFIER = "Quillet.Quillet"
TEMPLATES = [f"{PACKAGE_IDENTIFIER}.yaml", f"{PACKAGE_IDENTIFIER}.installer.yaml",
             f"{PACKAGE_IDENTIFIER}.locale.en-US.yaml"]
# What the package manager starts inside the archive, and the script that installer reads beside it.
NESTED_INSTALLER = "setup.exe"
NESTED_SCRIPT = "setup.inf"
# Stands in for the address the publisher uploads the archive to (example.com is reserved for that).
PLACEHOLDER_URL = "https://example.com/quillet/{version}/{archive}"
ZIP_EARLIEST = (1980, 1, 1, 0, 0, 0)  # a zip entry's time cannot be older
FILE_MODE = 0o644
READ_CHUNK = 1 << 20
PLACEHOLDER = re.compile(r"@[A-Z_]+@")


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"^project\(\s*\S+\s+VERSION\s+([0-9][0-9.]*)", f.read(), re.MULTILINE)
    if not found:
        sys.exit("write_manifest: no VERSION in CMakeLists.txt's project()")
    return found.group(1)


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(READ_CHUNK), b""):
            digest.update(chunk)
    return digest.hexdigest().upper()


def write_archive(folder, archive):
    """Every file below folder (hidden ones aside), in name order, each with its own last-write time:
    the installer gives the files it copies their source's times."""
    names = []
    for directory, subdirectories, files in os.walk(folder):
        subdirectories[:] = sorted(d for d in subdirectories if not d.startswith("."))
        names += [os.path.relpath(os.path.join(directory, f), folder) for f in files if not f.startswith(".")]
    partial = archive + ".partial"
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as z:
        for name in sorted(names):
            path = os.path.join(folder, name)
            entry = zipfile.ZipInfo(name.replace(os.sep, "/"),
                                    max(ZIP_EARLIEST, time.localtime(os.path.getmtime(path))[:6]))
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = FILE_MODE << 16
            with open(path, "rb") as source, \
                 z.open(entry, "w", force_zip64=os.path.getsize(path) >= zipfile.ZIP64_LIMIT) as target:
                shutil.copyfileobj(source, target, READ_CHUNK)
    os.replace(partial, archive)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--url", help="where the archive will be downloaded from (default: a placeholder)")
    parser.add_argument("distribution", help="the folder handed to users: setup.exe, setup.inf and the files it lists")
    parser.add_argument("out", help="the folder that receives the archive and the three manifest files")
    args = parser.parse_args()
    for name in (NESTED_INSTALLER, NESTED_SCRIPT):
        if not os.path.isfile(os.path.join(args.distribution, name)):
            sys.exit(f"write_manifest: {args.distribution} has no {name}")

    distribution, out = os.path.realpath(args.distribution), os.path.realpath(args.out)
    if os.path.commonpath([distribution, out]) == distribution:
        sys.exit(f"write_manifest: {args.out} lies inside the distribution folder it would archive")

    version = project_version()
    archive_name = f"Quillet-{version}.zip"
    os.makedirs(args.out, exist_ok=True)
    # A manifest of an older version left beside the new one would be taken for it.
    for stale in os.listdir(args.out):
        if stale in TEMPLATES or re.fullmatch(r"Quillet-[0-9.]+\.zip", stale):
            os.remove(os.path.join(args.out, stale))
    archive = os.path.join(args.out, archive_name)
    write_archive(args.distribution, archive)
    values = {"PACKAGE_VERSION": version, "INSTALLER_SHA256": sha256(archive),
              "INSTALLER_URL": args.url or PLACEHOLDER_URL.format(version=version, archive=archive_name)}
    for name in TEMPLATES:
        with open(os.path.join(HERE, name + ".in"), encoding="utf-8") as f:
            text = f.read()
        for key, value in values.items():
            text = text.replace(f"@{key}@", value)
        left = PLACEHOLDER.search(text)
        if left:
            sys.exit(f"write_manifest: {name}.in: nothing fills in {left.group(0)}")
        with open(os.path.join(args.out, name), "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
    print(f"write_manifest: {args.out}: {archive_name} (SHA-256 {values['INSTALLER_SHA256']}) and "
          f"{', '.join(TEMPLATES)} for version {version}")


if __name__ == "__main__":
    main()
