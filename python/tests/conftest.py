"""One kit for the package's tests: where the built programs are, a private network check,
the box simulator as a child process and polling with a deadline.

The programs come from the environment (set by the test command), else from build/:
ZXCOLLECTOR_LIBRARY (the library), ZX_VCI_SIM (the simulator), ZX_ZXCOLLECT (zxcollect).
"""
import os
import socket
import subprocess
import time
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
BUILD = REPOSITORY / "build"
os.environ.setdefault("ZXCOLLECTOR_LIBRARY", str(BUILD / "api" / "libzxcollector_api.so"))
VCI_SIM = os.environ.get("ZX_VCI_SIM", str(BUILD / "tools" / "vci-sim" / "vci-sim"))
ZXCOLLECT = os.environ.get("ZX_ZXCOLLECT", str(BUILD / "tools" / "zxcollect" / "zxcollect"))
DEADLINE = 10.0


def poll_until(condition, timeout=DEADLINE, interval=0.02):
    end = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > end:
            return False
        time.sleep(interval)
    return True


def _private_network_problem():
    """Why this is not a private namespace that carries the box addresses on lo, or None."""
    interfaces = sorted(name for _, name in socket.if_nameindex())
    if interfaces != ["lo"]:
        return f"interfaces {interfaces} besides lo: run inside scripts/netns-run.sh"
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        try:
            probe.bind(("192.168.201.130", 0))
        except OSError:
            return "lo does not carry 192.168.201.130: run inside scripts/netns-run.sh"
    return None


@pytest.fixture
def private_network():
    problem = _private_network_problem()
    if problem:
        pytest.skip(problem)


class Simulator:
    def __init__(self, output: Path):
        self.output = output
        self.process = None

    def start(self, *arguments):
        self.stop()
        self.log = open(self.output, "w")
        self.process = subprocess.Popen([VCI_SIM, *arguments], stdout=self.log, stderr=subprocess.STDOUT)
        ready = poll_until(lambda: "vci-sim ready" in self.output.read_text() or self.process.poll() is not None)
        assert ready and self.process.poll() is None, f"vci-sim did not start: {self.output.read_text()}"

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            self.process.wait(timeout=DEADLINE)
            self.log.close()
            self.process = None


@pytest.fixture
def simulator(private_network, tmp_path):
    sim = Simulator(tmp_path / "vci-sim.txt")
    yield sim
    sim.stop()
