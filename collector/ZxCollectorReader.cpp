#include "collector/ZxCollectorReader.h"

#include "api/common/ZxLog.h"
#include "filesave/ZxCollectorFileManager.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciChannelBufferManager.h"
#include "vci/device/KvVciDevice.h"
#include "vci/manager/KvVciDeviceManager.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>

namespace {

// Local date and time with microseconds: the texts the host and the CSV files show.
constexpr std::uint32_t kReaderTimestampMode = 0;
// Frames shorter than this carry no channel values.
constexpr std::uint8_t kValueBytes = 32;
constexpr int kValueCount = 8;

// The signed 32-bit little-endian value at data[0..3].
inline std::int32_t loadLittleEndian32(const std::uint8_t* data) {
    const std::uint32_t raw =
        static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
        (static_cast<std::uint32_t>(data[2]) << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
    return static_cast<std::int32_t>(raw);
}

} // namespace

ZxCollectorReader::ZxCollectorReader(ZxIndex deviceIndex, ZxIndex channelIndex)
    : store_(KvVciConfigStore::instance()), deviceManager_(KvVciDeviceManager::instance()),
      deviceIndex_(deviceIndex), channelIndex_(channelIndex) {
    if (!initialize()) {
        throw std::runtime_error("Failed to initialize collector reader");
    }
    stagingFrames_ = std::make_unique<_KvVciCanDataType[]>(kStagingCapacity);
    zxLog(ZxLevel::Info, "Collector reader created for device {}, channel {}", deviceIndex_, channelIndex_);
}

ZxCollectorReader::ZxCollectorReader(ZxIndex deviceIndex, ZxIndex channelIndex,
                                     KvVciChannelBufferManager& buffers)
    : store_(KvVciConfigStore::instance()), deviceManager_(KvVciDeviceManager::instance()),
      buffers_(&buffers), deviceIndex_(deviceIndex), channelIndex_(channelIndex) {
    deviceManager_.setTimestampDisplayMode(kReaderTimestampMode);
    stagingFrames_ = std::make_unique<_KvVciCanDataType[]>(kStagingCapacity);
    zxLog(ZxLevel::Info, "Collector reader created for device {}, channel {}", deviceIndex_, channelIndex_);
}

ZxCollectorReader::~ZxCollectorReader() {
    stopFileSave();
    zxLog(ZxLevel::Info, "Collector reader destroyed for device {}, channel {}", deviceIndex_, channelIndex_);
}

bool ZxCollectorReader::initialize() {
    if (!store_.isCanChannelOpened(deviceIndex_, channelIndex_)) {
        zxLog(ZxLevel::Error, "Failed to initialize: CAN channel not opened for device {}, channel {}",
              deviceIndex_, channelIndex_);
        return false;
    }
    device_ = deviceManager_.findDevice(deviceIndex_);
    if (!device_) {
        zxLog(ZxLevel::Error, "Failed to initialize: Device buffer manager not found for device {}",
              deviceIndex_);
        return false;
    }
    buffers_ = &device_->channelBufferManager();
    // Applies to every timestamp the device manager formats from now on.
    deviceManager_.setTimestampDisplayMode(kReaderTimestampMode);
    return true;
}

std::int32_t ZxCollectorReader::read(ZxCollectData* records, std::int32_t capacity) {
    if (buffers_ == nullptr) {
        return ZX_ERR_NO_BUFFER_MANAGER;
    }
    // A negative capacity says nothing about the size of the host's buffer, so
    // writing even one record into it could overrun it.
    if (records == nullptr || capacity <= 0) {
        return ZX_ERR_INVALID_ARGUMENT;
    }
    std::uint32_t count = static_cast<std::uint32_t>(
        std::min<std::size_t>(static_cast<std::size_t>(capacity), kStagingCapacity));
    std::lock_guard<std::mutex> readLock(readMutex_);
    const int result = buffers_->readCanRecords(channelIndex_, stagingFrames_.get(), count);
    if (result != 0 || count == 0) {
        return ZX_ERR_NO_DATA;
    }
    convert(records, count);
    {
        // Still under readMutex_: the save gets the records in the order the reads hand
        // them to the host, whichever host thread reads.
        std::lock_guard<std::mutex> lock(fileManagerMutex_);
        if (fileManager_) {
            fileManager_->pushData(records, count);
        }
    }
    return static_cast<std::int32_t>(count);
}

void ZxCollectorReader::convert(ZxCollectData* records, std::uint32_t count) const {
    const _KvVciCanDataType* frames = stagingFrames_.get();
    for (std::uint32_t i = 0; i < count; ++i) {
        const _KvVciCanDataType& frame = frames[i];
        ZxCollectData& record = records[i];
        record.canId = frame.id;
        // Zero the whole field so nothing of the host's old bytes follows the NUL.
        std::memset(record.timestamp, 0, sizeof(record.timestamp));
        deviceManager_.formatTimestamp(deviceIndex_, frame.timestamp, record.timestamp,
                                       sizeof(record.timestamp));
        record.reserved = 0;
        if (frame.dataLength >= kValueBytes) {
            for (int k = 0; k < kValueCount; ++k) {
                record.values[k] = loadLittleEndian32(frame.data + 4 * k);
            }
        } else {
            std::memset(record.values, 0, sizeof(record.values));
        }
    }
}

std::int32_t ZxCollectorReader::clear() {
    if (buffers_ == nullptr) {
        return ZX_ERR_NO_BUFFER_MANAGER;
    }
    return buffers_->resetCanBuffer(channelIndex_);
}

std::int32_t ZxCollectorReader::startFileSave(const std::string& rootDirectory,
                                              const ZxIdMappingTable& idMapping,
                                              std::uint16_t maxFileSizeMB) {
    std::lock_guard<std::mutex> saveLock(saveMutex_);
    if (retired_) {
        return ZX_ERR_NO_READER;
    }
    stopRunningSave();
    std::unique_ptr<ZxCollectorFileManager> fileManager;
    std::int32_t result = ZX_OK;
    try {
        fileManager = std::make_unique<ZxCollectorFileManager>();
        fileManager->setFileInfo(rootDirectory, maxFileSizeMB);
        fileManager->setIdMapping(idMapping);
        result = fileManager->start();
    } catch (const std::exception& error) {
        zxLog(ZxLevel::Error, "Exception while starting file save for DEV{} CH{}: {}", deviceIndex_,
              channelIndex_, error.what());
        return ZX_ERR_SAVE_EXCEPTION; // the half-made file manager is destroyed here
    }
    if (result != ZX_OK) {
        zxLog(ZxLevel::Error, "Failed to start file manager for DEV{} CH{}. Error: {}", deviceIndex_,
              channelIndex_, result);
        return result;
    }
    // Installed only once it runs, so a concurrent read hands records to a running
    // file manager or to none.
    {
        std::lock_guard<std::mutex> lock(fileManagerMutex_);
        fileManager_ = std::move(fileManager);
    }
    zxLog(ZxLevel::Info, "File saving started successfully for DEV{} CH{}", deviceIndex_, channelIndex_);
    return ZX_OK;
}

std::int32_t ZxCollectorReader::stopFileSave() {
    std::lock_guard<std::mutex> saveLock(saveMutex_);
    stopRunningSave();
    return ZX_OK;
}

void ZxCollectorReader::retire() {
    std::lock_guard<std::mutex> saveLock(saveMutex_);
    retired_ = true;
    stopRunningSave();
}

void ZxCollectorReader::stopRunningSave() {
    std::unique_ptr<ZxCollectorFileManager> fileManager;
    {
        std::lock_guard<std::mutex> lock(fileManagerMutex_);
        fileManager = std::move(fileManager_);
    }
    if (!fileManager) {
        return;
    }
    // Outside the lock: stopping joins the writer threads, and a concurrent read
    // must not wait for that. Everything pushed before the hand-over is written.
    fileManager->stop();
    fileManager.reset();
    zxLog(ZxLevel::Info, "File saving stopped for DEV{} CH{}", deviceIndex_, channelIndex_);
}
