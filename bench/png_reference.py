#!/usr/bin/env python3
"""The waterfall picture as a short numpy and matplotlib script draws it, to
compare qkvdump --png with: png_reference.py OUT.png WIDTH FILE...
Column means of the data bytes as qkvdump takes them, viridis from 0 to 255."""
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np

RECORD, SAMPLES, COUNT = 8192, 100 + 12, 8000

out, width, files = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
rows = []
for name in files:
    records = np.memmap(name, dtype=np.uint8, mode="r")
    records = records[: records.size // RECORD * RECORD].reshape(-1, RECORD)
    samples = records[:, SAMPLES:SAMPLES + COUNT].reshape(len(records), width, COUNT // width)
    per = COUNT // width
    rows.append(((samples.sum(axis=2, dtype=np.uint32) + per // 2) // per).astype(np.uint8))
plt.imsave(out, np.concatenate(rows), cmap="viridis", vmin=0, vmax=255)
