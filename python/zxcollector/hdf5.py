"""A saved run as one HDF5 file that h5py and MATLAB's h5read open.

One group per series: /<name>/CH<n>, or /dev<D>/can<CH>/<name>/CH<n> for zxcollect's tree.
Each holds the datasets "time" (int64 microseconds since 1970-01-01 of the local time the
CSV files show, no zone) and "value" (int32), and the attributes name, measurement, device
and channel (where known) and the source files.
"""
from __future__ import annotations

from pathlib import Path

import numpy as np

from .saved import Series, StrPath, find_series

TIME_UNIT = "microseconds since 1970-01-01 00:00:00, local time as written in the CSV files"


def group_path(series: Series) -> str:
    parts = [] if series.device is None else [f"dev{series.device}"]
    parts += [] if series.channel is None else [f"can{series.channel}"]
    return "/".join(parts + [series.name, f"CH{series.measurement}"])


def to_hdf5(root: StrPath, path: StrPath) -> int:
    """Writes every series below root into the HDF5 file path (replacing it); returns the
    number of series written. Needs h5py (python3-h5py)."""
    import h5py

    count = 0
    with h5py.File(path, "w") as file:
        file.attrs["source"] = str(Path(root).resolve())
        file.attrs["time_unit"] = TIME_UNIT
        for series in find_series(root):
            times, values = series.points()
            group = file.create_group(group_path(series))
            options = {"compression": "gzip", "shuffle": True} if len(values) else {}
            group.create_dataset("time", data=times.astype(np.int64), **options)
            group.create_dataset("value", data=values.astype(np.int32), **options)
            group.attrs["name"] = series.name
            group.attrs["measurement"] = series.measurement
            for part in ("device", "channel"):
                if getattr(series, part) is not None:
                    group.attrs[part] = getattr(series, part)
            group.attrs["time_unit"] = TIME_UNIT
            group.attrs["files"] = [str(p.relative_to(root)) for p in series.files]
            count += 1
    return count
