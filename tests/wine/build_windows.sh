#!/bin/sh
# Builds the Windows presets from this source tree, as a test fixture: every
# Wine test then runs the .exe made from the source as it is now, never one
# left from an earlier build. A build that cannot be made fails the fixture,
# and with it the tests that need it.
#
# Usage: tests/wine/build_windows.sh <source dir> <preset>...
set -eu
source_dir=${1:?usage: build_windows.sh <source dir> <preset>...}
shift
cd "$source_dir"
for preset in "$@"; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
