#!/usr/bin/env python3
"""Draws what a save folder holds: one panel per identifier name, one line per measurement
channel (CH1..CH6), time on the x axis, into a PNG.

    scripts/plot.py <save folder> [-o plot.png] [--show]

The folder is the root directory given to ZxStartSaveFile (or any folder above it): its
CH<n>/<name>_<yymmdd>_<HHMMSS>_<index>.csv files are read, the files of one series in
the order of their index. Without -o the picture is <save folder>/plot.png. --show also
opens a window where there is a display.
"""
import argparse
import csv
import datetime
import os
import re
import sys
from collections import defaultdict

FILE_NAME = re.compile(r"^(?P<name>.*)_(?P<date>\d{6})_(?P<time>\d{6})_(?P<index>\d+)\.csv$")
CHANNEL_DIR = re.compile(r"^CH(?P<channel>\d+)$")
MAX_POINTS_PER_LINE = 20000


def parse_time(text):
    """Seconds as a float from any timestamp text the library writes: a date and time
    (local or UTC with Z), seconds since the box was opened, ticks or microseconds."""
    try:
        return float(text)
    except ValueError:
        pass
    text = text.strip()
    if text.endswith("Z"):
        text = text[:-1] + "+00:00"
    return datetime.datetime.fromisoformat(text).timestamp()


def find_series(root):
    """{name: {channel: [file, ...]}} for every CSV file below root."""
    series = defaultdict(lambda: defaultdict(list))
    for directory, _, files in os.walk(root):
        match = CHANNEL_DIR.match(os.path.basename(directory))
        if not match:
            continue
        channel = int(match.group("channel"))
        for file_name in files:
            parts = FILE_NAME.match(file_name)
            if parts:
                key = (parts.group("date"), parts.group("time"), int(parts.group("index")))
                series[parts.group("name")][channel].append((key, os.path.join(directory, file_name)))
    return {name: {ch: [path for _, path in sorted(files)] for ch, files in channels.items()}
            for name, channels in series.items()}


def read_points(paths):
    times, values = [], []
    for path in paths:
        with open(path, newline="", encoding="utf-8", errors="replace") as f:
            reader = csv.reader(f)
            next(reader, None)  # header
            for row in reader:
                if len(row) != 2:
                    continue
                try:
                    t, v = parse_time(row[0]), int(row[1])
                except ValueError:
                    continue
                times.append(t)
                values.append(v)
    step = max(1, len(times) // MAX_POINTS_PER_LINE)
    return times[::step], values[::step]


def main(argv=None):
    parser = argparse.ArgumentParser(description="Plot the CSV files below a save folder.")
    parser.add_argument("folder", help="save folder (the root directory given to ZxStartSaveFile)")
    parser.add_argument("-o", "--output", help="PNG to write (default: <folder>/plot.png)")
    parser.add_argument("--show", action="store_true", help="also open a window where there is a display")
    args = parser.parse_args(argv)

    has_display = bool(os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")) or sys.platform in (
        "win32", "darwin")
    import matplotlib
    if not (args.show and has_display):
        matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    series = find_series(args.folder)
    if not series:
        print(f"plot: no CSV files below {args.folder}", file=sys.stderr)
        return 1
    data = {name: {ch: read_points(paths) for ch, paths in sorted(channels.items())}
            for name, channels in sorted(series.items())}
    starts = [times[0] for channels in data.values() for times, _ in channels.values() if times]
    origin = min(starts) if starts else 0.0

    figure, axes = plt.subplots(len(data), 1, sharex=True, squeeze=False,
                                figsize=(9, 2.4 * len(data) + 0.6))
    for axis, (name, channels) in zip(axes[:, 0], data.items()):
        for channel, (times, values) in channels.items():
            if not times:
                continue  # a channel the module does not measure: its files hold no line
            axis.plot([t - origin for t in times], values, linewidth=0.8, label=f"CH{channel}")
        axis.set_title(name, loc="left", fontsize=10)
        axis.set_ylabel("value")
        axis.grid(True, alpha=0.3)
        if axis.lines:
            axis.legend(loc="upper right", fontsize=7, ncol=len(axis.lines))
    axes[-1, 0].set_xlabel("time since the first point (s)")
    figure.tight_layout()

    output = args.output or os.path.join(args.folder, "plot.png")
    figure.savefig(output, dpi=80)
    print(output)
    if args.show:
        if has_display:
            plt.show()
        else:
            print("plot: no display here, wrote the file only", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
