#include "ZxLiveStream.h"

ZxLiveStream::ZxLiveStream(std::size_t capacity) : ring_(capacity) {}

void ZxLiveStream::publish(std::int64_t device, std::string text) {
    {
        std::lock_guard lock(mutex_);
        Message& slot = ring_[published_ % ring_.size()];
        slot.sequence = published_;
        slot.device = device;
        slot.text = std::move(text);
        ++published_;
    }
    wakeUp_.notify_all();
}

ZxLiveStream::Cursor ZxLiveStream::join(std::int64_t device) {
    std::lock_guard lock(mutex_);
    Cursor cursor;
    cursor.next = published_;
    cursor.device = device;
    return cursor;
}

bool ZxLiveStream::next(Cursor& cursor, std::string& out, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    wakeUp_.wait_for(lock, timeout, [&] { return closed_ || published_ > cursor.next; });
    if (closed_) {
        return false;
    }
    const std::uint64_t oldest = published_ > ring_.size() ? published_ - ring_.size() : 0;
    if (cursor.next < oldest) {
        cursor.skipped += oldest - cursor.next;
        cursor.next = oldest;
    }
    for (; cursor.next < published_; ++cursor.next) {
        const Message& message = ring_[cursor.next % ring_.size()];
        if (message.device == kEveryDevice || cursor.device == kEveryDevice ||
            message.device == cursor.device) {
            out += message.text;
        }
    }
    return true;
}

void ZxLiveStream::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    wakeUp_.notify_all();
}
