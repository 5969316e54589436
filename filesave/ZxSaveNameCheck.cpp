#include "filesave/ZxSaveNameCheck.h"

#include <cstdio>

namespace {

bool isControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A file name is name + "_" + time + "_" + index + ".csv" (up to 30 more bytes); file
// systems allow 255, so this leaves room with bytes of multi-byte encodings to spare.
constexpr std::size_t kMaxNameBytes = 200;

// Windows opens the device instead of a file when the part before the first dot is one
// of these ("nul.x_250314_093005_1.csv"); without a dot the time follows the name.
bool startsWithWindowsDevice(std::string_view name) {
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos) {
        return false;
    }
    const std::string stem = ZxSaveNameCheck::fileSystemKey(name.substr(0, dot));
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") {
        return true;
    }
    return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

} // namespace

const char* ZxSaveNameCheck::problemOf(std::string_view name) {
    if (name.empty()) {
        return "the name is empty";
    }
    for (char c : name) {
        if (isControl(c)) {
            return "the name holds a control character";
        }
    }
    if (isSeparator(name.front())) {
        return "the name starts at the root of a drive";
    }
    if (name.size() >= 2 && isLetter(name[0]) && name[1] == ':') {
        return "the name starts with a drive";
    }
    if (name.find_first_of("/\\") != std::string_view::npos) {
        return "the name holds a path separator";
    }
    if (name == "..") {
        return "the name is the parent folder";
    }
    if (name.find_first_of("<>:\"|?*") != std::string_view::npos) {
        return "the name holds one of <>:\"|?*";
    }
    // A mapping entry is "identifier,name": a second comma means a mistyped entry.
    if (name.find_first_of(",;") != std::string_view::npos) {
        return "the name holds a ',' or ';'";
    }
    if (name.size() > kMaxNameBytes) {
        return "the name is longer than 200 bytes";
    }
    if (startsWithWindowsDevice(name)) {
        return "the name starts with a Windows device name";
    }
    return nullptr;
}

std::string ZxSaveNameCheck::fileSystemKey(std::string_view name) {
    std::string key(name);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return key;
}

std::string ZxSaveNameCheck::printable(std::string_view name) {
    std::string text;
    text.reserve(name.size());
    for (char c : name) {
        if (isControl(c)) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
            text += escaped;
        } else {
            text += c;
        }
    }
    return text;
}
