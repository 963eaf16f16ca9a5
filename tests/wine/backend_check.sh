#!/bin/sh
# Builds tests/wine/backend_check.cpp with the Windows platform backend for
# 32-bit Windows and runs it under Wine from a pseudo-terminal (the console
# checks need a console), in a scratch directory with a Wine prefix of its own.
# Every wait is bounded. Exit status 0 when all checks pass.
#
# Usage: tests/wine/backend_check.sh [source dir]
# With WINEPREFIX set it uses that prefix as it is (shared with other tests:
# its wineserver is left running). Exit status 77 (skipped) when a tool is missing.
set -u

source_dir=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
for tool in i686-w64-mingw32-g++ wine wineboot wineserver script timeout; do
    command -v "$tool" >/dev/null || { echo "backend_check: $tool is not installed" >&2; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/halvex-wine-backend.XXXXXX")
shared_prefix=${WINEPREFIX:+yes}
export WINEPREFIX="${WINEPREFIX:-$work/prefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    [ -z "$shared_prefix" ] && timeout 20 wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 3" INT TERM HUP PIPE

i686-w64-mingw32-g++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -O2 -static -I"$source_dir" \
    "$source_dir/tests/wine/backend_check.cpp" "$source_dir/platform/fault.cpp" \
    "$source_dir/platform/address_text.cpp" \
    "$source_dir"/platform/win32/win32_*.cpp -lwsock32 -o "$work/backend_check.exe" || exit 2
[ -n "$shared_prefix" ] || timeout 180 wineboot -i >/dev/null 2>&1 || { echo "backend_check: wineboot failed" >&2; exit 2; }

mkdir "$work/run" && cd "$work/run" || exit 2
# The terminal's input stays open and silent: an end of input would reach the
# console as a typed Ctrl+D.
mkfifo keys
timeout 120 script -qfec "wine '$work/backend_check.exe' > report.txt" /dev/null < keys > console.txt 2>&1 &
run_pid=$!
exec 3> keys
wait "$run_pid"
status=$?
exec 3>&-
cat report.txt
[ "$status" -eq 0 ] || { echo "backend_check: exit status $status" >&2; exit 1; }
