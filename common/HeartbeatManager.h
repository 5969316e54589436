// Keeps a link alive: a timer thread calls the callback whenever nothing was sent
// for the idle interval. Every successful send calls updateTimestamp.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace Common {

class HeartbeatManager {
public:
    // checkIntervalMs: how often the timer looks at the last send time.
    explicit HeartbeatManager(unsigned checkIntervalMs);
    ~HeartbeatManager();
    HeartbeatManager(const HeartbeatManager&) = delete;
    HeartbeatManager& operator=(const HeartbeatManager&) = delete;

    void setCallback(std::function<void()> callback);
    // Starts the timer: the callback runs when nothing was sent for idleIntervalMs.
    // A second start restarts it with the new interval. The idle time counts from the
    // start. Without sends the callback runs at every check once idleIntervalMs passed;
    // it may call updateTimestamp and stop (not start) itself.
    void start(unsigned idleIntervalMs);
    // Stops the timer and joins its thread; returns within one wake-up, never waits
    // for a check interval to run out. Harmless when not running.
    void stop();
    // Records that something was sent just now. Lock-free.
    void updateTimestamp();
    bool isRunning() const;

private:
    void run(unsigned idleIntervalMs);

    const std::chrono::milliseconds checkInterval_;
    std::atomic<std::int64_t> lastSendNs_{0}; // steady clock, nanoseconds
    std::mutex mutex_;                        // guards callback_, stopping_ and thread_
    std::condition_variable wake_;
    std::function<void()> callback_;
    bool stopping_ = false;
    std::thread thread_;
    std::atomic<bool> threadBodyDone_{false}; // see Common::joinThread
    std::atomic<bool> running_{false};        // between start and stop, readable without the lock
};

} // namespace Common
