// The receive queues of one VCI box: one CAN and one LIN buffer per channel, created
// with the box and kept until it is destroyed.
#pragma once

#include "vci/device/KvVciChannelBuffer.h"
#include "vci/device/KvVciProtocolTypes.h"

#include <cstdint>
#include <memory>
#include <unordered_map>

using KvVciCanChannelBuffer = KvVciChannelBuffer<_KvVciCanDataType, unsigned int>;
using KvVciLinChannelBuffer = KvVciChannelBuffer<_KvVciLinDataType, unsigned char>;

class KvVciChannelBufferManager {
public:
    static constexpr int kMinimumChannelCount = 2;

    // Buffers for channels 0..canChannelCount-1 of both families; below 1 gives 2.
    explicit KvVciChannelBufferManager(int canChannelCount);
    ~KvVciChannelBufferManager();
    KvVciChannelBufferManager(const KvVciChannelBufferManager&) = delete;
    KvVciChannelBufferManager& operator=(const KvVciChannelBufferManager&) = delete;

    // Every operation returns ZX_ERR_UNKNOWN_CHANNEL for a channel without a buffer.
    int pushCanRecord(std::uint32_t channel, const _KvVciCanDataType& record);
    int pushLinRecord(std::uint32_t channel, const _KvVciLinDataType& record);
    // As KvVciChannelBuffer::readRecords; count is 0 after ZX_ERR_UNKNOWN_CHANNEL.
    int readCanRecords(std::uint32_t channel, _KvVciCanDataType* destination, std::uint32_t& count);
    int readLinRecords(std::uint32_t channel, _KvVciLinDataType* destination, std::uint32_t& count);
    int resetCanBuffer(std::uint32_t channel);
    int resetLinBuffer(std::uint32_t channel);
    int clearCanIdentifierList(std::uint32_t channel);
    int clearLinIdentifierList(std::uint32_t channel);

    // Borrowed; null for a channel without a buffer.
    KvVciCanChannelBuffer* canBuffer(std::uint32_t channel) const;
    KvVciLinChannelBuffer* linBuffer(std::uint32_t channel) const;
    int channelCount() const { return channelCount_; }

private:
    int channelCount_;
    // Filled by the constructor and never changed after, so lookups need no lock.
    std::unordered_map<std::uint32_t, std::unique_ptr<KvVciCanChannelBuffer>> canBuffers_;
    std::unordered_map<std::uint32_t, std::unique_ptr<KvVciLinChannelBuffer>> linBuffers_;
};
