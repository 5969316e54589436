"""The package's tests take the kit of the tree's Python tests (tests/zxcollect/live_support.py,
or the folder ZX_TEST_KIT names): the private network check, the box simulator as a child
process and polling with a deadline.

The programs come from the environment (set by the test command), else from build/:
ZXCOLLECTOR_LIBRARY (the library), ZX_VCI_SIM (the simulator), ZX_ZXCOLLECT (zxcollect).
"""
import os
import sys
from pathlib import Path
from types import SimpleNamespace

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
sys.path.insert(0, os.environ.get("ZX_TEST_KIT", str(REPOSITORY / "tests" / "zxcollect")))
from live_support import Simulator, poll_until, private_network_problem  # noqa: E402,F401

BUILD = REPOSITORY / "build"
os.environ.setdefault("ZXCOLLECTOR_LIBRARY", str(BUILD / "api" / "libzxcollector_api.so"))
VCI_SIM = os.environ.get("ZX_VCI_SIM", str(BUILD / "tools" / "vci-sim" / "vci-sim"))
ZXCOLLECT = os.environ.get("ZX_ZXCOLLECT", str(BUILD / "tools" / "zxcollect" / "zxcollect"))


@pytest.fixture
def private_network():
    problem = private_network_problem()
    if problem:
        pytest.skip(problem)


@pytest.fixture
def simulator(private_network):
    """start(*arguments) runs vci-sim; what was started is stopped at the end."""
    started = []
    yield SimpleNamespace(start=lambda *arguments: started.append(Simulator(VCI_SIM, *arguments)))
    for sim in started:
        sim.stop()
