#!/usr/bin/python3
"""Reads qkvdump's exports with the field's own readers and checks them
against the data files and the .NAV lines, read here independently:
  check_exports.py csv PINGS.csv NAVFILE        (pandas)
  check_exports.py geojson TRACK.geojson PINGS.csv  (json)
  check_exports.py netcdf OUT.nc OFFSET_SECONDS|nav:PINGS.csv QKV...  (netCDF4, xarray)
  check_exports.py xyz SOUNDINGS.xyz PINGS.csv   (pandas)
The CSV's depth_m, where it has one, is the depth every other export must give.
Prints "ok" and exits 0, or says what differs and exits 1."""
import datetime
import json
import sys

import numpy as np
import pandas

RECORD, SAMPLES, COUNT = 8192, 112, 8000
MONTHS = "JAN FEB MAR APR MAY JUN JUL AUG SEP OCT NOV DEC".split()


def fail(text):
    print(text)
    sys.exit(1)


def local_ms(date, time):
    day, month, year = date.split("-")
    clock = datetime.datetime.strptime(time, "%H:%M:%S.%f")
    when = datetime.datetime(int(year), MONTHS.index(month) + 1, int(day), clock.hour, clock.minute, clock.second,
                             clock.microsecond, tzinfo=datetime.timezone.utc)
    return round(when.timestamp() * 1000)


def nav_fixes(path):
    """The fixes of navlog's lines: stamp (ms UTC), offset, lat, lon, quality, motion, by the sentences' time of day;
    with the decimals of degrees the positions deserve: two more than the receiver's of minutes, 7 at least."""
    fixes = []
    decimals = 7
    for line in open(path, encoding="ascii"):
        try:
            stamp, sentence = line.rstrip("\r\n").split(" ", 1)
            when = datetime.datetime.fromisoformat(stamp)
        except ValueError:
            continue  # no line of navlog's
        fields = sentence.split("*")[0].split(",")
        kind = fields[0][-3:]
        if kind not in ("GGA", "RMC"):
            continue
        first = 2 if kind == "GGA" else 3
        lat = int(fields[first][:2]) + float(fields[first][2:]) / 60
        lat = -lat if fields[first + 1] == "S" else lat
        lon = int(fields[first + 2][:3]) + float(fields[first + 2][3:]) / 60
        lon = -lon if fields[first + 3] == "W" else lon
        quality = int(fields[6]) if kind == "GGA" else (1 if fields[2] == "A" else 0)
        quality = 0 if quality in (7, 8) else quality  # entered by hand, simulated: no measurement
        decimals = max(decimals, len(fields[first].split(".")[-1]) + 2, len(fields[first + 2].split(".")[-1]) + 2)
        motion = (float(fields[7]), float(fields[8])) if kind == "RMC" else None
        ms = round(when.timestamp() * 1000)
        offset = when.utcoffset().total_seconds()
        if fixes and fixes[-1]["tod"] == fields[1]:
            fix = fixes[-1]
            if kind == "GGA":
                fix.update(lat=lat, lon=lon, quality=quality)
            fix["motion"] = fix["motion"] or motion
        else:
            fixes.append(dict(tod=fields[1], ms=ms, offset=offset, lat=lat, lon=lon, quality=quality, motion=motion))
    return fixes, decimals


def expected_position(fixes, ping_ms):
    before = [f for f in fixes if f["ms"] <= ping_ms]
    after = [f for f in fixes if f["ms"] > ping_ms]
    if before and before[-1]["ms"] == ping_ms and before[-1]["quality"] > 0:
        return before[-1]["lat"], before[-1]["lon"], before[-1], 0
    if not before or not after:
        return None
    b, a = before[-1], after[0]
    if ping_ms - b["ms"] > 10000 or a["ms"] - ping_ms > 10000 or b["quality"] == 0 or a["quality"] == 0:
        return None
    f = (ping_ms - b["ms"]) / (a["ms"] - b["ms"])
    nearer = a if a["ms"] - ping_ms < ping_ms - b["ms"] else b
    return b["lat"] + f * (a["lat"] - b["lat"]), b["lon"] + f * (a["lon"] - b["lon"]), nearer, abs(nearer["ms"] - ping_ms)


