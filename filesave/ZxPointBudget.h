// The points one save may hold waiting for their files (a disk that is full, a folder
// that cannot be created), shared by all its writers, within a ceiling for the whole
// process. A point beyond either is dropped by its writer, counted and reported. The
// save's count is used by the one thread that passes the save; the process's is taken
// and given back in blocks, so a point costs no atomic operation.
#pragma once

#include "filesave/ZxChannelDataPoint.h"

#include <atomic>
#include <cstddef>

class ZxPointBudget {
public:
    // 64 MiB of points per save, 256 MiB in the process (about a minute of a 3,500 Hz
    // module on each of 6 channels of 10 identifiers; a full plan at 1,000 Hz holds
    // below 64 MiB in all between two writes).
    static constexpr std::size_t kSavePoints = 64u * 1024 * 1024 / sizeof(ZxChannelDataPoint);
    static constexpr std::size_t kProcessPoints = 256u * 1024 * 1024 / sizeof(ZxChannelDataPoint);

    // The points that all saves of a process hold together.
    class Ceiling {
    public:
        explicit Ceiling(std::size_t points) : limit_(points) {}
        // Takes count points when they fit below the ceiling.
        bool take(std::size_t count);
        void give(std::size_t count) { used_.fetch_sub(count); }

    private:
        const std::size_t limit_;
        std::atomic<std::size_t> used_{0};
    };
    static Ceiling& processCeiling();

    ZxPointBudget() : ZxPointBudget(kSavePoints, processCeiling()) {}
    ZxPointBudget(std::size_t savePoints, Ceiling& ceiling) : saveLimit_(savePoints), ceiling_(ceiling) {}
    ~ZxPointBudget() { ceiling_.give(reserved_); }
    ZxPointBudget(const ZxPointBudget&) = delete;
    ZxPointBudget& operator=(const ZxPointBudget&) = delete;

    // Takes room for one more waiting point; false when the save or the process is full.
    bool take() {
        if (used_ < reserved_) {
            ++used_;
            return true;
        }
        return reserveAndTake();
    }
    // count waiting points were written or let go.
    void give(std::size_t count);

    std::size_t waiting() const { return used_; }

private:
    // Room is taken from the process this many points at a time.
    static constexpr std::size_t kBlockPoints = 16384;

    bool reserveAndTake();

    const std::size_t saveLimit_;
    Ceiling& ceiling_;
    std::size_t used_ = 0;
    std::size_t reserved_ = 0; // taken from the ceiling, at least used_
};
