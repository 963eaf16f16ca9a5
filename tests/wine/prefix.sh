#!/bin/sh
# The Wine prefix the Wine tests share, as a test fixture: `setup` makes it
# (Wine's first start takes a while), `cleanup` stops its wineserver.
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
    timeout 180 "$wine" wineboot -i >/dev/null 2>&1 || { echo "prefix: wineboot failed" >&2; exit 1; }
    # The registry files are written when the wineserver ends.
    timeout 60 "$wineserver" -w
    [ -f "$WINEPREFIX/system.reg" ] || { echo "prefix: no prefix made at $WINEPREFIX" >&2; exit 1; }
    echo "prefix: ready at $WINEPREFIX" ;;
cleanup)
    [ -d "$WINEPREFIX" ] && timeout 20 "$wineserver" -k 2>/dev/null
    exit 0 ;;
*)
    echo "usage: prefix.sh setup|cleanup <prefix dir>" >&2; exit 2 ;;
esac
