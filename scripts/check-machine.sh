#!/usr/bin/env bash
# Tells whether this machine runs Wine's 32-bit loader, an i386 Linux program, through which Wine
# runs the 32-bit setup.exe (in a 32-bit prefix and under WoW64 alike). Exit 0 when it does; 1, with
# a line saying why, on a kernel that refuses 32-bit programs ("Exec format error"). The scripts
# then run their Wine steps in an emulated machine whose kernel runs them (scripts/testvm.sh).
set -uo pipefail

loader=/usr/lib/wine/wine
if ! out=$("$loader" --version 2>&1); then
  echo "check-machine: Wine's 32-bit loader does not run on this kernel (${out:-no output}); the Wine steps run in an emulated machine (scripts/testvm.sh)" >&2
  exit 1
fi
