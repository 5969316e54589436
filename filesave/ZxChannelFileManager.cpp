#include "filesave/ZxChannelFileManager.h"

#include "api/common/ZxLog.h"
#include "common/ThreadJoin.h"
#include "common/Utils.h"
#include "filesave/LocalTimeText.h"
#include "filesave/NarrowPath.h"
#include "zxcollector_api.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <system_error>

namespace {

constexpr std::uint64_t kBytesPerMiB = 1024ull * 1024;
constexpr std::uint64_t kMinFileBytes = 1024;
constexpr std::uint64_t kMaxFileBytes = 1024ull * kBytesPerMiB;
constexpr auto kPassInterval = std::chrono::milliseconds(500);
// Longest line: 31 timestamp characters, ",", "-2147483648", LF.
constexpr std::size_t kMaxLineBytes = ZxChannelDataPoint::kTimestampCapacity - 1 + 1 + 11 + 1;
constexpr std::size_t kLineBufferBytes = ZxChannelFileManager::kPointsPerChunk * kMaxLineBytes;
// A busy folder could hold files of every index from a crashed earlier run; beyond
// this many taken names something else is wrong and the open is reported as failed.
constexpr int kMaxNameAttempts = 10000;

char* appendDecimal(char* out, std::int32_t value) {
    std::uint32_t magnitude = static_cast<std::uint32_t>(value);
    if (value < 0) {
        *out++ = '-';
        magnitude = 0u - magnitude;
    }
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0) {
        *out++ = digits[--count];
    }
    return out;
}

} // namespace

ZxChannelFileManager::ZxChannelFileManager(const std::string& rootDirectory, int channel,
                                           const std::string& name, std::uint16_t maxFileSizeMB)
    : rootDirectory_(rootDirectory), channel_(channel), name_(name), chunk_(kPointsPerChunk),
      lineBuffer_(std::make_unique<char[]>(kLineBufferBytes)), pointQueue_(kPointsPerChunk),
      producerToken_(pointQueue_), consumerToken_(pointQueue_) {
    const std::uint64_t requested = static_cast<std::uint64_t>(maxFileSizeMB) * kBytesPerMiB;
    if (requested < kMinFileBytes || requested > kMaxFileBytes) {
        zxLog(ZxLevel::Warning, "Invalid file size ({}M), corrected", maxFileSizeMB);
        maxFileBytes_ = kDefaultFileBytes;
    } else {
        maxFileBytes_ = requested;
    }

    running_.store(true);
    try {
        writerThread_ = std::thread(&ZxChannelFileManager::writerThreadLoop, this);
    } catch (const std::exception& e) {
        running_.store(false);
        zxLog(ZxLevel::Error, "Failed to start writer thread for CH{}/{}: {}", channel_, name_, e.what());
        throw;
    }
}

ZxChannelFileManager::~ZxChannelFileManager() {
    bool wasRunning = false;
    {
        std::lock_guard<std::mutex> lock(writerMutex_);
        wasRunning = running_.exchange(false);
    }
    if (wasRunning) {
        writerWake_.notify_one();
        Common::joinThread(writerThread_, writerBodyDone_);
    }
}

void ZxChannelFileManager::pushPoints(const ZxChannelDataPoint* points, std::size_t count) {
    if (!running_.load() || count == 0) {
        return;
    }
    if (!pointQueue_.enqueue_bulk(producerToken_, points, count)) {
        zxLog(ZxLevel::Error, "Dropped {} points for CH{}/'{}': no memory for the queue", count, channel_,
              name_);
    }
}

void ZxChannelFileManager::writerThreadLoop() {
    const Common::ThreadBodyDone bodyDone(writerBodyDone_);
    zxLog(ZxLevel::Info, "Writer thread started for CH{}/'{}': {}", channel_, name_,
          Common::Utils::getThreadIdString());
    while (running_.load()) {
        {
            std::unique_lock<std::mutex> lock(writerMutex_);
            writerWake_.wait_until(lock, std::chrono::steady_clock::now() + kPassInterval,
                                   [this] { return !running_.load(); });
        }
        writePending();
    }
    // The router has been joined before any writer is destroyed, so nothing arrives
    // after this last pass: it leaves the queue empty.
    writePending();
    closeFile();
    zxLog(ZxLevel::Info, "Writer thread stopped for CH{}/'{}'", channel_, name_);
}

