#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) and runs each
# for a bounded time on a copy of its seed corpus; fails on the first crash, leak or timeout.
# Usage: scripts/fuzz.sh [seconds per target, default 30]
# New inputs go to build/fuzz/corpus/, crashes to build/fuzz/artifacts/; the committed seeds in
# tests/fuzz/corpus/ never change. A crash found is fixed and its input kept there as a seed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
case "$seconds" in
    '' | *[!0-9]*) echo "fuzz: seconds must be a whole number, not '$seconds'" >&2; exit 2 ;;
esac

# Each target with the seed folder it starts from.
declare -A seeds=([FuzzBitmapLoader]=bitmap [FuzzScriptReader]=script [FuzzInstallation]=script
                  [FuzzUninstall]=record [FuzzPayload]=payload)

for source in tests/fuzz/*.cpp; do
    target=$(basename "$source" .cpp)
    if [ -z "${seeds[$target]:-}" ]; then
        echo "fuzz: $source has no seed folder in scripts/fuzz.sh" >&2
        exit 2
    fi
done

bash scripts/install-deps.sh

echo "== fuzz build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)"

mkdir -p build/fuzz/artifacts
for target in "${!seeds[@]}"; do
    corpus=build/fuzz/corpus/$target
    rm -rf "$corpus"
    mkdir -p "$corpus"
    cp tests/fuzz/corpus/"${seeds[$target]}"/* "$corpus"/
    echo "== fuzz $target for $seconds s"
    # A single input slower than 10 s counts as a hang: the tiling or a walk that does not end.
    if ! build/fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/"$target"- "$corpus" \
            >build/fuzz/"$target".log 2>&1; then
        tail -n 60 build/fuzz/"$target".log
        echo "fuzz: $target failed; the input is in build/fuzz/artifacts/" >&2
        exit 1
    fi
    grep -E '^(stat::number_of_executed_units|stat::new_units_added|stat::peak_rss_mb)' build/fuzz/"$target".log || true
done
echo "== fuzzing found nothing"
