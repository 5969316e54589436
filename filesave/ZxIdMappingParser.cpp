#include "filesave/ZxIdMappingParser.h"

#include "api/common/ZxLog.h"
#include "filesave/ZxSaveNameCheck.h"
#include "zxcollector_api.h"

#include <string_view>

namespace {

constexpr std::string_view kTrimSet = " \t\n\r";
constexpr const char* kInvalidArgument = "invalid stoul argument";
constexpr const char* kOutOfRange = "stoul argument out of range";

std::string_view trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kTrimSet);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kTrimSet);
    return text.substr(first, last - first + 1);
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 99;
}

// Reads an identifier the way strtoul with base 0 does (sign, 0x / 0 prefixes, stop at
// the first foreign character), but always in 32 bits, so hosts get the same table on
// every platform whatever the width of unsigned long. Returns null on success or the
// error text.
const char* convertIdentifier(std::string_view field, std::uint32_t& value) {
    std::size_t pos = 0;
    while (pos < field.size() && (field[pos] == ' ' || (field[pos] >= '\t' && field[pos] <= '\r'))) {
        ++pos;
    }
    bool negative = false;
    if (pos < field.size() && (field[pos] == '+' || field[pos] == '-')) {
        negative = field[pos] == '-';
        ++pos;
    }
    unsigned base = 10;
    if (pos < field.size() && field[pos] == '0') {
        if (pos + 2 < field.size() && (field[pos + 1] == 'x' || field[pos + 1] == 'X') &&
            digitValue(field[pos + 2]) < 16) {
            base = 16;
            pos += 2;
        } else {
            base = 8;
        }
    }
    std::uint64_t magnitude = 0;
    bool anyDigit = false;
    bool overflow = false;
    for (; pos < field.size(); ++pos) {
        const int digit = digitValue(field[pos]);
        if (digit >= static_cast<int>(base)) {
            break;
        }
        anyDigit = true;
        magnitude = magnitude * base + static_cast<unsigned>(digit);
        if (magnitude > 0xFFFFFFFFull) {
            overflow = true;
            magnitude = 0xFFFFFFFFull + 1; // keeps the product from wrapping
        }
    }
    if (!anyDigit) {
        return kInvalidArgument;
    }
    if (overflow) {
        return kOutOfRange;
    }
    const auto magnitude32 = static_cast<std::uint32_t>(magnitude);
    value = negative ? 0u - magnitude32 : magnitude32;
    return nullptr;
}

// Names become part of file paths inside the save folder; a name that would leave it,
// never open, or share its files with another identifier's name refuses the mapping.
std::int32_t refuseName(std::uint32_t identifier, std::string_view name, const char* problem,
                        ZxIdMappingParser::Error& error) {
    error.field.assign(name);
    error.message = problem;
    zxLog(ZxLevel::Error, "Invalid name in mapping string for CAN ID 0x{:X}: '{}'. Error: {}", identifier,
          ZxSaveNameCheck::printable(name), error.message);
    return ZX_ERR_MAPPING_ID;
}

std::int32_t refuseSharedNames(const ZxIdMappingTable& table, ZxIdMappingParser::Error& error) {
    std::map<std::string, std::uint32_t> owners; // file-system key -> first identifier
    for (const auto& [identifier, name] : table) {
        const auto [owner, added] = owners.emplace(ZxSaveNameCheck::fileSystemKey(name), identifier);
        if (!added) {
            error.field = name;
            error.message = "the name is given to two CAN IDs";
            zxLog(ZxLevel::Error, "Duplicate name in mapping string: '{}' for CAN IDs 0x{:X} and 0x{:X}",
                  ZxSaveNameCheck::printable(name), owner->second, identifier);
            return ZX_ERR_MAPPING_ID;
        }
    }
    return ZX_OK;
}

} // namespace

std::int32_t ZxIdMappingParser::parse(const char* text, ZxIdMappingTable& table, Error& error) {
    table.clear();
    if (text == nullptr) {
        return ZX_OK;
    }
    const std::string_view all(text);
    std::size_t lineStart = 0;
    while (lineStart < all.size()) {
        std::size_t lineEnd = all.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = all.size();
        }
        const std::string_view line = trim(all.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;

        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t comma = line.find(',');
        if (comma == std::string_view::npos || comma + 1 == line.size()) {
            continue;
        }
        const std::string_view idField = trim(line.substr(0, comma));
        const std::string_view name = trim(line.substr(comma + 1));
        if (name.empty()) {
            continue;
        }
        std::uint32_t identifier = 0;
        if (const char* failure = convertIdentifier(idField, identifier)) {
            table.clear();
            error.field.assign(idField);
            error.message = failure;
            zxLog(ZxLevel::Error, "Invalid CAN ID format in mapping string: '{}'. Error: {}", error.field,
                  error.message);
            return ZX_ERR_MAPPING_ID;
        }
        if (const char* problem = ZxSaveNameCheck::problemOf(name)) {
            table.clear();
            return refuseName(identifier, name, problem, error);
        }
        table[identifier].assign(name);
    }
    if (refuseSharedNames(table, error) != ZX_OK) {
        table.clear();
        return ZX_ERR_MAPPING_ID;
    }
    return ZX_OK;
}
