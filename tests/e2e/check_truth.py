#!/usr/bin/python3
"""Reads headsim's --truth file with pandas and the track it sent (its NMEA
sentences as received) with gpsbabel, and checks them against each other:
  check_truth.py TRUTH.csv TRACK.nmea PINGS RATE
the truth of PINGS pings served at RATE a second, each at the position the
track gives for its time, its depth within the seabed's bounds for its range
(its first columns; those a reduction needs, after them, are not read here).
Prints "ok" and exits 0, or says what is wrong and exits 1."""
import math
import subprocess
import sys
import tempfile

import pandas

COLUMNS = ["ping", "time_utc", "latitude", "longitude", "range_m", "depth_m", "school_top_m", "school_bottom_m"]
METRES_PER_DEGREE = 1852 * 60


def fail(text):
    print(text)
    sys.exit(1)


def track_of(nmea_path):
    """The fixes gpsbabel reads from the sentences: UTC time, latitude, longitude."""
    with tempfile.NamedTemporaryFile(suffix=".csv") as out:
        subprocess.run(["gpsbabel", "-t", "-i", "nmea", "-f", nmea_path, "-o", "unicsv", "-F", out.name], check=True)
        fixes = pandas.read_csv(out.name)
    fixes["when"] = pandas.to_datetime(fixes.Date + " " + fixes.Time, format="%Y/%m/%d %H:%M:%S.%f", utc=True)
    return fixes


def metres_between(lat, lon, lat2, lon2):
    return math.hypot((lat2 - lat) * METRES_PER_DEGREE,
                      (lon2 - lon) * METRES_PER_DEGREE * math.cos(math.radians(lat)))


def check(truth_path, nmea_path, pings, rate):
    truth = pandas.read_csv(truth_path)
    if list(truth.columns[:len(COLUMNS)]) != COLUMNS:
        fail("columns %s" % list(truth.columns))
    if list(truth.ping) != list(range(1, pings + 1)):
        fail("pings %s" % list(truth.ping))
    when = pandas.to_datetime(truth.time_utc, format="%Y-%m-%dT%H:%M:%S.%fZ", utc=True)
    gaps = when.diff().dt.total_seconds()[1:]
    if gaps.min() < 0.9 / rate:
        fail("pings %.3f s apart, at %d a second" % (gaps.min(), rate))
    for row in truth.itertuples():
        shallowest, deepest = max(1.0, 0.15 * row.range_m), 0.85 * row.range_m
        if not math.isnan(row.depth_m) and not shallowest - 1e-3 <= row.depth_m <= deepest + 1e-3:
            fail("ping %d: depth %s outside %s to %s m" % (row.ping, row.depth_m, shallowest, deepest))
        school = (row.school_top_m, row.school_bottom_m)
        if not (all(map(math.isnan, school)) or school[0] < school[1] < row.depth_m):
            fail("ping %d: school %s above a bottom at %s" % (row.ping, school, row.depth_m))
    fixes = track_of(nmea_path)
    worst = 0.0
    for row, at in zip(truth.itertuples(), when):
        after = fixes[fixes.when >= at].head(1)
        before = fixes[fixes.when < at].tail(1)
        if after.empty or before.empty:
            fail("ping %d at %s: no fix on both sides" % (row.ping, at))
        b, a = before.iloc[0], after.iloc[0]
        share = (at - b.when) / (a.when - b.when)
        lat = b.Latitude + share * (a.Latitude - b.Latitude)
        lon = b.Longitude + share * (a.Longitude - b.Longitude)
        worst = max(worst, metres_between(lat, lon, row.latitude, row.longitude))
    if worst > 1.0:
        fail("a ping %.2f m from the track at its time" % worst)
    print("ok %d pings, %d with a bottom" % (len(truth), truth.depth_m.notna().sum()))


if __name__ == "__main__":
    check(sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
