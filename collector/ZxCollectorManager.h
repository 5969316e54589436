// The collector half of the exported interface: one reader per initialised device
// channel, reading and clearing, file saving control and module configuration.
#pragma once

#include "vci/config/ZxIndex.h"
#include "zxcollector_api.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>

class KvCollectorDevice;
class ZxCollectorReader;

class ZxCollectorManager {
public:
    // The one object; created while the library loads.
    static ZxCollectorManager& instance();

    explicit ZxCollectorManager(KvCollectorDevice& moduleDevice);
    ~ZxCollectorManager();

    ZxCollectorManager(const ZxCollectorManager&) = delete;
    ZxCollectorManager& operator=(const ZxCollectorManager&) = delete;

    // Device index in the high half, channel index in the low half: distinct for
    // every pair of 32-bit indices.
    using ReaderKey = std::uint64_t;
    static ReaderKey readerKey(ZxIndex device, ZxIndex channel) {
        return (static_cast<ReaderKey>(device) << 32) | channel;
    }

    // After the channel was opened. ZX_OK also when the reader exists; ZX_ERR_NO_READER on failure.
    std::int32_t createReader(ZxIndex device, ZxIndex channel);
    // Before the channel is closed: stops its saving and discards the reader. Always 0.
    std::int32_t resetReader(ZxIndex device, ZxIndex channel);
    // Before the device is closed: discards the readers of that device. Always 0.
    std::int32_t closeDeviceReaders(ZxIndex device);
    void closeAllReaders();
    // Logs and returns null when the channel has no reader. The reader handed out
    // stays alive while the caller holds it, even when the channel is reset meanwhile.
    std::shared_ptr<ZxCollectorReader> findReader(ZxIndex device, ZxIndex channel);

    // capacity as the host passed it: 0 or negative is refused with ZX_ERR_INVALID_ARGUMENT.
    std::int32_t readBuffer(ZxIndex device, ZxIndex channel, ZxCollectData* records, std::int32_t capacity);
    std::int32_t clearBuffer(ZxIndex device, ZxIndex channel);

    std::int32_t startSaveFile(ZxIndex device, ZxIndex channel, const char* rootDirectory,
                               const char* idMapping, std::int32_t maxFileSizeMB);
    std::int32_t stopSaveFile(ZxIndex device, ZxIndex channel);

    // Runs the sampling-frequency sequence on (device, channel), low 8 bits each.
    // Concurrent calls run one after the other.
    std::int32_t setModuleSamplingFrequency(ZxIndex device, ZxIndex channel, std::uint32_t moduleId,
                                            std::uint16_t frequency);

private:
    using ReaderTable = std::map<ReaderKey, std::shared_ptr<ZxCollectorReader>>;

    std::shared_ptr<ZxCollectorReader> lookUp(ReaderKey key) const;
    // Takes every reader matching the predicate out of the table (under mutex_), then
    // stops their saving outside every lock another channel needs.
    template <typename Predicate> void retireReaders(Predicate matches);

    KvCollectorDevice& moduleDevice_;
    // Serialises changes of the reader set: held by create (including the reader's
    // construction) and while reset and close take readers out. Never held while a
    // save stops, so draining one channel's files holds up no other channel.
    std::mutex mutex_;
    // Guards readers_ (the map itself): taken shared by lookups on the host's reading
    // threads, exclusively only for the moment of an insertion or removal.
    mutable std::shared_mutex tableLock_;
    ReaderTable readers_;
    // Serialises module configuration: two sequences never interleave (each clears
    // and polls the channel's receive buffer).
    std::mutex moduleMutex_;
};
