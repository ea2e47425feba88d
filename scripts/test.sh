#!/usr/bin/env bash
# Builds both builds and runs every test: the host build's unit and whole-installation tests
# (with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer), a bounded fuzzing run of
# the script reader and the bitmap loader, then setup.exe end to end under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== host build and tests"
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
ctest --preset host

echo "== fuzzing"
bash scripts/fuzz.sh 30

echo "== setup.exe"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
file build/win32/setup.exe | grep -q 'PE32 executable (GUI) Intel 80386' || {
    echo "setup.exe is not a 32-bit GUI executable: $(file build/win32/setup.exe)"
    exit 1
}

echo "== end to end under Wine"
bash scripts/e2e.sh

echo "== all tests passed"
