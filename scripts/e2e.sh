#!/usr/bin/env bash
# End-to-end tests: builds setup.exe, robot.exe and conformance.exe (win32 preset) and the 64-bit
# shell clients (build/win64), signs a copy of setup.exe and a packed sample with a throwaway
# certificate (tests/release/signing.sh), then runs two legs under Wine on a virtual display: a
# 32-bit Windows (tests/e2e/scenarios, 32-bit prefixes) and a 64-bit one (tests/e2e/scenarios-win64, 64-bit
# prefixes where the installer runs under WoW64), each with conformance.exe. Safe to rerun: each
# scenario starts from a fresh copy of its leg's cached template prefix, remade when missing or broken.
#   scripts/e2e.sh [NAME ...]    (only the scenarios whose names contain NAME; "conformance" too)
set -euo pipefail
cd "$(dirname "$0")/.."
export PYTHONDONTWRITEBYTECODE=1
scripts/install-deps.sh
# Where this kernel refuses 32-bit programs, the legs run in an emulated machine.
in_machine=()
bash scripts/check-machine.sh || in_machine=(bash scripts/testvm.sh)
cmake --preset win32 >/dev/null
cmake --build --preset win32
cmake -S tests/e2e/shell -B build/win64 -G Ninja --toolchain "$PWD/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build/win64
for client in recorder shellrun; do
    file "build/win64/$client.exe" | grep -q 'PE32+ executable .* x86-64' || {
        echo "e2e: build/win64/$client.exe is not a 64-bit program: $(file "build/win64/$client.exe")"
        exit 1
    }
done
bash tests/release/signing.sh
# The dry-run scenarios run the host's checker, and the packed ones the host's packer, made here
# where the build tools are.
bash scripts/check-distribution.sh --build-only
bash scripts/pack.sh --build-only
/usr/bin/python3 -m unittest discover -s tests/e2e -p 'test_*.py' -q

# A leg runs when nothing is named or when a name selects one of its scenarios.
status=0 ran=0
for arch in win32 win64; do
    if [ $# -gt 0 ] && [ -z "$(/usr/bin/python3 tests/e2e/run.py --arch "$arch" --list "$@")" ]; then
        continue
    fi
    echo "== end to end, $arch leg"
    ran=1
    "${in_machine[@]}" /usr/bin/python3 tests/e2e/run.py --arch "$arch" "$@" || status=$?
done
if [ "$ran" = 0 ]; then
    echo "e2e: no scenario selected" >&2
    exit 2
fi
exit "$status"
