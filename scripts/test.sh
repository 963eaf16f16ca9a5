#!/usr/bin/env bash
# Builds the program and its tools and runs every test. On a fresh Debian
# machine it first installs what it needs (run it as root there).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
need_packages build e2e

echo "== Linux build, store switch off (as shipped); all tests"
cmake --preset linux
cmake --build --preset linux
ctest --preset linux

echo "== Linux build, store switch on"
cmake --preset linux-store
cmake --build --preset linux-store
ctest --preset linux-store -R BuiltProgram

echo "== Linux build with address and undefined-behaviour sanitizers; all tests"
cmake --preset linux-asan
cmake --build --preset linux-asan
ctest --preset linux-asan
