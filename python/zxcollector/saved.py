"""Saved runs: the CSV files that ZxStartSaveFile and zxcollect write, read back.

A save root holds CH1..CH6/<name>_<yymmdd>_<HHMMSS>_<index>.csv; zxcollect gives each
channel its own root below the one it was given (can<CH>/, and dev<D>/can<CH>/ with several
boxes). Any folder above such roots can be read. One series is the files of one device,
channel, name and measurement channel, stitched in the order of their start time and index.
"""
from __future__ import annotations

import math
import os
import re
from dataclasses import dataclass, field
from pathlib import Path
from typing import TYPE_CHECKING, Dict, List, Optional, Tuple, Union

import numpy as np

from .csvfile import read_points

if TYPE_CHECKING:  # pragma: no cover
    import pandas

StrPath = Union[str, "os.PathLike[str]"]

FILE_NAME = re.compile(r"^(?P<name>.+)_(?P<date>\d{6})_(?P<time>\d{6})_(?P<index>\d+)\.csv$")
MEASUREMENT_FOLDER = re.compile(r"^CH(?P<measurement>[1-6])$")
DEVICE_FOLDER = re.compile(r"^dev(?P<number>\d+)$")
CHANNEL_FOLDER = re.compile(r"^can(?P<number>\d+)$")


@dataclass
class Series:
    """The files of one device/channel/name/measurement; device and channel are None where
    the folders do not say them (a save of one channel)."""

    device: Optional[int]
    channel: Optional[int]
    name: str
    measurement: int
    files: List[Path] = field(default_factory=list)

    def key(self) -> Tuple[float, float, str, int]:
        nan_last = lambda n: math.inf if n is None else n  # noqa: E731
        return (nan_last(self.device), nan_last(self.channel), self.name, self.measurement)

    def label(self) -> str:
        """"dev0 can1 CH3", or "CH3" when device and channel are not known."""
        parts = [] if self.device is None else [f"dev{self.device}"]
        parts += [] if self.channel is None else [f"can{self.channel}"]
        return " ".join(parts + [f"CH{self.measurement}"])

    def points(self) -> Tuple[np.ndarray, np.ndarray]:
        """(times as datetime64[us], values as int32) of every file in order; header-only
        files add nothing."""
        parts = [read_points(path) for path in self.files]
        if not parts:
            return np.empty(0, dtype="datetime64[us]"), np.empty(0, dtype=np.int32)
        return np.concatenate([t for t, _ in parts]), np.concatenate([v for _, v in parts])


def _number_of(folder: str, pattern: "re.Pattern[str]", otherwise: Optional[int]) -> Optional[int]:
    match = pattern.match(folder)
    return int(match.group("number")) if match else otherwise


def find_series(root: StrPath) -> List[Series]:
    """Every series below root, ordered by device, channel, name and measurement."""
    root = Path(root)
    if not root.is_dir():
        raise FileNotFoundError(f"no save folder {root}")
    found: Dict[Tuple, Tuple[Series, List]] = {}
    for folder, _, files in os.walk(root):
        here = Path(folder)
        match = MEASUREMENT_FOLDER.match(here.name)
        if not match:
            continue
        device = channel = None
        for part in here.relative_to(root).parts[:-1]:
            device = _number_of(part, DEVICE_FOLDER, device)
            channel = _number_of(part, CHANNEL_FOLDER, channel)
        for file_name in files:
            parts = FILE_NAME.match(file_name)
            if not parts:
                continue
            key = (device, channel, parts.group("name"), int(match.group("measurement")))
            series, ordered = found.setdefault(key, (Series(*key), []))
            ordered.append(((parts.group("date"), parts.group("time"), int(parts.group("index"))), here / file_name))
    result = []
    for series, ordered in found.values():
        series.files = [path for _, path in sorted(ordered)]
        result.append(series)
    return sorted(result, key=Series.key)


def _part_column(values: List[Optional[int]], lengths: np.ndarray) -> np.ndarray:
    """A device or channel column: integers, or floats with NaN where a part is absent."""
    if any(v is None for v in values):
        return np.repeat(np.array([np.nan if v is None else v for v in values], dtype=float), lengths)
    return np.repeat(np.array(values, dtype=np.int64), lengths)


def read_saved(root: StrPath, pivot: bool = False) -> "pandas.DataFrame":
    """The samples saved below root as a pandas DataFrame.

    Long form (default): one row per saved sample with the columns time (datetime64, local
    time as the files say), device and channel (NaN where the folders do not say them), name,
    measurement (1..6) and value (int32); rows grouped by series, each in saved order.

    pivot=True: one column per series (device, channel, name, measurement; levels that are
    absent are left out) and one row per time. Raises ValueError when two samples of one
    series share a time (use the long form then).
    """
    import pandas as pd

    series = find_series(root)
    points = [s.points() for s in series]
    lengths = np.array([len(v) for _, v in points], dtype=np.int64)
    names = sorted({s.name for s in series})
    name_codes = np.repeat(np.array([names.index(s.name) for s in series], dtype=np.int32), lengths)
    frame = pd.DataFrame({
        "time": np.concatenate([t for t, _ in points]) if points else np.empty(0, "datetime64[us]"),
        "device": _part_column([s.device for s in series], lengths),
        "channel": _part_column([s.channel for s in series], lengths),
        "name": pd.Categorical.from_codes(name_codes, categories=names),
        "measurement": np.repeat(np.array([s.measurement for s in series], dtype=np.int8), lengths),
        "value": np.concatenate([v for _, v in points]) if points else np.empty(0, np.int32),
    })
    if not pivot:
        return frame
    levels = [level for level in ("device", "channel") if frame[level].notna().any()]
    levels += ["name", "measurement"]
    if frame.duplicated(levels + ["time"]).any():
        raise ValueError("samples of one series share a time, so they cannot be one row per time: "
                         "use read_saved(root) without pivot")
    wide = frame.pivot(index="time", columns=levels, values="value")
    return wide.sort_index()
