#!/usr/bin/env bash
# Tells, before any build, whether this machine can run what the tests run under Wine: setup.exe is
# a 32-bit program, and Wine runs it (in a 32-bit prefix and under WoW64 alike) through its 32-bit
# loader, an i386 Linux program. A kernel without 32-bit support refuses that loader with "Exec
# format error": the end-to-end legs and the demo cannot run there, and the tests do not pass them by.
set -uo pipefail

loader=/usr/lib/wine/wine
if ! out=$("$loader" --version 2>&1); then
  echo "check-machine: Wine's 32-bit loader does not run here: ${out:-no output}" >&2
  echo "check-machine: setup.exe needs it in both end-to-end legs; a kernel that refuses 32-bit (i386) programs cannot run them. Run the tests on a machine whose kernel runs 32-bit programs." >&2
  exit 1
fi
