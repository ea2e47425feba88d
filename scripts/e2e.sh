#!/usr/bin/env bash
# End-to-end tests: builds setup.exe, robot.exe and conformance.exe (win32 preset), signs a copy of
# setup.exe with a throwaway certificate (tests/release/signing.sh) and runs every
# scenario of tests/e2e/scenarios and conformance.exe under Wine on a virtual display. Safe to rerun:
# each run starts from fresh copies of the cached template prefix (build/e2e/template), which is
# remade when missing or broken.
#   scripts/e2e.sh [NAME ...]    (only the scenarios whose names contain NAME; "conformance" too)
set -euo pipefail
cd "$(dirname "$0")/.."
export PYTHONDONTWRITEBYTECODE=1
scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
bash tests/release/signing.sh
/usr/bin/python3 -m unittest discover -s tests/e2e -p 'test_*.py' -q
exec /usr/bin/python3 tests/e2e/run.py "$@"
