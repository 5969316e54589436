// The files one save holds open: at most its share of what saving may hold open in the
// process (ZxOpenFileLimit, divided among the saves that run). A writer that needs its
// file while the share is taken first closes the file of this save that was used
// longest ago; that file is reopened for appending when its turn comes again. Used only
// by the one thread that passes the save, like the writers themselves.
#pragma once

#include "filesave/ZxOpenFileLimit.h"

#include <atomic>
#include <cstddef>

class ZxOpenFileCache {
public:
    // A writer whose file the cache may close.
    class Entry {
    public:
        virtual ~Entry() = default;

    protected:
        Entry() = default;
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        // Closes the file until the writer needs it again (then ZxOpenFileCache::touch).
        virtual void closeForNow() = 0;

    private:
        friend class ZxOpenFileCache;
        Entry* newer_ = nullptr;
        Entry* older_ = nullptr;
        bool listed_ = false;
    };

    // processFiles: what saving may hold open in the whole process.
    ZxOpenFileCache();
    explicit ZxOpenFileCache(std::size_t processFiles);
    ~ZxOpenFileCache();
    ZxOpenFileCache(const ZxOpenFileCache&) = delete;
    ZxOpenFileCache& operator=(const ZxOpenFileCache&) = delete;

    // Before a writer opens a file: closes the files of this save used longest ago
    // until one more fits in its share.
    void makeRoom();
    // The entry's file is open and was used now.
    void touch(Entry& entry);
    // The entry's file was closed (or its writer goes away).
    void forget(Entry& entry);

    std::size_t openFiles() const { return open_; }
    // This save's share now: the process's files divided by the saves that run, at least 1.
    std::size_t share() const;

private:
    static std::atomic<std::size_t> runningSaves_;

    const std::size_t processFiles_;
    Entry* newest_ = nullptr;
    Entry* oldest_ = nullptr;
    std::size_t open_ = 0;
};
