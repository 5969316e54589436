// Captures the library's log lines of one test case in a temporary file, so that a
// test can assert the messages (and their levels) that the library writes.
#pragma once

#include "common/Log.h"

#include <QTemporaryDir>

#include <fstream>
#include <sstream>
#include <string>

class LogCapture {
public:
    explicit LogCapture(int minLevel = 0) {
        path_ = dir_.filePath(QStringLiteral("captured.log")).toStdString();
        Common::logInit(path_, minLevel, 10, 1);
        Common::logStart(false);
    }
    ~LogCapture() { Common::logStop(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything logged so far.
    std::string text() {
        Common::logStop();
        std::ifstream file(path_);
        std::stringstream content;
        content << file.rdbuf();
        Common::logStart(false);
        return content.str();
    }

    bool contains(const std::string& line) { return text().find(line) != std::string::npos; }

    // A line of this level (0 debug .. 3 error) holding the text.
    bool hasLine(int level, const std::string& textPart) {
        static constexpr char kLetters[] = {'D', 'I', 'W', 'E'};
        const std::string tag = std::string(" [") + kLetters[level] + "] ";
        std::istringstream lines(text());
        for (std::string line; std::getline(lines, line);) {
            if (line.find(tag) != std::string::npos && line.find(textPart) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    std::size_t count(const std::string& line) {
        const std::string all = text();
        std::size_t n = 0;
        for (auto at = all.find(line); at != std::string::npos; at = all.find(line, at + 1)) {
            ++n;
        }
        return n;
    }

private:
    QTemporaryDir dir_;
    std::string path_;
};
