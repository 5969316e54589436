#include "common/HeartbeatManager.h"
#include "common/ThreadJoin.h"

#include <stdexcept>
#include <utility>

namespace Common {

namespace {

std::int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A check interval of 0 would spin the timer thread.
std::chrono::milliseconds atLeastOneMs(unsigned ms) {
    return std::chrono::milliseconds(ms == 0 ? 1 : ms);
}

} // namespace

HeartbeatManager::HeartbeatManager(unsigned checkIntervalMs)
    : checkInterval_(atLeastOneMs(checkIntervalMs)) {}

HeartbeatManager::~HeartbeatManager() {
    stop();
}

void HeartbeatManager::setCallback(std::function<void()> callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    callback_ = std::move(callback);
}

void HeartbeatManager::start(unsigned idleIntervalMs) {
    stop();
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) {
        // Only possible when the callback itself restarts the timer: the thread is
        // still inside the callback and cannot be replaced from there.
        throw std::logic_error("HeartbeatManager::start called from its own callback");
    }
    // The link was just set up: the idle time counts from now.
    updateTimestamp();
    stopping_ = false;
    threadBodyDone_.store(false);
    thread_ = std::thread(&HeartbeatManager::run, this, idleIntervalMs);
    running_.store(true, std::memory_order_relaxed);
}

void HeartbeatManager::stop() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable()) {
        return;
    }
    stopping_ = true;
    running_.store(false, std::memory_order_relaxed);
    wake_.notify_all();
    if (thread_.get_id() == std::this_thread::get_id()) {
        // Called from the callback: the thread ends once the callback returns and is
        // joined by the next start, stop or the destructor.
        return;
    }
    std::thread finished = std::move(thread_);
    lock.unlock();
    joinThread(finished, threadBodyDone_);
}

void HeartbeatManager::updateTimestamp() {
    lastSendNs_.store(steadyNowNs(), std::memory_order_relaxed);
}

bool HeartbeatManager::isRunning() const {
    return running_.load(std::memory_order_relaxed);
}

void HeartbeatManager::run(unsigned idleIntervalMs) {
    const ThreadBodyDone bodyDone(threadBodyDone_);
    const std::int64_t idleNs = static_cast<std::int64_t>(idleIntervalMs) * 1000000;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, checkInterval_, [this] { return stopping_; })) {
        if (steadyNowNs() - lastSendNs_.load(std::memory_order_relaxed) < idleNs) {
            continue;
        }
        std::function<void()> callback = callback_;
        // The callback sends, and a successful send calls updateTimestamp; a failed one
        // leaves the time as it was, so the next check tries again.
        lock.unlock();
        if (callback) {
            try {
                callback();
            } catch (...) {
                // a failed heartbeat is retried at the next check
            }
        }
        lock.lock();
    }
}

} // namespace Common
