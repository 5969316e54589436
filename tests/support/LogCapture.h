// Captures the log lines of one test case in memory through the log's line hook, so a
// test can assert the messages (and their levels) the library logs, whether or not a
// log file is open. One capture at a time.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

class LogCapture {
public:
    // Lines of minLevel (0 debug .. 3 error) and up, from now on.
    explicit LogCapture(int minLevel = 0);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything captured so far, as written to a log file.
    std::string text() const;
    bool contains(const std::string& part) const;
    // A line of this level holding the text.
    bool hasLine(int level, const std::string& part) const;
    // How often the text occurs in text().
    std::size_t count(const std::string& part) const;

private:
    mutable std::mutex mutex_; // guards text_
    std::string text_;
};
