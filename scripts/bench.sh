#!/usr/bin/env bash
# Builds the program and prints its performance figures against headsim on
# loopback, then those of qkvdump --follow on a data file, then navlog's, then
# the bottom picker's accuracy and speed on headsim's seabed and harder pings,
# then qkvdump's exports of a 1 GiB recording beside Python scripts doing the same,
# then a grid of a million soundings beside the script a user would write for it,
# then qkvweb's latency to the page (headless Chromium), CPU and memory.
#   scripts/bench.sh [PACKETS_PER_ROUND]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
need_packages build e2e
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
build/linux/bench/halvex_bench build/linux/Halvex_StoreData build/linux/variants/store-on/Halvex_StoreData \
    build/linux/tools/headsim build/linux/bench/libhalvex_count_alloc.so "$@"
build/linux/bench/follow_bench build/linux/tools/qkvdump
build/linux/bench/navlog_bench build/linux/tools/navlog build/linux/bench/libhalvex_count_alloc.so
build/linux/bench/depth_bench build/linux/tools/headsim
build/linux/bench/reduction_bench
bench/exports_bench.sh build/linux
bench/grid_bench.sh build/linux
python3 bench/web_bench.py build/linux/tools/qkvweb build/linux/bench/make_recording
build/linux/bench/coverage_bench
