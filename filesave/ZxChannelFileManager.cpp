#include "filesave/ZxChannelFileManager.h"

#include "api/common/ZxLog.h"
#include "common/NarrowPath.h"
#include "filesave/LocalTimeText.h"
#include "zxcollector_api.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <system_error>

namespace {

constexpr std::uint64_t kBytesPerMiB = 1024ull * 1024;
constexpr std::uint64_t kMinFileBytes = 1024;
constexpr std::uint64_t kMaxFileBytes = 1024ull * kBytesPerMiB;
static_assert(ZxFileSaveScratch::kMaxLineBytes == ZxChannelDataPoint::kTimestampCapacity - 1 + 1 + 11 + 1);
// A busy folder could hold files of every index from a crashed earlier run; beyond
// this many taken names something else is wrong and the open is reported as failed.
constexpr int kMaxNameAttempts = 10000;
// A backlog that has held more than this keeps its memory only while it is in use.
constexpr std::size_t kKeptBacklogPoints = 1024;

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
    : rootDirectory_(rootDirectory), channel_(channel), name_(name),
      ownOpenFiles_(std::make_unique<ZxOpenFileCache>()),
      ownWaitingPoints_(std::make_unique<ZxPointBudget>()), openFiles_(*ownOpenFiles_),
      waitingPoints_(*ownWaitingPoints_) {
    setFileSize(maxFileSizeMB);
}

ZxChannelFileManager::ZxChannelFileManager(const std::string& rootDirectory, int channel,
                                           const std::string& name, std::uint16_t maxFileSizeMB,
                                           ZxOpenFileCache& openFiles, ZxPointBudget& waitingPoints)
    : rootDirectory_(rootDirectory), channel_(channel), name_(name), openFiles_(openFiles),
      waitingPoints_(waitingPoints) {
    setFileSize(maxFileSizeMB);
}

void ZxChannelFileManager::setFileSize(std::uint16_t maxFileSizeMB) {
    const std::uint64_t requested = static_cast<std::uint64_t>(maxFileSizeMB) * kBytesPerMiB;
    if (requested < kMinFileBytes || requested > kMaxFileBytes) {
        zxLog(ZxLevel::Warning, "Invalid file size ({}M), corrected", maxFileSizeMB);
        maxFileBytes_ = kDefaultFileBytes;
    } else {
        maxFileBytes_ = requested;
    }
}

ZxChannelFileManager::~ZxChannelFileManager() {
    closeFile();
    releaseWaiting(backlog_.size());
}

void ZxChannelFileManager::releaseWaiting(std::size_t count) {
    waitingPoints_.give(count);
}

void ZxChannelFileManager::pushPoints(const ZxChannelDataPoint* points, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        pushPoint(points[i]);
    }
}

void ZxChannelFileManager::writePending(ZxFileSaveScratch& scratch, WriteMode mode) {
    for (;;) {
        const std::size_t pending = pendingPoints();
        if (pending == 0 || (mode == WriteMode::FullChunks && pending < kPointsPerChunk)) {
            break;
        }
        if (!ensureOpen(mode)) {
            break;
        }
        if (!writeChunk(scratch, std::min(pending, kPointsPerChunk))) {
            // The next file takes over from the next pass on: a full disk may have room
            // again by then. At stop the rest is discarded.
            nextOpenAttempt_ = Clock::now() + kRetryInterval;
            break;
        }
        if (bytesWritten_ >= maxFileBytes_) {
            closeFile();
            ++fileIndex_;
            startNewFile();
        }
    }
    if (mode == WriteMode::Final) {
        discardPending();
        closeFile();
    }
    compactBacklog(mode);
}

bool ZxChannelFileManager::ensureOpen(WriteMode mode) {
    if (file_.isOpen()) {
        openFiles_.touch(*this);
        return true;
    }
    if (closedForNow_ && reopenFile()) {
        return true;
    }
    if (mode != WriteMode::Final && Clock::now() < nextOpenAttempt_) {
        return false;
    }
    if (startNewFile()) {
        return true;
    }
    nextOpenAttempt_ = Clock::now() + kRetryInterval;
    return false;
}

bool ZxChannelFileManager::reopenFile() {
    closedForNow_ = false;
    openFiles_.makeRoom();
    std::string reason;
    if (file_.reopenForAppend(currentPath_, reason)) {
        openFiles_.touch(*this);
        return true;
    }
    // Removed or moved away meanwhile (a user making room): it stays as it is.
    zxLog(ZxLevel::Error, "Failed to open file: {} ({})", currentPath_, reason);
    zxLog(ZxLevel::Info, "File closed: {}", currentPath_);
    ++fileIndex_;
    return false;
}

bool ZxChannelFileManager::startNewFile() {
    openFiles_.makeRoom();
    if (openNewFile() && writeHeader()) {
        openFiles_.touch(*this);
        return true;
    }
    closeFile();
    return false;
}

void ZxChannelFileManager::closeForNow() {
    // Only written whole chunks are in it and nothing is buffered: a close that fails
    // loses nothing, and the reopen says whether the file is still there.
    file_.close();
    closedForNow_ = true;
}

