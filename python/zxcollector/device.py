"""A VCI box, its CAN channels and their saving, each a context manager.

Threads: ctypes releases the GIL while a library function runs, so channels can be read
from threads of their own. The library's rules apply: every function may be called from
any thread; initialise a channel from one thread; do not reset a channel, close its
device or start or stop its saving while a read on that channel runs; one reader per
channel (a read removes what it returns).
"""
from __future__ import annotations

import sys
import time
import warnings
from typing import Dict, Iterator, Mapping, Optional, Tuple, Union

import numpy as np

from .library import StrPath, encode_text, load_library, shown
from .records import RECORD_DTYPE
from .results import ZxError, check

# ZxReadBuffer takes at most this many records per call.
READ_LIMIT = 10_000
# Wait between reads of an empty channel: short against a module's sampling period, long
# enough that an idle reader costs no noticeable CPU.
POLL_INTERVAL = 0.001
ALL_DEVICES = 0xFFFFFFFF
ZX_ERR_NO_DATA = -621


def _close_quietly(close, exc: Optional[BaseException]) -> None:
    """Closes on leaving a with block; a failure while the body's exception is under way is
    attached to it as a note instead of hiding it."""
    if exc is None:
        close()
        return
    try:
        close()
    except ZxError as failure:
        if hasattr(exc, "add_note"):
            exc.add_note(f"while closing: {failure}")
        else:
            warnings.warn(f"while closing: {failure}", RuntimeWarning, stacklevel=3)


def _mapping_text(mapping: Union[Mapping[int, str], str, bytes]) -> bytes:
    if isinstance(mapping, (str, bytes)):
        return encode_text(mapping)
    lines = []
    for identifier, name in mapping.items():
        if "\n" in name or "\r" in name:
            raise ValueError(f"mapping name {name!r} holds a line break")
        lines.append(encode_text(f"0x{int(identifier):X},") + encode_text(name) + b"\n")
    return b"".join(lines)


class Saving:
    """CSV saving of one channel, from ZxStartSaveFile until :meth:`stop` (ZxStopSaveFile).

    Saving writes what the host reads: records reach the files as :meth:`Channel.read`
    takes them, so keep reading while saving runs.
    """

    def __init__(self, channel: "Channel", root: StrPath, mapping: Union[Mapping[int, str], str, bytes],
                 max_file_mb: int = 10) -> None:
        self.channel = channel
        self.root = root
        self.running = False
        lib, d, c = channel._lib, channel.device.index, channel.index
        check("ZxStartSaveFile", f"device {d}, channel {c}, root {shown(root)!r}, mapping {mapping!r}, "
                                 f"{max_file_mb} MiB",
              lib.ZxStartSaveFile(d, c, encode_text(root), _mapping_text(mapping), int(max_file_mb)))
        if channel._saving is not None:
            channel._saving.running = False  # the library ended that save before starting this one
        channel._saving = self
        self.running = True

    def stop(self) -> None:
        """Stops saving; every file is complete when it returns."""
        if self.running:
            self.running = False
            ch = self.channel
            ch._saving = None
            if not ch.open:
                return  # resetting the channel or closing its device stopped it
            check("ZxStopSaveFile", f"device {ch.device.index}, channel {ch.index}",
                  ch._lib.ZxStopSaveFile(ch.device.index, ch.index))

    def __enter__(self) -> "Saving":
        return self

    def __exit__(self, exc_type, exc, tb) -> None:
        _close_quietly(self.stop, exc)


