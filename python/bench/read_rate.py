#!/usr/bin/env python3
"""Records per second through Channel.read() beside the library's own rate (a C loop over
ZxReadBuffer, read_loop.c, built here against the same library), both from vci-sim
streaming one channel as fast as it can. Runs inside the private namespace:

    scripts/netns-run.sh /usr/bin/python3 python/bench/read_rate.py [seconds] [rounds]

The library, vci-sim and the header come from build/ and include/ of this tree
(ZXCOLLECTOR_LIBRARY and ZX_VCI_SIM override the first two). Each round starts a fresh
simulator for the C loop, then for read() with a new array per call, then for read()
into one array, once while it streams (records per second of wall-clock time) and once
reading empty what it queued (records per second of the reading thread's CPU time, which
other processes on a busy machine do not inflate); the median of the rounds is printed.
"""
import contextlib
import itertools
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

TREE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(TREE / "python"))
LIBRARY = Path(os.environ.get("ZXCOLLECTOR_LIBRARY", TREE / "build" / "api" / "libzxcollector_api.so"))
VCI_SIM = os.environ.get("ZX_VCI_SIM", str(TREE / "build" / "tools" / "vci-sim" / "vci-sim"))
os.environ["ZXCOLLECTOR_LIBRARY"] = str(LIBRARY)

import zxcollector as zx  # noqa: E402


def simulator(work: Path) -> subprocess.Popen:
    output = work / "vci-sim.txt"
    process = subprocess.Popen([VCI_SIM, "--rate", "0", "--bus-load-ms", "0"], stdout=open(output, "w"),
                               stderr=subprocess.STDOUT)
    end = time.monotonic() + 10
    while "vci-sim ready" not in output.read_text():
        if time.monotonic() > end or process.poll() is not None:
            sys.exit(f"read_rate: vci-sim did not start: {output.read_text()}")
        time.sleep(0.05)
    return process


def c_loop(program: Path, mode: str, seconds: float) -> float:
    run = subprocess.run([str(program), mode, str(seconds)], capture_output=True, text=True, check=True,
                         env={**os.environ, "LD_LIBRARY_PATH": str(LIBRARY.parent)})
    records, _, _, elapsed, _ = run.stdout.split()
    return int(records) / float(elapsed)


@contextlib.contextmanager
def flooded_channel():
    """Channel 0 of box 0; the box may confirm closing it too late while it floods the link,
    which is reported and not counted against the figures."""
    box = zx.Device(0)
    try:
        yield box.can_fd(0)
    finally:
        try:
            box.close()
        except zx.ZxError as failure:
            print(f"read_rate: {failure}", file=sys.stderr)


def python_stream(seconds: float, buffer) -> float:
    with flooded_channel() as ch:
        start = time.monotonic() + 1.0
        end = start + seconds
        total = 0
        while True:
            t = time.monotonic()
            records = ch.read(10_000, timeout=0.1, out=buffer)
            if t >= end:
                return total / (t - start)
            if t >= start:
                total += len(records)


def python_drain(seconds: float, buffer) -> float:
    with flooded_channel() as ch:
        time.sleep(seconds)
        start = time.thread_time()
        total = 0
        while True:
            records = ch.read(10_000, timeout=0, out=buffer)
            if not len(records):
                return total / (time.thread_time() - start)
            total += len(records)


def interleaved(seconds: float) -> dict:
    """Reads empty what seconds of streaming queued, taking turns call by call between the
    bare library call through ctypes, read(out=buffer) and read(): records/s of each, all
    under the same load; timed by this thread's CPU time."""
    lib, buffer = zx.load_library(), zx.empty_records(10_000)
    totals = {"bare ZxReadBuffer via ctypes": [0, 0.0], "ch.read(out=buffer)": [0, 0.0], "ch.read()": [0, 0.0]}
    with flooded_channel() as ch:
        calls = [lambda: max(lib.ZxReadBuffer(0, 0, buffer.ctypes.data, 10_000), 0),
                 lambda: len(ch.read(10_000, timeout=0, out=buffer)),
                 lambda: len(ch.read(10_000, timeout=0))]
        time.sleep(seconds)
        ways = list(zip(calls, totals.values()))
        for turn in itertools.count():
            for call, total in ways[turn % 3:] + ways[: turn % 3]:  # each first as often
                start = time.thread_time()
                count = call()
                total[1] += time.thread_time() - start
                total[0] += count
                if count < 10_000:
                    return {name: records / elapsed if elapsed else float("nan") for name, (records, elapsed) in totals.items()}
        return {}


