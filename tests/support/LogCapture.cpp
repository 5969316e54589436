#include "tests/support/LogCapture.h"

#include "common/Log.h"

LogCapture::LogCapture(int minLevel) {
    Common::setLogLineHook(
        [this](std::string_view line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.emplace_back(line);
        },
        minLevel);
}

LogCapture::~LogCapture() {
    Common::setLogLineHook(nullptr);
}

std::string LogCapture::text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string all;
    for (const std::string& line : lines_) {
        all += line;
    }
    return all;
}

bool LogCapture::contains(const std::string& part) const {
    return text().find(part) != std::string::npos;
}

bool LogCapture::hasLine(int level, const std::string& part) const {
    static constexpr char kLetters[] = {'D', 'I', 'W', 'E'};
    const std::string tag = std::string(" [") + kLetters[level] + "] ";
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& line : lines_) {
        if (line.find(tag) != std::string::npos && line.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::size_t LogCapture::count(const std::string& part) const {
    const std::string all = text();
    std::size_t n = 0;
    for (auto at = all.find(part); at != std::string::npos; at = all.find(part, at + 1)) {
        ++n;
    }
    return n;
}
