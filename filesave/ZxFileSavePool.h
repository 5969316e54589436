// The few threads that do all file saving of the process: every running save (one per
// collector reader) is a router here, and each pass of a thread takes the router that
// is due soonest, routes its queued records to its files and writes them. The threads
// exist while at least one save runs; the number does not grow with the number of
// saves, identifiers or files. Routing and writing happen in the same pass, so points
// never cross threads: no point queue per file, no lock per file, and since a router
// is passed by one thread at a time the lines of each file keep their order. A
// router held up by a slow disk keeps one thread while the others serve the rest.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ZxRecordRouter;

class ZxFileSavePool {
public:
    static constexpr std::size_t kThreads = 4;
    // The pool of the process, started when the first save asks for it; it stops when
    // the last holder lets it go. Throws std::system_error when its threads cannot start.
    static std::shared_ptr<ZxFileSavePool> acquire();

    // Starts the threads; throws (with none left running) when one cannot start.
    ZxFileSavePool();
    // Wakes and joins every thread; no router is passed afterwards.
    ~ZxFileSavePool();
    ZxFileSavePool(const ZxFileSavePool&) = delete;
    ZxFileSavePool& operator=(const ZxFileSavePool&) = delete;

    // The router gets its first pass shortly; each pass says when the next one is due.
    void add(std::shared_ptr<ZxRecordRouter> router);
    // Takes the router out; when another thread is passing it, waits until that pass
    // ends, so that on return no pool thread touches it any more. Called from within a
    // pass of the router (the crash path on a saving thread) it does not wait for itself.
    void remove(const ZxRecordRouter* router);

private:
    using Clock = std::chrono::steady_clock;

    struct Entry {
        std::shared_ptr<ZxRecordRouter> router;
        Clock::time_point due;
        bool busy = false;
        std::thread::id passer; // the thread passing it while busy
    };

    void threadLoop(std::size_t slot);
    void stopThreads();

    // mutex_ guards entries_ and stopping_.
    std::mutex mutex_;
    std::condition_variable wake_;     // a router was added, or the pool stops
    std::condition_variable passDone_; // a pass ended (remove waits for its router's)
    std::vector<Entry> entries_;
    bool stopping_ = false;

    std::vector<std::thread> threads_;
    std::unique_ptr<std::atomic<bool>[]> bodyDone_; // one per thread, see Common::joinThread
};
