"""The package against the box simulator, through the built library."""
import time

import numpy as np
import pytest

import zxcollector as zx
from conftest import poll_until

MODULE_IDS = {0x101, 0x301, 0x501, 0x701}


class Boom(Exception):
    pass


def test_leaving_each_with_block_by_an_exception_closes_what_it_opened(simulator, tmp_path):
    simulator.start()
    log = tmp_path / "zx.log"
    raw = zx.load_library()
    with zx.open_log(log, level=1):
        with zx.Device(0) as box:
            ch = box.can_fd(0)
            with pytest.raises(Boom):
                with ch.saving(tmp_path / "csv", {0x101: "Temperature"}):
                    raise Boom
            poll_until(lambda: "File saving stopped for DEV0 CH0" in log.read_text(), 10, "the save's stop line")
            with pytest.raises(Boom):
                with ch:
                    raise Boom
            assert raw.ZxClearBuffer(0, 0) == -1003  # no reader: the channel was reset
        with pytest.raises(Boom):
            with zx.Device(0) as box:
                raise Boom
        assert raw.ZxInitCANFD(0, 0, 500000, 2000000) == -102  # no open device


@pytest.mark.parametrize("call, code, name, says", [
    (lambda tmp: zx.Device(5), -401, "ZX_ERR_OPEN_DEVICE",
     ["ZxOpenDev(device 5, host octet 1) failed: -401 ZX_ERR_OPEN_DEVICE: ", "192.168.201.1 "]),
    (lambda tmp: zx.Device(0).can(8, 250_000), -1, "ZX_ERR_NO_CHANNEL_CONFIG",
     ["ZxInitCAN(device 0, channel 8, 250000 bit/s) failed: -1 ZX_ERR_NO_CHANNEL_CONFIG: "]),
    (lambda tmp: zx.Device(0).can_fd(0).saving(tmp, {0x101: "a/b"}), -1, "ZX_ERR_MAPPING_ID",
     ["ZxStartSaveFile(device 0, channel 0, root ", "failed: -1 ZX_ERR_MAPPING_ID: "]),
])
def test_a_failing_call_raises_an_error_with_code_name_and_text(simulator, tmp_path, call, code, name, says):
    simulator.start()
    try:
        with pytest.raises(zx.ZxError) as caught:
            call(tmp_path)
    finally:
        zx.close_all_devices()
    error = caught.value
    assert (error.code, error.name) == (code, name)
    assert error.text and str(error).count(error.text) == 1
    for part in says:
        assert part in str(error)


def test_read_with_nothing_arriving_returns_an_empty_array_once_the_timeout_is_up(simulator):
    simulator.start("--modules", "none")
    with zx.Device(0) as box:
        ch = box.can_fd(0)
        started = time.monotonic()
        records = ch.read(timeout=0.3)
        waited = time.monotonic() - started
    assert records.dtype == zx.RECORD_DTYPE and len(records) == 0
    assert 0.3 <= waited < 1.3


def test_records_hold_exactly_what_the_simulator_sent(simulator):
    simulator.start("--unique-values", "--rate", "20000")
    buffer = zx.empty_records(500)
    received = []
    with zx.Device(0) as box, box.can_fd(0) as ch:
        # Mostly full arrays of 64, all kept: no later read may write into them.
        for batch in ch.batches(duration=10.0, max_records=64):
            received.append(batch)
            filled = ch.read(out=buffer)  # in place: the filled part of the caller's array
            assert len(filled) == 0 or filled.ctypes.data == buffer.ctypes.data
            received.append(filled.copy())
            if sum(map(len, received)) >= 4000:
                break
    records = np.concatenate(received)
    assert len(records) >= 4000
    assert set(np.unique(records["can_id"])) <= MODULE_IDS
    assert not records["reserved"].any()
    times = zx.timestamps(records)
    assert not np.isnat(times).any()
    assert abs(times[0] - np.datetime64("now", "us")) < np.timedelta64(1, "D")
    for module in np.unique(records["can_id"]):
        mine = records[records["can_id"] == module]
        counter = mine["values"][:, 7].astype(np.int64)
        assert np.all(np.diff(counter) == 1), f"0x{module:X}: records lost or out of order"
        assert np.array_equal(mine["values"][:, :6], counter[:, None] * 8 + np.arange(6))
        assert np.all(np.diff(times[records["can_id"] == module]) >= np.timedelta64(0))

