#!/usr/bin/env bash
# The speed and memory of a grid of 1,000,000 soundings at 1 m (bench/grid_bench)
# beside the script a user would write for it (bench/grid_reference.py: pandas,
# pyproj, numpy, GDAL's Python), each run three times, the fastest shown with
# its stages; how many times the script takes what the gridding (projecting,
# binning, writing) takes; then whether the two grids agree cell for cell.
#   bench/grid_bench.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: grid_bench.sh BUILD_DIR}
bench=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$build/bench/grid_bench" --make "$scratch/soundings.xyz" 1000000
cat "$scratch/soundings.xyz" >/dev/null

# The fastest of three runs of a command: its output, then its wall and CPU time and peak memory.
fastest() {
    local best="" run
    for run in 1 2 3; do
        /usr/bin/time -f '%e %U %S %M' -o "$scratch/time" "$@" >"$scratch/said.$run" 2>&1 || {
            cat "$scratch/said.$run" >&2
            exit 1
        }
        echo "$(cat "$scratch/time") $run" >>"$scratch/times"
    done
    best=$(sort -n "$scratch/times" | head -1)
    rm -f "$scratch/times"
    cat "$scratch/said.${best##* }"
    awk '{printf "  %-34s %6.3f s wall, %6.3f s CPU, %4.0f MB of memory\n", "the whole run", $1, $2 + $3, $4 / 1024}' <<<"$best"
}

echo "A grid of 1,000,000 soundings at 1 m (the fastest of three runs)"
echo "grid_bench (PROJ, the grid's binning, GDAL):"
fastest "$build/bench/grid_bench" "$scratch/soundings.xyz" "$scratch/ours.tif" 1 | tee "$scratch/ours.said"
echo "the user's script (pandas, pyproj, numpy, GDAL's Python):"
fastest /usr/bin/python3 "$bench/grid_reference.py" "$scratch/soundings.xyz" "$scratch/theirs.tif" 1 |
    tee "$scratch/theirs.said"
# What qkvdump --grid adds to a run that has the soundings (projecting, binning, writing) beside the whole script.
awk '/gridding: the three together/ { ours = $(NF - 2) } /the whole run/ { theirs = $4 }
     END { printf "  the user'"'"'s script / gridding       %6.1f times\n", theirs / ours }' \
    "$scratch/ours.said" "$scratch/theirs.said"
/usr/bin/python3 "$bench/grid_reference.py" "$scratch/soundings.xyz" "$scratch/theirs.tif" 1 \
    --compare "$scratch/ours.tif" | tail -1
