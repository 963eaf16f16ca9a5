#!/usr/bin/python3
"""Reads qkvdump's exports with the field's own readers and checks them
against the data files and the .NAV lines, read here independently:
  check_exports.py csv PINGS.csv NAVFILE        (pandas)
  check_exports.py geojson TRACK.geojson PINGS.csv  (json)
  check_exports.py netcdf OUT.nc OFFSET_SECONDS|nav:PINGS.csv QKV...  (netCDF4, xarray)
  check_exports.py xyz SOUNDINGS.xyz PINGS.csv   (pandas)
  check_exports.py reduced PINGS.csv NAVFILE LEVELS.csv  (pandas: the depths reduced with the options of
      test_exports.cpp's ReducedDepthsSayTheirReferenceAndCorrections)
The CSV's depth_m, where it has one, is the depth every other export must give, and its reduction's columns
each export's.
Prints "ok" and exits 0, or says what differs and exits 1."""
import datetime
import json
import sys

import numpy as np
import pandas

RECORD, SAMPLES, COUNT = 8192, 112, 8000
REDUCED = ["depth_reference", "below_transducer_m", "sound_speed_m", "draft_m", "heave_m", "water_level_m", "roll_deg",
           "pitch_deg", "flag"]
FLAGS = "no_bottom rejected outside_gates spike low_quality no_position no_heading no_heave no_water_level".split()
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
                ("depth_m", "depth_quality") if "depth_m" in rows.columns else ()) + tuple(
                name for name in REDUCED if name in rows.columns):
            csv_value = getattr(row, name)
            if isinstance(csv_value, str) or name == "flag":
                if p[name] != ("" if pandas.isna(csv_value) else csv_value):
                    fail("record %d: %s %r, want %r" % (row.record, name, p[name], csv_value))
                continue
            if (p[name] is None) != bool(np.isnan(csv_value)) or (p[name] is not None and p[name] != csv_value):
                fail("record %d: %s %s, want %s" % (row.record, name, p[name], csv_value))
    print("ok %d features" % len(features))


def check_xyz(xyz_path, csv_path):
    """One line "lon lat depth" for each ping with a position and a depth, as pandas reads delimited text."""
    soundings = pandas.read_csv(xyz_path, sep=r"\s+", header=None, names=["lon", "lat", "depth"])
    rows = pandas.read_csv(csv_path).dropna(subset=["lat", "depth_m"])
    if "flag" in rows.columns:
        rows = rows[rows.flag.isna()]  # the flagged soundings are left out
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
    if nav is not None and "flag" in nav.columns:
        check_reduced_netcdf(ds, nav)


def check_reduced_netcdf(ds, nav):
    """The reference in CF's attributes, the corrections as variables equal to the CSV's columns, and the flags as
    CF's flag_masks and flag_meanings whose bits name the CSV's flags."""
    depth, flag = ds["depth"], ds["flag"]
    reference = nav["depth_reference"].iloc[0]
    if (depth.attrs.get("depth_reference") != reference or ds.attrs.get("depth_reference") != reference or
            reference not in depth.attrs.get("long_name", "") or "standard_name" in depth.attrs):
        fail("depth attributes %s, global %s" % (depth.attrs, ds.attrs))
    if list(flag.attrs["flag_masks"]) != [1 << bit for bit in range(len(FLAGS))] or \
            flag.attrs["flag_meanings"].split() != FLAGS:
        fail("flag attributes %s" % flag.attrs)
    for name in REDUCED[1:-1]:
        got, want = ds[name].values, nav[name].values
        tolerance = 6e-4  # the CSV's last decimal
        if not np.array_equal(np.isnan(got), np.isnan(want)) or np.nanmax(abs(got - want)) > tolerance:
            fail("%s %s, want %s" % (name, got, want))
    for bits, words in zip(flag.values, nav["flag"].fillna("")):
        if [FLAGS[bit] for bit in range(len(FLAGS)) if int(bits) >> bit & 1] != (words.split("|") if words else []):
            fail("flag %d, want %r" % (bits, words))


def nav_sensors(path):
    """The motion sensor's samples ($PASHR: heave, roll, pitch) and the heading sensor's ($--HDT), by their lines'
    stamps in ms UTC."""
    motion, heading = [], []
    for line in open(path, encoding="ascii"):
        stamp, sentence = line.rstrip("\n").split(" ", 1)
        ms = round(datetime.datetime.fromisoformat(stamp).timestamp() * 1000)
        fields = sentence.split("*")[0].split(",")
        if fields[0] == "$PASHR":
            motion.append((ms, float(fields[6]), float(fields[4]), float(fields[5])))
        elif fields[0].endswith("HDT"):
            heading.append((ms, float(fields[1])))
    return motion, heading


