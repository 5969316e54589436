"""Result codes: their ZX_* names, their texts, and the exception a failing call raises.

Several codes share a value (-1 has four meanings), so a code's name and text depend on
the function that returned it. Closing a device and configuring a module combine the
codes of their steps with bitwise OR and may return values of no single code.
"""
from __future__ import annotations

from typing import Iterable, NamedTuple, Optional, Tuple

from .library import library_result_text


class ResultCode(NamedTuple):
    value: int
    name: str
    functions: Tuple[str, ...]  # the exported functions that return it
    text: str


def _code(value: int, name: str, functions: str, text: str) -> ResultCode:
    return ResultCode(value, name, tuple(functions.split()), text)


# The codes of include/zxcollector_api.h that exported functions return.
CODES: Tuple[ResultCode, ...] = (
    _code(0, "ZX_OK", "", "success"),
    _code(-1, "ZX_ERR_NO_CHANNEL_CONFIG", "ZxInitCAN ZxInitCANFD",
          "no CAN channel configuration for this device and channel (devices 0..15, channels 0..7)"),
    _code(-1, "ZX_ERR_LOG_START", "ZxOpenLog", "the log could not be started (check that its folder exists and is writable)"),
    _code(-1, "ZX_ERR_INVALID_ARGUMENT", "ZxReadBuffer", "record buffer null or capacity 0 or negative"),
    _code(-1, "ZX_ERR_MAPPING_ID", "ZxStartSaveFile",
          "the ID mapping is refused: an identifier is not a number, or a name is not usable in a file name "
          "(the library's log names it)"),
    _code(-2, "ZX_ERR_SAVE_NOT_CONFIGURED", "ZxStartSaveFile", "save root folder or ID mapping empty"),
    _code(-3, "ZX_ERR_NO_BUFFER_MANAGER", "ZxReadBuffer ZxClearBuffer", "the reader has no channel buffers"),
    _code(-6, "ZX_ERR_FILE_WRITER_CREATE", "ZxStartSaveFile", "a channel file writer could not be created"),
    _code(-99, "ZX_ERR_SAVE_EXCEPTION", "ZxStartSaveFile", "saving or its router thread failed to start"),
    _code(-102, "ZX_ERR_DEVICE_NOT_OPEN",
          "ZxCloseDev ZxInitCAN ZxInitCANFD ZxResetCAN ZxSetTerminalResistorCAN",
          "no open device with that index"),
    _code(-401, "ZX_ERR_OPEN_DEVICE", "ZxOpenDev", "no connection, or the box did not answer"),
    _code(-402, "ZX_ERR_NOT_CONNECTED", "ZxInitCAN ZxInitCANFD", "the device is not connected"),
    _code(-601, "ZX_ERR_UNKNOWN_CHANNEL", "ZxResetCAN ZxClearBuffer ZxCloseDev", "the device has no such channel"),
    _code(-621, "ZX_ERR_NO_DATA", "ZxReadBuffer", "nothing to read"),
    _code(-1001, "ZX_ERR_OPEN_CAN", "ZxInitCAN ZxInitCANFD", "the box did not confirm opening the CAN channel"),
    _code(-1002, "ZX_ERR_CLOSE_CAN", "ZxResetCAN ZxCloseDev", "the box did not confirm closing a CAN channel"),
    _code(-1003, "ZX_ERR_NO_READER", "ZxClearBuffer ZxReadBuffer ZxStartSaveFile ZxStopSaveFile",
          "no reader for this device and channel: initialise the channel first"),
    _code(-1011, "ZX_ERR_CANFD_PARAM", "ZxInitCANFD", "the box did not confirm a CAN FD parameter"),
    _code(-1021, "ZX_ERR_TERMINAL_RESISTOR", "ZxSetTerminalResistorCAN",
          "the box did not confirm the terminal-resistor switch"),
    _code(-5002, "ZX_ERR_CLOSE_LIN", "ZxCloseDev", "the box did not confirm closing a LIN channel"),
    _code(-120000, "ZX_ERR_MODULE_TIMEOUT", "ZxSetModuleSamplingFrequency",
          "a module request got no matching reply in time (check the module's identifier and wiring)"),
    _code(-120021, "ZX_ERR_MODULE_COMPLETE", "ZxSetModuleSamplingFrequency",
          "leaving module configuration mode failed (also when no module answers at all or the device is not open)"),
    _code(-120023, "ZX_ERR_MODULE_ENTER", "ZxSetModuleSamplingFrequency", "entering module configuration mode failed"),
)

