#include "filesave/ZxOpenFileCache.h"

#include <algorithm>

std::atomic<std::size_t> ZxOpenFileCache::runningSaves_{0};

ZxOpenFileCache::ZxOpenFileCache()
    : ZxOpenFileCache(ZxOpenFileLimit::savingFiles(ZxOpenFileLimit::processLimit())) {}

ZxOpenFileCache::ZxOpenFileCache(std::size_t processFiles) : processFiles_(processFiles) {
    runningSaves_.fetch_add(1);
}

ZxOpenFileCache::~ZxOpenFileCache() {
    while (oldest_ != nullptr) {
        forget(*oldest_);
    }
    runningSaves_.fetch_sub(1);
}

std::size_t ZxOpenFileCache::share() const {
    return std::max<std::size_t>(1, processFiles_ / std::max<std::size_t>(1, runningSaves_.load()));
}

void ZxOpenFileCache::makeRoom() {
    const std::size_t limit = share();
    while (open_ >= limit && oldest_ != nullptr) {
        Entry& victim = *oldest_;
        forget(victim);
        victim.closeForNow();
    }
}

void ZxOpenFileCache::touch(Entry& entry) {
    if (newest_ == &entry) {
        return;
    }
    forget(entry);
    entry.older_ = newest_;
    entry.newer_ = nullptr;
    if (newest_ != nullptr) {
        newest_->newer_ = &entry;
    } else {
        oldest_ = &entry;
    }
    newest_ = &entry;
    entry.listed_ = true;
    ++open_;
}

void ZxOpenFileCache::forget(Entry& entry) {
    if (!entry.listed_) {
        return;
    }
    (entry.newer_ != nullptr ? entry.newer_->older_ : newest_) = entry.older_;
    (entry.older_ != nullptr ? entry.older_->newer_ : oldest_) = entry.newer_;
    entry.newer_ = nullptr;
    entry.older_ = nullptr;
    entry.listed_ = false;
    --open_;
}
