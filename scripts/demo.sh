#!/usr/bin/env bash
# Runs the program built with its store switch on against the simulated head
# on loopback (127.0.0.1:4040), in the directory build/demo. Press a key to stop
# it, then another to exit; the demo then checks the data file the run wrote
# with qkvdump, draws its echogram with the picked bottom, exports every
# ping's UTC time, position and depth to a CSV file, grids the depths with their
# contours and draws them as a map with qkvmap. Beside the run, navlog logs the
# simulated vessel's position, which headsim sends as NMEA over UDP to
# 127.0.0.1:10110, to the day's .NAV file. headsim pings at a head's pace, ten
# a second, over the seabed under its vessel, and writes each ping's true depth
# to build/demo/truth.csv (not with --replay). Options given to this script go
# to headsim.
set -euo pipefail
cd "$(dirname "$0")/.."

# The program reads its keys from the terminal: without one it could not be stopped.
if ! (: </dev/tty) 2>/dev/null; then
    echo "scripts/demo.sh: needs a terminal to type the keys that stop the program; run it from one" >&2
    exit 1
fi

. scripts/setup.sh
need_packages build

cmake --preset linux-store >/dev/null
cmake --build --preset linux-store --target Halvex_StoreData headsim qkvdump navlog qkvweb qkvmap >/dev/null
tools=build/linux-store/tools
demo=build/demo
mkdir -p $demo
[ -f $demo/Halvex_StoreData.INI ] ||
    printf '[Settings]\nIPAddress=127.0.0.1\nRange=30\nGain=3\n' >$demo/Halvex_StoreData.INI

nmea_port=10110
# In a session of its own navlog has no terminal, so the keys typed here all go to the program.
(cd $demo && exec setsid ../linux-store/tools/navlog --udp $nmea_port --bind 127.0.0.1 </dev/null >navlog.log 2>&1) &
navlog_pid=$!
truth=(--truth $demo/truth.csv)
for option in "$@"; do [ "$option" != --replay ] || truth=(); done  # a recording has no truth to tell
rm -f $demo/truth.csv
$tools/headsim --address 127.0.0.1 --nmea-udp $nmea_port --nmea-rate 2 "${truth[@]}" "$@" 2>$demo/headsim.log &
head_pid=$!
trap 'kill $head_pid $navlog_pid 2>/dev/null || true' EXIT
sleep 0.3
touch $demo/.run-started
(cd $demo && ../linux-store/Halvex_StoreData) || echo "(exit status $?)"
kill $head_pid 2>/dev/null || true
kill $navlog_pid 2>/dev/null || true
wait $navlog_pid 2>/dev/null || true

echo
data_file="$(find $demo -maxdepth 1 -name '*.QKV' -newer $demo/.run-started | head -n 1)"
if [ -z "$data_file" ]; then
    echo "This run wrote no data file. headsim's log: $demo/headsim.log"
    exit 1
fi
echo "== $tools/qkvdump $data_file"
$tools/qkvdump "$data_file" || echo "(qkvdump exit status $?)"
echo
echo "Data file:         $data_file"
picture="${data_file%.QKV}.png"
$tools/qkvdump --png "$picture" --axes --depth "$data_file" >/dev/null &&
    echo "Echogram:          $picture (the seabed, its picked depth in red, metres and UTC times in the margins)"
nav_file="$(find $demo -maxdepth 1 -name '*.NAV' -newer $demo/.run-started | head -n 1)"
if [ -n "$nav_file" ]; then
    pings_csv="${data_file%.QKV}.csv"
    $tools/qkvdump --csv --nav "$nav_file" --depth "$data_file" >"$pings_csv" 2>/dev/null &&
        echo "Pings:             $pings_csv (UTC time, position and depth of every ping)"
    # The survey's grid in cells of 2 m with a contour every metre, then drawn.
    grid="${data_file%.QKV}.tif" contours="${data_file%.QKV}-contours.geojson" map="${data_file%.QKV}-map.png"
    if $tools/qkvdump --nav "$nav_file" --grid "$grid" --contours "$contours" --interval 1 --cell 2 "$data_file" \
            >/dev/null 2>$demo/map.log && $tools/qkvmap "$grid" --contours "$contours" -o "$map" >/dev/null 2>>$demo/map.log; then
        echo "Grid:              $grid (cells of 2 m: the depths' mean, shoalest, count and spread)"
        echo "Contours:          $contours (the shoalest depths' lines every metre)"
        echo "Map:               $map (the grid's depths in colours, its contours, a legend and a scale)"
    else
        echo "No map of the grid: see $demo/map.log"
    fi
    echo "Position log:      $nav_file ($(wc -l <"$nav_file") sentences of the day, the last:"
    echo "                   $(tail -n 1 "$nav_file")"
else
    echo "navlog logged no position: see $demo/navlog.log"
fi
[ ! -f $demo/truth.csv ] || echo "True depths:       $demo/truth.csv ($(($(wc -l <$demo/truth.csv) - 1)) pings served)"
echo "Settings file:     $demo/Halvex_StoreData.INI"
echo "headsim's log:     $demo/headsim.log"
echo "navlog's status:   $demo/navlog.log"
echo
echo "Until a package is installed the programs are in the build, their manual pages in man/:"
echo "    export PATH=\"$PWD/build/linux-store:$PWD/$tools:\$PATH\"; man -l $PWD/man/qkvdump.1"
