#!/usr/bin/env bash
# Soak run: setup.exe under Wine installs 10,000 small files, then one file of 1 GB; every installed
# file is checked against its source (bytes and last-write time) and each installation must end with
# message 5. Too long for the test command (about two minutes on two cores); needs about 2.5 GB of
# free disk while it runs and leaves none of it behind.
#   scripts/soak.sh [--files N] [--large-mb N]
set -euo pipefail
cd "$(dirname "$0")/.."
export PYTHONDONTWRITEBYTECODE=1
bash scripts/install-deps.sh

cmake --preset win32 -B build/win32-bench >/dev/null
cmake --build build/win32-bench -j2 --target setup robot
exec /usr/bin/python3 tests/perf/soak.py "$@"
