#!/usr/bin/env python3
"""Draws what a save folder holds, as `python3 -m zxcollector plot` does: one panel per
identifier name, one line per device, channel and measurement channel (CH1..CH6), time
since the first point on the x axis, into a PNG.

    scripts/plot.py <save folder> [-o plot.png] [--show]

The folder is the root given to ZxStartSaveFile or zxcollect --save (or any folder above
it). Without -o the picture is <save folder>/plot.png. Uses the zxcollector package of
this tree (python/) when it is not installed.
"""
import sys
from pathlib import Path

try:
    from zxcollector.__main__ import main
except ImportError:
    sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))
    from zxcollector.__main__ import main

if __name__ == "__main__":
    sys.exit(main(["plot", *sys.argv[1:]]))
