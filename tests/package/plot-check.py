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


def write(path, lines):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="\n") as f:
        f.write("Timestamp,Current_mA\n" + "".join(line + "\n" for line in lines))


def plot(folder):
    return subprocess.run([sys.executable, sys.argv[1], folder], capture_output=True, text=True, timeout=120,
                          env={**os.environ, "DISPLAY": ""})


with tempfile.TemporaryDirectory() as root:
    save, empty = os.path.join(root, "save"), os.path.join(root, "empty", "CH1")
    for channel in (1, 2, 3):
        lines = [f"2026-03-14 09:30:{5 + i // 100:02d}.{i % 100:02d}0000,{channel * 100 + i}" for i in range(300)]
        write(f"{save}/CH{channel}/Temperature_260314_093005_1.csv", lines[:150])
        write(f"{save}/CH{channel}/Temperature_260314_093006_2.csv", lines[150:])
    write(f"{save}/CH1/Voltage_260314_093005_1.csv", [f"{i * 0.01:.6f},{-i}" for i in range(200)])
    write(f"{save}/CH1/notes.csv", ["not,a series"])
    run, png = plot(save), os.path.join(save, "plot.png")
    head = open(png, "rb").read(24) if os.path.isfile(png) else b""
    # Two panels of 2.4 inches each plus the axis label, at 80 dots per inch.
    height = struct.unpack(">I", head[20:24])[0] if len(head) == 24 else 0
    print(f"plot.py printed {run.stdout.strip()!r}, exit {run.returncode}, PNG height {height}\n{run.stderr}")
    ok = run.returncode == 0 and run.stdout.strip() == png and head[:8] == b"\x89PNG\r\n\x1a\n"
    ok = ok and abs(height - (2.4 * 2 + 0.6) * 80) <= 1
    os.makedirs(empty)
    run = plot(os.path.dirname(empty))
    ok = ok and run.returncode != 0 and not os.path.exists(os.path.join(os.path.dirname(empty), "plot.png"))
print("PASS" if ok else "FAILED")
sys.exit(0 if ok else 1)
