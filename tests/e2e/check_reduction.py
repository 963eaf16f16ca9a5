#!/usr/bin/python3
"""Reduces a recording of headsim's seabed to its datum, by the formulas of
docs/formats.md ("Depths reduced to a named reference") alone, and checks
the depths against headsim's truth and, where qkvdump reduced them, against
qkvdump's, ping by ping:
  check_reduction.py TRUTH.csv PINGS.csv DAY.NAV GAUGE.csv CAST.csv DRAFT FORWARD,STARBOARD
PINGS.csv is qkvdump's --csv --nav --depth of the recording: the distance
below the transducer is its below_transducer_m, or without the reduction's
columns its depth_m (qkvdump run without a draft). The antenna's position,
the heave and the heading come from the GGA, $PASHR and $--HDT of the .NAV
lines (read with pynmea2), the level from the gauge's file, the speed of
sound from the cast. A spike counts as flagged where it has a depth and the
median test flags it (and, reduced by qkvdump, its flag holds "spike"); one
without a depth was lost as no bottom, and fails. Prints the figures and
"ok", exit 0; or says what fails, exit 1."""
import sys

import numpy as np
import pandas
import pynmea2

DISTANCE = "below_transducer_m"   # qkvdump's unreduced distance below the transducer, beside its reduced depth_m
NOMINAL = 1500.0          # the head's speed of sound
HEAVE_GAP_S = 1.5         # the widest gap between a sensor's samples interpolated across
FIX_GAP_S = 20.0          # and between two fixes, each at most 10 s from the ping
LEVEL_GAP_S = 3600.0      # and between a level's points
SPIKE_SIDE, SPIKE_OTHERS, SPIKE_M, SPIKE_SHARE = 5, 4, 0.5, 0.05
A, F = 6378137.0, 1 / 298.257223563
E2 = F * (2 - F)


def seconds(times):
    since = pandas.to_datetime(times, utc=True) - pandas.Timestamp(0, tz="UTC")
    return np.asarray(since / pandas.Timedelta(seconds=1))


def interpolate(at, times, values, gap):
    """Linear between the samples around each time, NaN across a longer gap or outside them; of samples stamped
    alike (lines that arrived within a millisecond), the last."""
    order = np.argsort(times, kind="stable")
    times, values = times[order], values[order]
    last = np.append(times[1:] != times[:-1], True)
    times, values = times[last], values[last]
    after = np.clip(np.searchsorted(times, at), 1, len(times) - 1)
    inside = (at >= times[0]) & (at <= times[-1]) & ((times[after] - times[after - 1] <= gap) | np.isin(at, times))
    return np.where(inside, np.interp(at, times, values), np.nan)


def sensors(nav_path):
    """Heave, heading, latitude and longitude samples of the .NAV lines: (UTC seconds, value) each."""
    heave, heading, latitude, longitude = [], [], [], []
    for line in open(nav_path, encoding="ascii"):
        stamp, sentence = line.rstrip("\n").split(" ", 1)
        message = pynmea2.parse(sentence, check=True)
        if sentence[3:7] == "GGA," and int(message.gps_qual or 0) in range(1, 7):
            latitude.append((stamp, message.latitude))
            longitude.append((stamp, message.longitude))
        elif sentence.startswith("$PASHR,"):
            names = [field[0] for field in message.fields]  # pynmea2 names heave's attribute "heading"
            heave.append((stamp, float(message.data[names.index("Heave")])))
        elif sentence[3:7] == "HDT,":
            heading.append((stamp, float(message.heading)))
    return [(seconds([s for s, _ in samples]), np.array([v for _, v in samples]))
            for samples in (heave, heading, latitude, longitude)]


