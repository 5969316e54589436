// Writes the points of one measurement channel of one mapped CAN identifier to a
// series of CSV files "<root>/CH<n>/<name>_<yymmdd_HHMMSS>_<index>.csv", starting a new
// file whenever one reaches the size limit. It has no thread of its own: the thread
// that routes its identifier's records (a pool thread, or the one that stops the save)
// pushes the points and asks for the writes, one thread at a time.
#pragma once

#include "filesave/SharedOutputFile.h"
#include "filesave/ZxChannelDataPoint.h"
#include "filesave/ZxDropReport.h"
#include "filesave/ZxFileSaveScratch.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ZxChannelFileManager {
public:
    static constexpr std::size_t kPointsPerChunk = ZxFileSaveScratch::kChunkPoints;
    static constexpr std::uint64_t kDefaultFileBytes = 10ull * 1024 * 1024;
    static constexpr char kHeader[] = "Timestamp,Current_mA\n";
    static constexpr std::size_t kHeaderBytes = sizeof(kHeader) - 1; // 21
    // Points kept while no file can be opened: 8 MiB of points (about one minute of a
    // 3,500 Hz module). Beyond it new points are dropped and counted.
    static constexpr std::size_t kMaxBacklogPoints = 8u * 1024 * 1024 / sizeof(ZxChannelDataPoint);
    // After a failed open or write the next attempt waits this long, so a full disk
    // costs one attempt per pass.
    static constexpr std::chrono::milliseconds kRetryInterval{500};

    enum class WriteMode {
        FullChunks, // only whole chunks of kPointsPerChunk points, the rest waits
        All,        // everything pending
        Final       // everything pending; what cannot be written is discarded; the file is closed
    };

    // Opens nothing yet. Sizes outside 1..1024 MiB become 10 MiB with a level-2 message.
    ZxChannelFileManager(const std::string& rootDirectory, int channel, const std::string& name,
                         std::uint16_t maxFileSizeMB);
    // Closes the current file; points still pending are not written (see WriteMode::Final).
    ~ZxChannelFileManager();

    ZxChannelFileManager(const ZxChannelFileManager&) = delete;
    ZxChannelFileManager& operator=(const ZxChannelFileManager&) = delete;

    // Appends points in order. While no file can be opened at most kMaxBacklogPoints
    // wait; the rest is dropped, counted and reported.
    void pushPoint(const ZxChannelDataPoint& point) {
        pushedSincePass_ = true;
        if (backlog_.size() < backlogLimit_) {
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

    // Writes points [backlogStart_, backlogStart_ + count) as one chunk; false when the
    // write failed (the file is then closed and those points are counted as lost).
    bool writeChunk(ZxFileSaveScratch& scratch, std::size_t count);
    bool ensureOpen(WriteMode mode);
    // Removes what was written from the backlog, and gives its memory back once it is
    // empty and nothing arrived since the last full pass.
    void compactBacklog(WriteMode mode);
    void dropBeyondBacklog(std::size_t count);
    // At stop, when no file can be opened: empties the backlog with one message.
    void discardPending();
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

    SharedOutputFile file_;
    std::string currentPath_;
    std::int32_t fileIndex_ = 1;
    std::uint64_t bytesWritten_ = 0;

    // Points in the order they were pushed; [0, backlogStart_) are already written.
    std::vector<ZxChannelDataPoint> backlog_;
    std::size_t backlogStart_ = 0;
    std::size_t backlogLimit_ = SIZE_MAX; // kMaxBacklogPoints while no file can be opened
    bool pushedSincePass_ = false;
    Clock::time_point nextOpenAttempt_{};
    ZxDropReport backlogDrops_;
    std::uint64_t pointsNotWritten_ = 0;
};