# Functions whose result is the bitwise OR of the codes of several steps.
COMBINING_FUNCTIONS = ("ZxCloseDev", "ZxSetModuleSamplingFrequency")

# What to check, beyond the code's text, for failures a user can usually fix.
_HINTS = {
    ("ZxOpenDev", -401): "check that 192.168.201.{host_octet} is on a network interface and the box "
                         "192.168.201.{box_octet} answers: see Troubleshooting in the README",
}


def lookup(code: int, function: Optional[str] = None) -> Optional[ResultCode]:
    """The code as the function returns it; without a function, the first of that value."""
    matches = [entry for entry in CODES if entry.value == code]
    for entry in matches:
        if function is None or function in entry.functions or not entry.functions:
            return entry
    return matches[0] if matches and function not in COMBINING_FUNCTIONS else None


def result_name(code: int, function: Optional[str] = None) -> str:
    """The ZX_* name of a code ("ZX_ERR_NO_CHANNEL_CONFIG" for -1 of ZxInitCAN); "" for a
    combined or unknown result."""
    entry = lookup(code, function)
    return entry.name if entry else ""


def _combined_parts(code: int, function: str) -> Iterable[ResultCode]:
    return [entry for entry in CODES if function in entry.functions and entry.value
            and (code & entry.value) == entry.value]


def result_text(code: int, function: Optional[str] = None) -> str:
    """What a result code means. Without a function, the library's own text (ZxGetResultText)
    when it has one; with a function, the meaning for that function."""
    if function is None:
        text = library_result_text(code)
        if text:
            return text
    if code > 0 and function in (None, "ZxReadBuffer"):
        return "number of records read"
    if function is None:
        meanings = [entry for entry in CODES if entry.value == code]
        if len(meanings) > 1:
            return "; ".join(f"{' or '.join(entry.functions)}: {entry.text}" for entry in meanings)
    entry = lookup(code, function)
    if entry:
        return entry.text
    if function in COMBINING_FUNCTIONS and code < 0:
        parts = ", ".join(f"{entry.value} {entry.name}" for entry in _combined_parts(code, function))
        return "several steps failed, their codes combined with bitwise OR" + (f" (it can hold {parts})" if parts else "")
    return f"unknown result {code}"


class ZxError(Exception):
    """A zxcollector_api call failed.

    ``code`` is the library's result, ``name`` its ZX_* name ("" for a combined result),
    ``function`` the exported function and ``text`` what the code means.
    """

    def __init__(self, function: str, arguments: str, code: int, hint: str = "") -> None:
        self.function = function
        self.arguments = arguments
        self.code = code
        self.hint = hint
        self.name = result_name(code, function)
        self.text = result_text(code, function)
        shared = sum(entry.value == code for entry in CODES) > 1
        if lookup(code, function) and not shared:
            # The library's own text where the value has one meaning (it cannot know the function).
            self.text = library_result_text(code) or self.text
        message = f"{function}({arguments}) failed: {code}{' ' + self.name if self.name else ''}: {self.text}"
        super().__init__(message + (f" ({hint})" if hint else ""))

    def __reduce__(self):
        # for pickling (multiprocessing): rebuilt from the arguments of the failed call
        return (ZxError, (self.function, self.arguments, self.code, self.hint))


def check(function: str, arguments: str, code: int, **context: int) -> int:
    """Returns code when it is 0 (or a record count); raises ZxError otherwise."""
    if code >= 0:
        return code
    hint = _HINTS.get((function, code), "")
    raise ZxError(function, arguments, code, hint.format(**context) if hint else "")
