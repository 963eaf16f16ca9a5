#!/usr/bin/python3
"""qkvmap's picture read back with PIL, against a grid and contours made here with GDAL:
  check_map.py make DIR      writes DIR/grid.tif (the bands of qkvdump --grid: depths rising eastwards by
                             0.1 m a cell, none in the north-east corner) and DIR/contours.geojson (the line of
                             15 m along its known place, in WGS 84)
  check_map.py check MAP.png GRID.tif
The depths are in the colours of the documented ramp where the grid has them and white where not, the
contour's pixels lie along its place, the legend runs through the ramp from shoal to deep, and the scale
bar is a round number of metres long.
Prints "ok" and exits 0, or says what differs and exits 1."""
import json
import sys

import numpy as np
from osgeo import gdal, osr
from PIL import Image

COLUMNS, ROWS, CELL, WEST, NORTH = 120, 60, 2.0, 500000.0, 5650000.0
CONTOUR_DEPTH, CONTOUR_COLUMN = 15.0, 50  # the depth of the cells' west edges at that column
RAMP = np.array([(224, 248, 240), (150, 218, 220), (79, 170, 208), (40, 110, 180), (20, 50, 130)], float)
WHITE, INK, CONTOUR = (255, 255, 255), (0, 0, 0), (200, 30, 30)


def fail(text):
    print(text)
    sys.exit(1)


def make(directory):
    gdal.UseExceptions()
    columns = np.arange(COLUMNS, dtype=np.float32)
    shoalest = np.tile(10.0 + 0.1 * columns, (ROWS, 1)).astype(np.float32)
    shoalest[:20, 90:] = np.nan
    crs = osr.SpatialReference()
    crs.ImportFromEPSG(32631)
    grid = gdal.GetDriverByName("GTiff").Create(directory + "/grid.tif", COLUMNS, ROWS, 4, gdal.GDT_Float32)
    grid.SetGeoTransform((WEST, CELL, 0, NORTH, 0, -CELL))
    grid.SetProjection(crs.ExportToWkt())
    grid.SetMetadataItem("DEPTH_REFERENCE", "water surface")
    for number, (name, values) in enumerate([("mean", shoalest + 0.05), ("shoalest", shoalest),
                                             ("count", np.where(np.isnan(shoalest), np.nan, 3)),
                                             ("std", np.where(np.isnan(shoalest), np.nan, 0.1))], 1):
        band = grid.GetRasterBand(number)
        band.SetDescription(name)
        band.SetNoDataValue(float("nan"))
        band.WriteArray(values.astype(np.float32))
    grid = None
    wgs84 = osr.SpatialReference()
    wgs84.ImportFromEPSG(4326)
    wgs84.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    crs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    to_wgs84 = osr.CoordinateTransformation(crs, wgs84)
    x = WEST + CONTOUR_COLUMN * CELL
    points = [to_wgs84.TransformPoint(x, NORTH - CELL * row)[:2] for row in (1, 30, ROWS - 1)]
    lines = {"type": "FeatureCollection", "features": [{"type": "Feature", "properties": {"depth": CONTOUR_DEPTH},
                                                        "geometry": {"type": "LineString", "coordinates": points}}]}
    with open(directory + "/contours.geojson", "w") as out:
        json.dump(lines, out)


def ramp(depth, shoalest, deepest):
    at = np.clip((depth - shoalest) / (deepest - shoalest), 0, 1) * (len(RAMP) - 1)
    stop = np.minimum(at.astype(int), len(RAMP) - 2)
    f = (at - stop)[..., None]
    return np.rint(RAMP[stop] + (RAMP[stop + 1] - RAMP[stop]) * f)


def runs(mask):
    """(start, length) of the longest run of True in a row of pixels."""
    best, start = (0, 0), None
    for i, value in enumerate(list(mask) + [False]):
        if value and start is None:
            start = i
        elif not value and start is not None:
            best = max(best, (i - start, start))
            start = None
    return best[1], best[0]


def check(picture_path, grid_path):
    picture = np.asarray(Image.open(picture_path).convert("RGB")).astype(int)
    grid = gdal.Open(grid_path)
    depths = grid.GetRasterBand(2).ReadAsArray()
    shoalest, deepest = np.nanmin(depths), np.nanmax(depths)
    ink = np.all(picture == INK, axis=2)
    # The frame: the longest dark run of the picture, round the map.
    rows = [runs(ink[y]) for y in range(picture.shape[0])]
    top = max(range(len(rows)), key=lambda y: rows[y][1])
    left, width = rows[top]
    scale = (width - 2) / COLUMNS
    if scale != int(scale) or not ink[top + 1 + int(scale * ROWS), left + 1]:
        fail("no frame of %d x %d cells at a whole number of pixels a cell: a dark run of %d at %d,%d" % (
            COLUMNS, ROWS, width, left, top))
    scale, x0, y0 = int(scale), left + 1, top + 1
    centres = picture[y0 + scale // 2:y0 + ROWS * scale:scale, x0 + scale // 2:x0 + COLUMNS * scale:scale]
    expected = ramp(np.nan_to_num(depths, nan=shoalest), shoalest, deepest)
    close = np.all(np.abs(centres - expected) <= 2, axis=2)
    white = np.all(centres == WHITE, axis=2)
    has = ~np.isnan(depths)
    if close[has].mean() < 0.97 or white[~has].mean() < 0.97:
        fail("cells in their depth's colour: %.3f; cells without a depth white: %.3f" % (
            close[has].mean(), white[~has].mean()))
    contour = np.all(picture == CONTOUR, axis=2)
    along = contour[y0 + scale:y0 + (ROWS - 1) * scale, x0 + CONTOUR_COLUMN * scale - 1:x0 + CONTOUR_COLUMN * scale + 2]
    elsewhere = contour[y0:y0 + ROWS * scale, x0:x0 + COLUMNS * scale].sum() - along.sum()
    if along.any(axis=1).mean() < 0.9 or elsewhere > 200:
        fail("the contour of %g m drawn along %.2f of its place, %d of its pixels elsewhere" % (
            CONTOUR_DEPTH, along.any(axis=1).mean(), elsewhere))
    # The legend: a column right of the map running through the ramp, shoal at its top, deep at its bottom.
    right = x0 + COLUMNS * scale + 1
    for x in range(right, picture.shape[1]):
        column = picture[:, x]
        on_ramp = [y for y in range(len(column)) if np.abs(column[y] - RAMP[0]).max() <= 2 or
                   np.abs(column[y] - RAMP[-1]).max() <= 2]
        if on_ramp and np.abs(column[on_ramp[0]] - RAMP[0]).max() <= 2 and \
                np.abs(column[on_ramp[-1]] - RAMP[-1]).max() <= 2 and on_ramp[-1] - on_ramp[0] >= 100:
            break
    else:
        fail("no legend of the ramp right of the map")
    # The scale bar: under the map, a dark line as long as a round number of metres.
    below = [runs(ink[y, :x0 + COLUMNS * scale]) for y in range(y0 + ROWS * scale + 2, picture.shape[0])]
    length = max(length for start, length in below) - 1
    metres = length * CELL / scale
    power = 10 ** np.floor(np.log10(metres))
    if min(abs(metres - m * power) for m in (1, 2, 5, 10)) > CELL / scale:  # within a pixel
        fail("a scale bar of %d pixels: %g m, no round number" % (length, metres))
    print("ok %d pixels a cell, %.3f of the cells in their colours, the contour along %.2f of its place, "
          "a scale bar of %g m" % (scale, close[has].mean(), along.any(axis=1).mean(), metres))


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
    else:
        check(sys.argv[2], sys.argv[3])
