#!/usr/bin/env python3
"""The package manager's manifest as the release step writes it (scripts/winget-manifest.sh) for
setup.exe packed with the sample distribution: the three files valid against the official schemas
of version 1.10.0 (packaging/winget/schemas), agreeing on the package and the project's version, a
plain exe installer with every switch named, the hash that of the installer beside them, which is
that very setup.exe carrying a payload the dry run installs cleanly; a setup.exe without a payload
refused as the installer, and a return code of the wrong type refused by the schema check, so that
neither check can pass by accepting anything.
    tests/release/winget.py SETUP_EXE PROJECT_VERSION"""
import copy
import hashlib
import os
import subprocess
import sys
import tempfile

import jsonschema
import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCHEMAS = os.path.join(ROOT, "packaging", "winget", "schemas")
PACKAGE_IDENTIFIER = "Quillet.Quillet"
FILES = {  # manifest file: its schema
    f"{PACKAGE_IDENTIFIER}.yaml": "manifest.version.1.10.0.json",
    f"{PACKAGE_IDENTIFIER}.installer.yaml": "manifest.installer.1.10.0.json",
    f"{PACKAGE_IDENTIFIER}.locale.en-US.yaml": "manifest.defaultLocale.1.10.0.json",
}
INSTALLER = f"{PACKAGE_IDENTIFIER}.installer.yaml"
# The installer's switches, which the package manager does not know for an exe of its own.
SWITCHES = {"Silent": "/S", "SilentWithProgress": "/S", "Log": '/LOG="<LOGPATH>"',
            "InstallLocation": "/D=<INSTALLPATH>"}
DRY_RUN_TAIL_LINES = 12  # of a failed dry run's output: the report and its warnings
# Return codes the schema must refuse: a response it does not know, a code written as text.
WRONG_RETURN_CODES = {
    "an unknown ReturnResponse": ("ReturnResponse", "userCancelled"),
    "a code written as a string": ("InstallerReturnCode", "1602"),
}


class UniqueKeyLoader(yaml.SafeLoader):
    """The package manager refuses a manifest with a key given twice; PyYAML keeps the last one."""
    def construct_mapping(self, node, deep=False):
        keys = [self.construct_object(key, deep=deep) for key, _ in node.value]
        twice = {key for key in keys if keys.count(key) > 1}
        if twice:
            raise yaml.constructor.ConstructorError(None, None, f"key given twice: {sorted(twice)}",
                                                    node.start_mark)
        return super().construct_mapping(node, deep)


def validator(schema_name):
    with open(os.path.join(SCHEMAS, schema_name), encoding="utf-8") as f:
        schema = yaml.safe_load(f)
    jsonschema.Draft7Validator.check_schema(schema)
    return jsonschema.Draft7Validator(schema)


def schema_errors(check, document):
    return [f"{'/'.join(map(str, error.absolute_path)) or '(top)'}: {error.message}"
            for error in check.iter_errors(document)]


def sha256(data):
    return hashlib.sha256(data).hexdigest().upper()


def main():
    setup_exe, version = sys.argv[1:3]
    problems = []
    with tempfile.TemporaryDirectory(prefix="quillet-winget-test-") as work:
        out = os.path.join(work, "out")
        subprocess.run(["bash", os.path.join(ROOT, "scripts", "winget-manifest.sh"), "--setup", setup_exe,
                        "--out", out, os.path.join(ROOT, "samples")], check=True, stdout=subprocess.DEVNULL)
        documents, checks = {}, {}
        for name, schema_name in FILES.items():
            checks[name] = validator(schema_name)
            with open(os.path.join(out, name), encoding="utf-8") as f:
                documents[name] = yaml.load(f, Loader=UniqueKeyLoader)
            problems += [f"{name}: {error}" for error in schema_errors(checks[name], documents[name])]

        # The schemas see one file at a time; the package manager also wants the three to agree.
        for name, document in documents.items():
            if (document.get("PackageIdentifier"), document.get("PackageVersion")) != (PACKAGE_IDENTIFIER, version):
                problems.append(f"{name}: package {document.get('PackageIdentifier')} "
                                f"{document.get('PackageVersion')!r}, not {PACKAGE_IDENTIFIER} {version!r}")
        default_locale = documents[f"{PACKAGE_IDENTIFIER}.yaml"].get("DefaultLocale")
        if default_locale != documents[f"{PACKAGE_IDENTIFIER}.locale.en-US.yaml"].get("PackageLocale"):
            problems.append(f"the default locale {default_locale} has no locale file")

        installer = documents[INSTALLER]
        # One plain program to start, with every switch named: no archive, nothing nested in it.
        if installer.get("InstallerType") != "exe" or any(key.startswith("Nested") for key in installer):
            problems.append(f"installer type {installer.get('InstallerType')}, "
                            f"{sorted(key for key in installer if key.startswith('Nested'))}: not a plain exe")
        if installer.get("InstallerSwitches") != SWITCHES:
            problems.append(f"switches {installer.get('InstallerSwitches')}, not {SWITCHES}")
        with open(setup_exe, "rb") as f:
            setup_bytes = f.read()
        for entry in installer.get("Installers", []):
            path = os.path.join(out, entry.get("InstallerUrl", "").rsplit("/", 1)[-1])
            if not os.path.isfile(path):
                problems.append(f"no installer {os.path.basename(path)} beside the manifest")
                continue
            with open(path, "rb") as f:
                data = f.read()
            if entry.get("InstallerSha256") != sha256(data):
                problems.append(f"InstallerSha256 {entry.get('InstallerSha256')} is not the hash of {path}")
            if not (data.startswith(setup_bytes) and len(data) > len(setup_bytes)):
                problems.append(f"{os.path.basename(path)} is not {setup_exe} with a payload after it")
            # The installer reads only itself: the dry run of that one file must be a clean installation.
            dry_run = subprocess.run(["bash", os.path.join(ROOT, "scripts", "check-distribution.sh"), path],
                                     capture_output=True, text=True)
            if dry_run.returncode != 0:
                tail = "\n".join((dry_run.stdout + dry_run.stderr).splitlines()[-DRY_RUN_TAIL_LINES:])
                problems.append(f"the installer is not a clean distribution (dry run exit "
                                f"{dry_run.returncode}):\n{tail}")

        # A setup.exe that carries nothing would install nothing on its own.
        refused = subprocess.run(["bash", os.path.join(ROOT, "scripts", "winget-manifest.sh"), "--out",
                                  os.path.join(work, "refused"), setup_exe], capture_output=True)
        if refused.returncode == 0:
            problems.append(f"a manifest is written for {setup_exe}, which carries no payload")

        for what, (key, value) in WRONG_RETURN_CODES.items():
            wrong = copy.deepcopy(installer)
            wrong["ExpectedReturnCodes"][0][key] = value
            if not schema_errors(checks[INSTALLER], wrong):
                problems.append(f"the schema check accepts {what} ({key}: {value!r})")

    for problem in problems:
        print(f"winget: {problem}")
    if not problems:
        print(f"winget: the manifest of {version} validates, a plain exe with its switches named, its hash "
              f"that of {setup_exe} packed with the sample, which the dry run installs cleanly; a setup.exe "
              f"without a payload and wrong return codes are refused")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
