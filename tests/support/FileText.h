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
// How often part occurs in text (overlapping occurrences too).
std::size_t occurrences(const std::string& text, const std::string& part);

} // namespace zxtest
