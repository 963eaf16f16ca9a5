#!/usr/bin/env python3
"""Writes a .NAV file as navlog would of a vessel steaming north-east at 4
knots, a GGA and an RMC every 0.2 s (10 sentences a second), stamped at UTC+01:00;
with "motion", a motion sensor's $PASHR at 20 Hz and a heading sensor's $HEHDT
once a second between them; with "area", surveying an area instead: lines of
400 m to the north-east and back, 5 m apart:
  make_nav.py OUT START_LOCAL_ISO LINES [motion|area]"""
import datetime
import functools
import math
import sys

out, start, lines = sys.argv[1], datetime.datetime.fromisoformat(sys.argv[2]), int(sys.argv[3])
motion = len(sys.argv) > 4 and sys.argv[4] == "motion"
area = len(sys.argv) > 4 and sys.argv[4] == "area"
METRES_PER_MINUTE = 1852.0
LINE_M, SPACING_M = 400.0, 5.0


def travelled(hours):
    """Metres north and east of the start, steaming north-east, or along an area's lines."""
    run = 4 * hours * METRES_PER_MINUTE
    if area:
        line = run // LINE_M
        along, across = (run % LINE_M if line % 2 == 0 else LINE_M - run % LINE_M), line * SPACING_M
    else:
        along, across = run, 0.0
    diagonal = math.sqrt(0.5)
    return (along - across) * diagonal, (along + across) * diagonal
zone = datetime.timezone(datetime.timedelta(hours=1))


def sentence(body):
    return "$%s*%02X" % (body, functools.reduce(lambda a, c: a ^ ord(c), body, 0))


with open(out, "w", encoding="ascii") as nav:
    for n in range(lines // 2):
        local = (start + datetime.timedelta(milliseconds=200 * n)).replace(tzinfo=zone)
        utc = local.astimezone(datetime.timezone.utc)
        hours = n * 0.2 / 3600
        north, east = travelled(hours)
        lat = 51 * 60 + 6.9848 + north / METRES_PER_MINUTE
        lon = 60 + 23.4567 + east / METRES_PER_MINUTE / math.cos(math.radians(lat / 60))
        clock = utc.strftime("%H%M%S.") + "%02d" % (utc.microsecond // 10000)
        position = "%02d%07.4f,N,%03d%07.4f,E" % (lat // 60, lat % 60, lon // 60, lon % 60)
        stamp = local.isoformat(timespec="milliseconds")
        nav.write("%s %s\n" % (stamp, sentence("GPGGA,%s,%s,1,09,0.9,12.3,M,47.0,M,," % (clock, position))))
        nav.write("%s %s\n" % (stamp, sentence("GPRMC,%s,A,%s,4.0,45.0,%s,,,A" % (clock, position,
                                                                             utc.strftime("%d%m%y")))))
        if not motion:
            continue
        extra = [(30, "HEHDT,45.0,T")] if n % 5 == 0 else []
        for step in range(4):
            t = n * 0.2 + step * 0.05
            at = local + datetime.timedelta(milliseconds=50 * step + 10)
            clock = at.astimezone(datetime.timezone.utc).strftime("%H%M%S.") + "%02d" % (at.microsecond // 10000)
            extra.append((50 * step + 10, "PASHR,%s,45.00,T,%.2f,%.2f,%.2f,0.02,0.02,0.10,1,1" % (
                clock, 3 * math.sin(t / 4), 1.5 * math.sin(t / 7), 0.4 * math.sin(t / 5))))
        for after_ms, body in sorted(extra):
            at = local + datetime.timedelta(milliseconds=after_ms)
            nav.write("%s %s\n" % (at.isoformat(timespec="milliseconds"), sentence(body)))
