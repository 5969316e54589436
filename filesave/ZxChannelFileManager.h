// Writes the points of one measurement channel of one mapped CAN identifier to a
// series of CSV files "<root>/CH<n>/<name>_<yymmdd_HHMMSS>_<index>.csv", on its own
// writer thread, starting a new file whenever one reaches the size limit.
#pragma once

#include "filesave/SharedOutputFile.h"
#include "filesave/ZxChannelDataPoint.h"
#include "filesave/ZxFileSaveQueueTraits.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ZxChannelFileManager {
public:
    static constexpr std::size_t kPointsPerChunk = 4096;
    static constexpr std::uint64_t kDefaultFileBytes = 10ull * 1024 * 1024;
    static constexpr char kHeader[] = "Timestamp,Current_mA\n";
    static constexpr std::size_t kHeaderBytes = sizeof(kHeader) - 1; // 21

    // Starts the writer thread; throws (after a level-3 message) when it cannot start.
    // Sizes outside 1..1024 MiB become 10 MiB with a level-2 message.
    ZxChannelFileManager(const std::string& rootDirectory, int channel, const std::string& name,
                         std::uint16_t maxFileSizeMB);
    // Wakes the writer, which writes every point still queued and closes its file.
    ~ZxChannelFileManager();

    ZxChannelFileManager(const ZxChannelFileManager&) = delete;
    ZxChannelFileManager& operator=(const ZxChannelFileManager&) = delete;

    // One bulk enqueue; called only by the router thread. The writer takes them at its
    // next pass (every 500 ms).
    void pushPoints(const ZxChannelDataPoint* points, std::size_t count);

    std::uint64_t maxFileBytes() const { return maxFileBytes_; }

private:
    void writerThreadLoop();
    // Writes everything queued, chunk after chunk, until the queue is empty.
    void writePending();
    // At stop, when no file can be opened: empties the queue and says how many points
    // were lost, instead of failing once per chunk.
    void discardQueued();
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

    // Used only by the writer thread once it runs.
    SharedOutputFile file_;
    std::string currentPath_;
    std::int32_t fileIndex_ = 1;
    std::uint64_t bytesWritten_ = 0;
    std::vector<ZxChannelDataPoint> chunk_; // kPointsPerChunk points
    std::size_t chunkFill_ = 0;             // points in chunk_ still to be written
    std::unique_ptr<char[]> lineBuffer_;    // text of one chunk at its longest

    ZxFileSaveQueue<ZxChannelDataPoint> pointQueue_;
    moodycamel::ProducerToken producerToken_; // the router's
    moodycamel::ConsumerToken consumerToken_; // the writer's

    std::atomic<bool> running_{false};
    std::thread writerThread_;
    std::atomic<bool> writerBodyDone_{false}; // see Common::joinThread
    // writerMutex_ guards nothing but the writer's timed wait on writerWake_ (running_
    // is its predicate; the destructor changes it under this mutex).
    std::mutex writerMutex_;
    std::condition_variable writerWake_;
};
