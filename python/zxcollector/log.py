"""The library's log file (ZxOpenLog / ZxCloseLog)."""
from __future__ import annotations

from .library import StrPath, encode_text, load_library, shown
from .results import check

DEBUG, INFORMATION, WARNING, ERROR = 0, 1, 2, 3


class Log:
    """The running log; close() or the end of a with block stops it."""

    def __init__(self, path: StrPath) -> None:
        self.path = path

    def close(self) -> None:
        close_log()

    def __enter__(self) -> "Log":
        return self

    def __exit__(self, exc_type, exc, tb) -> None:
        self.close()


def open_log(path: StrPath, level: int = INFORMATION, file_size_mb: int = 10, file_count: int = 5) -> Log:
    """Starts the library's log at path: lines of level and above (0 debug with every
    datagram, 1 information, 2 warning, 3 error), rotating after file_size_mb MiB and
    keeping file_count old files. Lines from before (the library's load) come first."""
    check("ZxOpenLog", f"{shown(path)!r}, level {level}, {file_size_mb} MiB, {file_count} files",
          load_library().ZxOpenLog(encode_text(path), level, file_size_mb, file_count))
    return Log(path)


def close_log() -> None:
    """Stops the library's log."""
    load_library().ZxCloseLog()
