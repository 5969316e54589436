// The thirteen exports of zxcollector_api.dll, looked up by name in a loaded module.
#pragma once

#include "zxcollector_api.h"

#include <windows.h>

#include <string>

struct ZxApiFunctions {
    decltype(&ZxOpenLog) openLog = nullptr;
    decltype(&ZxCloseLog) closeLog = nullptr;
    decltype(&ZxOpenDev) openDev = nullptr;
    decltype(&ZxCloseDev) closeDev = nullptr;
    decltype(&ZxInitCAN) initCan = nullptr;
    decltype(&ZxInitCANFD) initCanFd = nullptr;
    decltype(&ZxResetCAN) resetCan = nullptr;
    decltype(&ZxSetTerminalResistorCAN) setTerminalResistor = nullptr;
    decltype(&ZxSetModuleSamplingFrequency) setModuleSamplingFrequency = nullptr;
    decltype(&ZxReadBuffer) readBuffer = nullptr;
    decltype(&ZxClearBuffer) clearBuffer = nullptr;
    decltype(&ZxStartSaveFile) startSaveFile = nullptr;
    decltype(&ZxStopSaveFile) stopSaveFile = nullptr;

    // Looks every function up under its plain name; the names that are missing, or
    // empty when all were found.
    std::string resolve(HMODULE module);
};
