"""Reads a recording with the reader docs/formats.md gives, written from that document alone, and
checks it against what the test recorded and against qkvdump's CSV of the same file (pandas), so the
document cannot drift from the code.
Usage: read_by_formats_doc.py FORMATS_MD RECORDING QKVDUMP GAIN_DB RANGE_M"""
import io
import re
import subprocess
import sys

import numpy as np
import pandas as pd

doc, recording, qkvdump, gain_db, range_m = sys.argv[1:6]
code = re.search(r"```python\n(.*?)```", open(doc, encoding="utf-8").read(), re.S).group(1)
space = {}
exec(code, space)
records = list(space["read_qkv"](recording))
listing = subprocess.run([qkvdump, "--csv", "--samples", recording], capture_output=True, text=True, check=True)
rows = pd.read_csv(io.StringIO(listing.stdout), dtype={"date": str, "time": str})
assert len(records) == len(rows) > 0, (len(records), len(rows))
samples = [f"s{k}" for k in range(8000)]
for record, (_, row) in zip(records, rows.iterrows()):
    assert record["gain_db"] == int(gain_db) == row.gain_db, (record["gain_db"], row.gain_db)
    assert record["range_m"] == float(range_m) == row.range_m, (record["range_m"], row.range_m)
    assert (record["date"], record["time"]) == (row.date, row.time), (record["date"], record["time"], row.date, row.time)
    assert record["interval_ms"] == row.interval_ms
    assert np.array_equal(record["samples"], row[samples].to_numpy(dtype=np.uint8))
print(f"{recording}: {len(records)} records read by the document's reader, as qkvdump reads them")
