// The exported functions. The thirteen that drive the collector check the host's
// device and channel indices at full width, then route into the process-wide objects;
// the two that describe it write texts. Nothing thrown below reaches the host.
#include "zxcollector_api.h"

#include "api/ZxLibrary.h"
#include "api/ZxResultText.h"
#include "api/common/ZxLog.h"
#include "collector/ZxCollectorManager.h"
#include "vci/config/KvVciChannelConfig.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciDevice.h"
#include "vci/manager/KvVciDeviceManager.h"

#include <QString>

#include <exception>
#include <memory>

namespace {

constexpr ZxIndex kAllDevices = kZxAllIndices;

// The codes a host gets for an index that names no device or channel.
constexpr std::int32_t kNoSuchChannel = -1;
constexpr std::int32_t kNoSuchModuleTarget = ZX_ERR_MODULE_COMPLETE;

bool isDevice(ZxIndex deviceIndex) {
    return deviceIndex <= KvVciConfigStore::kMaxDeviceIndex;
}

bool isCanChannel(ZxIndex deviceIndex, ZxIndex channelIndex) {
    return isDevice(deviceIndex) &&
           channelIndex < KvVciConfigStore::instance().getCanChannelCount(deviceIndex);
}

// Runs one export's work: an exception (a thread that cannot start, memory running
// out) is logged naming the call and becomes the call's failure code. What the work
// had made is undone by the owners unwinding on the way out.
template <typename Work> std::int32_t guarded(const char* call, std::int32_t failure, Work&& work) noexcept {
    try {
        return work();
    } catch (const std::exception& error) {
        try {
            zxLog(ZxLevel::Error, "{} failed: {}", call, error.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            zxLog(ZxLevel::Error, "{} failed: unknown exception", call);
        } catch (...) {
        }
    }
    return failure;
}

bool isHostOctet(std::int32_t octet) {
    return octet >= 1 && octet <= 254;
}

// Writes the channel's mode and rates into the store, opens the channel on the box
// and, once it is open, creates its reader.
std::int32_t initCanChannel(ZxIndex deviceIndex, ZxIndex channelIndex, const QString& mode,
                            std::uint32_t bitRate, const std::uint32_t* dataBitRate) {
    auto* config = static_cast<KvVciCanChannelConfig*>(
        KvVciConfigStore::instance().getChannelConfig(deviceIndex, kVciProtocolIdCan, channelIndex));
    if (config == nullptr) {
        return ZX_ERR_NO_CHANNEL_CONFIG;
    }
    config->mode = mode;
    config->bitRate = bitRate;
    if (dataBitRate != nullptr) {
        config->dataBitRate = *dataBitRate;
    }
    const std::int32_t opened = KvVciDeviceManager::instance().openCanChannel(deviceIndex, channelIndex);
    if (opened != ZX_OK) {
        return opened;
    }
    // An existing reader is kept; the manager only reports it in the log.
    try {
        ZxCollectorManager::instance().createReader(deviceIndex, channelIndex);
    } catch (...) {
        // A channel that streams into no reader is of no use to the host.
        KvVciDeviceManager::instance().closeCanChannel(deviceIndex, channelIndex);
        throw;
    }
    return ZX_OK;
}

} // namespace

extern "C" {

ZX_EXPORT std::int32_t ZX_CALL ZxOpenLog(const char* logPath, std::int32_t minLevel, std::int32_t fileSizeMB,
                                         std::int32_t fileCount) {
    return guarded("ZxOpenLog", ZX_ERR_LOG_START,
                   [&] { return ZxLibrary::openLog(logPath, minLevel, fileSizeMB, fileCount); });
}

ZX_EXPORT std::int32_t ZX_CALL ZxCloseLog(void) {
    return guarded("ZxCloseLog", ZX_ERR_LOG_START, [] { return ZxLibrary::closeLog(); });
}

ZX_EXPORT std::int32_t ZX_CALL ZxOpenDev(std::uint32_t /*reserved*/, std::uint32_t deviceIndex,
                                         std::int32_t hostOctet) {
    if (!isDevice(deviceIndex) && deviceIndex != kAllDevices) {
        return ZX_ERR_OPEN_DEVICE;
    }
    return guarded("ZxOpenDev", ZX_ERR_OPEN_DEVICE, [&] {
        if (isHostOctet(hostOctet)) {
            KvVciConfigStore::instance().setDeviceAddress(deviceIndex,
                                                          QString("192.168.201.%1").arg(hostOctet));
        }
        return KvVciDeviceManager::instance().openDevice(deviceIndex);
    });
}

ZX_EXPORT std::int32_t ZX_CALL ZxCloseDev(std::uint32_t deviceIndex) {
    if (!isDevice(deviceIndex) && deviceIndex != kAllDevices) {
        return ZX_ERR_DEVICE_NOT_OPEN;
    }
    return guarded("ZxCloseDev", ZX_ERR_CLOSE_CAN, [&] {
        if (deviceIndex == kAllDevices) {
            ZxCollectorManager::instance().closeAllReaders();
            return KvVciDeviceManager::instance().closeAllDevices();
        }
        ZxCollectorManager::instance().closeDeviceReaders(deviceIndex);
        return KvVciDeviceManager::instance().closeDevice(deviceIndex);
    });
}

ZX_EXPORT std::int32_t ZX_CALL ZxInitCAN(std::uint32_t deviceIndex, std::uint32_t channelIndex,
                                         std::uint32_t bitRate) {
    if (!isCanChannel(deviceIndex, channelIndex)) {
        return ZX_ERR_NO_CHANNEL_CONFIG;
    }
    return guarded("ZxInitCAN", ZX_ERR_OPEN_CAN, [&] {
        return initCanChannel(deviceIndex, channelIndex, QStringLiteral("CAN"), bitRate, nullptr);
    });
}

ZX_EXPORT std::int32_t ZX_CALL ZxInitCANFD(std::uint32_t deviceIndex, std::uint32_t channelIndex,
                                           std::uint32_t bitRate, std::uint32_t dataBitRate) {
    if (!isCanChannel(deviceIndex, channelIndex)) {
        return ZX_ERR_NO_CHANNEL_CONFIG;
    }
    return guarded("ZxInitCANFD", ZX_ERR_OPEN_CAN, [&] {
        return initCanChannel(deviceIndex, channelIndex, QStringLiteral("CANFD"), bitRate, &dataBitRate);
    });
}

ZX_EXPORT std::int32_t ZX_CALL ZxResetCAN(std::uint32_t deviceIndex, std::uint32_t channelIndex) {
    if (!isDevice(deviceIndex)) {
        return ZX_ERR_DEVICE_NOT_OPEN;
    }
    if (!isCanChannel(deviceIndex, channelIndex)) {
        return ZX_ERR_UNKNOWN_CHANNEL;
    }
    return guarded("ZxResetCAN", ZX_ERR_CLOSE_CAN, [&] {
        ZxCollectorManager::instance().resetReader(deviceIndex, channelIndex);
        return KvVciDeviceManager::instance().closeCanChannel(deviceIndex, channelIndex);
    });
}

ZX_EXPORT std::int32_t ZX_CALL ZxSetTerminalResistorCAN(std::uint32_t deviceIndex, std::uint32_t channelIndex,
                                                        std::int32_t enable) {
    if (!isDevice(deviceIndex)) {
        return ZX_ERR_DEVICE_NOT_OPEN;
    }
    if (!isCanChannel(deviceIndex, channelIndex)) {
        return kNoSuchChannel;
    }
    return guarded("ZxSetTerminalResistorCAN", ZX_ERR_TERMINAL_RESISTOR, [&] {
        // Held for the whole request: a concurrent close cannot free it under us.
        const std::shared_ptr<KvVciDevice> device = KvVciDeviceManager::instance().findDevice(deviceIndex);
        if (!device) {
            return static_cast<std::int32_t>(ZX_ERR_DEVICE_NOT_OPEN);
        }
        // Only exactly 1 switches the resistor on; 0, 2 and every other value switch it off.
        return static_cast<std::int32_t>(device->setTerminalResistor(channelIndex, enable == 1));
    });
}

ZX_EXPORT std::int32_t ZX_CALL ZxSetModuleSamplingFrequency(std::uint32_t deviceIndex,
                                                            std::uint32_t channelIndex,
                                                            std::uint32_t moduleId, std::int32_t frequency) {
    if (!isDevice(deviceIndex)) {
        return kNoSuchModuleTarget;
    }
    if (!isCanChannel(deviceIndex, channelIndex)) {
        return kNoSuchChannel;
    }
    return guarded("ZxSetModuleSamplingFrequency", ZX_ERR_MODULE_TIMEOUT, [&] {
        return ZxCollectorManager::instance().setModuleSamplingFrequency(
            deviceIndex, channelIndex, moduleId, static_cast<std::uint16_t>(frequency & 0xFFFF));
    });
}

ZX_EXPORT std::int32_t ZX_CALL ZxReadBuffer(std::uint32_t deviceIndex, std::uint32_t channelIndex,
                                            ZxCollectData* records, std::int32_t capacity) {
    if (!isCanChannel(deviceIndex, channelIndex)) {
        return ZX_ERR_NO_READER;
    }
    return guarded("ZxReadBuffer", ZX_ERR_NO_DATA, [&] {
        return ZxCollectorManager::instance().readBuffer(deviceIndex, channelIndex, records, capacity);
    });
}

ZX_EXPORT std::int32_t ZX_CALL ZxClearBuffer(std::uint32_t deviceIndex, std::uint32_t channelIndex) {
    if (!isCanChannel(deviceIndex, channelIndex)) {
        return ZX_ERR_NO_READER;
    }
    return guarded("ZxClearBuffer", ZX_ERR_UNKNOWN_CHANNEL,
                   [&] { return ZxCollectorManager::instance().clearBuffer(deviceIndex, channelIndex); });
}

ZX_EXPORT std::int32_t ZX_CALL ZxStartSaveFile(std::uint32_t deviceIndex, std::uint32_t channelIndex,
                                               const char* rootDirectory, const char* idMapping,
                                               std::int32_t maxFileSizeMB) {
    if (!isCanChannel(deviceIndex, channelIndex)) {
        return ZX_ERR_NO_READER;
    }
    return guarded("ZxStartSaveFile", ZX_ERR_SAVE_EXCEPTION, [&] {
        return ZxCollectorManager::instance().startSaveFile(deviceIndex, channelIndex, rootDirectory,
                                                            idMapping, maxFileSizeMB);
    });
}

ZX_EXPORT std::int32_t ZX_CALL ZxStopSaveFile(std::uint32_t deviceIndex, std::uint32_t channelIndex) {
    if (!isCanChannel(deviceIndex, channelIndex)) {
        return ZX_ERR_NO_READER;
    }
    return guarded("ZxStopSaveFile", ZX_ERR_SAVE_EXCEPTION,
                   [&] { return ZxCollectorManager::instance().stopSaveFile(deviceIndex, channelIndex); });
}

ZX_EXPORT std::int32_t ZX_CALL ZxGetResultText(std::int32_t result, char* text, std::uint32_t capacity) {
    if (text == nullptr || capacity == 0) {
        return -1;
    }
    return guarded("ZxGetResultText", -1,
                   [&] { return ZxResultText::copyOut(ZxResultText::describe(result), text, capacity); });
}

ZX_EXPORT std::int32_t ZX_CALL ZxGetVersion(char* text, std::uint32_t capacity) {
    return ZxResultText::copyOut(ZxLibrary::version(), text, capacity);
}

} // extern "C"
