#!/usr/bin/env python3
"""scripts/plot.py on a save folder written here: two identifiers (two series files for one
of them, date-time and seconds timestamps) give a PNG of two panels; a folder without CSV
files gives no picture and a failure.
    plot-check.py <scripts/plot.py>"""
import os
import struct
import subprocess
import sys
import tempfile

plot = sys.argv[1]
fail = 0


def write(path, lines):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="\n") as f:
        f.write("Timestamp,Current_mA\n" + "".join(line + "\n" for line in lines))


with tempfile.TemporaryDirectory() as root:
    save = os.path.join(root, "save")
    for channel in (1, 2, 3):
        lines = [f"2026-03-14 09:30:{5 + i // 100:02d}.{i % 100:02d}0000,{channel * 100 + i}" for i in range(300)]
        write(f"{save}/CH{channel}/Temperature_260314_093005_1.csv", lines[:150])
        write(f"{save}/CH{channel}/Temperature_260314_093006_2.csv", lines[150:])
    write(f"{save}/CH1/Voltage_260314_093005_1.csv", [f"{i * 0.01:.6f},{-i}" for i in range(200)])
    write(f"{save}/CH1/notes.csv", ["not,a series"])

    run = subprocess.run([sys.executable, plot, save], capture_output=True, text=True, timeout=120,
                         env={**os.environ, "DISPLAY": ""})
    png = os.path.join(save, "plot.png")
    if run.returncode != 0 or run.stdout.strip() != png:
        print(f"FAIL: plot.py exited {run.returncode}, printed {run.stdout!r}\n{run.stderr}")
        fail = 1
    elif not os.path.isfile(png) or os.path.getsize(png) == 0:
        print("FAIL: no PNG written")
        fail = 1
    else:
        with open(png, "rb") as f:
            head = f.read(24)
        width, height = struct.unpack(">II", head[16:24])
        print(f"plot.png: {os.path.getsize(png)} bytes, {width}x{height}")
        if head[:8] != b"\x89PNG\r\n\x1a\n":
            print("FAIL: plot.png is not a PNG")
            fail = 1
        # Two panels of 2.4 inches each plus the axis label, at 80 dots per inch.
        elif abs(height - (2.4 * 2 + 0.6) * 80) > 1:
            print(f"FAIL: height {height} is not that of two panels")
            fail = 1

    empty = os.path.join(root, "empty")
    os.makedirs(os.path.join(empty, "CH1"))
    run = subprocess.run([sys.executable, plot, empty], capture_output=True, text=True, timeout=120)
    if run.returncode == 0 or os.path.exists(os.path.join(empty, "plot.png")):
        print("FAIL: a folder without CSV files did not fail")
        fail = 1

print("PASS" if not fail else "FAILED")
sys.exit(fail)
