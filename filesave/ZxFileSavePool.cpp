#include "filesave/ZxFileSavePool.h"

#include "api/common/ZxLog.h"
#include "common/ThreadJoin.h"
#include "common/Utils.h"
#include "filesave/ZxFileSaveScratch.h"
#include "filesave/ZxRecordRouter.h"

#include <algorithm>
#include <exception>

std::shared_ptr<ZxFileSavePool> ZxFileSavePool::acquire() {
    // current guards nothing but the weak reference to the pool that runs.
    static std::mutex currentMutex;
    static std::weak_ptr<ZxFileSavePool> current;
    std::lock_guard<std::mutex> lock(currentMutex);
    std::shared_ptr<ZxFileSavePool> pool = current.lock();
    if (!pool) {
        pool = std::make_shared<ZxFileSavePool>();
        current = pool;
    }
    return pool;
}

ZxFileSavePool::ZxFileSavePool() : bodyDone_(std::make_unique<std::atomic<bool>[]>(kThreads)) {
    threads_.reserve(kThreads);
    try {
        for (std::size_t slot = 0; slot < kThreads; ++slot) {
            bodyDone_[slot].store(false);
            threads_.emplace_back(&ZxFileSavePool::threadLoop, this, slot);
        }
    } catch (const std::exception& e) {
        zxLog(ZxLevel::Error, "Failed to start file saving threads: {}", e.what());
        stopThreads();
        throw;
    }
}

ZxFileSavePool::~ZxFileSavePool() {
    stopThreads();
}

void ZxFileSavePool::stopThreads() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::size_t slot = 0; slot < threads_.size(); ++slot) {
        Common::joinThread(threads_[slot], bodyDone_[slot]);
    }
    threads_.clear();
}

void ZxFileSavePool::add(std::shared_ptr<ZxRecordRouter> router) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(Entry{std::move(router), Clock::now() + ZxRecordRouter::kBusyPassInterval, false,
                                 std::thread::id()});
    }
    wake_.notify_all();
}

void ZxFileSavePool::remove(const ZxRecordRouter* router) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto matches = [router](const Entry& entry) { return entry.router.get() == router; };
    // A thread cannot wait for the pass it is running itself (the crash path on a saving
    // thread, as with Common::joinThread): the process is ending anyway.
    const std::thread::id self = std::this_thread::get_id();
    passDone_.wait(lock, [&] {
        const auto found = std::find_if(entries_.begin(), entries_.end(), matches);
        return found == entries_.end() || !found->busy || found->passer == self;
    });
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), matches), entries_.end());
}

void ZxFileSavePool::threadLoop(std::size_t slot) {
    const Common::ThreadBodyDone bodyDone(bodyDone_[slot]);
    try {
        zxLog(ZxLevel::Info, "File saving thread started: {}", Common::Utils::getThreadIdString());
        ZxFileSaveScratch scratch;
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            // The idle router that is due soonest.
            Entry* next = nullptr;
            for (Entry& entry : entries_) {
                if (!entry.busy && (next == nullptr || entry.due < next->due)) {
                    next = &entry;
                }
            }
            if (next == nullptr) {
                wake_.wait(lock);
                continue;
            }
            // A copy: the wait reads the time again after it wakes, when an add may have
            // moved the entries.
            const Clock::time_point due = next->due;
            if (due > Clock::now()) {
                wake_.wait_until(lock, due);
                continue;
            }
            next->busy = true;
            next->passer = std::this_thread::get_id();
            const std::shared_ptr<ZxRecordRouter> router = next->router;
            lock.unlock();
            const Clock::time_point nextPass = router->runPass(scratch);
            lock.lock();
            // The entry may have moved (others were added or removed meanwhile), but
            // it is still there: remove waits while it is busy.
            for (Entry& entry : entries_) {
                if (entry.router == router) {
                    entry.busy = false;
                    entry.due = nextPass;
                }
            }
            passDone_.notify_all();
        }
        zxLog(ZxLevel::Info, "File saving thread stopped");
    } catch (const std::exception& e) {
        // runPass keeps its own faults; what reaches here is the pool's bookkeeping.
        zxLog(ZxLevel::Error, "File saving thread ended by an error: {}", e.what());
    } catch (...) {
        zxLog(ZxLevel::Error, "File saving thread ended by an unknown error");
    }
}