def interpolated(samples, ms, column, gap):
    """A sample's value at ms, linearly between the two around it when at most gap apart; None otherwise."""
    for before, after in zip(samples, samples[1:]):
        if before[0] <= ms <= after[0] and after[0] - before[0] <= gap:
            share = (ms - before[0]) / (after[0] - before[0])
            return before[column] + share * (after[column] - before[column])
    return None


def check_reduced(csv_path, nav_path, levels_path):
    """Each ping reduced as the options given ask: 1470 m/s, a draft of 0.5 m, the sensor's heave (none past 1.5 s
    from a sample), the gauge's level, the transducer 2 m ahead of the antenna on the heading sensor's heading, and
    the flags the edits and the pings ask for."""
    rows = pandas.read_csv(csv_path, dtype={"time_utc": str, "flag": str})
    fixes, _ = nav_fixes(nav_path)
    motion, heading = nav_sensors(nav_path)
    levels = pandas.read_csv(levels_path, skipinitialspace=True)
    level_points = [(round(datetime.datetime.fromisoformat(t).replace(tzinfo=datetime.timezone.utc).timestamp() * 1000),
                     level) for t, level in zip(levels["Date Time"], levels["Water Level"])]
    counted = {}
    with_depth = 0
    for row in rows.itertuples():
        ms = round(datetime.datetime.fromisoformat(row.time_utc.replace("Z", "+00:00")).timestamp() * 1000)
        heave = interpolated(motion, ms, 1, 1500)
        level = interpolated([(t, v) for t, v in level_points], ms, 1, 3600 * 1000)
        want = dict(depth_reference="chart datum", draft_m=0.5, water_level_m=level,
                    sound_speed_m=row.below_transducer_m * (1470 / 1500 - 1),
                    heave_m=heave if heave is not None else float("nan"),
                    roll_deg=interpolated(motion, ms, 2, 1500), pitch_deg=interpolated(motion, ms, 3, 1500))
        for name, value in want.items():
            got = getattr(row, name)
            if isinstance(value, str) or value is None:
                if got != value and not (value is None and np.isnan(got)):
                    fail("record %d: %s %r, want %r" % (row.record, name, got, value))
            elif not (np.isnan(value) and np.isnan(got)) and abs(got - value) > 6e-4:
                fail("record %d: %s %s, want %s" % (row.record, name, got, value))
        ahead = interpolated(heading, ms, 1, 1500)
        flags = row.flag.split("|") if isinstance(row.flag, str) else []
        wanted_flags = sorted((["rejected"] if row.record == 5 else []) + (["spike"] if row.record == 18 else []) +
                              (["no_heave"] if heave is None else []) + (["no_heading"] if ahead is None else []),
                              key=FLAGS.index)
        if flags != wanted_flags:
            fail("record %d: flags %s, want %s" % (row.record, flags, wanted_flags))
        for word in flags:
            counted[word] = counted.get(word, 0) + 1
        depth = row.below_transducer_m + row.sound_speed_m + row.draft_m - row.heave_m - row.water_level_m
        if heave is None:
            depth = float("nan")
        if not (np.isnan(depth) and np.isnan(row.depth_m)) and abs(depth - row.depth_m) > 2e-3:
            fail("record %d: depth_m %s, want %s" % (row.record, row.depth_m, depth))
        with_depth += 0 if np.isnan(row.depth_m) else 1
        lat, lon, _, _ = expected_position(fixes, ms)
        if ahead is None:
            if not np.isnan(row.lat):
                fail("record %d: a sounding placed without a heading" % row.record)
            continue
        prime_vertical = 6378137.0 / np.sqrt(1 - 0.00669437999014 * np.sin(np.radians(lat)) ** 2)
        east = 2.0 * np.sin(np.radians(ahead))
        if abs(row.lat - lat) > 1e-7 or abs(row.lon - (lon + np.degrees(east / (prime_vertical *
                                                                             np.cos(np.radians(lat)))))) > 1e-7:
            fail("record %d: sounding at %s %s, the antenna at %s %s" % (row.record, row.lat, row.lon, lat, lon))
    print("ok %d pings reduced, %d with a depth below chart datum, flagged: %s" % (
        len(rows), with_depth, ", ".join("%s %d" % (word, counted[word]) for word in sorted(counted))))


if __name__ == "__main__":
    kind = sys.argv[1]
    if kind == "csv":
        check_csv(sys.argv[2], sys.argv[3])
    elif kind == "geojson":
        check_geojson(sys.argv[2], sys.argv[3])
    elif kind == "xyz":
        check_xyz(sys.argv[2], sys.argv[3])
    elif kind == "reduced":
        check_reduced(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        check_netcdf(sys.argv[2], sys.argv[3], sys.argv[4:])
