#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time from a copy of its
# seed corpus. Fails when any target crashes or a sanitizer reports anything.
# Call: scripts/fuzz.sh [SECONDS_PER_TARGET] (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
need_packages build fuzz

seconds="${1:-60}"
case "$seconds" in
'' | *[!0-9]* | 0) echo "fuzz.sh: seconds per target must be a whole number above 0, not \"$seconds\"" >&2; exit 2 ;;
esac

targets=(fuzz_return_packets fuzz_profile fuzz_scan fuzz_depth)

echo "== fuzz build"
cmake --preset fuzz
cmake --build --preset fuzz --target "${targets[@]}"

# Any report from either sanitizer, or a leak, ends the run with a failure.
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

failed=()
for target in "${targets[@]}"; do
    echo "== $target, ${seconds} s"
    mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
    cp tests/fuzz/corpus/"$target"/* "$work/$target/corpus/"
    # The fuzzer's running log stays in a file; its last lines are shown on a failure.
    if build/fuzz/tests/fuzz/"$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/$target/artifacts/" "$work/$target/corpus" >"$work/$target/log" 2>&1; then
        grep -E "DONE|^Done" "$work/$target/log" || true
    else
        tail -n 60 "$work/$target/log"
        failed+=("$target")
        for artifact in "$work/$target/artifacts"/*; do
            [ -e "$artifact" ] || continue
            echo "== $target failed on this input (base64):"
            base64 "$artifact"
        done
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "== fuzzing failed: ${failed[*]}"
    exit 1
fi
echo "== fuzzing passed: ${targets[*]}"
