#!/usr/bin/env python3
"""What Windows reads of setup.exe or Unquil.exe before running it, as wrestool extracts it: the application
manifest (type 24, id 1) must be well-formed XML asking for elevation, naming the supported systems,
system DPI aware and without a common-controls 6 dependency (Windows refuses to start a program
whose manifest does not parse; Wine is lenient); the version information (type 16, id 1) must carry
the CMake project's version and the names Explorer shows.
    tests/release/resources.py PROGRAM_EXE PROJECT_VERSION"""
import os
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

SUPPORTED_OS = {  # Vista, 7, 8, 8.1, 10 and 11
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
# What Explorer shows of each program, by its file name.
DESCRIPTIONS = {"setup.exe": "Quillet setup", "Unquil.exe": "Quillet uninstaller"}
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD


def resource(exe, kind):
    return subprocess.run(["wrestool", "-x", "--raw", "-t", str(kind), "-n", "1", exe],
                          capture_output=True, check=True).stdout


def manifest_problems(data):
    try:
        root = ET.fromstring(data)
    except ET.ParseError as error:
        return [f"the manifest is not well-formed XML: {error}"]
    def local(tag):
        return tag.rsplit("}", 1)[-1]
    elements = list(root.iter())
    problems = []
    levels = [e.get("level") for e in elements if local(e.tag) == "requestedExecutionLevel"]
    if levels != ["requireAdministrator"]:
        problems.append(f"requested execution levels {levels}, not requireAdministrator")
    systems = {e.get("Id") for e in elements if local(e.tag) == "supportedOS"}
    if systems != SUPPORTED_OS:
        problems.append(f"supportedOS {sorted(systems)}")
    if [e.text for e in elements if local(e.tag) == "dpiAware"] != ["true"]:
        problems.append("not system DPI aware")
    if any(local(e.tag) == "dependency" for e in elements):
        problems.append("the manifest has a dependency (common controls 6 would change the dialogs' look)")
    return problems


def version_blocks(data, offset, end):
    """(key, value bytes, children) of each VS_VERSIONINFO block in data[offset:end]."""
    while offset + 6 <= end:
        length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
        if length == 0:
            break
        key_end = offset + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[offset + 6:key_end].decode("utf-16-le")
        value_start = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if value_type == 1 else value_length
        children = (value_start + value_size + 3) & ~3
        yield key, data[value_start:value_start + value_size], list(version_blocks(data, children, offset + length))
        offset = (offset + length + 3) & ~3


def version_problems(data, version, program):
    (key, fixed, children), = version_blocks(data, 0, len(data))
    numbers = [int(n) for n in version.split(".")] + [0] * (4 - len(version.split(".")))
    expected = [(numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3]]
    problems = []
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    if key != "VS_VERSION_INFO" or signature != FIXED_FILE_INFO_SIGNATURE:
        return [f"not a version resource ({key!r})"]
    if [file_ms, file_ls] != expected or [product_ms, product_ls] != expected:
        problems.append(f"numeric versions {file_ms:#x},{file_ls:#x} / {product_ms:#x},{product_ls:#x}, "
                        f"not {version}")
    strings = {}
    for name, _, tables in children:
        if name == "StringFileInfo":
            for _, _, values in tables:
                strings.update({k: v.decode("utf-16-le").rstrip("\0") for k, v, _ in values})
    wanted = dict(FileDescription=DESCRIPTIONS[program], ProductName="Quillet", OriginalFilename=program,
                  InternalName=program, FileVersion=version, ProductVersion=version)
    for name, text in wanted.items():
        if strings.get(name) != text:
            problems.append(f"{name} is {strings.get(name)!r}, not {text!r}")
    return problems


def main():
    exe, version = sys.argv[1:3]
    manifest, version_info = resource(exe, 24), resource(exe, 16)
    problems = ((manifest_problems(manifest) if manifest else ["no manifest (type 24, id 1)"]) +
                (version_problems(version_info, version, os.path.basename(exe)) if version_info else ["no version information (type 16, id 1)"]))
    for problem in problems:
        print(f"resources: {problem}")
    if not problems:
        print(f"resources: manifest and version {version} as they should be")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
