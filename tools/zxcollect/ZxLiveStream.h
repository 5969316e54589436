// The messages the live page streams, kept in a ring of fixed size: each client reads
// from it at its own pace through a cursor, so a client's backlog is bounded by the ring,
// and one that falls behind skips to the oldest message still kept (it loses display
// points; the collection never waits for it).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class ZxLiveStream {
public:
    // Messages for every device carry kEveryDevice.
    static constexpr std::int64_t kEveryDevice = -1;

    struct Cursor {
        std::uint64_t next = 0;
        std::int64_t device = kEveryDevice; // the device the client shows, or every device
        std::uint64_t skipped = 0;
    };

    explicit ZxLiveStream(std::size_t capacity);

    void publish(std::int64_t device, std::string text);
    // A cursor that starts with the next message published.
    Cursor join(std::int64_t device);
    // Waits up to timeout for messages for the cursor's device and appends them (as
    // server-sent events) to out; false once close() was called.
    bool next(Cursor& cursor, std::string& out, std::chrono::milliseconds timeout);
    void close();

private:
    struct Message {
        std::uint64_t sequence = 0;
        std::int64_t device = kEveryDevice;
        std::string text;
    };

    std::mutex mutex_; // guards ring_, published_ and closed_
    std::condition_variable wakeUp_;
    std::vector<Message> ring_;
    std::uint64_t published_ = 0;
    bool closed_ = false;
};
