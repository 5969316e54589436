#include "tests/support/LogCapture.h"

#include "common/Log.h"
#include "tests/support/FileText.h"

#include <sstream>

LogCapture::LogCapture(int minLevel) {
    Common::setLogLineHook(
        [this](std::string_view line) {
            std::lock_guard<std::mutex> lock(mutex_);
            text_.append(line);
        },
        minLevel);
}

LogCapture::~LogCapture() {
    Common::setLogLineHook(nullptr);
}

std::string LogCapture::text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

bool LogCapture::contains(const std::string& part) const {
    return count(part) > 0;
}

bool LogCapture::hasLine(int level, const std::string& part) const {
    const std::string tag = std::string(" [") + "DIWE"[level] + "] ";
    std::istringstream lines(text());
    for (std::string line; std::getline(lines, line);) {
        if (line.find(tag) != std::string::npos && line.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::size_t LogCapture::count(const std::string& part) const {
    return zxtest::occurrences(text(), part);
}
