#!/usr/bin/env python3
"""The grid as a user's script makes it from qkvdump --xyz's soundings, to
compare grid_bench with: pandas reads the XYZ, pyproj projects it to the UTM
zone of its median position, numpy bins it into cells of CELL metres (a
cell's column floor(x / CELL), its row floor(y / CELL), as docs/formats.md
says) and GDAL's Python bindings write the four bands as a Cloud-Optimized
GeoTIFF. Prints the time of each stage; with --compare GRID, also how many
cells of GRID agree with its own (mean, shoalest and std within 1 mm, count
exactly).
  grid_reference.py XYZ OUT CELL [--compare GRID]"""
import sys
import time

import numpy as np
import pandas
from osgeo import gdal, osr
from pyproj import Transformer

gdal.UseExceptions()
xyz, out, cell = sys.argv[1], sys.argv[2], float(sys.argv[3])

def now():
    return time.process_time(), time.perf_counter()


stages = [("reading (pandas)", now())]

soundings = pandas.read_csv(xyz, sep=" ", header=None, names=["lon", "lat", "depth"])
stages.append(("projecting (pyproj)", now()))

lon, lat = soundings["lon"].median(), soundings["lat"].median()
epsg = (32600 if lat >= 0 else 32700) + int((lon + 180) // 6) % 60 + 1
x, y = Transformer.from_crs(4326, epsg, always_xy=True).transform(soundings["lon"].values, soundings["lat"].values)
depth = soundings["depth"].values
stages.append(("binning (numpy)", now()))

column, row = np.floor(x / cell).astype(np.int64), np.floor(y / cell).astype(np.int64)
west, north = column.min(), row.max()
width, height = column.max() - west + 1, north - row.min() + 1
index = (north - row) * width + (column - west)
count = np.bincount(index, minlength=width * height)
with np.errstate(invalid="ignore", divide="ignore"):
    mean = np.bincount(index, depth, minlength=width * height) / count
    spread = np.bincount(index, (depth - mean[index]) ** 2, minlength=width * height)
    std = np.sqrt(spread / (count - 1))
order = np.argsort(index, kind="stable")
starts = np.flatnonzero(np.r_[True, np.diff(index[order]) != 0])
shoalest = np.full(width * height, np.nan)
shoalest[index[order][starts]] = np.minimum.reduceat(depth[order], starts)
std[count < 2] = np.nan
bands = {"mean": mean, "shoalest": shoalest, "count": np.where(count > 0, count, np.nan), "std": std}
stages.append(("writing (GDAL)", now()))

memory = gdal.GetDriverByName("MEM").Create("", int(width), int(height), 4, gdal.GDT_Float32)
memory.SetGeoTransform((west * cell, cell, 0, (north + 1) * cell, 0, -cell))
crs = osr.SpatialReference()
crs.ImportFromEPSG(epsg)
memory.SetProjection(crs.ExportToWkt())
for number, (name, values) in enumerate(bands.items(), 1):
    band = memory.GetRasterBand(number)
    band.SetDescription(name)
    band.SetNoDataValue(float("nan"))
    band.WriteArray(values.reshape(height, width).astype(np.float32))
gdal.GetDriverByName("COG").CreateCopy(out, memory, options=["COMPRESS=DEFLATE"])
stages.append(("", now()))


def show(name, start, end):
    print(f"  {name:<34} {end[0] - start[0]:6.3f} s CPU, {end[1] - start[1]:6.3f} s wall")


for (name, start), (_, end) in zip(stages, stages[1:]):
    show(name, start, end)
show("gridding: the last three together", stages[1][1], stages[-1][1])

if "--compare" in sys.argv:
    ours, theirs = gdal.Open(sys.argv[sys.argv.index("--compare") + 1]), gdal.Open(out)
    if ours.GetGeoTransform() != theirs.GetGeoTransform() or ours.RasterXSize != theirs.RasterXSize:
        print(f"  the grids differ in extent: {ours.GetGeoTransform()} and {theirs.GetGeoTransform()}")
        sys.exit(1)
    a, b = ours.ReadAsArray(), theirs.ReadAsArray()
    near = np.isclose(a, b, rtol=0, atol=0.001, equal_nan=True)
    near[2] = (a[2] == b[2]) | (np.isnan(a[2]) & np.isnan(b[2]))
    cells = np.isfinite(b[2]).sum()
    agree = (near.all(axis=0) & np.isfinite(b[2])).sum()
    print(f"  cells agreeing with grid_bench's    {agree} of {cells} (mean, shoalest, std within 1 mm, count)")
