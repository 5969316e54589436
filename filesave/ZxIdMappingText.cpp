#include "filesave/ZxIdMappingText.h"

#include "filesave/ZxSaveNameCheck.h"

namespace {

constexpr std::string_view kTrimSet = " \t\n\r";
constexpr std::string_view kEntryEnds = "\n;";
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

bool refuse(ZxIdMappingText::Refusal::Kind kind, std::uint32_t identifier, std::string_view field,
            const char* problem, ZxIdMappingTable& table, ZxIdMappingText::Refusal& refusal) {
    table.clear();
    refusal.kind = kind;
    refusal.identifier = identifier;
    refusal.field.assign(field);
    refusal.problem = problem;
    return false;
}

// Two names that a case-insensitive file system takes for one would share files.
bool findSharedName(const ZxIdMappingTable& table, ZxIdMappingText::Refusal& refusal) {
    std::map<std::string, std::uint32_t> owners; // file-system key -> first identifier
    for (const auto& [identifier, name] : table) {
        const auto [owner, added] = owners.emplace(ZxSaveNameCheck::fileSystemKey(name), identifier);
        if (!added) {
            refusal.kind = ZxIdMappingText::Refusal::Kind::SharedName;
            refusal.field = name;
            refusal.problem = "the name is given to two CAN IDs";
            refusal.firstIdentifier = owner->second;
            refusal.identifier = identifier;
            return true;
        }
    }
    return false;
}

} // namespace

bool ZxIdMappingText::read(std::string_view text, ZxIdMappingTable& table, Refusal& refusal) {
    table.clear();
    std::size_t entryStart = 0;
    while (entryStart < text.size()) {
        std::size_t entryEnd = text.find_first_of(kEntryEnds, entryStart);
        if (entryEnd == std::string_view::npos) {
            entryEnd = text.size();
        }
        const std::string_view entry = trim(text.substr(entryStart, entryEnd - entryStart));
        entryStart = entryEnd + 1;

        if (entry.empty() || entry.front() == '#') {
            continue;
        }
        const std::size_t comma = entry.find(',');
        if (comma == std::string_view::npos || comma + 1 == entry.size()) {
            continue;
        }
        const std::string_view idField = trim(entry.substr(0, comma));
        const std::string_view name = trim(entry.substr(comma + 1));
        if (name.empty()) {
            continue;
        }
        std::uint32_t identifier = 0;
        if (const char* failure = convertIdentifier(idField, identifier)) {
            return refuse(Refusal::Kind::Identifier, 0, idField, failure, table, refusal);
        }
        if (const char* problem = ZxSaveNameCheck::problemOf(name)) {
            return refuse(Refusal::Kind::Name, identifier, name, problem, table, refusal);
        }
        table[identifier].assign(name);
    }
    if (findSharedName(table, refusal)) {
        table.clear();
        return false;
    }
    return true;
}
