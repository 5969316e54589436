"""python3 -m zxcollector plot ROOT [-o plot.png] [--show] | convert ROOT run.h5 | version"""
from __future__ import annotations

import argparse
import os
import sys
from typing import List, Optional


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m zxcollector",
                                     description="Saved zxcollector runs: draw them or convert them to HDF5.")
    commands = parser.add_subparsers(dest="command", required=True)
    plot = commands.add_parser("plot", help="draw a saved run into a PNG")
    plot.add_argument("root", help="save folder (the root given to ZxStartSaveFile or zxcollect --save)")
    plot.add_argument("-o", "--output", help="PNG to write (default: ROOT/plot.png)")
    plot.add_argument("--show", action="store_true", help="also open a window where there is a display")
    convert = commands.add_parser("convert", help="write a saved run as one HDF5 file")
    convert.add_argument("root", help="save folder")
    convert.add_argument("output", help="HDF5 file to write")
    commands.add_parser("version", help="print the version of the zxcollector_api library found")
    args = parser.parse_args(argv)

    try:
        if args.command == "plot":
            from .plot import plot as draw

            output = args.output or os.path.join(args.root, "plot.png")
            draw(args.root, output, show=args.show)
            print(output)
        elif args.command == "convert":
            from .hdf5 import to_hdf5

            print(f"{to_hdf5(args.root, args.output)} series written to {args.output}")
        else:
            from .library import library_path, version

            print(f"{version()} ({library_path()})")
    except (OSError, ValueError, ImportError) as error:
        print(f"zxcollector {args.command}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
