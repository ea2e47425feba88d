#!/usr/bin/env bash
# Builds both builds and runs every test: the host build's unit and whole-installation tests
# (with AddressSanitizer and UndefinedBehaviorSanitizer), then setup.exe end to end under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== host build and tests"
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
ctest --preset host

echo "== setup.exe"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
file build/win32/setup.exe | grep -q 'PE32 executable (GUI) Intel 80386' || {
    echo "setup.exe is not a 32-bit GUI executable: $(file build/win32/setup.exe)"
    exit 1
}

if [ -x scripts/e2e.sh ] || [ -f scripts/e2e.sh ]; then
    echo "== end to end under Wine"
    bash scripts/e2e.sh
fi
echo "== all tests passed"