void ZxChannelFileManager::writePending() {
    for (;;) {
        if (chunkFill_ == 0) {
            chunkFill_ = pointQueue_.try_dequeue_bulk(consumerToken_, chunk_.begin(), kPointsPerChunk);
            if (chunkFill_ == 0) {
                return;
            }
        }
        if (!file_.isOpen() && !(openNewFile() && writeHeader())) {
            closeFile();
            if (!running_.load()) {
                discardQueued();
            }
            // While running, the chunk and everything behind it wait for the next pass,
            // which tries a fresh path.
            return;
        }

        char* out = lineBuffer_.get();
        for (std::size_t i = 0; i < chunkFill_; ++i) {
            const ZxChannelDataPoint& point = chunk_[i];
            if (point.value == ZX_NO_VALUE) {
                continue;
            }
            const std::size_t length = point.timestampLength < ZxChannelDataPoint::kTimestampCapacity
                                           ? point.timestampLength
                                           : ZxChannelDataPoint::kTimestampCapacity - 1;
            std::memcpy(out, point.timestamp, length);
            out += length;
            *out++ = ',';
            out = appendDecimal(out, point.value);
            *out++ = '\n';
        }
        const auto textBytes = static_cast<std::size_t>(out - lineBuffer_.get());
        if (textBytes != 0) {
            if (file_.write(lineBuffer_.get(), textBytes)) {
                bytesWritten_ += textBytes;
            } else {
                zxLog(ZxLevel::Error, "Failed to write to file: {}", currentPath_);
            }
        }
        chunkFill_ = 0;

        if (bytesWritten_ >= maxFileBytes_) {
            closeFile();
            ++fileIndex_;
            if (openNewFile()) {
                writeHeader();
            }
        }
    }
}

void ZxChannelFileManager::discardQueued() {
    std::size_t discarded = chunkFill_;
    chunkFill_ = 0;
    for (;;) {
        const std::size_t taken =
            pointQueue_.try_dequeue_bulk(consumerToken_, chunk_.begin(), kPointsPerChunk);
        if (taken == 0) {
            break;
        }
        discarded += taken;
    }
    zxLog(ZxLevel::Error, "Discarded {} points for CH{}/'{}': no file could be opened", discarded, channel_,
          name_);
}

bool ZxChannelFileManager::openNewFile() {
    closeFile();
    namespace fs = std::filesystem;
    const fs::path directory = fs::u8path(makeDirectory());
    char timeText[LocalTimeText::kCapacity];
    LocalTimeText::format(std::time(nullptr), timeText);

    for (int attempt = 0;; ++attempt) {
        const std::string fileName = name_ + "_" + timeText + "_" + std::to_string(fileIndex_) + ".csv";
        currentPath_ = (directory / NarrowPath::toFileSystemPath(fileName)).u8string();
        std::string errorText;
        const SharedOutputFile::CreateResult result = file_.createNew(currentPath_, errorText);
        if (result == SharedOutputFile::CreateResult::Created) {
            zxLog(ZxLevel::Info, "File opened: {}", currentPath_);
            bytesWritten_ = 0;
            return true;
        }
        // Another writer with the same name, or a restart within the same second, got
        // there first: its file is left alone and this one takes the next index.
        if (result == SharedOutputFile::CreateResult::AlreadyExists && attempt < kMaxNameAttempts) {
            ++fileIndex_;
            continue;
        }
        zxLog(ZxLevel::Error, "Failed to open file: {}", currentPath_);
        return false;
    }
}

void ZxChannelFileManager::closeFile() {
    if (!file_.isOpen()) {
        return;
    }
    if (!file_.close()) {
        zxLog(ZxLevel::Error, "Failed to close file: {}", currentPath_);
    }
    zxLog(ZxLevel::Info, "File closed: {}", currentPath_);
}

bool ZxChannelFileManager::writeHeader() {
    if (!file_.isOpen() || !file_.write(kHeader, kHeaderBytes)) {
        return false;
    }
    bytesWritten_ += kHeaderBytes;
    return true;
}

std::string ZxChannelFileManager::makeDirectory() {
    namespace fs = std::filesystem;
    const fs::path directory = NarrowPath::toFileSystemPath(rootDirectory_) / ("CH" + std::to_string(channel_));
    std::error_code error;
    fs::create_directories(directory, error);
    if (!error && !fs::is_directory(directory, error)) {
        error = std::make_error_code(std::errc::not_a_directory);
    }
    if (error) {
        zxLog(ZxLevel::Error, "Failed to create directory {}: {}", directory.u8string(), error.message());
        return NarrowPath::toFileSystemPath(rootDirectory_).u8string();
    }
    return directory.u8string();
}
