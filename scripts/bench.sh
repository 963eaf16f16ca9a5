#!/usr/bin/env bash
# Builds the program and prints its performance figures against headsim on loopback.
#   scripts/bench.sh [PACKETS]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
need_packages build
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
build/linux/bench/halvex_bench build/linux/Halvex_StoreData build/linux/tools/headsim "$@"
