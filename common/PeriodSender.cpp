#include "common/PeriodSender.h"
#include "common/ThreadJoin.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace Common {

namespace {
using Clock = std::chrono::steady_clock;
}

struct PeriodSender::Entry {
    std::uint16_t protocolId;
    std::uint16_t channel;
    std::vector<std::uint8_t> bytes;
    std::chrono::milliseconds period;
    Clock::time_point nextDue;
};

PeriodSender::PeriodSender() = default;

PeriodSender::~PeriodSender() {
    std::unique_lock<std::mutex> lock(mutex_);
    entries_.clear();
    stopThread(lock);
}

void PeriodSender::setSendCallback(SendCallback callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    callback_ = std::move(callback);
}

void PeriodSender::add(std::uint16_t protocolId, std::uint16_t channel, std::vector<std::uint8_t> bytes,
                       std::uint32_t periodMs) {
    const std::chrono::milliseconds period(std::max<std::uint32_t>(periodMs, 1));
    std::lock_guard<std::mutex> lock(mutex_);
    // The first copy goes out at once, the next ones every period.
    entries_.push_back(Entry{protocolId, channel, std::move(bytes), period, Clock::now()});
    if (!thread_.joinable()) {
        stopping_ = false;
        threadBodyDone_.store(false);
        try {
            thread_ = std::thread(&PeriodSender::run, this);
        } catch (...) {
            entries_.pop_back(); // nothing would send it
            throw;
        }
    }
    wake_.notify_all();
}

void PeriodSender::clear() {
    std::unique_lock<std::mutex> lock(mutex_);
    entries_.clear();
    stopThread(lock);
}

void PeriodSender::clear(std::uint16_t protocolId, std::uint16_t channel) {
    std::unique_lock<std::mutex> lock(mutex_);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& entry) {
                                      return entry.protocolId == protocolId && entry.channel == channel;
                                  }),
                   entries_.end());
    if (entries_.empty()) {
        stopThread(lock);
    }
}

std::size_t PeriodSender::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

void PeriodSender::stopThread(std::unique_lock<std::mutex>& lock) {
    if (!thread_.joinable()) {
        return;
    }
    stopping_ = true;
    wake_.notify_all();
    std::thread finished = std::move(thread_);
    lock.unlock();
    joinThread(finished, threadBodyDone_);
    lock.lock();
    stopping_ = false;
}

void PeriodSender::run() {
    const ThreadBodyDone bodyDone(threadBodyDone_);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (entries_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto now = Clock::now();
        auto nextWake = Clock::time_point::max();
        for (Entry& entry : entries_) {
            if (entry.nextDue <= now) {
                // Sent under the lock so that once clear() returns nothing of what it
                // removed goes out any more; a UDP send does not block for long.
                if (callback_) {
                    try {
                        callback_(entry.bytes);
                    } catch (...) {
                        // a failed send is retried at the next period like any other
                    }
                }
                entry.nextDue += entry.period;
                if (entry.nextDue <= now) {
                    // Fell behind (slow sends, a suspended machine): resume the rhythm
                    // from now instead of sending a burst of copies.
                    entry.nextDue = now + entry.period;
                }
            }
            nextWake = std::min(nextWake, entry.nextDue);
        }
        wake_.wait_until(lock, nextWake);
    }
}

} // namespace Common
