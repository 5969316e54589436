// Turns the CAN frames that one device channel has received into ZxCollectData
// records for the host, and hands the same records to file saving while it runs.
#pragma once

#include "filesave/ZxIdMappingParser.h"
#include "vci/config/ZxIndex.h"
#include "vci/device/KvVciProtocolTypes.h"
#include "zxcollector_api.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class KvVciChannelBufferManager;
class KvVciConfigStore;
class KvVciDevice;
class KvVciDeviceManager;
class ZxCollectorFileManager;

class ZxCollectorReader {
public:
    // Most records one read takes, whatever capacity the host passes.
    static constexpr std::size_t kStagingCapacity = 10000;

    // Reader of an initialised channel of an open device; throws std::runtime_error
    // "Failed to initialize collector reader" when the channel is not open or the
    // device has no channel buffers.
    ZxCollectorReader(ZxIndex deviceIndex, ZxIndex channelIndex);
    // Reader over channel buffers the caller owns (and keeps alive longer than the
    // reader); timestamps are still formatted by the device manager for deviceIndex.
    ZxCollectorReader(ZxIndex deviceIndex, ZxIndex channelIndex, KvVciChannelBufferManager& buffers);
    // Stops file saving first, so every file is complete.
    ~ZxCollectorReader();

    ZxCollectorReader(const ZxCollectorReader&) = delete;
    ZxCollectorReader& operator=(const ZxCollectorReader&) = delete;

    // Takes up to min(capacity, 10000) waiting records into records and returns their
    // number; ZX_ERR_INVALID_ARGUMENT for a null buffer or a capacity of 0 or below
    // (the host's buffer size is then unknown), ZX_ERR_NO_DATA when nothing waits,
    // ZX_ERR_NO_BUFFER_MANAGER without buffers.
    // Concurrent reads of one reader run one after the other.
    std::int32_t read(ZxCollectData* records, std::int32_t capacity);
    // Discards the waiting records: ZX_OK, or ZX_ERR_UNKNOWN_CHANNEL when the device has no such channel.
    std::int32_t clear();

    // Replaces any running save by a new one; 0 or the file manager's start code.
    std::int32_t startFileSave(const std::string& rootDirectory, const ZxIdMappingTable& idMapping,
                               std::uint16_t maxFileSizeMB);
    // Stops and discards the running save, if any. Always 0.
    std::int32_t stopFileSave();
    // The reader was taken out of the table: its saving stops (on the calling thread,
    // whoever else still holds the reader) and no new saving starts on it.
    void retire();

    ZxIndex deviceIndex() const { return deviceIndex_; }
    ZxIndex channelIndex() const { return channelIndex_; }

private:
    bool initialize();
    // Under saveMutex_: takes the file manager out and stops it (drains its backlog).
    void stopRunningSave();
    void convert(ZxCollectData* records, std::uint32_t count) const;

    KvVciConfigStore& store_;
    KvVciDeviceManager& deviceManager_;
    // Keeps the device, and with it buffers_, alive for as long as the reader lives.
    std::shared_ptr<KvVciDevice> device_;
    KvVciChannelBufferManager* buffers_ = nullptr; // owned by device_ (or by the caller)
    const ZxIndex deviceIndex_;
    const ZxIndex channelIndex_;
    // Guards stagingFrames_: two host threads reading the same channel take turns
    // instead of converting each other's frames. Taken once per read, not per record.
    std::mutex readMutex_;
    std::unique_ptr<_KvVciCanDataType[]> stagingFrames_;
    // Guards retired_ and the start and stop of saving on this reader: a start and a
    // stop of the same reader take turns; other readers never wait for them.
    std::mutex saveMutex_;
    bool retired_ = false;
    // Guards fileManager_: read holds it only while handing records over, save start
    // and stop while installing or taking out the file manager, so a read never pushes
    // into a file manager that is being destroyed.
    std::mutex fileManagerMutex_;
    std::unique_ptr<ZxCollectorFileManager> fileManager_;
};
