"""Timestamp texts of records and CSV files into numpy datetime64[us].

The library writes local date-times with microseconds, "2026-03-14 09:30:05.123456"
(26 characters, no zone). Those are converted without per-text Python work; any other
form (a "T" separator, fewer digits, a trailing "Z", a number of seconds) is parsed one
text at a time, and what cannot be parsed becomes NaT.
"""
from __future__ import annotations

import datetime

import numpy as np

LAYOUT_LENGTH = 26
_SEPARATORS = {4: b"-", 7: b"-", 13: b":", 16: b":", 19: b"."}
_DIGITS = np.array([k for k in range(LAYOUT_LENGTH) if k not in _SEPARATORS and k != 10])
_MICROS_PER_DAY = 86_400_000_000


def _days_from_civil(year: np.ndarray, month: np.ndarray, day: np.ndarray) -> np.ndarray:
    """Days since 1970-01-01 of proleptic Gregorian dates (H. Hinnant's algorithm)."""
    year = year - (month <= 2)
    era = np.floor_divide(year, 400)
    year_of_era = year - era * 400
    day_of_year = (153 * (month + np.where(month > 2, -3, 9)) + 2) // 5 + day - 1
    day_of_era = year_of_era * 365 + year_of_era // 4 - year_of_era // 100 + day_of_year
    return era * 146097 + day_of_era - 719468


def _fits_layout(columns: np.ndarray) -> np.ndarray:
    """Which texts, given as a (>=26, n) byte matrix of their characters by position,
    hold exactly a text of the library's layout."""
    digits = columns[_DIGITS] - np.uint8(48)
    fits = np.all(digits <= 9, axis=0)
    for position, separator in _SEPARATORS.items():
        fits &= columns[position] == separator[0]
    fits &= (columns[10] == ord(" ")) | (columns[10] == ord("T"))
    if columns.shape[0] > LAYOUT_LENGTH:
        fits &= columns[LAYOUT_LENGTH] == 0
    return fits


def _convert_layout(columns: np.ndarray) -> np.ndarray:
    """Microseconds since 1970 of texts in the layout, as a (26, n) byte matrix."""
    def number(first: int, count: int) -> np.ndarray:
        value = columns[first].astype(np.int64) - 48
        for position in range(first + 1, first + count):
            value *= 10
            value += columns[position]
            value -= 48
        return value

    days = _days_from_civil(number(0, 4), number(5, 2), number(8, 2))
    seconds = (number(11, 2) * 60 + number(14, 2)) * 60 + number(17, 2)
    return days * _MICROS_PER_DAY + seconds * 1_000_000 + number(20, 6)


def parse_one(text: bytes) -> np.datetime64:
    """One timestamp text of any form the library writes; NaT when it is none."""
    value = text.decode("ascii", "replace").strip().rstrip("\0")
    try:
        return np.datetime64(round(float(value) * 1e6), "us")  # seconds
    except (ValueError, OverflowError):
        pass
    try:
        moment = datetime.datetime.fromisoformat(value.replace("Z", "+00:00"))
    except ValueError:
        return np.datetime64("NaT", "us")
    if moment.tzinfo is not None:
        moment = moment.astimezone(datetime.timezone.utc).replace(tzinfo=None)
    return np.datetime64(moment, "us")


def parse_columns(columns: np.ndarray) -> np.ndarray:
    """datetime64[us] of n texts given by position: a (width, n) uint8 matrix whose column
    i holds the characters of text i, NUL-padded."""
    width, count = columns.shape
    result = np.empty(count, dtype="datetime64[us]")
    fits = _fits_layout(columns) if width >= LAYOUT_LENGTH else np.zeros(count, dtype=bool)
    if fits.any():
        result[fits] = _convert_layout(columns if fits.all() else columns[:, fits]).view("datetime64[us]")
    for text in np.flatnonzero(~fits):
        result[text] = parse_one(bytes(columns[:, text]))
    return result


def parse_texts(texts: np.ndarray) -> np.ndarray:
    """datetime64[us] of an array of timestamp texts (bytes or str)."""
    texts = np.asarray(texts)
    if texts.dtype.kind == "U":
        texts = np.char.encode(texts, "ascii", "replace")
    texts = np.ascontiguousarray(texts)
    if texts.dtype.kind != "S":
        raise TypeError(f"timestamp texts must be bytes or str, not {texts.dtype}")
    if texts.size == 0:
        return np.empty(texts.shape, dtype="datetime64[us]")
    chars = texts.reshape(-1).view(np.uint8).reshape(texts.size, texts.dtype.itemsize)
    # By position, so that every step runs over contiguous memory.
    columns = np.ascontiguousarray(chars[:, : LAYOUT_LENGTH + 1].T)
    return parse_columns(columns).reshape(texts.shape)
