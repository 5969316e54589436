// Reading back the CSV files of file saving: the files of one CH folder in the order
// of their running index, and the values of their lines.
#pragma once

#include "tests/support/FileText.h"
#include "zxcollector_api.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace zxtest {

// The running index at the end of "<name>_<yymmdd>_<HHMMSS>_<index>.csv".
inline int csvFileIndex(const std::filesystem::path& file) {
    const std::string stem = file.stem().string();
    const std::size_t underscore = stem.rfind('_');
    return underscore == std::string::npos ? -1 : std::atoi(stem.c_str() + underscore + 1);
}

// The .csv files directly in folder whose name starts with prefix, by index, then name.
inline std::vector<std::filesystem::path> csvFiles(const std::filesystem::path& folder,
                                                   const std::string& prefix = "") {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() == ".csv" && name.rfind(prefix, 0) == 0) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return csvFileIndex(a) != csvFileIndex(b) ? csvFileIndex(a) < csvFileIndex(b) : a < b;
    });
    return files;
}

// The value field of every line after the header, files in order.
inline std::vector<std::int64_t> csvValues(const std::vector<std::filesystem::path>& files) {
    std::vector<std::int64_t> values;
    for (const auto& file : files) {
        const std::vector<std::string> lines = readLines(file);
        for (std::size_t i = 1; i < lines.size(); ++i) {
            values.push_back(std::stoll(lines[i].substr(lines[i].rfind(',') + 1)));
        }
    }
    return values;
}

// The CSV text a save writes for identifier id and channel (1..6) from the records read.
inline std::string expectedCsv(const std::vector<ZxCollectData>& read, std::uint32_t id, int channel) {
    std::string csv = "Timestamp,Current_mA\n";
    for (const ZxCollectData& record : read) {
        if (record.canId == id && record.values[channel - 1] != ZX_NO_VALUE) {
            csv += record.timestamp + ("," + std::to_string(record.values[channel - 1])) + "\n";
        }
    }
    return csv;
}

// Records of one identifier whose values name them: record first + i holds
// (first + i) * 6 + k - 1 in channel k.
inline std::vector<ZxCollectData> numberedRecords(std::uint32_t canId, std::int32_t first,
                                                  std::size_t count) {
    std::vector<ZxCollectData> records(count);
    for (std::size_t i = 0; i < count; ++i) {
        records[i].canId = canId;
        std::strcpy(records[i].timestamp, "2026-12-06 07:50:00.000000");
        for (int k = 0; k < 6; ++k) {
            records[i].values[k] = (first + static_cast<std::int32_t>(i)) * 6 + k;
        }
    }
    return records;
}

} // namespace zxtest
