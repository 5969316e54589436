#!/usr/bin/env python3
"""Collect and save with the zxcollector package (python/ in this tree).

    collect.py LIBRARY SAVE_FOLDER [--seconds N] [--device N] [--channel N]
               [--host-octet N] [--log FILE]

Opens box N (default 0), initialises a CAN FD channel at 500 kbit/s / 2 Mbit/s, saves
what it reads for a few seconds as CSV files below SAVE_FOLDER, prints the records per
CAN identifier and closes. Exits with 1 when a call fails or nothing arrived, with 2 for
bad arguments.
"""
import argparse
import sys
from pathlib import Path

try:
    import zxcollector as zx
except ImportError:  # run from the source tree, without installing the package
    sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "python"))
    import zxcollector as zx

import numpy as np

MAPPING = {0x101: "Temperature", 0x301: "Voltage", 0x501: "Current", 0x701: "Frequency"}


def main() -> int:
    parser = argparse.ArgumentParser(description="Collect and save through zxcollector_api.")
    parser.add_argument("library", help="path of the shared library (libzxcollector_api.so or zxcollector_api.dll)")
    parser.add_argument("save_folder", help="CSV files go below this folder")
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--device", type=int, default=0)
    parser.add_argument("--channel", type=int, default=0)
    parser.add_argument("--host-octet", type=int, default=1)
    parser.add_argument("--log", help="library log file")
    args = parser.parse_args()

    zx.load_library(args.library)
    try:
        if args.log:
            zx.open_log(args.log)
        with zx.Device(args.device, host_octet=args.host_octet) as box:
            with box.can_fd(args.channel, bitrate=500_000, data_bitrate=2_000_000) as ch:
                with ch.saving(args.save_folder, MAPPING):
                    ids = np.concatenate([recs["can_id"] for recs in ch.batches(duration=args.seconds)] or [[]])
    except zx.ZxError as failure:
        print(f"collect.py: {failure}", file=sys.stderr)
        return 1
    finally:
        zx.close_log()

    print(f"records read: {len(ids)}")
    for can_id, count in zip(*np.unique(ids.astype(np.uint32), return_counts=True)):
        print(f"  0x{can_id:X}: {count}")
    if len(ids) == 0:
        print("collect.py: no records arrived", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
