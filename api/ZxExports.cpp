// The thirteen exported functions. Each is a thin router into the process-wide
// objects; validation lives in the objects they call.
#include "zxcollector_api.h"

#include "api/ZxLibrary.h"
#include "collector/ZxCollectorManager.h"
#include "vci/config/KvVciChannelConfig.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciDevice.h"
#include "vci/manager/KvVciDeviceManager.h"

#include <QString>

namespace {

constexpr std::uint32_t kProtocolCan = 1;
constexpr std::uint32_t kAllDevices = 0xFFFFFFFFu;

bool isHostOctet(std::int32_t octet) {
    return octet >= 1 && octet <= 254;
}

// Writes the channel's mode and rates into the store, opens the channel on the box
// and, once it is open, creates its reader.
std::int32_t initCanChannel(std::uint32_t deviceIndex, std::uint32_t channelIndex, const QString& mode,
                            std::uint32_t bitRate, const std::uint32_t* dataBitRate) {
    auto* config = static_cast<KvVciCanChannelConfig*>(KvVciConfigStore::instance().getChannelConfig(
        static_cast<int>(deviceIndex), kProtocolCan, static_cast<int>(channelIndex)));
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
    ZxCollectorManager::instance().createReader(deviceIndex, channelIndex);
    return ZX_OK;
}

} // namespace

extern "C" {

ZX_EXPORT std::int32_t ZX_CALL ZxOpenLog(const char* logPath, std::int32_t minLevel, std::int32_t fileSizeMB,
                                         std::int32_t fileCount) {
    return ZxLibrary::openLog(logPath, minLevel, fileSizeMB, fileCount);
}

ZX_EXPORT std::int32_t ZX_CALL ZxCloseLog(void) {
    return ZxLibrary::closeLog();
}

ZX_EXPORT std::int32_t ZX_CALL ZxOpenDev(std::uint32_t /*reserved*/, std::uint32_t deviceIndex,
                                         std::int32_t hostOctet) {
    if (isHostOctet(hostOctet)) {
        KvVciConfigStore::instance().setDeviceAddress(static_cast<int>(deviceIndex),
                                                      QString("192.168.201.%1").arg(hostOctet));
    }
    return KvVciDeviceManager::instance().openDevice(deviceIndex);
}

ZX_EXPORT std::int32_t ZX_CALL ZxCloseDev(std::uint32_t deviceIndex) {
    if (deviceIndex == kAllDevices) {
        ZxCollectorManager::instance().closeAllReaders();
        return KvVciDeviceManager::instance().closeAllDevices();
    }
    ZxCollectorManager::instance().closeDeviceReaders(deviceIndex);
    return KvVciDeviceManager::instance().closeDevice(static_cast<int>(deviceIndex));
}

ZX_EXPORT std::int32_t ZX_CALL ZxInitCAN(std::uint32_t deviceIndex, std::uint32_t channelIndex,
                                         std::uint32_t bitRate) {
    return initCanChannel(deviceIndex, channelIndex, QStringLiteral("CAN"), bitRate, nullptr);
}

ZX_EXPORT std::int32_t ZX_CALL ZxInitCANFD(std::uint32_t deviceIndex, std::uint32_t channelIndex,
                                           std::uint32_t bitRate, std::uint32_t dataBitRate) {
    return initCanChannel(deviceIndex, channelIndex, QStringLiteral("CANFD"), bitRate, &dataBitRate);
}

ZX_EXPORT std::int32_t ZX_CALL ZxResetCAN(std::uint32_t deviceIndex, std::uint32_t channelIndex) {
    ZxCollectorManager::instance().resetReader(deviceIndex, channelIndex);
    return KvVciDeviceManager::instance().closeCanChannel(deviceIndex, channelIndex);
}

ZX_EXPORT std::int32_t ZX_CALL ZxSetTerminalResistorCAN(std::uint32_t deviceIndex, std::uint32_t channelIndex,
                                                        std::int32_t enable) {
    KvVciDevice* device = KvVciDeviceManager::instance().findDevice(deviceIndex);
    if (device == nullptr) {
        return ZX_ERR_DEVICE_NOT_OPEN;
    }
    // Only exactly 1 switches the resistor on; 0, 2 and every other value switch it off.
    return device->setTerminalResistor(static_cast<int>(channelIndex), enable == 1);
}

ZX_EXPORT std::int32_t ZX_CALL ZxSetModuleSamplingFrequency(std::uint32_t deviceIndex,
                                                            std::uint32_t channelIndex,
                                                            std::uint32_t moduleId, std::int32_t frequency) {
    return ZxCollectorManager::instance().setModuleSamplingFrequency(
        deviceIndex, channelIndex, moduleId, static_cast<std::uint16_t>(frequency & 0xFFFF));
}

ZX_EXPORT std::int32_t ZX_CALL ZxReadBuffer(std::uint32_t deviceIndex, std::uint32_t channelIndex,
                                            ZxCollectData* records, std::int32_t capacity) {
    return ZxCollectorManager::instance().readBuffer(deviceIndex, channelIndex, records, capacity);
}

ZX_EXPORT std::int32_t ZX_CALL ZxClearBuffer(std::uint32_t deviceIndex, std::uint32_t channelIndex) {
    return ZxCollectorManager::instance().clearBuffer(deviceIndex, channelIndex);
}

ZX_EXPORT std::int32_t ZX_CALL ZxStartSaveFile(std::uint32_t deviceIndex, std::uint32_t channelIndex,
                                               const char* rootDirectory, const char* idMapping,
                                               std::int32_t maxFileSizeMB) {
    return ZxCollectorManager::instance().startSaveFile(deviceIndex, channelIndex, rootDirectory, idMapping,
                                                        maxFileSizeMB);
}

ZX_EXPORT std::int32_t ZX_CALL ZxStopSaveFile(std::uint32_t deviceIndex, std::uint32_t channelIndex) {
    return ZxCollectorManager::instance().stopSaveFile(deviceIndex, channelIndex);
}

} // extern "C"
