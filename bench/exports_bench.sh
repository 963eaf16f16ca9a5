#!/usr/bin/env bash
# The speed of qkvdump's exports of a 1 GiB recording (131072 survey-like
# pings from bench/make_recording), the file in the page cache: --csv with and
# without --depth (the median of five runs each), --csv --nav --depth with and
# without every correction of the reduction (a .NAV file of bench/make_nav.py
# with a motion sensor at 20 Hz and a heading once a second, a tide series at
# six minutes, a cast, the transducer's offset, gates and an edit list of 220
# edits; the median of five runs each), --grid at 1 m beside --xyz (the pings
# on an area's lines of bench/make_nav.py; the median of five runs each), --png with and without --depth beside
# bench/png_reference.py (numpy and matplotlib), --netcdf beside
# bench/netcdf_reference.py (numpy and xarray), one run each; wall time and
# peak memory. The recording is kept in SCRATCH_DIR when given, for the next run.
#   bench/exports_bench.sh BUILD_DIR [SCRATCH_DIR]
set -euo pipefail
build=${1:?usage: exports_bench.sh BUILD_DIR [SCRATCH_DIR]}
if [ -n "${2:-}" ]; then
    scratch=$2
else
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT  # the recording made is 1 GiB
fi
bench=$(cd "$(dirname "$0")" && pwd)
qkvdump=$build/tools/qkvdump
recording=$scratch/survey.QKV
[ -s "$recording" ] || "$build/bench/make_recording" "$recording" 131072 survey
cat "$recording" >/dev/null

# "SECONDS MEMORY_KB" of one run of the command given.
timed() {
    /usr/bin/time -f '%e %M' -o "$scratch/time" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    cat "$scratch/time"
}
median_of_five() {
    for _ in 1 2 3 4 5; do timed "$@"; done | sort -n | sed -n 3p
}
show() {  # name, "seconds memory", output file or empty
    local size=""
    [ -n "${3:-}" ] && size=$(stat -c %s "$3" | awk '{printf ", %.1f MB", $1 / 1e6}')
    awk -v name="$1" -v size="$size" '{printf "%-34s %6.2f s, %4.0f MB of memory%s\n", name, $1, $2 / 1024, size}' <<<"$2"
}

echo "qkvdump's exports of a 1 GiB recording (131072 pings), in the page cache"
csv=$(median_of_five "$qkvdump" --csv "$recording")
depth=$(median_of_five "$qkvdump" --csv --depth "$recording")
show "--csv (median of 5)" "$csv"
show "--csv --depth (median of 5)" "$depth"
echo "$csv $depth" | awk '{printf "%-34s %6.2f\n", "ratio --csv --depth / --csv", $3 / $1}'
# The reduction: the lines and files of a survey for the recording's nine hours, from 08:59:50 local (UTC+01:00).
nav=$scratch/survey.NAV
[ -s "$nav" ] || /usr/bin/python3 "$bench/make_nav.py" "$nav" 2026-12-08T08:59:50 328000 motion
/usr/bin/python3 - "$scratch" <<'PYTHON'
import sys
scratch = sys.argv[1]
with open(scratch + "/tide.csv", "w") as tide:
    tide.write("time,level_m\n")
    for step in range(111):
        tide.write("2026-12-08T%02d:%02d:00Z,%.3f\n" % (7 + step // 10, step % 10 * 6, 1.5 + step % 20 * 0.05))
with open(scratch + "/cast.csv", "w") as cast:
    cast.write("depth_m,sound_speed_m_s\n" + "".join("%d,%.1f\n" % (z, 1490 - z * 0.4) for z in range(0, 40, 2)))
with open(scratch + "/edits.txt", "w") as edits:
    edits.write("edit-list 1\n" + "".join("reject survey.QKV %d a fish\n" % (600 * k + 7) for k in range(220)))
PYTHON
located=(--csv --nav "$nav" --depth --draft 0.6)
every=(--sound-speed-profile "$scratch/cast.csv" --water-level "$scratch/tide.csv" --datum "chart datum" --heave
       --antenna-offset 1.2,-0.4 --depth-gates 1,60 --edits "$scratch/edits.txt")
plain=$(median_of_five "$qkvdump" "${located[@]}" "$recording")
reduced=$(median_of_five "$qkvdump" "${located[@]}" "${every[@]}" "$recording")
show "--csv --nav --depth (median of 5)" "$plain"
show "  and every correction (median of 5)" "$reduced"
echo "$plain $reduced" | awk '{printf "%-34s %6.2f\n", "ratio every correction / none", $3 / $1}'
# The grid beside the soundings it bins: the same pings picked and located on an area's lines, binned at 1 m and
# written by GDAL (whose time follows the grid's extent: a day's straight run of 67 km would be gridded coarser).
area=$scratch/area.NAV
[ -s "$area" ] || /usr/bin/python3 "$bench/make_nav.py" "$area" 2026-12-08T08:59:50 328000 area
mapped=(--nav "$area" --depth --draft 0.6 --force)
soundings=$(median_of_five "$qkvdump" "${mapped[@]}" --xyz "$scratch/q.xyz" "$recording")
gridded=$(median_of_five "$qkvdump" "${mapped[@]}" --grid "$scratch/q.tif" --cell 1 "$recording")
show "--nav --depth --xyz (median of 5)" "$soundings" "$scratch/q.xyz"
show "--nav --depth --grid --cell 1 (median of 5)" "$gridded" "$scratch/q.tif"
echo "$soundings $gridded" | awk '{printf "%-34s %6.2f\n", "ratio --grid / --xyz", $3 / $1}'
for options in "" "--depth" "--depth --axes"; do
    # shellcheck disable=SC2086
    show "--png $options" "$(timed "$qkvdump" --png "$scratch/q.png" $options --force "$recording")" "$scratch/q.png"
done
show "numpy + matplotlib picture" "$(timed /usr/bin/python3 "$bench/png_reference.py" "$scratch/r.png" 1000 "$recording")" \
    "$scratch/r.png"
show "--netcdf" "$(timed "$qkvdump" --netcdf "$scratch/q.nc" --force "$recording")" "$scratch/q.nc"
show "--netcdf --depth" "$(timed "$qkvdump" --netcdf "$scratch/q.nc" --depth --force "$recording")" "$scratch/q.nc"
show "numpy + xarray netCDF file" "$(timed /usr/bin/python3 "$bench/netcdf_reference.py" "$scratch/r.nc" "$recording")" \
    "$scratch/r.nc"
rm -f "$scratch"/q.* "$scratch"/r.* "$scratch/time"
