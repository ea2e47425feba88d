#!/usr/bin/env python3
"""Writes the package manager's manifest of a release: the one-file installer (a packed, signed
setup.exe) copied beside it under the name it is uploaded as, and the version, installer and
default-locale files filled in from the templates beside this file with the version of
CMakeLists.txt's project() and the installer's SHA-256.
    packaging/winget/write_manifest.py [--url URL] INSTALLER OUT"""
import argparse
import hashlib
import os
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
PACKAGE_IDENTIFIER = "Quillet.Quillet"
TEMPLATES = [f"{PACKAGE_IDENTIFIER}.yaml", f"{PACKAGE_IDENTIFIER}.installer.yaml",
             f"{PACKAGE_IDENTIFIER}.locale.en-US.yaml"]
# The name the installer is uploaded as, and, until the publisher gives it, its address (example.com
# is reserved for that).
INSTALLER_NAME = "Quillet-{version}-setup.exe"
PLACEHOLDER_URL = "https://example.com/quillet/{version}/{installer}"
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--url", help="where the installer will be downloaded from (default: a placeholder)")
    parser.add_argument("installer", help="the one file handed to users: setup.exe packed with its files, signed")
    parser.add_argument("out", help="the folder that receives the installer and the three manifest files")
    args = parser.parse_args()
    if not os.path.isfile(args.installer):
        sys.exit(f"write_manifest: {args.installer} is not a file")

    version = project_version()
    installer_name = INSTALLER_NAME.format(version=version)
    os.makedirs(args.out, exist_ok=True)
    # A manifest of an older version, or its installer or archive, left beside the new one would be
    # taken for it.
    for stale in os.listdir(args.out):
        if stale in TEMPLATES or re.fullmatch(r"Quillet-[0-9.]+(-setup\.exe|\.zip)", stale):
            os.remove(os.path.join(args.out, stale))
    installer = os.path.join(args.out, installer_name)
    partial = installer + ".partial"
    shutil.copyfile(args.installer, partial)
    os.replace(partial, installer)
    values = {"PACKAGE_VERSION": version, "INSTALLER_SHA256": sha256(installer),
              "INSTALLER_URL": args.url or PLACEHOLDER_URL.format(version=version, installer=installer_name)}
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
    print(f"write_manifest: {args.out}: {installer_name} (SHA-256 {values['INSTALLER_SHA256']}) and "
          f"{', '.join(TEMPLATES)} for version {version}")


if __name__ == "__main__":
    main()
