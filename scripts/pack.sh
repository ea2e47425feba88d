#!/usr/bin/env bash
# The one-file distribution: a folder's setup.exe carrying its script, its backdrop and every file
# its [Files] section names, compressed, read back whole before it is written; sign it afterwards.
#   scripts/pack.sh --out FILE FOLDER     (samples/ is packed as the demo lays it out)
#   scripts/pack.sh --check FILE          (reads a packed, perhaps signed, file back)
#   scripts/pack.sh --build-only          (makes the packer and does nothing else)
# Exit code: 0 packed (or read back), 1 refused, each reason on a line naming its file, 2 usage.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build/check"
program="$build/pack"

# Built beside the dry run's checker.
. "$repo/scripts/host-tool.sh"
build_host_tool pack
[ "${1:-}" != --build-only ] || exit 0

# samples/ is the demo distribution but for its programs, which the win32 build makes: the folder
# packed is laid out as the demo lays it out, with the built setup.exe.
args=("$@")
if [ "${1:-}" = --out ] && [ $# -eq 3 ] && [ -d "$3" ] &&
   [ "$(cd "$3" && pwd -P)" = "$(cd "$repo/samples" && pwd -P)" ]; then
    built="$repo/build/win32"
    if [ ! -f "$built/setup.exe" ] || [ ! -f "$built/samples/Quillet.exe" ] ||
       [ ! -f "$built/samples/Unquil.exe" ]; then
        bash "$repo/scripts/install-deps.sh" >&2
        (cd "$repo" && quiet cmake --preset win32 &&
         quiet cmake --build --preset win32 -j 2 --target setup sample_Quillet sample_Unquil)
    fi
    folder=$(mktemp -d "${TMPDIR:-/tmp}/quillet-samples-XXXXXX")
    trap 'rm -rf "$folder"' EXIT
    find "$repo/samples" -maxdepth 1 -type f ! -name '.*' ! -name '*.sh' -exec cp -p {} "$folder/" \;
    cp -p "$built/setup.exe" "$built/samples/Quillet.exe" "$built/samples/Unquil.exe" "$folder/"
    args[2]="$folder"
fi
[ "${1:-}" != --out ] || [ $# -ne 3 ] || mkdir -p "$(dirname "$2")"
status=0
"$program" "${args[@]}" || status=$?
exit "$status"
