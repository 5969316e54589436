"""The record ZxReadBuffer fills, as a numpy structured type, and what to do with it."""
from __future__ import annotations

import numpy as np

from .timetext import parse_texts

# ZxCollectData, 72 bytes: CAN identifier, receive time as text (local date and time with
# microseconds, NUL-padded), a word that is always 0, and eight signed values taken from
# data bytes 0..31 (all 0 for a frame with fewer than 32 data bytes). values[0..5] are the
# measurement channels CH1..CH6 that saving writes.
RECORD_DTYPE = np.dtype(
    [("can_id", "<u4"), ("timestamp", "S32"), ("reserved", "<u4"), ("values", "<i4", (8,))]
)
assert RECORD_DTYPE.itemsize == 72 and RECORD_DTYPE.fields["values"][1] == 40

# The value of a measurement channel that a module does not have; saving writes no line for it.
NO_VALUE = -2147483647

# Measurement channels that saving writes: values[0..5] are CH1..CH6.
MEASUREMENTS = 6


def empty_records(count: int = 0) -> np.ndarray:
    """An array of count records to read into (its contents are undefined)."""
    return np.empty(count, dtype=RECORD_DTYPE)


def timestamps(records: np.ndarray) -> np.ndarray:
    """The records' receive times as datetime64[us] (local time, as the library writes it)."""
    return parse_texts(np.asarray(records)["timestamp"])
