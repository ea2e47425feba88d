#!/usr/bin/env bash
# The release's package manager manifest: the one-file installer, copied as
# Quillet-VERSION-setup.exe, and the three manifest files for it, written into build/winget/.
#   scripts/winget-manifest.sh [--url URL] [--out DIR] SETUP.EXE
#   scripts/winget-manifest.sh [--setup EXE] [--url URL] [--out DIR] DISTRIBUTION
# SETUP.EXE is a packed setup.exe (scripts/pack.sh), signed for a release (scripts/sign.sh): it is
# refused unless the installer's reader reads it back whole. A DISTRIBUTION folder is packed here
# first with its own setup.exe, or --setup EXE, or else build/win32/setup.exe, unsigned, for trying
# the manifest out; samples/ is taken with the editor's stand-in the win32 build makes from
# samples/src and the real uninstaller, Unquil.exe.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

usage() {
    echo "usage: $0 [--url URL] [--out DIR] SETUP.EXE" >&2
    echo "       $0 [--setup EXE] [--url URL] [--out DIR] DISTRIBUTION" >&2
    exit 2
}
setup= url= out="$repo/build/winget"
while [ $# -gt 0 ]; do
    case $1 in
        --setup) setup=${2:?}; shift 2 ;;
        --url) url=${2:?}; shift 2 ;;
        --out) out=${2:?}; shift 2 ;;
        -*) usage ;;
        *) break ;;
    esac
done
[ $# -eq 1 ] && { [ -d "$1" ] || { [ -f "$1" ] && [ -z "$setup" ]; }; } || usage
given=$1

work=$(mktemp -d "${TMPDIR:-/tmp}/quillet-winget-XXXXXX")
trap 'rm -rf "$work"' EXIT
if [ -f "$given" ]; then
    installer=$given
    bash "$repo/scripts/pack.sh" --check "$installer" >/dev/null 2>&1 || {
        echo "winget-manifest: $installer is no packed setup.exe whose payload reads back whole:" >&2
        bash "$repo/scripts/pack.sh" --check "$installer" >&2 || true
        exit 1
    }
else
    folder=$work/distribution
    mkdir "$folder"
    if [ "$(cd "$given" && pwd -P)" = "$(cd "$repo/samples" && pwd -P)" ]; then
        built="$repo/build/win32"
        if [ ! -f "$built/samples/Quillet.exe" ] || [ ! -f "$built/Unquil.exe" ] ||
           { [ -z "$setup" ] && [ ! -f "$built/setup.exe" ]; }; then
            bash "$repo/scripts/install-deps.sh" >&2
            (cd "$repo" && cmake --preset win32 >/dev/null &&
                cmake --build --preset win32 --target setup sample_Quillet Unquil -j 2 >/dev/null)
        fi
        find "$repo/samples" -maxdepth 1 -type f ! -name '.*' ! -name '*.sh' -exec cp -p {} "$folder/" \;
        cp -p "$built/samples/Quillet.exe" "$built/Unquil.exe" "$folder/"
    else
        cp -pR "$given/." "$folder/"
    fi
    if [ -n "$setup" ]; then
        cp -p "$setup" "$folder/setup.exe"
    elif [ ! -f "$folder/setup.exe" ]; then
        [ -f "$repo/build/win32/setup.exe" ] || { echo "winget-manifest: no setup.exe: build it or give --setup" >&2; exit 2; }
        cp -p "$repo/build/win32/setup.exe" "$folder/setup.exe"
    fi
    installer=$work/Quillet-setup.exe
    bash "$repo/scripts/pack.sh" --out "$installer" "$folder" >/dev/null
fi
exec /usr/bin/python3 "$repo/packaging/winget/write_manifest.py" ${url:+--url "$url"} "$installer" "$out"