bool ZxChannelFileManager::writeChunk(ZxFileSaveScratch& scratch, std::size_t count) {
    char* const text = scratch.lineBuffer.get();
    char* out = text;
    const ZxChannelDataPoint* const first = backlog_.data() + backlogStart_;
    const ZxChannelDataPoint* point = first;
    for (std::size_t i = 0; i < count; ++i, ++point) {
        if (point->value == ZX_NO_VALUE) {
            continue;
        }
        const std::size_t length = point->timestampLength < ZxChannelDataPoint::kTimestampCapacity
                                       ? point->timestampLength
                                       : ZxChannelDataPoint::kTimestampCapacity - 1;
        std::memcpy(out, point->timestamp, length);
        out += length;
        *out++ = ',';
        out = appendDecimal(out, point->value);
        *out++ = '\n';
    }
    const auto textBytes = static_cast<std::size_t>(out - text);
    std::size_t written = 0;
    std::string reason;
    if (textBytes == 0 || file_.write(text, textBytes, written, reason)) {
        backlogStart_ += count;
        bytesWritten_ += textBytes;
        return true;
    }
    zxLog(ZxLevel::Error, "Failed to write to file: {}", currentPath_);
    // The points of the lines on disk are done; the first one after them (no-value
    // points make no line) waits for the next file with all that follow.
    std::size_t lines = keepWholeLines(text, written);
    std::size_t done = 0;
    for (; done < count && (lines != 0 || first[done].value == ZX_NO_VALUE); ++done) {
        lines -= first[done].value == ZX_NO_VALUE ? 0 : 1;
    }
    backlogStart_ += done;
    zxLog(ZxLevel::Error,
          "Wrote {} of {} points for CH{}/'{}' before the write failed ({}); the file is closed, the "
          "rest waits for the next one",
          done, count, channel_, name_, reason);
    closeFile();
    ++fileIndex_;
    return false;
}

std::size_t ZxChannelFileManager::keepWholeLines(const char* text, std::size_t written) {
    std::size_t kept = written;
    while (kept != 0 && text[kept - 1] != '\n') {
        --kept;
    }
    if (kept != written) {
        std::string reason;
        if (!file_.truncate(bytesWritten_ + kept, reason)) {
            zxLog(ZxLevel::Error, "Failed to cut file {} back to its last whole line: {}", currentPath_,
                  reason);
        }
    }
    bytesWritten_ += kept;
    return static_cast<std::size_t>(std::count(text, text + kept, '\n'));
}

void ZxChannelFileManager::compactBacklog(WriteMode mode) {
    if (backlogStart_ == backlog_.size()) {
        releaseWaiting(backlog_.size());
        backlog_.clear();
        backlogStart_ = 0;
        // A channel that went quiet gives its memory back; a busy one keeps it.
        if (mode != WriteMode::FullChunks &&
            (!pushedSincePass_ || backlog_.capacity() > kKeptBacklogPoints)) {
            std::vector<ZxChannelDataPoint>().swap(backlog_);
        }
    } else if (backlogStart_ != 0) {
        releaseWaiting(backlogStart_);
        backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(backlogStart_));
        backlogStart_ = 0;
    }
    if (mode != WriteMode::FullChunks) {
        pushedSincePass_ = false;
    }
}

void ZxChannelFileManager::dropBeyondBacklog(std::size_t count) {
    const std::uint64_t report = backlogDrops_.add(count);
    if (report != 0) {
        zxLog(ZxLevel::Error,
              "Dropped {} points for CH{}/'{}' ({} in this save): no file could be opened and {} points "
              "already wait",
              report, channel_, name_, backlogDrops_.total(), waitingPoints_.waiting());
    }
}

void ZxChannelFileManager::discardPending() {
    const std::size_t discarded = pendingPoints();
    releaseWaiting(backlog_.size());
    backlog_.clear();
    backlogStart_ = 0;
    if (discarded != 0) {
        zxLog(ZxLevel::Error, "Discarded {} points for CH{}/'{}': no file could be opened", discarded,
              channel_, name_);
    }
    const std::uint64_t unreported = backlogDrops_.takeUnreported();
    if (unreported != 0) {
        zxLog(ZxLevel::Error, "Dropped {} points for CH{}/'{}' ({} in this save): no file could be opened",
              unreported, channel_, name_, backlogDrops_.total());
    }
}

bool ZxChannelFileManager::openNewFile() {
    closeFile();
    try {
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
            zxLog(ZxLevel::Error, "Failed to open file: {} ({})", currentPath_, errorText);
            return false;
        }
    } catch (const std::exception& e) {
        // A name the platform cannot turn into a path: reported like any failed open.
        zxLog(ZxLevel::Error, "Failed to open file: {} ({})", currentPath_, e.what());
        return false;
    }
}

void ZxChannelFileManager::closeFile() {
    openFiles_.forget(*this);
    if (closedForNow_) {
        // Closed by the cache already: complete as it is.
        closedForNow_ = false;
        zxLog(ZxLevel::Info, "File closed: {}", currentPath_);
        return;
    }
    if (!file_.isOpen()) {
        return;
    }
    if (!file_.close()) {
        zxLog(ZxLevel::Error, "Failed to close file: {}", currentPath_);
    }
    zxLog(ZxLevel::Info, "File closed: {}", currentPath_);
}

bool ZxChannelFileManager::writeHeader() {
    std::string reason;
    std::size_t written = 0;
    if (!file_.isOpen() || !file_.write(kHeader, kHeaderBytes, written, reason)) {
        if (file_.isOpen()) {
            // Nothing of ours is in it: a full disk leaves no empty file per attempt.
            zxLog(ZxLevel::Error, "Failed to write to file: {}", currentPath_);
            file_.closeAndRemove();
            zxLog(ZxLevel::Info, "File closed: {}", currentPath_);
        }
        return false;
    }
    bytesWritten_ += kHeaderBytes;
    return true;
}

std::string ZxChannelFileManager::makeDirectory() {
    namespace fs = std::filesystem;
    const fs::path directory =
        NarrowPath::toFileSystemPath(rootDirectory_) / ("CH" + std::to_string(channel_));
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
