#!/bin/sh
# The Wine prefix the Wine tests share, as a test fixture: `setup` makes it
# (Wine's first start takes a while) and leaves its wineserver running, warm,
# with the prefix's services started; `cleanup` stops them.
# Without Wine it fails, and with it every test that needs the prefix.
# WINE and WINESERVER_COMMAND name the loader and server the tests use
# (default: Debian's wine and wineserver).
#
# Usage: tests/wine/prefix.sh setup|cleanup <prefix dir>
set -u
action=${1:?usage: prefix.sh setup|cleanup <prefix dir>}
export WINEPREFIX=${2:?usage: prefix.sh setup|cleanup <prefix dir>} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=${WINE:-wine} wineserver=${WINESERVER_COMMAND:-wineserver}
for tool in "$wine" "$wineserver" timeout; do
    command -v "$tool" >/dev/null || { echo "prefix: $tool is not installed" >&2; exit 1; }
done
case $action in
setup)
    mkdir -p "$(dirname "$WINEPREFIX")"
    # A wineserver an interrupted run left running would never end by itself.
    [ -d "$WINEPREFIX" ] && timeout 20 "$wineserver" -k 2>/dev/null
    timeout 180 "$wine" wineboot -i >/dev/null 2>&1 || { echo "prefix: wineboot failed" >&2; exit 1; }
    # The registry files are written when the wineserver ends.
    timeout 60 "$wineserver" -w
    [ -f "$WINEPREFIX/system.reg" ] || { echo "prefix: no prefix made at $WINEPREFIX" >&2; exit 1; }
    # A wineserver started by a test's program would take on that program's
    # limits (a file size limit makes it fail to save the registry, or crash),
    # and the first program of a fresh one waits for the services to start.
    # So one runs from now until the cleanup, the services started by a
    # program that ends at once. Neither holds this script's output open.
    "$wineserver" -p </dev/null >/dev/null 2>&1 || { echo "prefix: the wineserver did not start" >&2; exit 1; }
    timeout 60 "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || { echo "prefix: no program runs" >&2; exit 1; }
    echo "prefix: ready at $WINEPREFIX, its wineserver running" ;;
cleanup)
    [ -d "$WINEPREFIX" ] && timeout 20 "$wineserver" -k 2>/dev/null
    exit 0 ;;
*)
    echo "usage: prefix.sh setup|cleanup <prefix dir>" >&2; exit 2 ;;
esac
