#!/usr/bin/env bash
# A publisher's dry run: installs a distribution folder, or a packed setup.exe from its payload alone,
# with the installer's own code on the host's stand-in (no Wine), prints every step it would take and
# the script's silent pitfalls.
#   scripts/check-distribution.sh [--json] [--language en|fr|it] [--script FILE]
#                                 [--silent] [--no-associate] [--all-users] [--dir DIR] FOLDER|SETUP.EXE
#   scripts/check-distribution.sh --build-only    (makes the checker and does nothing else)
# --silent, --no-associate, --all-users and --dir give the run setup.exe's /S, /NOASSOCIATE,
# /ALLUSERS and /D=DIR. Exit code: 0 clean, 1 warnings, 2 the script cannot be read or nothing
# would be installed; the installer's own exit code for the run is printed beside it.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build/check"
program="$build/check-distribution"

# Built on its own, so that a check takes milliseconds.
. "$repo/scripts/host-tool.sh"
build_host_tool check-distribution
[ "${1:-}" != --build-only ] || exit 0

# samples/ is the demo distribution but for its two programs, which the win32 build makes from
# samples/src; the folder checked is laid out as the demo lays it out.
args=("$@")
last=$(( ${#args[@]} - 1 ))
if [ "$last" -ge 0 ] && [ -d "${args[$last]}" ] &&
   [ "$(cd "${args[$last]}" && pwd -P)" = "$(cd "$repo/samples" && pwd -P)" ]; then
    built="$repo/build/win32/samples"
    if [ ! -f "$built/Quillet.exe" ] || [ ! -f "$built/Unquil.exe" ]; then
        bash "$repo/scripts/install-deps.sh" >&2
        (cd "$repo" && quiet cmake --preset win32 && quiet cmake --build --preset win32 --target sample_Quillet sample_Unquil)
    fi
    folder=$(mktemp -d "${TMPDIR:-/tmp}/quillet-samples-XXXXXX")
    trap 'rm -rf "$folder"' EXIT
    find "$repo/samples" -maxdepth 1 -type f ! -name '.*' ! -name '*.sh' -exec cp -p {} "$folder/" \;
    cp -p "$built/Quillet.exe" "$built/Unquil.exe" "$folder/"
    args[$last]="$folder"
fi
status=0
"$program" "${args[@]}" || status=$?
exit "$status"
