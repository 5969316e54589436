// Captures the library's log lines of one test case in a temporary file.
#pragma once

#include "common/Log.h"

#include <QTemporaryDir>

#include <fstream>
#include <sstream>
#include <string>

class CollectorLogCapture {
public:
    explicit CollectorLogCapture(int minLevel = 0) {
        path_ = dir_.filePath(QStringLiteral("collector.log")).toStdString();
        Common::logInit(path_, minLevel, 10, 1);
        Common::logStart(false);
    }
    ~CollectorLogCapture() { Common::logStop(); }

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

private:
    QTemporaryDir dir_;
    std::string path_;
};
