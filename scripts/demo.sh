#!/usr/bin/env bash
# Runs the program against the simulated head on loopback (127.0.0.1:4040),
# in the directory build/demo. Press a key to stop it, then another to exit.
# Options given to this script go to headsim (default: --delay-ms 50).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
need_packages build

cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
mkdir -p build/demo
[ -f build/demo/Halvex_StoreData.INI ] ||
    printf '[Settings]\nIPAddress=127.0.0.1\nRange=30\nGain=3\n' >build/demo/Halvex_StoreData.INI

[ $# -gt 0 ] || set -- --delay-ms 50
build/linux/tools/headsim --address 127.0.0.1 "$@" 2>build/demo/headsim.log &
head_pid=$!
trap 'kill $head_pid 2>/dev/null || true' EXIT
sleep 0.3
cd build/demo
../linux/Halvex_StoreData || echo "(exit status $?)"
