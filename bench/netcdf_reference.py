#!/usr/bin/env python3
"""The netCDF file as a short numpy and xarray script writes it, to compare
qkvdump --netcdf with: netcdf_reference.py OUT.nc FILE...
The same variables (the record times as UTC, the data bytes compressed at
deflate level 1 in chunks of 128 pings, gain, range, interval, file and
record), written by xarray's netCDF4 engine."""
import sys

import numpy as np
import pandas
import xarray

RECORD, SAMPLES, COUNT = 8192, 112, 8000

out, files = sys.argv[1], sys.argv[2:]
parts = []
for index, name in enumerate(files):
    records = np.memmap(name, dtype=np.uint8, mode="r")
    records = records[: records.size // RECORD * RECORD].reshape(-1, RECORD)
    texts = [bytes(r[8:19]).decode() + " " + bytes(r[20:28]).decode() + bytes(r[29:32]).decode() for r in records]
    times = pandas.to_datetime(texts, format="%d-%b-%Y %H:%M:%S.%f")
    parts.append(xarray.Dataset({
        "samples": (("ping", "sample"), records[:, SAMPLES:SAMPLES + COUNT]),
        "gain_db": ("ping", records[:, 38].astype(np.int16)),
        "range_m": ("ping", (records[:, 44] * 10 / 6).astype(np.float32)),
        "interval_ms": ("ping", records[:, 88].astype(np.int32) * 256 + records[:, 89]),
        "file_index": ("ping", np.full(len(records), index, np.int32)),
        "record": ("ping", np.arange(1, len(records) + 1, dtype=np.int32)),
    }, coords={"time": ("ping", times)}))
ds = xarray.concat(parts, dim="ping")
encoding = {"samples": {"zlib": True, "complevel": 1, "chunksizes": (128, COUNT)}}
ds.to_netcdf(out, engine="netcdf4", encoding=encoding, unlimited_dims=["ping"])
