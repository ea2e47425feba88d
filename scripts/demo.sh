#!/usr/bin/env bash
# The demo: builds setup.exe, packs samples/ with it into one file as a user downloads it
# ("Quillet-setup (1).exe") and installs from that file under Wine, on your display when there is one
# (you answer), otherwise on a virtual display answered by the test robot; then removes it again.
# Leaves the transcript, the screenshots and the installed Wine prefix in build/demo/.
#   scripts/demo.sh [--robot] [--language en|fr|it]
set -euo pipefail
cd "$(dirname "$0")/.."
export PYTHONDONTWRITEBYTECODE=1
scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
# The packer is a host program, made here where the build tools are.
bash scripts/pack.sh --build-only
if bash scripts/check-machine.sh; then
  exec /usr/bin/python3 tests/e2e/demo.py "$@"
fi
# An emulated machine has no display of yours: the robot answers there. Its prefix stays in that
# machine, since Wine cannot run it here; the pictures and the transcript come back.
rm -rf build/demo
status=0
bash scripts/testvm.sh /usr/bin/python3 tests/e2e/demo.py --robot "$@" || status=$?
echo "demo: ran in an emulated machine; its prefix is not kept, its transcript and pictures are in build/demo"
exit "$status"
