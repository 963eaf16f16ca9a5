#!/usr/bin/env bash
# Makes every package in build/packages/ from the preset builds: the Debian
# packages halvex-storedata (the program as shipped, store switch off) and
# halvex-storedata-store (store switch on), and the 32-bit Windows zips of the
# same two. On a fresh Debian machine it first installs what it needs (run it
# as root).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
need_packages build package

rm -rf build/packages
for preset in linux linux-store win32 win32-store; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    cpack --preset "$preset"
done
rm -rf build/packages/_CPack_Packages
echo "== packages in build/packages:"
ls -l build/packages
