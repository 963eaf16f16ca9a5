#!/bin/sh
# Smoke test of the Windows build under Wine: the .exe reads its settings file,
# talks to the Linux head simulator over loopback, prints its trace with CR LF
# line ends, fails with "recv() failed!" when the head closes after two and a
# bit pings, waits for a key and exits with status 1. Every wait is bounded.
#
# Usage: tests/wine/smoke.sh <linux build dir> <Halvex_StoreData.exe>
# With WINEPREFIX set it uses that prefix as it is (the test fixture's, shared
# with other tests: its wineserver is left running); else one of its own.
# A missing tool or program fails it.
set -u

linux_build=${1:?usage: smoke.sh <linux build dir> <Halvex_StoreData.exe>}
exe=${2:?usage: smoke.sh <linux build dir> <Halvex_StoreData.exe>}
headsim="$linux_build/tools/headsim"
wine=${WINE:-wine} wineserver=${WINESERVER_COMMAND:-wineserver}
for tool in "$wine" "$wineserver" script timeout; do
    command -v "$tool" >/dev/null || { echo "smoke: $tool is not installed" >&2; exit 1; }
done
[ -x "$headsim" ] || { echo "smoke: no headsim at $headsim" >&2; exit 1; }
[ -f "$exe" ] || { echo "smoke: no program at $exe" >&2; exit 1; }
headsim=$(cd "$(dirname "$headsim")" && pwd)/headsim
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")

# A loopback address of this run's own, so parallel runs do not meet.
address="127.0.$(( ($$ / 250) % 200 + 40 )).$(( $$ % 250 + 2 ))"
work=$(mktemp -d "${TMPDIR:-/tmp}/halvex-wine-smoke.XXXXXX")
shared_prefix=${WINEPREFIX:+yes}
export WINEPREFIX="${WINEPREFIX:-$work/prefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
headsim_pid=""
failures=0

cleanup() {
    [ -n "$headsim_pid" ] && kill "$headsim_pid" 2>/dev/null
    [ -z "$shared_prefix" ] && timeout 20 "$wineserver" -k 2>/dev/null
    exec 3>&- 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 3" INT TERM HUP PIPE

fail() {
    echo "smoke: FAIL: $*" >&2
    failures=$((failures + 1))
}

# Waits up to $2 tenths of a second for file $1 to hold text $3, giving up
# early when process $4 has ended.
wait_for_text() {
    tries=0
    while ! grep -q -F -- "$3" "$1" 2>/dev/null; do
        tries=$((tries + 1))
        [ "$tries" -gt "$2" ] && return 1
        kill -0 "$4" 2>/dev/null || return 1
        sleep 0.1
    done
}

# Wine's first start builds the prefix; do it before the head is up.
[ -n "$shared_prefix" ] || timeout 180 "$wine" wineboot -i >/dev/null 2>&1 || { echo "smoke: wineboot failed" >&2; exit 2; }

cd "$work" || exit 2
printf '[Settings]\r\nIPAddress=%s\r\nRange=10\r\nGain=7\r\n' "$address" > Halvex_StoreData.INI

"$headsim" --address "$address" --ping-rate 0 --once --fault close@20 > headsim.log 2>&1 &
headsim_pid=$!
wait_for_text headsim.log 100 "listening on" "$headsim_pid" || { cat headsim.log >&2; echo "smoke: headsim did not start" >&2; exit 2; }

# The program's console is the pseudo-terminal that script(1) makes; its
# standard output goes to a file, so the bytes it wrote are seen unchanged.
mkfifo keys
timeout 120 script -qfec "'$wine' '$exe' > out.txt" /dev/null < keys > console.txt 2>&1 &
run_pid=$!
exec 3> keys
if wait_for_text out.txt 900 "Press any key to exit." "$run_pid"; then
    sleep 0.2
    printf 'x' >&3
else
    fail "no exit prompt within 90 s"
    kill "$run_pid" 2>/dev/null
fi
wait "$run_pid"
status=$?
exec 3>&-

[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
for text in "IP Address: $address" "Range:      10m" "Gain:       7dB" "--> Ping 2" "recv() failed!" \
            "Press any key to exit."; do
    grep -q -F -- "$text" out.txt || fail "no \"$text\" in the output"
done
grep -q -F -- "--> Ping 3" out.txt && fail "a third ping completed though the head closed at packet 20"
lines=$(grep -c '' out.txt)
crlf_lines=$(grep -c "$(printf '\r')\$" out.txt)
[ "$lines" -gt 10 ] && [ "$crlf_lines" -eq $((lines - 1)) ] ||
    fail "expected every line but the last to end in CR LF ($crlf_lines of $lines)"
grep -q "$(printf '\r\r')" out.txt && fail "a doubled CR in the output"
grep -q -F "IPAddress=$address" Halvex_StoreData.INI || fail "the settings file changed after a failure exit"

if [ "$failures" -ne 0 ]; then
    echo "---- program output" >&2
    cat out.txt >&2
    echo "---- console" >&2
    cat console.txt >&2
    echo "---- headsim" >&2
    cat headsim.log >&2
    exit 1
fi
echo "smoke: ok ($address, $(wc -c < out.txt) bytes of output, exit status 1 as expected)"
