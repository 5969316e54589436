#include "common/Log.h"

#include "common/DateTimeText.h"
#include "common/LogFile.h"
#include "common/Utils.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace Common {

namespace {

constexpr int kLowestLevel = 0;
constexpr int kHighestLevel = 3;
// Before the first start the library's load lines (level 1 and up) are kept.
constexpr int kLevelBeforeStart = 1;
constexpr int kLevelOff = std::numeric_limits<int>::max();
constexpr int kDefaultFileSizeMB = 10;
constexpr int kDefaultFileCount = 5;
constexpr std::uint64_t kBytesPerMB = 1024 * 1024;
constexpr std::size_t kBacklogMaxLines = 1000;
constexpr std::size_t kBacklogMaxBytes = 256 * 1024;
// Datagrams are at most a few hundred bytes; a larger dump is cut so one call cannot
// write megabytes.
constexpr std::uint64_t kHexDumpMaxBytes = 4096;

// The lowest level kept right now; the only thing shouldLogLevel reads.
std::atomic<int> lowestKeptLevel{kLevelBeforeStart};

enum class Phase { BeforeFirstStart, Running, Stopped };

struct BacklogLine {
    int level;
    std::string text;
};

struct LogState {
    std::mutex mutex; // guards every field below: the file, its configuration, the phase and the backlog
    LogFile file;
    std::string path;
    int minLevel = kLevelBeforeStart;
    std::uint64_t maxBytes = kDefaultFileSizeMB * kBytesPerMB;
    int keptFiles = kDefaultFileCount;
    bool echoToStderr = false;
    Phase phase = Phase::BeforeFirstStart;
    std::deque<BacklogLine> backlog;
    std::size_t backlogBytes = 0;
    std::uint64_t backlogDropped = 0;
    LogLineHook hook;
    int hookMinLevel = kLevelOff;

    ~LogState();
};

// Set when the state below is destroyed (process exit or library unload); trivially
// destructible, so it stays readable for objects that log from their own destructors.
std::atomic<bool> logStateGone{false};

LogState::~LogState() {
    lowestKeptLevel.store(kLevelOff, std::memory_order_relaxed);
    logStateGone.store(true, std::memory_order_release);
}

// Null once destroyed: a line logged after that is dropped.
LogState* logState() {
    if (logStateGone.load(std::memory_order_acquire)) {
        return nullptr;
    }
    static LogState state;
    return &state;
}

int clampLevel(int level) {
    return level < kLowestLevel ? kLowestLevel : (level > kHighestLevel ? kHighestLevel : level);
}

// The lowest level the file (by its phase) or the hook keeps; called under the mutex
// after every change of either.
void updateLowestKeptLevel(const LogState& state) {
    int file = kLevelOff;
    if (state.phase == Phase::BeforeFirstStart) {
        file = kLevelBeforeStart;
    } else if (state.phase == Phase::Running) {
        file = state.minLevel;
    }
    lowestKeptLevel.store(state.hook ? std::min(file, state.hookMinLevel) : file, std::memory_order_relaxed);
}

char levelLetter(int level) {
    static constexpr char kLetters[] = {'D', 'I', 'W', 'E'};
    return kLetters[clampLevel(level)];
}

std::string formatLine(int level, const std::string& text) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    char stamp[DateTimeText::kMaxLength + 1];
    const std::size_t stampLength =
        DateTimeText::format(std::chrono::duration_cast<std::chrono::microseconds>(now).count(), false,
                             DateTimeText::kMaxFractionDigits, stamp);
    const std::string threadId = Utils::getThreadIdString();
    std::string line;
    line.reserve(stampLength + threadId.size() + text.size() + 12);
    line.append(stamp, stampLength);
    line += " [";
    line += levelLetter(level);
    line += "] [";
    line += threadId;
    line += "] ";
    line += text;
    line += '\n';
    return line;
}