class TimedLibrary:
    """The library with ZxReadBuffer timed by the calling thread's CPU time."""

    def __init__(self, lib):
        self._lib, self.inside = lib, 0.0

    def __getattr__(self, name):
        return getattr(self._lib, name)

    def ZxReadBuffer(self, *arguments):
        start = time.thread_time()
        try:
            return self._lib.ZxReadBuffer(*arguments)
        finally:
            self.inside += time.thread_time() - start


def split(seconds: float) -> dict:
    """Reads empty what seconds of streaming queued with read() and read(out=buffer) taking
    turns, and splits the CPU time of each full read (10000 records) into the library call
    and the package around it: the package's share against the call's."""
    buffer = zx.empty_records(10_000)
    times = {"ch.read()": [0.0, 0.0], "ch.read(out=buffer)": [0.0, 0.0]}  # around, inside
    with flooded_channel() as ch:
        ch._lib = timed = TimedLibrary(zx.load_library())
        time.sleep(seconds)
        for turn in itertools.count():
            name, out = ("ch.read()", None) if turn % 2 else ("ch.read(out=buffer)", buffer)
            timed.inside, start = 0.0, time.thread_time()
            if len(ch.read(10_000, timeout=0, out=out)) < 10_000:
                return {name: around / inside if inside else float("nan") for name, (around, inside) in times.items()}
            times[name][0] += time.thread_time() - start - timed.inside
            times[name][1] += timed.inside
    return {}


def measured(work: Path, measure) -> float:
    process = simulator(work)
    try:
        return measure()
    finally:
        process.terminate()
        process.wait()


def main() -> int:
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 5.0
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    with tempfile.TemporaryDirectory() as folder:
        work = Path(folder)
        program = work / "read_loop"
        subprocess.run(["cc", "-O2", "-I", str(TREE / "include"), str(Path(__file__).with_name("read_loop.c")),
                        "-o", str(program), str(LIBRARY)], check=True)
        buffer = zx.empty_records(10_000)
        ways = {
            "C loop over ZxReadBuffer": lambda mode: c_loop(program, mode, seconds),
            "ch.read()": lambda mode: (python_drain if mode == "drain" else python_stream)(seconds, None),
            "ch.read(out=buffer)": lambda mode: (python_drain if mode == "drain" else python_stream)(seconds, buffer),
        }
        rates = {(mode, way): [] for mode in ("stream", "drain") for way in ways}
        turns: dict = {}
        costs: dict = {}
        for _ in range(rounds):
            for mode, way in rates:
                rates[(mode, way)].append(measured(work, lambda: ways[way](mode)))
            for way, rate in measured(work, lambda: interleaved(seconds)).items():
                turns.setdefault(way, []).append(rate)
            for way, share in measured(work, lambda: split(seconds)).items():
                costs.setdefault(way, []).append(share)
    print(f"library {zx.version()} ({LIBRARY}), vci-sim --rate 0, {seconds:g} s x {rounds} rounds, medians:")
    for mode, title in (("stream", "read while the simulator streams"),
                        ("drain", f"read empty what {seconds:g} s of streaming queued")):
        print(f"{title}{' (per second of the reading thread CPU time)' if mode == 'drain' else ''}:")
        library = statistics.median(rates[(mode, "C loop over ZxReadBuffer")])
        for way in ways:
            values = rates[(mode, way)]
            rate = statistics.median(values)
            print(f"  {way:26s} {rate:12,.0f} records/s  {100 * rate / library:5.1f}% "
                  f"(rounds: {', '.join(f'{v:,.0f}' for v in values)})")
    print(f"read empty what {seconds:g} s queued, the three taking turns call by call:")
    bare = statistics.median(turns["bare ZxReadBuffer via ctypes"])
    for way, values in turns.items():
        rate = statistics.median(values)
        print(f"  {way:28s} {rate:12,.0f} records/s  {100 * rate / bare:5.1f}% "
              f"(rounds: {', '.join(f'{v:,.0f}' for v in values)})")
    print("the package's own CPU time around ZxReadBuffer, against the time inside it (full reads of 10000):")
    for way, values in costs.items():
        print(f"  {way:28s} {100 * statistics.median(values):5.2f}% "
              f"(rounds: {', '.join(f'{100 * v:.2f}%' for v in values)})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
