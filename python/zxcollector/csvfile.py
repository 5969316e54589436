"""One CSV file written by the library: a header line, then "timestamp,value" lines."""
from __future__ import annotations

import os
from typing import Tuple

import numpy as np

from .timetext import LAYOUT_LENGTH, parse_columns, parse_one

_LF, _CR, _COMMA, _MINUS = 10, 13, 44, 45
# A value is a signed 32-bit decimal: at most 11 characters with its sign.
_MAX_VALUE_CHARS = 11


def _empty() -> Tuple[np.ndarray, np.ndarray]:
    return np.empty(0, dtype="datetime64[us]"), np.empty(0, dtype=np.int32)


def _parse_values(buf: np.ndarray, first: np.ndarray, end: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
    """Decimal integers buf[first[i]:end[i]], read right to left; and which rows were numbers."""
    lengths = end - first
    negative = buf[first] == _MINUS
    digits_length = lengths - negative
    valid = (digits_length >= 1) & (lengths <= _MAX_VALUE_CHARS)
    value = np.zeros(len(first), dtype=np.int64)
    scale = 1
    for k in range(int(digits_length.max(initial=0))):
        present = k < digits_length
        digit = buf[np.where(present, end - 1 - k, first)].astype(np.int64) - 48
        valid &= ~present | ((digit >= 0) & (digit <= 9))
        value += np.where(present, digit, 0) * scale
        scale *= 10
    value = np.where(negative, -value, value)
    valid &= (value >= -(2**31)) & (value < 2**31)
    return value, valid


def _read_lines_one_by_one(body: bytes) -> Tuple[np.ndarray, np.ndarray]:
    """The general path: any timestamp form, lines that are not "time,integer" skipped."""
    times, values = [], []
    for line in body.split(b"\n"):
        text, comma, value = line.rstrip(b"\r").rpartition(b",")
        if not comma:
            continue
        try:
            number = int(value)
        except ValueError:
            continue
        moment = parse_one(text)
        if not np.isnat(moment) and -(2**31) <= number < 2**31:
            times.append(moment)
            values.append(number)
    return np.array(times, dtype="datetime64[us]"), np.array(values, dtype=np.int32)


def read_points(path: "os.PathLike[str] | str") -> Tuple[np.ndarray, np.ndarray]:
    """(times as datetime64[us], values as int32) of the file's complete lines, in file order.

    A last line without its line end (a file still being written) is left out, as are
    lines that are not a timestamp and an integer.
    """
    with open(path, "rb") as file:
        data = file.read()
    body_start = data.find(b"\n") + 1
    body_end = data.rfind(b"\n") + 1
    if body_start == 0 or body_end <= body_start:
        return _empty()
    buf = np.frombuffer(data, dtype=np.uint8, count=body_end - body_start, offset=body_start)
    ends = np.flatnonzero(buf == _LF)
    starts = np.concatenate(([0], ends[:-1] + 1))
    commas = np.flatnonzero(buf == _COMMA)
    value_ends = ends - (buf[np.maximum(ends - 1, 0)] == _CR)
    regular = (len(commas) == len(ends) and bool(np.all(commas - starts == LAYOUT_LENGTH))
               and bool(np.all(commas < value_ends)))
    if regular:
        values, valid = _parse_values(buf, commas + 1, value_ends)
        columns = np.empty((LAYOUT_LENGTH, len(starts)), dtype=np.uint8)
        for position in range(LAYOUT_LENGTH):
            np.take(buf, starts + position, out=columns[position])
        times = parse_columns(columns)
        valid &= ~np.isnat(times)
        if valid.all():
            return times, values.astype(np.int32)
    return _read_lines_one_by_one(bytes(buf))
