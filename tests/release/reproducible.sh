#!/usr/bin/env bash
# Reproducible bytes: one commit, cloned into two folders at paths of different lengths and built
# there with the win32 preset (setup.exe and Unquil.exe alone) under a different time zone, locale
# and umask, gives byte-identical programs, and the sample packed by each clone's own packer into
# one setup.exe gives byte-identical files. When the working tree is that commit unchanged, its own
# build/win32 programs must match too.
#   tests/release/reproducible.sh [COMMIT]    (default HEAD)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
commit=$(git -C "$root" rev-parse --verify "${1:-HEAD}^{commit}")
work=$(mktemp -d "${TMPDIR:-/tmp}/quillet-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
programs=(setup Unquil)
# A packed entry carries its file's write time, which a checkout and a build set to the moment they
# ran: the sample's files are given the commit's time before they are packed.
epoch=$(git -C "$root" show -s --format=%ct "$commit")

build_clone() {  # folder, then the environment to build in; prints one hash per program, then the packed sample's
    local folder=$1; shift
    git clone -q --no-checkout "$root" "$folder"
    git -C "$folder" -c advice.detachedHead=false checkout -q "$commit"
    (cd "$folder" && env "$@" cmake --preset win32 >/dev/null &&
        env "$@" cmake --build --preset win32 --target "${programs[@]}" sample_Quillet -j 2 >/dev/null)
    for program in "${programs[@]}"; do
        sha256sum "$folder/build/win32/$program.exe" | cut -d' ' -f1
    done
    local sample=$folder/build/packed-sample
    mkdir -p "$sample"
    find "$folder/samples" -maxdepth 1 -type f ! -name '.*' ! -name '*.sh' -exec cp {} "$sample/" \;
    cp "$folder/build/win32/setup.exe" "$folder/build/win32/samples/Quillet.exe" "$folder/build/win32/Unquil.exe" \
        "$sample/"
    touch -d "@$epoch" "$sample"/*
    env "$@" bash "$folder/scripts/pack.sh" --out "$folder/build/Quillet-setup.exe" "$sample" >/dev/null
    sha256sum "$folder/build/Quillet-setup.exe" | cut -d' ' -f1
}

first=$(build_clone "$work/a" TZ=UTC LC_ALL=C)
second=$(umask 077; build_clone "$work/second/a-much-longer-folder-name" TZ=Pacific/Kiritimati LC_ALL=C.UTF-8)
echo "reproducible: ${commit:0:12} $(echo $first) (clone 1)"
echo "reproducible: ${commit:0:12} $(echo $second) (clone 2)"
if [ "$first" != "$second" ]; then
    echo "reproducible: the two clean builds differ:"
    for program in "${programs[@]}"; do
        cmp -l "$work/a/build/win32/$program.exe" \
            "$work/second/a-much-longer-folder-name/build/win32/$program.exe" | head -20 || true
    done
    cmp -l "$work/a/build/Quillet-setup.exe" "$work/second/a-much-longer-folder-name/build/Quillet-setup.exe" |
        head -20 || true
    exit 1
fi
if [ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] &&
   [ "$(git -C "$root" rev-parse HEAD)" = "$commit" ] && [ -f "$root/build/win32/setup.exe" ] &&
   [ -f "$root/build/win32/Unquil.exe" ]; then
    own=$(for program in "${programs[@]}"; do sha256sum "$root/build/win32/$program.exe" | cut -d' ' -f1; done)
    echo "reproducible: ${commit:0:12} $(echo $own) (build/win32)"
    [ "$own" = "$(head -n ${#programs[@]} <<<"$first")" ] ||
        { echo "reproducible: build/win32 differs from the clean builds"; exit 1; }
fi
