#include "vci/device/KvVciChannelBufferManager.h"

#include "zxcollector_api.h"

KvVciChannelBufferManager::KvVciChannelBufferManager(int canChannelCount)
    : channelCount_(canChannelCount < 1 ? kMinimumChannelCount : canChannelCount) {
    // The LIN side follows the CAN count: the box has as many LIN as CAN channels.
    for (int i = 0; i < channelCount_; ++i) {
        const auto channel = static_cast<std::uint32_t>(i);
        canBuffers_.emplace(channel, std::make_unique<KvVciCanChannelBuffer>(channel));
        linBuffers_.emplace(channel, std::make_unique<KvVciLinChannelBuffer>(channel));
    }
}

KvVciChannelBufferManager::~KvVciChannelBufferManager() = default;

KvVciCanChannelBuffer* KvVciChannelBufferManager::canBuffer(std::uint32_t channel) const {
    const auto found = canBuffers_.find(channel);
    return found == canBuffers_.end() ? nullptr : found->second.get();
}

KvVciLinChannelBuffer* KvVciChannelBufferManager::linBuffer(std::uint32_t channel) const {
    const auto found = linBuffers_.find(channel);
    return found == linBuffers_.end() ? nullptr : found->second.get();
}

int KvVciChannelBufferManager::pushCanRecord(std::uint32_t channel, const _KvVciCanDataType& record) {
    KvVciCanChannelBuffer* buffer = canBuffer(channel);
    return buffer == nullptr ? ZX_ERR_UNKNOWN_CHANNEL : buffer->push(record);
}

int KvVciChannelBufferManager::pushLinRecord(std::uint32_t channel, const _KvVciLinDataType& record) {
    KvVciLinChannelBuffer* buffer = linBuffer(channel);
    return buffer == nullptr ? ZX_ERR_UNKNOWN_CHANNEL : buffer->push(record);
}

int KvVciChannelBufferManager::readCanRecords(std::uint32_t channel, _KvVciCanDataType* destination,
                                              std::uint32_t& count) {
    KvVciCanChannelBuffer* buffer = canBuffer(channel);
    if (buffer == nullptr) {
        count = 0;
        return ZX_ERR_UNKNOWN_CHANNEL;
    }
    return buffer->readRecords(destination, count);
}

int KvVciChannelBufferManager::readLinRecords(std::uint32_t channel, _KvVciLinDataType* destination,
                                              std::uint32_t& count) {
    KvVciLinChannelBuffer* buffer = linBuffer(channel);
    if (buffer == nullptr) {
        count = 0;
        return ZX_ERR_UNKNOWN_CHANNEL;
    }
    return buffer->readRecords(destination, count);
}

int KvVciChannelBufferManager::resetCanBuffer(std::uint32_t channel) {
    KvVciCanChannelBuffer* buffer = canBuffer(channel);
    if (buffer == nullptr) {
        return ZX_ERR_UNKNOWN_CHANNEL;
    }
    buffer->reset();
    return ZX_OK;
}

int KvVciChannelBufferManager::resetLinBuffer(std::uint32_t channel) {
    KvVciLinChannelBuffer* buffer = linBuffer(channel);
    if (buffer == nullptr) {
        return ZX_ERR_UNKNOWN_CHANNEL;
    }
    buffer->reset();
    return ZX_OK;
}

int KvVciChannelBufferManager::clearCanIdentifierList(std::uint32_t channel) {
    KvVciCanChannelBuffer* buffer = canBuffer(channel);
    if (buffer == nullptr) {
        return ZX_ERR_UNKNOWN_CHANNEL;
    }
    buffer->clearIdentifierList();
    return ZX_OK;
}

int KvVciChannelBufferManager::clearLinIdentifierList(std::uint32_t channel) {
    KvVciLinChannelBuffer* buffer = linBuffer(channel);
    if (buffer == nullptr) {
        return ZX_ERR_UNKNOWN_CHANNEL;
    }
    buffer->clearIdentifierList();
    return ZX_OK;
}