class Channel:
    """An initialised CAN or CAN FD channel of a :class:`Device`; :meth:`reset` (or leaving
    a with block) closes it."""

    def __init__(self, device: "Device", index: int) -> None:
        self.device = device
        self.index = index
        self.open = True
        self._lib = device._lib
        self._saving: Optional[Saving] = None

    def _where(self) -> str:
        return f"device {self.device.index}, channel {self.index}"

    def set_sampling_frequency(self, module_id: int, hertz: int) -> None:
        """Sets a module's sampling frequency (ZxSetModuleSamplingFrequency); blocks while the
        module answers, about 4 s when none does. Records arriving meanwhile are used up."""
        check("ZxSetModuleSamplingFrequency", f"{self._where()}, module 0x{module_id:X}, {hertz} Hz",
              self._lib.ZxSetModuleSamplingFrequency(self.device.index, self.index, module_id, hertz))

    def set_terminal_resistor(self, enable: bool) -> None:
        """Switches the channel's 120 ohm terminal resistor (ZxSetTerminalResistorCAN)."""
        check("ZxSetTerminalResistorCAN", f"{self._where()}, {'on' if enable else 'off'}",
              self._lib.ZxSetTerminalResistorCAN(self.device.index, self.index, 1 if enable else 0))

    def read(self, max_records: int = READ_LIMIT, timeout: Optional[float] = 0.5,
             out: Optional[np.ndarray] = None) -> np.ndarray:
        """Records received on the channel, as an array of :data:`RECORD_DTYPE`.

        Waits up to timeout seconds (None: without end, 0: not at all) for the first record,
        then takes what is waiting, up to max_records, without waiting further. Returns an
        empty array when nothing arrived in time. With out (a C-contiguous RECORD_DTYPE
        array) the library writes the records into it and the filled part is returned:
        no copy, for loops that reuse one array; without, the array returned is new.
        """
        fresh = out is None
        if out is None:
            out = self._array_for(max_records)
        elif out.dtype != RECORD_DTYPE or not out.flags.c_contiguous or not out.flags.writeable:
            raise ValueError("out must be a writeable C-contiguous array of zxcollector.RECORD_DTYPE")
        capacity = min(max_records, len(out))
        if capacity <= 0:
            return out[:0]
        read_buffer, d, c = self._lib.ZxReadBuffer, self.device.index, self.index
        base, itemsize = out.ctypes.data, RECORD_DTYPE.itemsize
        deadline = None if timeout is None else time.monotonic() + timeout
        filled = 0
        while filled < capacity:
            result = read_buffer(d, c, base + filled * itemsize, min(capacity - filled, READ_LIMIT))
            if result > 0:
                filled += result
                continue
            if result != ZX_ERR_NO_DATA:
                check("ZxReadBuffer", f"{self._where()}, capacity {min(capacity - filled, READ_LIMIT)}", result)
            if filled:
                break
            remaining = None if deadline is None else deadline - time.monotonic()
            if remaining is not None and remaining <= 0:
                break
            time.sleep(POLL_INTERVAL if remaining is None else min(POLL_INTERVAL, remaining))
        if fresh:
            if len(out) <= READ_LIMIT:
                self._spare = out  # for the next read, unless the caller keeps what it got
            if filled < capacity:
                return out[:filled].copy()  # a few records must not keep the whole array alive
        return out[:filled]

    def _array_for(self, count: int) -> np.ndarray:
        """The array of the last read when nothing outside holds it any more (the library then
        writes memory it wrote before: no page faults), else a new one."""
        spare = self.__dict__.pop("_spare", None)  # one atomic step: two threads never share it
        # References: this variable and getrefcount's argument; a result handed out adds one.
        if spare is not None and len(spare) == count and sys.getrefcount(spare) == 2:
            return spare
        return np.empty(count, dtype=RECORD_DTYPE)

    def batches(self, duration: Optional[float] = None, max_records: int = READ_LIMIT,
                timeout: float = 0.1) -> Iterator[np.ndarray]:
        """Arrays of records as they arrive, until duration seconds have passed (None: until
        the caller stops iterating). Each array is new; empty ones are not yielded."""
        end = None if duration is None else time.monotonic() + duration
        while True:
            remaining = None if end is None else end - time.monotonic()
            if remaining is not None and remaining <= 0:
                return
            records = self.read(max_records, timeout if remaining is None else min(timeout, remaining))
            if len(records):
                yield records

    def clear(self) -> None:
        """Discards the records waiting on the channel (ZxClearBuffer)."""
        check("ZxClearBuffer", self._where(), self._lib.ZxClearBuffer(self.device.index, self.index))

    def saving(self, root: StrPath, mapping: Union[Mapping[int, str], str, bytes],
               max_file_mb: int = 10) -> Saving:
        """Starts saving what is read from the channel as CSV files below root: one file
        series per mapped identifier and measurement channel (root/CH1..CH6). mapping is
        {identifier: name} or the text "0x101,Temperature\\n..."; max_file_mb is the size
        of one file, 1..1024. Use it as a context manager, or call stop()."""
        return Saving(self, root, mapping, max_file_mb)

    def reset(self) -> None:
        """Closes the channel (ZxResetCAN), stopping its saving."""
        if self.open:
            self.open = False
            self.device.channels.pop(self.index, None)
            check("ZxResetCAN", self._where(), self._lib.ZxResetCAN(self.device.index, self.index))

    def __enter__(self) -> "Channel":
        return self

    def __exit__(self, exc_type, exc, tb) -> None:
        _close_quietly(self.reset, exc)

    def __repr__(self) -> str:
        return f"<zxcollector.Channel device {self.device.index} channel {self.index}{'' if self.open else ' reset'}>"


