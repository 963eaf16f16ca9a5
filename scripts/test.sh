#!/usr/bin/env bash
# Builds the program and its tools for Linux and Windows and runs every test:
# unit and end-to-end tests of both store switch settings, the Windows build
# under Wine (the 32-bit one we ship, or where this machine runs no 32-bit
# program the 64-bit one under wine64), the packages made of those builds, the
# whole suite again under sanitizers, and the fuzzers.
# On a fresh Debian machine it first installs what it needs (run it as root).
#   scripts/test.sh [FUZZ_SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
need_packages build e2e windows zip package package-check fuzz

# The Linux tests build the Windows presets this machine runs first, as their
# fixture windows.builds, and run those builds under Wine.
echo "== Linux build, store switch off (as shipped); all tests, the Windows builds and their runs under Wine among them"
cmake --preset linux
echo "== Windows: $(cat build/linux/tests/windows-under-wine.txt)"
cmake --build --preset linux
ctest --preset linux

echo "== Linux build, store switch on"
cmake --preset linux-store
cmake --build --preset linux-store
ctest --preset linux-store -R BuiltProgram

echo "== Packages of those builds: the .deb installed, run and removed, the Windows zips listed"
bash tests/package/check.sh

echo "== Linux build with address and undefined-behaviour sanitizers; all tests"
cmake --preset linux-asan
cmake --build --preset linux-asan
ctest --preset linux-asan -LE wine

echo "== Fuzzing"
bash scripts/fuzz.sh "${1:-60}"
