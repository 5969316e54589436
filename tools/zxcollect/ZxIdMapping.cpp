#include "ZxIdMapping.h"

#include <cerrno>
#include <cstdlib>

namespace {

const char* const kTrimmed = " \t\n\r";

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(kTrimmed);
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kTrimmed);
    return text.substr(first, last - first + 1);
}

// As strtoul with base 0 on a 32-bit value: 0x hexadecimal, leading 0 octal, a sign
// accepted ("-" negates modulo 2^32), trailing text ignored.
bool parseIdentifier(const std::string& field, std::uint32_t& id) {
    std::size_t pos = 0;
    bool negative = false;
    if (pos < field.size() && (field[pos] == '+' || field[pos] == '-')) {
        negative = field[pos] == '-';
        ++pos;
    }
    if (pos >= field.size() || field[pos] < '0' || field[pos] > '9') {
        return false;
    }
    const char* begin = field.c_str() + pos;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(begin, &end, 0);
    if (end == begin || errno == ERANGE || value > 0xFFFFFFFFull) {
        return false;
    }
    id = negative ? static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(value))
                  : static_cast<std::uint32_t>(value);
    return true;
}

} // namespace

const char* ZxIdMapping::defaultText() {
    return "0x101,Temperature\n0x301,Voltage\n0x501,Current\n0x701,Frequency\n";
}

bool ZxIdMapping::parse(const std::string& text, bool semicolonEndsLine, std::string& error) {
    text_.clear();
    names_.clear();
    std::string line;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const bool endOfLine = i == text.size() || text[i] == '\n' || (semicolonEndsLine && text[i] == ';');
        if (!endOfLine) {
            line += text[i];
            continue;
        }
        const std::string trimmed = trim(line);
        line.clear();
        text_ += trimmed + '\n';
        if (trimmed.empty() || trimmed[0] == '#') {
            continue;
        }
        const std::size_t comma = trimmed.find(',');
        if (comma == std::string::npos) {
            continue;
        }
        const std::string idField = trim(trimmed.substr(0, comma));
        const std::string name = trim(trimmed.substr(comma + 1));
        if (name.empty()) {
            continue;
        }
        std::uint32_t id = 0;
        if (!parseIdentifier(idField, id)) {
            error = "identifier '" + idField + "' is not a number that fits in 32 bits";
            return false;
        }
        if (name.find_first_of("/\\") != std::string::npos) {
            error = "name '" + name + "' holds a path separator";
            return false;
        }
        names_[id] = name;
    }
    std::map<std::string, std::uint32_t> owners;
    for (const auto& [id, name] : names_) {
        if (!owners.emplace(name, id).second) {
            error = "name '" + name + "' is given to two identifiers";
            return false;
        }
    }
    if (names_.empty()) {
        error = "no line of the form identifier,name";
        return false;
    }
    return true;
}

std::string ZxIdMapping::nameOf(std::uint32_t canId) const {
    const auto found = names_.find(canId);
    return found == names_.end() ? std::string() : found->second;
}
