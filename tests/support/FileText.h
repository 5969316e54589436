// Reading and writing whole files in tests: log files, CSV files, prepared inputs.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zxtest {

// Everything in the file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& file);
// The file's lines without their line ends.
std::vector<std::string> readLines(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& content);

} // namespace zxtest
