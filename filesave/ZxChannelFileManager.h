// Writes the points of one measurement channel of one mapped CAN identifier to a
// series of CSV files "<root>/CH<n>/<name>_<yymmdd_HHMMSS>_<index>.csv", starting a new
// file whenever one reaches the size limit. It has no thread of its own: the thread
// that routes its identifier's records (a pool thread, or the one that stops the save)
// pushes the points and asks for the writes, one thread at a time. The writers of a
// save share its open files (ZxOpenFileCache: a file may be closed between writes and
// reopened for appending) and its budget of waiting points (ZxPointBudget).
#pragma once

#include "filesave/SharedOutputFile.h"
#include "filesave/ZxChannelDataPoint.h"
#include "filesave/ZxDropReport.h"
#include "filesave/ZxFileSaveScratch.h"
#include "filesave/ZxOpenFileCache.h"
#include "filesave/ZxPointBudget.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ZxChannelFileManager : private ZxOpenFileCache::Entry {
public:
    static constexpr std::size_t kPointsPerChunk = ZxFileSaveScratch::kChunkPoints;
    static constexpr std::uint64_t kDefaultFileBytes = 10ull * 1024 * 1024;
    static constexpr char kHeader[] = "Timestamp,Current_mA\n";
    static constexpr std::size_t kHeaderBytes = sizeof(kHeader) - 1; // 21
    // After a failed open or write the next attempt waits this long, so a full disk
    // costs one attempt per pass.
    static constexpr std::chrono::milliseconds kRetryInterval{500};

    enum class WriteMode {
        FullChunks, // only whole chunks of kPointsPerChunk points, the rest waits
        All,        // everything pending
        Final       // everything pending; what cannot be written is discarded; the file is closed
    };

    // Opens nothing yet. Sizes outside 1..1024 MiB become 10 MiB with a level-2 message.
    // openFiles and waitingPoints are the save's and outlive the writer.
    ZxChannelFileManager(const std::string& rootDirectory, int channel, const std::string& name,
                         std::uint16_t maxFileSizeMB, ZxOpenFileCache& openFiles,
                         ZxPointBudget& waitingPoints);
    // A writer alone, as its own save.
    ZxChannelFileManager(const std::string& rootDirectory, int channel, const std::string& name,
                         std::uint16_t maxFileSizeMB);
    // Closes the current file; points still pending are not written (see WriteMode::Final).
    ~ZxChannelFileManager() override;

    ZxChannelFileManager(const ZxChannelFileManager&) = delete;
    ZxChannelFileManager& operator=(const ZxChannelFileManager&) = delete;

    // Appends points in order. A point beyond the save's budget of waiting points is
    // dropped, counted and reported.
    void pushPoint(const ZxChannelDataPoint& point) {
        pushedSincePass_ = true;
        if (waitingPoints_.take()) {
            backlog_.push_back(point);
        } else {
            dropBeyondBacklog(1);
        }
    }
    void pushPoints(const ZxChannelDataPoint* points, std::size_t count);

    // Writes pending points as CSV lines, opening a file when none is open (at most one
    // attempt per kRetryInterval, except in Final mode).
    void writePending(ZxFileSaveScratch& scratch, WriteMode mode);

    std::size_t pendingPoints() const { return backlog_.size() - backlogStart_; }
    std::uint64_t maxFileBytes() const { return maxFileBytes_; }

private:
    using Clock = std::chrono::steady_clock;

    void setFileSize(std::uint16_t maxFileSizeMB);

    // Writes points [backlogStart_, backlogStart_ + count) as one chunk; false when the
    // write failed: the file is then cut back to its last whole line and closed, and the
    // points not in it wait for the next file.
    bool writeChunk(ZxFileSaveScratch& scratch, std::size_t count);
    // After a write that stopped after `written` bytes of text: keeps the whole lines of
    // them, returns how many.
    std::size_t keepWholeLines(const char* text, std::size_t written);
    bool ensureOpen(WriteMode mode);
    // Reopens the file that the cache closed; on failure the next index takes over.
    bool reopenFile();
    // A new file with its header, in a place of the cache.
    bool startNewFile();
    void closeForNow() override;
    // Removes what was written from the backlog, and gives its memory back once it is
    // empty and nothing arrived since the last full pass.
    void compactBacklog(WriteMode mode);
    void dropBeyondBacklog(std::size_t count);
    // At stop, when no file can be opened: empties the backlog with one message.
    void discardPending();
    // The points before backlogStart_ were written or let go: the budget gets them back.
    void releaseWaiting(std::size_t count);
    bool openNewFile();
    void closeFile();
    bool writeHeader();
    // The directory for the next file: CH<n> below the root, or the root itself when
    // CH<n> cannot be created.
    std::string makeDirectory();

    const std::string rootDirectory_;
    const int channel_;
    const std::string name_;
    std::uint64_t maxFileBytes_ = kDefaultFileBytes;

    const std::unique_ptr<ZxOpenFileCache> ownOpenFiles_; // for a writer alone
    const std::unique_ptr<ZxPointBudget> ownWaitingPoints_;
    ZxOpenFileCache& openFiles_;
    ZxPointBudget& waitingPoints_;

    SharedOutputFile file_;
    std::string currentPath_;
    bool closedForNow_ = false; // currentPath_ is ours, closed by the cache, to be continued
    std::int32_t fileIndex_ = 1;
    std::uint64_t bytesWritten_ = 0;

    // Points in the order they were pushed; [0, backlogStart_) are already written.
    std::vector<ZxChannelDataPoint> backlog_;
    std::size_t backlogStart_ = 0;
    bool pushedSincePass_ = false;
    Clock::time_point nextOpenAttempt_{};
    ZxDropReport backlogDrops_;
};
