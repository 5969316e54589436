// Fixtures of the file-saving tests: a temporary folder, polling with a deadline,
// reading CSV files back, and capturing the library's log lines.
#pragma once

#include "filesave/ZxChannelDataPoint.h"
#include "zxcollector_api.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace filesavetest {

// A fresh folder below the system's temporary folder, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// True as soon as condition holds; false when the deadline passed first.
bool pollUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::milliseconds(10000));

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& content);

// Regular files directly in folder, ordered by the running index at the end of their
// name ("<name>_<yymmdd>_<HHMMSS>_<index>.csv"), then by name.
std::vector<std::filesystem::path> csvFiles(const std::filesystem::path& folder);
int fileIndexOf(const std::filesystem::path& file);

// The value fields of every line after the header of each file, files in order.
std::vector<std::int64_t> csvValues(const std::vector<std::filesystem::path>& files);

ZxChannelDataPoint makePoint(const std::string& timestamp, std::int32_t value);
ZxCollectData makeRecord(std::uint32_t canId, const std::string& timestamp, const std::int32_t (&values)[6]);

// Sends the library's log to a file in its own folder from construction on; text()
// stops the log and returns everything written while it ran.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::string text();
    // What was written so far, while the log keeps running (it flushes every line).
    std::string peek() const;

private:
    ScratchDir dir_;
    bool stopped_ = false;
};

} // namespace filesavetest
