#!/bin/sh
# Runs the Windows platform backend's checks (backend_check.exe, built by the
# Windows presets from tests/wine/backend_check.cpp) under Wine from a
# pseudo-terminal (the console checks need a console), in a scratch directory.
# Every wait is bounded. Exit status 0 when all checks pass.
#
# Usage: tests/wine/backend_check.sh <backend_check.exe>
# With WINEPREFIX set it uses that prefix as it is (shared with other tests:
# its wineserver is left running).
set -u

exe=${1:?usage: backend_check.sh <backend_check.exe>}
wine=${WINE:-wine} wineserver=${WINESERVER_COMMAND:-wineserver}
for tool in "$wine" "$wineserver" script timeout; do
    command -v "$tool" >/dev/null || { echo "backend_check: $tool is not installed" >&2; exit 1; }
done
[ -f "$exe" ] || { echo "backend_check: no program at $exe" >&2; exit 1; }
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")

work=$(mktemp -d "${TMPDIR:-/tmp}/halvex-wine-backend.XXXXXX")
shared_prefix=${WINEPREFIX:+yes}
export WINEPREFIX="${WINEPREFIX:-$work/prefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    [ -z "$shared_prefix" ] && timeout 20 "$wineserver" -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 3" INT TERM HUP PIPE

[ -n "$shared_prefix" ] || timeout 180 "$wine" wineboot -i >/dev/null 2>&1 || { echo "backend_check: wineboot failed" >&2; exit 2; }

mkdir "$work/run" && cd "$work/run" || exit 2
# The terminal's input stays open and silent: an end of input would reach the
# console as a typed Ctrl+D.
mkfifo keys
timeout 120 script -qfec "'$wine' '$exe' > report.txt" /dev/null < keys > console.txt 2>&1 &
run_pid=$!
exec 3> keys
wait "$run_pid"
status=$?
exec 3>&-
cat report.txt
[ "$status" -eq 0 ] || { echo "backend_check: exit status $status" >&2; exit 1; }
