#!/usr/bin/env bash
# Benchmarks: builds what they need (setup.exe and robot.exe in build/win32-bench, the Wine-side
# measuring programs of tests/perf in build/perf, the host benchmarks in build/bench) and prints the
# table of the README's "Benchmarks" section: the copy under Wine, interactive and silent, against
# CopyFileA and the bare chain, a click on Cancel, a silent installation of 256 MB (incompressible,
# then text) from a packed setup.exe against the same from the folder, the copy dialog's
# responsiveness, start-up to the first paint, the script reader, peak memory, and the packer's and
# payload reader's time and peak memory for one 1 GB file (host build). Raw numbers go to
# build/bench-results/. About ten minutes on two cores; where this kernel refuses 32-bit programs, the
# Wine measurements run in an emulated machine (scripts/testvm.sh), where only their ratios mean
# anything, and the host's measurements run here.
#   scripts/bench.sh [--runs N] [--only copy,cancel,packed,probe,memory,startup,reader,payload] [--quick]
#                    [--before BUILD]   (another setup.exe's build folder, measured in the same rounds)
set -euo pipefail
cd "$(dirname "$0")/.."
export PYTHONDONTWRITEBYTECODE=1
bash scripts/install-deps.sh

cmake --preset win32 -B build/win32-bench >/dev/null
cmake --build build/win32-bench -j2 --target setup robot
cmake -S tests/perf -B build/perf -G Ninja --toolchain "$PWD/cmake/mingw-i686.cmake" >/dev/null
cmake --build build/perf -j2
cmake --preset bench >/dev/null
cmake --build --preset bench -j2
if bash scripts/check-machine.sh; then
    exec /usr/bin/python3 tests/perf/bench.py "$@"
fi
bash scripts/testvm.sh /usr/bin/python3 tests/perf/bench.py --emulated "$@"