void writeToFile(LogState& state, const std::string& line) {
    state.file.write(line.data(), line.size());
    if (state.echoToStderr) {
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
}

// force: written whatever the minimum level (the software record).
void keepLine(int level, const std::string& text, bool force) {
    const std::string line = formatLine(level, text);
    LogState* const found = logState();
    if (found == nullptr) {
        return;
    }
    LogState& state = *found;
    std::lock_guard<std::mutex> lock(state.mutex);
    switch (state.phase) {
    case Phase::Running:
        if (force || level >= state.minLevel) {
            writeToFile(state, line);
        }
        break;
    case Phase::BeforeFirstStart:
        if (level < kLevelBeforeStart && !force) {
            break; // below what the backlog keeps (the hook asked for it)
        }
        if (state.backlog.size() < kBacklogMaxLines && state.backlogBytes + line.size() <= kBacklogMaxBytes) {
            state.backlogBytes += line.size();
            state.backlog.push_back({force ? kHighestLevel : level, line});
        } else {
            // The first lines tell how the library loaded; keep those, count the rest.
            ++state.backlogDropped;
        }
        break;
    case Phase::Stopped:
        break;
    }
    if (state.hook && (force || level >= state.hookMinLevel)) {
        state.hook(line);
    }
}

void writeBacklog(LogState& state) {
    for (const BacklogLine& entry : state.backlog) {
        if (entry.level >= state.minLevel) {
            writeToFile(state, entry.text);
        }
    }
    if (state.backlogDropped > 0) {
        writeToFile(state, formatLine(2, std::to_string(state.backlogDropped) +
                                             " log lines from before the log started were dropped"));
    }
    state.backlog.clear();
    state.backlogBytes = 0;
    state.backlogDropped = 0;
}

} // namespace

void logInit(const std::string& path, int minLevel, int fileSizeMB, int fileCount) {
    if (path.empty()) {
        throw std::invalid_argument("The log file path is empty");
    }
    LogState* const found = logState();
    if (found == nullptr) {
        return;
    }
    LogState& state = *found;
    std::lock_guard<std::mutex> lock(state.mutex);
    state.path = path;
    state.minLevel = clampLevel(minLevel);
    state.maxBytes =
        static_cast<std::uint64_t>(fileSizeMB > 0 ? fileSizeMB : kDefaultFileSizeMB) * kBytesPerMB;
    state.keptFiles = fileCount > 0 ? fileCount : kDefaultFileCount;
}

void logStart(bool echoToStderr) {
    LogState* const found = logState();
    if (found == nullptr) {
        throw std::runtime_error("The log cannot start while the process ends");
    }
    LogState& state = *found;
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.path.empty()) {
        throw std::runtime_error("The log file path is not set; call logInit first");
    }
    try {
        state.file.open(state.path, state.maxBytes, state.keptFiles);
    } catch (...) {
        // A log that was running is off now; before the first start the backlog goes on
        // collecting for a later, successful start.
        if (state.phase == Phase::Running) {
            state.phase = Phase::Stopped;
            updateLowestKeptLevel(state);
        }
        throw;
    }
    state.echoToStderr = echoToStderr;
    writeBacklog(state);
    state.phase = Phase::Running;
    updateLowestKeptLevel(state);
}

void logStop() {
    LogState* const found = logState();
    if (found == nullptr) {
        return;
    }
    LogState& state = *found;
    std::lock_guard<std::mutex> lock(state.mutex);
    state.file.close();
    state.phase = Phase::Stopped;
    updateLowestKeptLevel(state);
}

void setLogLineHook(LogLineHook hook, int minLevel) {
    LogState* const found = logState();
    if (found == nullptr) {
        return;
    }
    LogState& state = *found;
    std::lock_guard<std::mutex> lock(state.mutex);
    state.hook = std::move(hook);
    state.hookMinLevel = clampLevel(minLevel);
    updateLowestKeptLevel(state);
}

void logSoftwareInfo(const std::string& name, const std::string& version, const std::string& author,
                     const std::string& platform) {
    if (!shouldLogLevel(kHighestLevel)) {
        return; // the log is off
    }
    try {
        keepLine(1, "Software: " + name + " " + version + ", author: " + author + ", platform: " + platform,
                 true);
    } catch (...) {
        // a line that cannot be written is dropped, never thrown at the caller
    }
}

bool shouldLogLevel(int level) {
    return level >= lowestKeptLevel.load(std::memory_order_relaxed);
}

void logRawString(int level, std::string&& text) {
    if (!shouldLogLevel(level)) {
        return;
    }
    try {
        keepLine(level, text, false);
    } catch (...) {
        // a line that cannot be written is dropped, never thrown at the caller
    }
}

void logDebugHex(std::string&& label, const void* data, std::uint64_t length) {
    if (!shouldLogLevel(0)) {
        return;
    }
    try {
        static constexpr char kHexDigits[] = "0123456789ABCDEF";
        const std::uint64_t shown =
            data == nullptr ? 0 : (length < kHexDumpMaxBytes ? length : kHexDumpMaxBytes);
        std::string text = std::move(label);
        text.reserve(text.size() + shown * 3 + 32);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        for (std::uint64_t i = 0; i < shown; ++i) {
            text += ' ';
            text += kHexDigits[bytes[i] >> 4];
            text += kHexDigits[bytes[i] & 0x0F];
        }
        if (shown < length) {
            text += " ... (" + std::to_string(length) + " bytes)";
        }
        keepLine(0, text, false);
    } catch (...) {
        // a line that cannot be written is dropped, never thrown at the caller
    }
}

} // namespace Common
