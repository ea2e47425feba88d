# Sourced by the scripts that run a publisher's tool of the host build (the dry run's checker, the
# packer): `quiet` runs a command and shows its output only when it fails; `build_host_tool TARGET`
# makes the tool in build/check, on its own, without the sanitizers of the host preset. Where the
# build tools are missing (the emulated machine the Wine tests may run in), the tool made beforehand
# runs: scripts/e2e.sh brings it up to date first. Needs `repo` and `build` set.
quiet() {
    local log
    log=$(mktemp)
    if ! "$@" >"$log" 2>&1; then cat "$log" >&2; rm -f "$log"; exit 2; fi
    rm -f "$log"
}

build_host_tool() {
    if [ ! -x "$build/$1" ]; then
        bash "$repo/scripts/install-deps.sh" >&2
    fi
    if command -v cmake >/dev/null; then
        [ -f "$build/build.ninja" ] || quiet cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
        quiet cmake --build "$build" --target "$1" -j 2
    fi
}