def check_csv(csv_path, nav_path):
    rows = pandas.read_csv(csv_path, dtype={"date": str, "time": str, "time_utc": str})
    want = ["file", "record", "date", "time", "gain_db", "range_field", "interval_ms", "end_byte", "time_utc", "lat",
            "lon", "fix_quality", "fix_age_ms", "speed_kn", "course_deg", "range_m"]
    if "depth_m" in rows.columns:
        want += ["depth_m", "depth_quality"]
        if rows.depth_m.notna().sum() == 0 or ((rows.depth_quality > 0) != rows.depth_m.notna()).any():
            fail("depths %s qualities %s" % (list(rows.depth_m), list(rows.depth_quality)))
    if list(rows.columns) != want:
        fail("columns %s" % list(rows.columns))
    if (abs(rows.range_m - rows.range_field * 10 / 6) > 1e-3).any():
        fail("range_m %s" % list(rows.range_m))
    fixes, decimals = nav_fixes(nav_path)
    tolerance = 0.6 * 10 ** -decimals  # the CSV's last decimal
    offset = fixes[0]["offset"]
    located = 0
    for row in rows.itertuples():
        ping_ms = local_ms(row.date, row.time) - round(offset * 1000)
        utc = datetime.datetime.fromtimestamp(ping_ms / 1000, datetime.timezone.utc)
        if row.time_utc != utc.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (ping_ms % 1000):
            fail("record %d: time_utc %s, want %s" % (row.record, row.time_utc, utc))
        position = expected_position(fixes, ping_ms)
        if position is None:
            if not (np.isnan(row.lat) and np.isnan(row.lon) and np.isnan(row.fix_quality)):
                fail("record %d: a position where there is none" % row.record)
            continue
        lat, lon, nearer, age = position
        if abs(row.lat - lat) > tolerance or abs(row.lon - lon) > tolerance:
            fail("record %d: %.12f %.12f, want %.12f %.12f" % (row.record, row.lat, row.lon, lat, lon))
        if row.fix_quality != nearer["quality"] or row.fix_age_ms != age:
            fail("record %d: quality %s age %s, want %s %s" % (row.record, row.fix_quality, row.fix_age_ms,
                                                               nearer["quality"], age))
        if nearer["motion"] and (row.speed_kn != nearer["motion"][0] or row.course_deg != nearer["motion"][1]):
            fail("record %d: speed %s course %s" % (row.record, row.speed_kn, row.course_deg))
        located += 1
    print("ok %d of %d pings located" % (located, len(rows)))


def check_geojson(track_path, csv_path):
    track = json.load(open(track_path, encoding="utf-8"))
    rows = pandas.read_csv(csv_path, dtype={"time_utc": str}).dropna(subset=["lat"])
    features = track["features"]
    if track["type"] != "FeatureCollection" or len(features) != len(rows):
        fail("%d features for %d pings with a position" % (len(features), len(rows)))
    for feature, row in zip(features, rows.itertuples()):
        lon, lat = feature["geometry"]["coordinates"]
        p = feature["properties"]
        if feature["geometry"]["type"] != "Point" or abs(lat - row.lat) > 1e-9 or abs(lon - row.lon) > 1e-9:
            fail("record %d: %s" % (row.record, feature))
        if (p["file"], p["record"], p["time_utc"], p["gain_db"], p["interval_ms"]) != (
                row.file, row.record, row.time_utc, row.gain_db, row.interval_ms):
            fail("record %d: properties %s" % (row.record, p))
        if abs(p["range_m"] - row.range_m) > 1e-3:
            fail("record %d: range %s" % (row.record, p["range_m"]))
        for name in ("fix_quality", "fix_age_ms", "speed_kn", "course_deg") + (
                ("depth_m", "depth_quality") if "depth_m" in rows.columns else ()):
            csv_value = getattr(row, name)
            if (p[name] is None) != bool(np.isnan(csv_value)) or (p[name] is not None and p[name] != csv_value):
                fail("record %d: %s %s, want %s" % (row.record, name, p[name], csv_value))
    print("ok %d features" % len(features))


def check_xyz(xyz_path, csv_path):
    """One line "lon lat depth" for each ping with a position and a depth, as pandas reads delimited text."""
    soundings = pandas.read_csv(xyz_path, sep=r"\s+", header=None, names=["lon", "lat", "depth"])
    rows = pandas.read_csv(csv_path).dropna(subset=["lat", "depth_m"])
    if len(soundings) != len(rows) or len(rows) == 0:
        fail("%d soundings for %d pings with a position and a depth" % (len(soundings), len(rows)))
    for sounding, row in zip(soundings.itertuples(), rows.itertuples()):
        if abs(sounding.lon - row.lon) > 0.6e-7 or abs(sounding.lat - row.lat) > 0.6e-7 or sounding.depth != row.depth_m:
            fail("record %d: %s, want %s %s %s" % (row.record, sounding, row.lon, row.lat, row.depth_m))
    print("ok %d soundings" % len(soundings))


