#!/usr/bin/env python3
"""Collect and save with zxcollector_api from Python through ctypes.

    collect.py LIBRARY SAVE_FOLDER [--seconds N] [--device N] [--channel N]
               [--host-octet N] [--log FILE]

Opens box N (default 0), initialises a CAN FD channel at 500 kbit/s / 2 Mbit/s,
saves what it reads for a few seconds as CSV files below SAVE_FOLDER, prints the
records per CAN identifier and closes. Exits with 1 when a call fails or nothing
arrived, with 2 for bad arguments.
"""

import argparse
import collections
import ctypes
import os
import sys
import time

ZX_OK = 0
ZX_ERR_NO_DATA = -621
ZX_NO_VALUE = -2147483647
READ_CAPACITY = 10000


def narrow(text):
    """A text as the library reads it: the active ANSI code page on Windows, the file
    system's bytes elsewhere (UTF-8 would turn "Prüfung" into "PrÃ¼fung" on Windows)."""
    return text.encode("mbcs") if os.name == "nt" else os.fsencode(text)


MAPPING = b"0x101,Temperature\n0x301,Voltage\n0x501,Current\n0x701,Frequency\n"


class ZxCollectData(ctypes.Structure):
    """One decoded CAN frame as ZxReadBuffer fills it (72 bytes)."""

    _fields_ = [
        ("canId", ctypes.c_uint32),
        ("timestamp", ctypes.c_char * 32),
        ("reserved", ctypes.c_uint32),
        ("values", ctypes.c_int32 * 8),
    ]


assert ctypes.sizeof(ZxCollectData) == 72, "ZxCollectData must be 72 bytes"


class CallFailed(Exception):
    pass


def load_library(path):
    # The functions use the platform's standard calling convention: __stdcall on Windows.
    loader = ctypes.WinDLL if os.name == "nt" else ctypes.CDLL
    lib = loader(os.path.abspath(path))
    u32, i32 = ctypes.c_uint32, ctypes.c_int32
    signatures = {
        "ZxOpenLog": [ctypes.c_char_p, i32, i32, i32],
        "ZxCloseLog": [],
        "ZxOpenDev": [u32, u32, i32],
        "ZxCloseDev": [u32],
        "ZxInitCANFD": [u32, u32, u32, u32],
        "ZxResetCAN": [u32, u32],
        "ZxReadBuffer": [u32, u32, ctypes.POINTER(ZxCollectData), i32],
        "ZxStartSaveFile": [u32, u32, ctypes.c_char_p, ctypes.c_char_p, i32],
        "ZxStopSaveFile": [u32, u32],
    }
    for name, argtypes in signatures.items():
        function = getattr(lib, name)
        function.argtypes = argtypes
        function.restype = i32
    return lib


def check(name, result):
    if result != ZX_OK:
        raise CallFailed("%s failed with %d" % (name, result))


def collect(lib, args):
    per_id = collections.Counter()
    records = (ZxCollectData * READ_CAPACITY)()
    dev, ch = args.device, args.channel
    check("ZxOpenDev", lib.ZxOpenDev(0, dev, args.host_octet))
    try:
        check("ZxInitCANFD", lib.ZxInitCANFD(dev, ch, 500000, 2000000))
        try:
            check("ZxStartSaveFile", lib.ZxStartSaveFile(dev, ch, narrow(args.save_folder), MAPPING, 10))
            try:
                end = time.monotonic() + args.seconds
                while time.monotonic() < end:
                    count = lib.ZxReadBuffer(dev, ch, records, READ_CAPACITY)
                    if count > 0:
                        for record in records[:count]:
                            per_id[record.canId] += 1
                    elif count == ZX_ERR_NO_DATA:
                        time.sleep(0.002)
                    else:
                        raise CallFailed("ZxReadBuffer failed with %d" % count)
            finally:
                check("ZxStopSaveFile", lib.ZxStopSaveFile(dev, ch))
        finally:
            check("ZxResetCAN", lib.ZxResetCAN(dev, ch))
    finally:
        check("ZxCloseDev", lib.ZxCloseDev(dev))
    return per_id


def main():
    parser = argparse.ArgumentParser(description="Collect and save through zxcollector_api.")
    parser.add_argument("library", help="path of the shared library (libzxcollector_api.so or zxcollector_api.dll)")
    parser.add_argument("save_folder", help="CSV files go below this folder")
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--device", type=int, default=0)
    parser.add_argument("--channel", type=int, default=0)
    parser.add_argument("--host-octet", type=int, default=1)
    parser.add_argument("--log", help="library log file")
    args = parser.parse_args()

    lib = load_library(args.library)
    try:
        if args.log:
            check("ZxOpenLog", lib.ZxOpenLog(narrow(args.log), 1, 10, 5))
        per_id = collect(lib, args)
    except CallFailed as failure:
        print("collect.py: %s" % failure, file=sys.stderr)
        return 1
    finally:
        lib.ZxCloseLog()

    total = sum(per_id.values())
    print("records read: %d" % total)
    for can_id in sorted(per_id):
        print("  0x%X: %d" % (can_id, per_id[can_id]))
    if total == 0:
        print("collect.py: no records arrived", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