def through_cast(cast, draft, distance):
    """d = Z(T(draft) + d0 / 1500) - draft, the speed linear with depth between the cast's points."""
    z, c = cast.depth_m.to_numpy(), cast.sound_speed_m_s.to_numpy()
    g = np.append(np.diff(c) / np.diff(z), 0.0)
    def layer_time(i, dz):
        return np.where(g[i] == 0, dz / c[i], np.log1p(g[i] * dz / c[i]) / np.where(g[i] == 0, 1, g[i]))
    def layer_depth(i, dt):
        return np.where(g[i] == 0, c[i] * dt, c[i] * np.expm1(g[i] * dt) / np.where(g[i] == 0, 1, g[i]))
    t = np.concatenate([[z[0] / c[0]], z[0] / c[0] + np.cumsum(layer_time(np.arange(len(z) - 1), np.diff(z)))])
    def time_to(depth):
        i = np.clip(np.searchsorted(z, depth, "right") - 1, 0, None)
        return np.where(depth < z[0], depth / c[0], t[i] + layer_time(i, depth - z[i]))
    def depth_at(time):
        i = np.clip(np.searchsorted(t, time, "right") - 1, 0, None)
        return np.where(time < t[0], time * c[0], z[i] + layer_depth(i, time - t[i]))
    return depth_at(time_to(draft) + distance / NOMINAL) - draft


def moved(lat, lon, heading, forward, starboard):
    """The antenna's position moved along the heading, through earth-centred coordinates on WGS 84."""
    phi, lam, theta = np.radians(lat), np.radians(lon), np.radians(heading)
    n = forward * np.cos(theta) - starboard * np.sin(theta)
    e = forward * np.sin(theta) + starboard * np.cos(theta)
    N = A / np.sqrt(1 - E2 * np.sin(phi) ** 2)
    x = N * np.cos(phi) * np.cos(lam) - e * np.sin(lam) - n * np.sin(phi) * np.cos(lam)
    y = N * np.cos(phi) * np.sin(lam) + e * np.cos(lam) - n * np.sin(phi) * np.sin(lam)
    zz = N * (1 - E2) * np.sin(phi) + n * np.cos(phi)
    p = np.hypot(x, y)
    phi0 = np.arctan2(zz, p * (1 - E2))
    phi1 = np.arctan2(zz + E2 * A / np.sqrt(1 - E2 * np.sin(phi0) ** 2) * np.sin(phi0), p)
    return np.degrees(phi1), np.degrees(np.arctan2(y, x))


def spikes(surface):
    """Each ping against the median of up to 5 pings either side and itself, those with a depth, 4 others at least."""
    flagged = np.zeros(len(surface), bool)
    for k in np.flatnonzero(~np.isnan(surface)):
        window = surface[max(0, k - SPIKE_SIDE):k + SPIKE_SIDE + 1]
        window = window[~np.isnan(window)]
        if len(window) - 1 >= SPIKE_OTHERS:
            median = np.median(window)
            flagged[k] = abs(surface[k] - median) > max(SPIKE_M, SPIKE_SHARE * median)
    return flagged


def placed_off(lat, lon, other_lat, other_lon):
    """Metres between two positions, on a sphere of a minute a nautical mile."""
    return np.hypot((lat - other_lat) * 111320, (lon - other_lon) * 111320 * np.cos(np.radians(lat)))


def against_qkvdump(pings, truth, depth, lat, lon, spike):
    """What qkvdump's reduced CSV says that these figures do not: its faults, as text."""
    faults = []
    theirs = pings.depth_m.to_numpy(float)
    differ = ~(np.abs(theirs - depth) <= 0.002) & ~(np.isnan(theirs) & np.isnan(depth))
    if differ.any():
        faults.append("qkvdump's depths differ from these: pings %s" % list(truth.ping[differ]))
    apart = placed_off(pings.lat.to_numpy(float), pings.lon.to_numpy(float), lat, lon)
    if not (apart <= 0.02).all():
        faults.append("qkvdump's soundings placed apart from these: pings %s" % list(truth.ping[~(apart <= 0.02)]))
    words = pings.flag.fillna("").str.split("|")
    unflagged = spike & ~words.apply(lambda flag: "spike" in flag).to_numpy()
    if unflagged.any():
        faults.append("spikes qkvdump did not flag: pings %s" % list(truth.ping[unflagged]))
    if set(pings.depth_reference) != set(truth.reference):
        faults.append("qkvdump's reference %s, the truth's %s" % (set(pings.depth_reference), set(truth.reference)))
    return faults