def records_of(paths):
    for index, path in enumerate(paths):
        data = np.fromfile(path, dtype=np.uint8)
        for number, record in enumerate(data[: data.size // RECORD * RECORD].reshape(-1, RECORD), 1):
            yield index, number, record


def check_netcdf(nc_path, basis, paths):
    import netCDF4
    import xarray

    nc = netCDF4.Dataset(nc_path)
    ds = xarray.open_dataset(nc_path, decode_times=False)
    decoded = xarray.open_dataset(nc_path)
    if list(nc.source_files) != paths if not isinstance(nc.source_files, str) else [nc.source_files] != paths:
        fail("source_files %s" % nc.source_files)
    nav = None
    if basis.startswith("nav:"):
        nav = pandas.read_csv(basis[4:], dtype={"date": str, "time": str, "time_utc": str})
    for n, (index, number, record) in enumerate(records_of(paths)):
        date = bytes(record[8:19]).decode()
        time = bytes(record[20:28]).decode() + bytes(record[29:32]).decode()
        if nav is not None:
            row = nav.iloc[n]
            want_ms = round(datetime.datetime.fromisoformat(row.time_utc.replace("Z", "+00:00")).timestamp() * 1000)
        else:
            want_ms = local_ms(date, time) - int(basis) * 1000
        for reader, time_value in (("netCDF4", nc["time"][n]), ("xarray", ds["time"].values[n])):
            if abs(float(time_value) * 1000 - want_ms) > 1e-3:
                fail("%s: ping %d time %r, want %d ms" % (reader, n, time_value, want_ms))
        decoded_ms = decoded["time"].values[n].astype("datetime64[ms]").astype(np.int64)
        if abs(int(decoded_ms) - want_ms) > 1:
            fail("xarray decoded: ping %d time %s" % (n, decoded["time"].values[n]))
        want = dict(gain_db=record[38], range_m=record[44] * 10 / 6, interval_ms=record[88] * 256 + record[89],
                    file_index=index, record=number)
        for name, value in want.items():
            for reader, got in (("netCDF4", nc[name][n]), ("xarray", ds[name].values[n])):
                if abs(float(got) - value) > 1e-4:
                    fail("%s: ping %d %s %s, want %s" % (reader, n, name, got, value))
        if not (np.array_equal(np.asarray(nc["samples"][n]), record[SAMPLES:SAMPLES + COUNT]) and
                np.array_equal(ds["samples"].values[n], record[SAMPLES:SAMPLES + COUNT])):
            fail("ping %d: samples differ" % n)
        if nav is not None:
            row = nav.iloc[n]
            for name in ("lat", "lon", "fix_quality"):
                got = float(ds[name].values[n])
                if not (np.isnan(got) and np.isnan(row[name])) and abs(got - row[name]) > 0.6e-7:
                    fail("ping %d: %s %s, want %s" % (n, name, got, row[name]))
    if nc.dimensions["ping"].size != n + 1 or not nc.dimensions["ping"].isunlimited():
        fail("ping dimension %s" % nc.dimensions["ping"])
    check_coordinates(decoded, nav)
    print("ok %d pings" % (n + 1))


def check_coordinates(ds, nav):
    """time (and lat, lon with a position) are coordinates of every variable along ping, time selects pings once
    indexed; sample is the distance in metres where one range serves all pings, else each ping's distance is in
    distance; the depth is the CSV's."""
    wanted = {"time", "lat", "lon"} if nav is not None else {"time"}
    if not wanted <= set(ds.coords) or not wanted <= set(ds["samples"].coords):
        fail("coordinates %s" % list(ds.coords))
    at = ds.set_xindex("time").sel(time=ds["time"].values[-1])
    if int(at["record"].values.flat[0]) != int(ds["record"].values[-1]):
        fail("sel(time=...) gives record %s" % at["record"].values)
    ranges = ds["range_m"].values
    if np.all(ranges == ranges[0]):
        distance = ds["sample"].values
        if ds["sample"].attrs.get("units") != "m" or abs(distance[4000] - 4000 * ranges[0] / 8000) > 1e-4:
            fail("sample %s" % ds["sample"])
    elif abs(ds["distance"].values[-1][4000] - 4000 * ranges[-1] / 8000) > 1e-4:
        fail("distance %s" % ds["distance"].values[-1])
    if nav is not None and "depth_m" in nav.columns:
        depth = ds["depth"]
        if depth.attrs.get("positive") != "down" or depth.attrs.get("units") != "m":
            fail("depth attributes %s" % depth.attrs)
        got, want = depth.values, nav["depth_m"].values
        if not np.array_equal(np.isnan(got), np.isnan(want)) or np.nanmax(abs(got - want)) > 1e-3:
            fail("depth %s, want %s" % (got, want))
        if list(ds["depth_quality"].values) != list(nav["depth_quality"]):
            fail("depth_quality %s" % ds["depth_quality"].values)


if __name__ == "__main__":
    kind = sys.argv[1]
    if kind == "csv":
        check_csv(sys.argv[2], sys.argv[3])
    elif kind == "geojson":
        check_geojson(sys.argv[2], sys.argv[3])
    elif kind == "xyz":
        check_xyz(sys.argv[2], sys.argv[3])
    else:
        check_netcdf(sys.argv[2], sys.argv[3], sys.argv[4:])
