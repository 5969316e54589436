"""The exported C functions of zxcollector_api as ctypes sees them, and nothing else."""
from ctypes import CDLL, c_char_p, c_int32, c_uint32, c_void_p

_U32, _I32 = c_uint32, c_int32

# name: argument types; every function returns a signed 32-bit result.
SIGNATURES = {
    "ZxOpenLog": (c_char_p, _I32, _I32, _I32),
    "ZxCloseLog": (),
    "ZxOpenDev": (_U32, _U32, _I32),
    "ZxCloseDev": (_U32,),
    "ZxInitCAN": (_U32, _U32, _U32),
    "ZxInitCANFD": (_U32, _U32, _U32, _U32),
    "ZxResetCAN": (_U32, _U32),
    "ZxSetTerminalResistorCAN": (_U32, _U32, _I32),
    "ZxSetModuleSamplingFrequency": (_U32, _U32, _U32, _I32),
    # the records: a C-contiguous array of 72-byte ZxCollectData (records.RECORD_DTYPE)
    "ZxReadBuffer": (_U32, _U32, c_void_p, _I32),
    "ZxClearBuffer": (_U32, _U32),
    "ZxStartSaveFile": (_U32, _U32, c_char_p, c_char_p, _I32),
    "ZxStopSaveFile": (_U32, _U32),
}

# Exported by libraries from 3.1 on; looked up with hasattr before use.
OPTIONAL_SIGNATURES = {
    "ZxGetResultText": (_I32, c_void_p, _U32),
    "ZxGetVersion": (c_void_p, _U32),
}


def declare(lib: CDLL) -> CDLL:
    """Gives every exported function of lib its argument and result types."""
    for table, required in ((SIGNATURES, True), (OPTIONAL_SIGNATURES, False)):
        for name, argtypes in table.items():
            if not required and not hasattr(lib, name):
                continue
            function = getattr(lib, name)
            function.argtypes = argtypes
            function.restype = _I32
    return lib
