"""Finding and loading the shared library, and the texts it hands the host.

The library is looked for, in this order:

1. the path in the environment variable ``ZXCOLLECTOR_LIBRARY``;
2. beside this package (its own folder, then the folder above it): the layout of the
   Windows zip and of a copy next to a script;
3. the system's: ``libzxcollector_api.so.3`` through the dynamic loader's search path
   on Linux, ``zxcollector_api.dll`` on ``PATH`` on Windows.

:func:`load_library` picks one explicitly; it must come before the first call that
needs the library. Reading saved files never needs it.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import re
import threading
from pathlib import Path
from typing import List, Optional, Union

from . import _native

StrPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

ENVIRONMENT_VARIABLE = "ZXCOLLECTOR_LIBRARY"
_WINDOWS = os.name == "nt"
SYSTEM_NAMES = ("zxcollector_api.dll",) if _WINDOWS else ("libzxcollector_api.so.3", "libzxcollector_api.so")

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


class LibraryNotFound(OSError):
    """No zxcollector_api library could be loaded; the message lists where it was looked for."""


def encode_text(text: StrPath) -> bytes:
    """A path or name as the narrow text the library expects: the active code page on
    Windows, the file system's bytes (UTF-8) elsewhere; bytes pass unchanged."""
    text = os.fspath(text)
    if isinstance(text, bytes):
        return text
    return text.encode("mbcs") if _WINDOWS else os.fsencode(text)


def shown(text: StrPath) -> str:
    """A path or name as text for messages."""
    return os.fsdecode(os.fspath(text))


def _open(path: str) -> ctypes.CDLL:
    # The functions use the platform's standard calling convention: __stdcall on Windows.
    loader = ctypes.WinDLL if _WINDOWS else ctypes.CDLL  # type: ignore[attr-defined]
    try:
        return _native.declare(loader(path))
    except AttributeError as missing:
        raise OSError(f"not a zxcollector_api library: {missing}") from None


def _candidates() -> List[str]:
    here = Path(__file__).resolve().parent
    beside = [str(folder / name) for folder in (here, here.parent) for name in SYSTEM_NAMES]
    system = list(SYSTEM_NAMES)
    if _WINDOWS:
        # Python 3.8+ no longer searches PATH for DLLs loaded by name.
        found = ctypes.util.find_library("zxcollector_api")
        system = [found] if found else []
    return [path for path in beside if os.path.isfile(path)] + system


def load_library(path: Optional[StrPath] = None) -> ctypes.CDLL:
    """Loads the library (once per process) and returns it.

    With a path, loads that file; it must be the first load. Without one, returns the
    library already loaded or looks for it as described in the module's text.
    """
    global _library
    with _lock:
        if path is not None:
            wanted = os.path.abspath(os.fsdecode(os.fspath(path)))
            if _library is not None and _library._name != wanted:  # type: ignore[attr-defined]
                raise RuntimeError(f"zxcollector_api is already loaded from {_library._name}")
            if _library is None:
                _library = _open(wanted)
            return _library
        if _library is not None:
            return _library
        explicit = os.environ.get(ENVIRONMENT_VARIABLE)
        tried = [explicit] if explicit else _candidates()
        failures = []
        for candidate in tried:
            try:
                _library = _open(candidate)
                return _library
            except OSError as error:
                failures.append(f"{candidate}: {error}")
                if explicit:
                    break
        raise LibraryNotFound(
            "zxcollector_api could not be loaded; tried " + ("; ".join(failures) or "nothing")
            + f". Set {ENVIRONMENT_VARIABLE} to the library's path, or install it"
            + (" (zxcollector_api.dll with Qt5Core.dll beside it on PATH)" if _WINDOWS
               else " (libzxcollector_api.so.3 on the loader's path, e.g. the libzxcollector3 package)"))


def _text_from(function, *arguments) -> Optional[str]:
    buffer = ctypes.create_string_buffer(512)
    if function(*arguments, buffer, len(buffer)) != 0:
        return None
    return buffer.value.decode("utf-8", "replace")


def library_result_text(code: int) -> Optional[str]:
    """ZxGetResultText's text when the loaded (or loadable) library exports it."""
    try:
        lib = load_library()
    except OSError:
        return None
    if not hasattr(lib, "ZxGetResultText"):
        return None
    return _text_from(lib.ZxGetResultText, code)


def version() -> str:
    """The library's version text, e.g. "3.1.0".

    Libraries before 3.1 have no ZxGetVersion: the version is then read from the loaded
    file's name where it carries one (libzxcollector_api.so.3.0.0)."""
    lib = load_library()
    if hasattr(lib, "ZxGetVersion"):
        text = _text_from(lib.ZxGetVersion)
        if text:
            return text
    real = os.path.realpath(lib._name)  # type: ignore[attr-defined]
    match = re.search(r"\.so\.(\d+\.\d+\.\d+)$", real)
    return match.group(1) if match else "unknown (this zxcollector_api has no ZxGetVersion)"


def library_path() -> str:
    """Where the loaded library came from."""
    return load_library()._name  # type: ignore[attr-defined]
