"""zxcollector: Python over the zxcollector_api library.

    import zxcollector as zx
    with zx.Device(0, host_octet=1) as box:
        ch = box.can_fd(0, bitrate=500_000, data_bitrate=2_000_000)
        with ch.saving("out", {0x101: "Temperature", 0x301: "Voltage"}):
            for records in ch.batches(duration=10.0):
                ...  # numpy arrays of zx.RECORD_DTYPE
    frame = zx.read_saved("out")

Reading saved runs needs only numpy (and pandas for read_saved, h5py for to_hdf5,
matplotlib for plot); everything else loads the library (see zxcollector.library).
"""
from .device import Channel, Device, Saving, close_all_devices
from .hdf5 import to_hdf5
from .library import LibraryNotFound, library_path, load_library, version
from .log import close_log, open_log
from .records import MEASUREMENTS, NO_VALUE, RECORD_DTYPE, empty_records, timestamps
from .results import ZxError, result_name, result_text
from .saved import Series, find_series, read_saved
from .timetext import parse_texts


def plot(root, output=None, show=False):
    """Draws a saved run into a PNG; see zxcollector.plot.plot."""
    from .plot import plot as draw

    return draw(root, output, show)


__version__ = "3.1.0"
__all__ = [
    "Channel", "Device", "LibraryNotFound", "MEASUREMENTS", "NO_VALUE", "RECORD_DTYPE", "Saving", "Series",
    "ZxError", "close_all_devices", "close_log", "empty_records", "find_series", "library_path",
    "load_library", "open_log", "parse_texts", "plot", "read_saved", "result_name", "result_text", "timestamps",
    "to_hdf5", "version",
]
