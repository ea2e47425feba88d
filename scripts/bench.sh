#!/usr/bin/env bash
# Benchmarks: builds what they need (setup.exe and robot.exe in build/win32-bench, the Wine-side
# measuring programs of tests/perf in build/perf, the host benchmarks in build/bench) and prints the
# table of the README's "Benchmarks" section: copy times under Wine against CopyFileA and the bare
# chain, a silent installation of 256 MB (incompressible, then text) from a packed setup.exe against
# the same from the folder, the copy dialog's responsiveness, start-up to the first paint, the
# script reader, peak memory, and the packer's and payload reader's time and peak memory for one
# 1 GB file (host build). Raw numbers go to build/bench-results/. About ten minutes on two cores.
#   scripts/bench.sh [--runs N] [--only copy,packed,probe,memory,startup,reader,payload] [--quick]
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
exec /usr/bin/python3 tests/perf/bench.py "$@"
