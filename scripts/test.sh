#!/usr/bin/env bash
# Builds both builds and runs every test: the set-up script's own test; the host build's unit and
# whole-installation tests (with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer),
# a bounded fuzzing run of the script reader, a whole installation, a removal and the bitmap loader, the manifests and version
# information of setup.exe and Unquil.exe, two clean builds of the commit that must give the same
# programs, then setup.exe end to end under Wine (a signed copy included), in an emulated machine
# where this kernel refuses 32-bit programs (scripts/testvm.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

echo "== the set-up script against stand-in package tools"
/usr/bin/python3 -m unittest discover -s tests/setup -q

jobs=$(nproc 2>/dev/null || echo 2)

echo "== host build and tests"
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
ctest --preset host

echo "== fuzzing"
bash scripts/fuzz.sh 30

echo "== setup.exe and Unquil.exe"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
for program in setup Unquil; do
    file "build/win32/$program.exe" | grep -q 'PE32 executable (GUI) Intel 80386' || {
        echo "$program.exe is not a 32-bit GUI executable: $(file "build/win32/$program.exe")"
        exit 1
    }
done

echo "== the programs' manifests, version information and reproducible bytes"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
for program in setup Unquil; do
    /usr/bin/python3 tests/release/resources.py "build/win32/$program.exe" "$version"
done
/usr/bin/python3 tests/release/winget.py build/win32/setup.exe "$version"
bash tests/release/reproducible.sh

echo "== end to end under Wine"
bash scripts/e2e.sh

echo "== all tests passed"
