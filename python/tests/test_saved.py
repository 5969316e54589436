"""Saved runs read back: the package's own saving, and zxcollect's tree of two boxes with two
channels each."""
import os
import re
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import zxcollector as zx
from conftest import VCI_SIM, ZXCOLLECT, Simulator, private_network_problem

MAPPING = {0x101: "Temperature", 0x301: "Voltage", 0x501: "Current", 0x701: "Frequency"}


def test_saving_through_the_package_keeps_every_record_read(simulator, tmp_path):
    simulator.start()  # the default modules: voltage and frequency leave CH5/CH6, CH3..CH6 header-only
    root = tmp_path / "csv"
    with zx.Device(0) as box, box.can_fd(0) as ch:
        with ch.saving(root, MAPPING):
            records = np.concatenate(list(ch.batches(duration=1.5)))
    frame = zx.read_saved(root)
    assert frame["value"].dtype == np.int32 and frame["device"].isna().all() and frame["channel"].isna().all()
    times = zx.timestamps(records)
    for can_id, name in MAPPING.items():
        mine = records["can_id"] == can_id
        for measurement in range(1, 7):
            sent = records["values"][mine, measurement - 1]
            kept = sent != zx.NO_VALUE
            saved = frame[(frame["name"] == name) & (frame["measurement"] == measurement)]
            assert np.array_equal(saved["value"].to_numpy(), sent[kept]), (name, measurement)
            assert np.array_equal(saved["time"].to_numpy(), times[mine][kept]), (name, measurement)
    wide = zx.read_saved(root, pivot=True)
    assert wide[("Temperature", 1)].notna().sum() == (records["can_id"] == 0x101).sum()


@pytest.fixture(scope="module")
def zxcollect_run(tmp_path_factory):
    """Two boxes, two CAN FD channels each, numbered values, saved by zxcollect for 2 s:
    the folder and zxcollect's records per device, channel and name."""
    problem = private_network_problem()
    if problem:
        pytest.skip(problem)
    folder = tmp_path_factory.mktemp("zxcollect")
    simulator = Simulator(VCI_SIM, "--devices", "0,1", "--unique-values", "--frequency", "500")
    try:
        run = subprocess.run([ZXCOLLECT, "--device", "0,1", "--channel", "0:canfd:500000:2000000",
                              "--channel", "1:canfd:500000:2000000", "--save", str(folder / "csv"),
                              "--duration", "2"], capture_output=True, text=True, timeout=120)
    finally:
        simulator.stop()
    assert run.returncode == 0, run.stdout + run.stderr
    # "  DEV1 CAN0 0x301 Voltage: 1000"
    counts = {(int(d), int(c), name): int(n) for d, c, name, n in
              re.findall(r"^  DEV(\d+) CAN(\d+) 0x[0-9A-F]+ (\w+): (\d+)$", run.stdout, re.MULTILINE)}
    assert len(counts) == 16, run.stdout
    return folder / "csv", counts


def test_read_saved_gives_every_record_zxcollect_read_in_order(zxcollect_run):
    root, counts = zxcollect_run
    frame = zx.read_saved(root)
    series = frame.groupby(["device", "channel", "name", "measurement"], observed=True, dropna=False)
    assert len(series) == len(counts) * 6
    for (device, channel, name, measurement), saved in series:
        values = saved["value"].to_numpy().astype(np.int64)
        counter = values // 8
        assert np.all(values % 8 == measurement - 1)
        assert np.all(np.diff(counter) == 1), (device, channel, name, measurement)
        assert len(values) == counts[(device, channel, name)], (device, channel, name, measurement)
    assert len(frame) == 6 * sum(counts.values())


def test_to_hdf5_from_the_command_line_round_trips_through_h5py(zxcollect_run, tmp_path):
    h5py = pytest.importorskip("h5py")
    root, _ = zxcollect_run
    frame = zx.read_saved(root)
    run = subprocess.run([sys.executable, "-m", "zxcollector", "convert", str(root), str(tmp_path / "run.h5")],
                         capture_output=True, text=True, timeout=300,
                         env={**os.environ, "PYTHONPATH": str(Path(zx.__file__).resolve().parents[1])})
    assert run.returncode == 0 and run.stdout.startswith(f"{2 * 2 * 4 * 6} series written"), run.stdout + run.stderr
    with h5py.File(tmp_path / "run.h5", "r") as file:
        for (device, channel, name, measurement), saved in frame.groupby(
                ["device", "channel", "name", "measurement"], observed=True):
            group = file[f"dev{device}/can{channel}/{name}/CH{measurement}"]
            assert np.array_equal(group["time"][()], saved["time"].to_numpy().astype("datetime64[us]").astype(np.int64))
            assert np.array_equal(group["value"][()], saved["value"].to_numpy())
            assert (group.attrs["device"], group.attrs["channel"], group.attrs["name"],
                    group.attrs["measurement"]) == (device, channel, name, measurement)


def test_plot_draws_a_line_per_device_channel_and_measurement_that_never_steps_back(zxcollect_run, tmp_path):
    root, _ = zxcollect_run
    figure = zx.plot(root, tmp_path / "plot.png")
    assert [axis.get_title(loc="left") for axis in figure.axes] == ["Current", "Frequency", "Temperature", "Voltage"]
    for axis in figure.axes:
        labels = [line.get_label() for line in axis.lines]
        assert sorted(labels) == sorted(f"dev{d} can{c} CH{m}" for d in (0, 1) for c in (0, 1) for m in range(1, 7))
        for line in axis.lines:
            assert np.all(np.diff(line.get_xdata()) >= 0), (axis.get_title(loc="left"), line.get_label())
