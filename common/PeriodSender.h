// Sends registered byte sequences again and again at their own period, on one
// thread that exists only while something is registered.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Common {

class PeriodSender {
public:
    using SendCallback = std::function<int(const std::vector<std::uint8_t>&)>;

    PeriodSender();
    ~PeriodSender();
    PeriodSender(const PeriodSender&) = delete;
    PeriodSender& operator=(const PeriodSender&) = delete;

    // The callback runs on the sender's thread while the sender's lock is held (so a
    // clear() is final when it returns): it must not call back into this sender.
    void setSendCallback(SendCallback callback);
    // Registers bytes to send every periodMs (at least 1) for (protocolId, channel); the
    // first copy goes out at once. Adding the same bytes twice sends them twice.
    void add(std::uint16_t protocolId, std::uint16_t channel, std::vector<std::uint8_t> bytes,
             std::uint32_t periodMs);
    // Drops everything registered and ends the thread; nothing is sent after it returns.
    void clear();
    // Drops what is registered for one channel of one protocol (1 CAN, 5 LIN).
    void clear(std::uint16_t protocolId, std::uint16_t channel);
    std::size_t size() const;

private:
    struct Entry;
    void run();
    void stopThread(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_; // guards callback_, entries_, stopping_ and thread_
    std::condition_variable wake_;
    SendCallback callback_;
    std::vector<Entry> entries_;
    bool stopping_ = false;
    std::thread thread_;
    std::atomic<bool> threadBodyDone_{false}; // see Common::joinThread
};

} // namespace Common
