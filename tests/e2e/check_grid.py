#!/usr/bin/python3
"""Checks qkvdump's grid, read with GDAL's Python bindings, against a
reference written from docs/formats.md alone:
  check_grid.py agree GRID.tif SOUNDINGS.xyz CELL
bins the soundings again (pandas reads them, pyproj projects them to the UTM
zone of the median of the first 1024, numpy bins them by the cell rule) and
wants every cell's count, mean, shoalest and std within 1 mm;
  check_grid.py truth GRID.tif RANGE HEADSIM [HEADSIM_OPTION...]
asks headsim for the seabed's depth below the datum at the centre of every cell of three
soundings or more and wants the mean depth within 0.2% of the range there
for 99% of them. Prints "ok" and exits 0, or says what differs and exits 1."""
import subprocess
import sys

import numpy as np
import pandas
from osgeo import gdal
from pyproj import CRS, Transformer

gdal.UseExceptions()


def fail(text):
    print(text)
    sys.exit(1)


def read_grid(path):
    """The bands by their descriptions, and the first column and row of the cells counted from the origin."""
    grid = gdal.Open(path)
    bands = {grid.GetRasterBand(b).GetDescription(): grid.GetRasterBand(b).ReadAsArray().astype(float)
             for b in range(1, grid.RasterCount + 1)}
    x0, cell, _, y_top, _, _ = grid.GetGeoTransform()
    return grid, bands, round(x0 / cell), round(y_top / cell) - 1, cell


def utm_epsg(lon, lat):
    """The zone of a position, outside UTM's exceptions (Norway, Svalbard) and its polar ends."""
    if not -80 <= lat <= 84 or (56 <= lat < 64 and 3 <= lon < 12) or (lat >= 72 and 0 <= lon < 42):
        fail("the reference takes no zone of UTM's exceptions: %s %s" % (lon, lat))
    return (32600 if lat >= 0 else 32700) + min(int((lon + 180) // 6) + 1, 60)


def agree(grid_path, xyz_path, cell):
    soundings = pandas.read_csv(xyz_path, sep=" ", header=None, names=["lon", "lat", "depth"])
    first = soundings.head(1024)
    lower = (len(first) - 1) // 2  # the lower middle sounding's own value
    epsg = utm_epsg(np.sort(first.lon.values)[lower], np.sort(first.lat.values)[lower])
    x, y = Transformer.from_crs(4326, epsg, always_xy=True).transform(soundings.lon.values, soundings.lat.values)
    soundings["column"], soundings["row"] = np.floor(x / cell).astype(int), np.floor(y / cell).astype(int)
    cells = soundings.groupby(["column", "row"]).depth.agg(["count", "mean", "min", "std"])
    grid, bands, first_column, top_row, grid_cell = read_grid(grid_path)
    if CRS(grid.GetProjection()).to_epsg() != epsg or grid_cell != cell:
        fail("system %s cell %s, want EPSG:%d and %s" % (grid.GetProjection()[:60], grid_cell, epsg, cell))
    if np.isfinite(bands["count"]).sum() != len(cells):
        fail("%d cells, want %d" % (np.isfinite(bands["count"]).sum(), len(cells)))
    for (column, row), want in cells.iterrows():
        at = (top_row - row, column - first_column)
        got = {name: bands[name][at] if 0 <= at[0] and 0 <= at[1] else np.nan for name in bands}
        std_agrees = np.isnan(want["std"]) and np.isnan(got["std"]) or abs(got["std"] - want["std"]) <= 1e-3
        if got["count"] != want["count"] or abs(got["mean"] - want["mean"]) > 1e-3 or not std_agrees or \
                abs(got["shoalest"] - want["min"]) > 1e-3:
            fail("cell %d %d: %s, want %s" % (column, row, got, dict(want)))
    print("ok %d cells agree, in EPSG:%d" % (len(cells), epsg))


def truth(grid_path, range_m, headsim):
    grid, bands, first_column, top_row, cell = read_grid(grid_path)
    rows, columns = np.nonzero(bands["count"] >= 3)
    x, y = (first_column + columns + 0.5) * cell, (top_row - rows + 0.5) * cell
    lon, lat = Transformer.from_crs(CRS(grid.GetProjection()), 4326, always_xy=True).transform(x, y)
    lines = "".join("%.9f %.9f\n" % position for position in zip(lon, lat))
    depths = subprocess.run(headsim + ["--depth-at", str(range_m)], input=lines, capture_output=True, text=True,
                            check=True).stdout.split()
    error = np.abs(bands["mean"][rows, columns] - np.array(depths, dtype=float))
    within = (error <= 0.002 * range_m).sum()
    if len(error) == 0 or within < 0.99 * len(error):
        fail("%d of %d cells within 0.2%% of the range; worst %.3f m" % (within, len(error), error.max()))
    print("ok %d of %d cells of 3 soundings or more within 0.2%% of the range, worst %.3f m, median %.4f m" %
          (within, len(error), error.max(), np.median(error)))


if __name__ == "__main__":
    if sys.argv[1] == "agree":
        agree(sys.argv[2], sys.argv[3], float(sys.argv[4]))
    else:
        truth(sys.argv[2], float(sys.argv[3]), sys.argv[4:])
