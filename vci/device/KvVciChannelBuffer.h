// The receive queue of one channel: the receive thread pushes frame records, readers
// on other threads take them out in batches. Lock-free for push and read.
#pragma once

#include "zxcollector_api.h"

#include <QObject>

#include <concurrentqueue/concurrentqueue.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

// The queue's settings: the block index of the receive thread's producer is sized for
// the whole preallocated room, so that pushing does not allocate an index on the way.
struct KvVciChannelQueueTraits : moodycamel::ConcurrentQueueDefaultTraits {
    static const std::size_t BLOCK_SIZE = 32;
    static const std::size_t IMPLICIT_INITIAL_INDEX_SIZE = 128;

    // Every allocation of the queues is counted, so that a test can show that pushing
    // within the preallocated room allocates nothing. Allocations are rare: one
    // relaxed increment each costs nothing measurable.
    static void* malloc(std::size_t size) {
        allocationCount().fetch_add(1, std::memory_order_relaxed);
        return std::malloc(size);
    }
    static void free(void* pointer) { std::free(pointer); }
    static std::atomic<std::uint64_t>& allocationCount() {
        static std::atomic<std::uint64_t> count{0};
        return count;
    }
};

// T: the record type; K: the type of the record's identifier, its first field.
template <typename T, typename K> class KvVciChannelBuffer : public QObject {
public:
    static constexpr std::size_t kInitialCapacity = 2000;
    // 2000 records may start anywhere inside a block of 32, so they can touch one block
    // more than 2000 / 32: that many blocks are preallocated.
    static constexpr std::size_t kPreallocatedRecords =
        (kInitialCapacity / KvVciChannelQueueTraits::BLOCK_SIZE + 2) * KvVciChannelQueueTraits::BLOCK_SIZE;
    static_assert(kPreallocatedRecords / KvVciChannelQueueTraits::BLOCK_SIZE <
                      KvVciChannelQueueTraits::IMPLICIT_INITIAL_INDEX_SIZE,
                  "the producer's block index covers the preallocated room");
    static constexpr int kReadInvalidArgument = -1; // null destination or zero count

    explicit KvVciChannelBuffer(std::uint32_t channel);
    ~KvVciChannelBuffer() override = default;
    KvVciChannelBuffer(const KvVciChannelBuffer&) = delete;
    KvVciChannelBuffer& operator=(const KvVciChannelBuffer&) = delete;

    // Queues a copy of the record (only records whose identifier is listed, while the
    // identifier list is active). Always 0. Allocates nothing while the preallocated
    // room lasts.
    int push(const T& record);
    // Takes up to count records, oldest first, into destination; count becomes the
    // number taken. 0, ZX_CHANNEL_BUFFER_EMPTY (count 0) or kReadInvalidArgument
    // (count 0). Several readers may read at once (the collector's reader and a module
    // request share a channel): records go straight from the queue into destination.
    int readRecords(T* destination, std::uint32_t& count);
    // Discards every queued record. Safe while another thread pushes or reads: the
    // queue is drained, never replaced.
    void reset();

    // Accept only these identifiers from now on (an empty list is still active).
    void setIdentifierList(const std::vector<K>& identifiers);
    // Empties the list and deactivates it: every record is queued again.
    void clearIdentifierList();

    std::uint32_t channel() const { return channel_; }
    // Approximate number of queued records.
    std::size_t sizeApprox() const { return queue_.size_approx(); }

private:
    static K identifierOf(const T& record);

    const std::uint32_t channel_;
    std::atomic<bool> identifierListActive_{false};
    moodycamel::ConcurrentQueue<T, KvVciChannelQueueTraits> queue_;
    // Guards identifiers_. The push path takes it only while the list is active, which
    // the library itself never does.
    std::mutex identifierMutex_;
    std::unordered_set<K> identifiers_;
};

template <typename T, typename K>
KvVciChannelBuffer<T, K>::KvVciChannelBuffer(std::uint32_t channel)
    : channel_(channel), queue_(kPreallocatedRecords) {}

template <typename T, typename K> int KvVciChannelBuffer<T, K>::push(const T& record) {
    if (identifierListActive_.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(identifierMutex_);
        if (identifiers_.find(identifierOf(record)) == identifiers_.end()) {
            return 0;
        }
    }
    // Beyond the preallocated room the queue allocates more; a failed allocation drops
    // the record, as a full kernel buffer would.
    queue_.enqueue(record);
    return 0;
}

template <typename T, typename K>
int KvVciChannelBuffer<T, K>::readRecords(T* destination, std::uint32_t& count) {
    if (destination == nullptr || count == 0) {
        count = 0;
        return kReadInvalidArgument;
    }
    const std::size_t taken = queue_.try_dequeue_bulk(destination, count);
    count = static_cast<std::uint32_t>(taken);
    return taken == 0 ? ZX_CHANNEL_BUFFER_EMPTY : ZX_OK;
}

template <typename T, typename K> void KvVciChannelBuffer<T, K>::reset() {
    // Bounded, so that a producer pushing as fast as we drain cannot keep reset busy:
    // what arrives after the snapshot may stay queued, which is what a later push is.
    constexpr std::size_t kChunk = 64;
    T scratch[kChunk];
    std::size_t budget = queue_.size_approx() + kInitialCapacity;
    while (budget > 0) {
        const std::size_t taken = queue_.try_dequeue_bulk(scratch, kChunk < budget ? kChunk : budget);
        if (taken == 0) {
            break;
        }
        budget -= taken;
    }
}

template <typename T, typename K>
void KvVciChannelBuffer<T, K>::setIdentifierList(const std::vector<K>& identifiers) {
    std::lock_guard<std::mutex> lock(identifierMutex_);
    identifiers_.clear();
    identifiers_.insert(identifiers.begin(), identifiers.end());
    identifierListActive_.store(true, std::memory_order_release);
}

template <typename T, typename K> void KvVciChannelBuffer<T, K>::clearIdentifierList() {
    std::lock_guard<std::mutex> lock(identifierMutex_);
    identifierListActive_.store(false, std::memory_order_release);
    identifiers_.clear();
}

template <typename T, typename K> K KvVciChannelBuffer<T, K>::identifierOf(const T& record) {
    static_assert(sizeof(T) >= sizeof(K), "the identifier is the record's first field");
    K id;
    std::memcpy(&id, &record, sizeof(K));
    return id;
}
