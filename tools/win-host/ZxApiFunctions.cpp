#include "ZxApiFunctions.h"

namespace {

template <typename Function>
void lookUp(HMODULE module, const char* name, Function& function, std::string& missing) {
    // GetProcAddress hands every export back as FARPROC; the header gives the real type.
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (function == nullptr) {
        missing += missing.empty() ? name : std::string(" ") + name;
    }
}

} // namespace

std::string ZxApiFunctions::resolve(HMODULE module) {
    std::string missing;
    lookUp(module, "ZxOpenLog", openLog, missing);
    lookUp(module, "ZxCloseLog", closeLog, missing);
    lookUp(module, "ZxOpenDev", openDev, missing);
    lookUp(module, "ZxCloseDev", closeDev, missing);
    lookUp(module, "ZxInitCAN", initCan, missing);
    lookUp(module, "ZxInitCANFD", initCanFd, missing);
    lookUp(module, "ZxResetCAN", resetCan, missing);
    lookUp(module, "ZxSetTerminalResistorCAN", setTerminalResistor, missing);
    lookUp(module, "ZxSetModuleSamplingFrequency", setModuleSamplingFrequency, missing);
    lookUp(module, "ZxReadBuffer", readBuffer, missing);
    lookUp(module, "ZxClearBuffer", clearBuffer, missing);
    lookUp(module, "ZxStartSaveFile", startSaveFile, missing);
    lookUp(module, "ZxStopSaveFile", stopSaveFile, missing);
    return missing;
}
