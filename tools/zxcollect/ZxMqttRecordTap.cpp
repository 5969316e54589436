#include "ZxMqttRecordTap.h"

#include <algorithm>

ZxMqttRecordTap::ZxMqttRecordTap(std::size_t capacity) : capacity_(capacity) {
    local_.reserve(capacity);
    shared_.reserve(capacity);
}

void ZxMqttRecordTap::add(std::size_t slot, const ZxCollectData* records, std::int32_t count) {
    const std::size_t room = capacity_ - local_.size();
    const std::size_t taken = std::min(room, static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < taken; ++i) {
        local_.push_back({static_cast<std::uint32_t>(slot), records[i]});
    }
    localDropped_ += static_cast<std::size_t>(count) - taken;
}

void ZxMqttRecordTap::offer() {
    if (local_.empty() && localDropped_ == 0) {
        return;
    }
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (lock.owns_lock()) {
        handOver();
    }
}

void ZxMqttRecordTap::offerLast() {
    std::lock_guard lock(mutex_);
    handOver();
}

void ZxMqttRecordTap::handOver() {
    const std::size_t taken = std::min(capacity_ - shared_.size(), local_.size());
    shared_.insert(shared_.end(), local_.begin(), local_.begin() + static_cast<std::ptrdiff_t>(taken));
    dropped_ += localDropped_ + (local_.size() - taken);
    localDropped_ = 0;
    local_.clear();
}

void ZxMqttRecordTap::take(std::vector<Entry>& into, std::uint64_t& unpublished) {
    into.clear();
    std::lock_guard lock(mutex_);
    into.swap(shared_);
    shared_.reserve(capacity_);
    unpublished = dropped_;
}
