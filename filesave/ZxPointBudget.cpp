#include "filesave/ZxPointBudget.h"

#include <algorithm>

bool ZxPointBudget::Ceiling::take(std::size_t count) {
    std::size_t used = used_.load();
    do {
        if (count > limit_ || used > limit_ - count) {
            return false;
        }
    } while (!used_.compare_exchange_weak(used, used + count));
    return true;
}

ZxPointBudget::Ceiling& ZxPointBudget::processCeiling() {
    static Ceiling ceiling(kProcessPoints);
    return ceiling;
}

bool ZxPointBudget::reserveAndTake() {
    if (used_ >= saveLimit_) {
        return false;
    }
    // A whole block when the ceiling has one, else the single point.
    const std::size_t block = std::min(kBlockPoints, saveLimit_ - reserved_);
    if (!ceiling_.take(block)) {
        if (!ceiling_.take(1)) {
            return false;
        }
        reserved_ += 1;
    } else {
        reserved_ += block;
    }
    ++used_;
    return true;
}

void ZxPointBudget::give(std::size_t count) {
    used_ -= std::min(count, used_);
    // Keeps one block in hand for the next points; the rest goes back to the process.
    if (reserved_ - used_ > 2 * kBlockPoints) {
        const std::size_t back = reserved_ - used_ - kBlockPoints;
        reserved_ -= back;
        ceiling_.give(back);
    }
}