class Device:
    """The VCI box of a device index (0..15, answering at 192.168.201.(130 + index)), opened
    with ZxOpenDev on creation and closed with ZxCloseDev by :meth:`close` or at the end of a
    with block.

    host_octet 1..254 makes the library bind to 192.168.201.<host_octet>; that address must
    be on the network interface facing the box.
    """

    def __init__(self, index: int = 0, host_octet: int = 1) -> None:
        self._lib = load_library()
        self.index = index
        self.host_octet = host_octet
        self.channels: Dict[int, Channel] = {}
        self.open = False
        check("ZxOpenDev", f"device {index}, host octet {host_octet}", self._lib.ZxOpenDev(0, index, host_octet),
              host_octet=host_octet, box_octet=130 + index)
        self.open = True

    def can(self, channel: int, bitrate: int = 500_000) -> Channel:
        """Opens a classic CAN channel (ZxInitCAN) and returns it."""
        check("ZxInitCAN", f"device {self.index}, channel {channel}, {bitrate} bit/s",
              self._lib.ZxInitCAN(self.index, channel, bitrate))
        return self.channels.setdefault(channel, Channel(self, channel))

    def can_fd(self, channel: int, bitrate: int = 500_000, data_bitrate: int = 2_000_000) -> Channel:
        """Opens a CAN FD channel with its nominal and data-phase bit rates (ZxInitCANFD)."""
        check("ZxInitCANFD", f"device {self.index}, channel {channel}, {bitrate}/{data_bitrate} bit/s",
              self._lib.ZxInitCANFD(self.index, channel, bitrate, data_bitrate))
        return self.channels.setdefault(channel, Channel(self, channel))

    def batches(self, duration: Optional[float] = None,
                max_records: int = READ_LIMIT) -> Iterator[Tuple[Channel, np.ndarray]]:
        """(channel, records) from every open channel of the box in turn, as records arrive,
        until duration seconds have passed (None: until the caller stops iterating)."""
        end = None if duration is None else time.monotonic() + duration
        while end is None or time.monotonic() < end:
            idle = True
            for channel in list(self.channels.values()):
                records = channel.read(max_records, timeout=0)
                if len(records):
                    idle = False
                    yield channel, records
            if idle:
                time.sleep(POLL_INTERVAL)

    def close(self) -> None:
        """Closes the box (ZxCloseDev): stops saving and resets every channel first."""
        if self.open:
            self.open = False
            for channel in self.channels.values():
                channel.open = False
            self.channels.clear()
            check("ZxCloseDev", f"device {self.index}", self._lib.ZxCloseDev(self.index))

    def __enter__(self) -> "Device":
        return self

    def __exit__(self, exc_type, exc, tb) -> None:
        _close_quietly(self.close, exc)

    def __repr__(self) -> str:
        return f"<zxcollector.Device {self.index}{'' if self.open else ' closed'}>"


def close_all_devices() -> None:
    """Closes every open box (ZxCloseDev with 0xFFFFFFFF)."""
    check("ZxCloseDev", "all devices", load_library().ZxCloseDev(ALL_DEVICES))