def check(truth_path, pings_path, nav_path, gauge_path, cast_path, draft, offset):
    truth = pandas.read_csv(truth_path, keep_default_na=False, na_values=[""])
    pings = pandas.read_csv(pings_path, keep_default_na=False, na_values=[""])
    pings = pings.set_index("record").loc[truth.ping]
    reduced_by_qkvdump = "depth_reference" in pings.columns
    distance = pings[DISTANCE if reduced_by_qkvdump else "depth_m"].to_numpy(float)
    at = seconds(pings.time_utc)
    gauge, cast = pandas.read_csv(gauge_path), pandas.read_csv(cast_path)
    (heave_at, heave_values), (heading_at, heading_values), (fix_at, lat_values), (_, lon_values) = sensors(nav_path)
    heave = interpolate(at, heave_at, heave_values, HEAVE_GAP_S)
    heading = interpolate(at, heading_at, np.unwrap(heading_values, period=360), HEAVE_GAP_S) % 360
    level = interpolate(at, seconds(gauge.time), gauge.level_m.to_numpy(), LEVEL_GAP_S)
    d = through_cast(cast, draft, distance)
    surface = d + draft - heave
    depth = surface - level
    flagged = spikes(surface)
    antenna = [interpolate(at, fix_at, values, FIX_GAP_S) for values in (lat_values, lon_values)]
    lat, lon = moved(*antenna, heading, *offset)

    has_bottom, spike = truth.reduced_depth_m.notna().to_numpy(), truth.spike.to_numpy() == 1
    good = has_bottom & ~spike
    error = np.abs(depth - truth.reduced_depth_m.to_numpy())
    within = good & (error <= 0.002 * truth.range_m.to_numpy() + 0.05)
    metres = placed_off(lat, lon, truth.transducer_latitude.to_numpy(), truth.transducer_longitude.to_numpy())
    turned = np.abs((heading - truth.heading.to_numpy() + 180) % 360 - 180)
    lost = spike & np.isnan(depth)
    print("%d pings, %d with a bottom: %d within 0.2%% of the range + 5 cm (%.2f%%), worst %.3f m; %d spikes: %d "
          "without a depth, %d flagged as spikes; %d depths without a bottom; good pings flagged as spikes %d; worst "
          "level %.4f m, heave %.3f m, heading %.2f deg, transducer %.2f m" % (
              len(truth), good.sum(), within.sum(), 100.0 * within.sum() / good.sum(), np.nanmax(error[good]),
              spike.sum(), lost.sum(), (spike & flagged).sum(), (~has_bottom & ~np.isnan(depth)).sum(),
              (good & flagged).sum(), np.nanmax(np.abs(level - truth.level_m)),
              np.nanmax(np.abs(heave - truth.heave_m)), np.nanmax(turned), np.nanmax(metres)))
    faults = []
    if within.sum() < 0.99 * good.sum():
        faults.append("fewer than 99% of the pings with a bottom within 0.2% of the range + 5 cm")
    if (~has_bottom & ~np.isnan(depth)).any():
        faults.append("depths without a bottom: pings %s" % list(truth.ping[~has_bottom & ~np.isnan(depth)]))
    if lost.any():
        faults.append("spikes lost as no bottom: pings %s" % list(truth.ping[lost]))
    if (spike & ~np.isnan(depth) & ~flagged).any():
        faults.append("spikes not flagged: pings %s" % list(truth.ping[spike & ~np.isnan(depth) & ~flagged]))
    if (metres <= 0.5).sum() < 0.99 * len(truth):
        faults.append("fewer than 99% of the transducers placed within 0.5 m of the truth's")
    if reduced_by_qkvdump:
        faults += against_qkvdump(pings, truth, depth, lat, lon, spike)
    for fault in faults:
        print(fault)
    if faults:
        sys.exit(1)
    print("ok")


if __name__ == "__main__":
    check(*sys.argv[1:6], float(sys.argv[6]), [float(v) for v in sys.argv[7].split(",")])
