// The ID mapping text ("identifier,name" entries) read by the library's own reading
// (ZxIdMappingText), so that the program knows which identifiers are saved and what
// they are called, and refuses what the library would refuse.
#pragma once

#include "filesave/ZxIdMappingText.h"

#include <cstdint>
#include <map>
#include <string>

class ZxIdMapping {
public:
    // The four module identifiers of a standard collector.
    static const char* defaultText();

    // Entries are ended by LF or ';' (so a mapping fits on one command line). Returns
    // false with a message in error for what the library refuses (an identifier that is
    // not a number, a name unfit for a file, a name given to two identifiers) and for a
    // text without any entry.
    bool parse(const std::string& text, std::string& error);

    // The text handed to the library, as given.
    const std::string& text() const { return text_; }
    bool isMapped(std::uint32_t canId) const { return names_.count(canId) != 0; }
    // Name of a mapped identifier, empty for others.
    std::string nameOf(std::uint32_t canId) const;
    const std::map<std::uint32_t, std::string>& names() const { return names_; }

private:
    std::string text_;
    std::map<std::uint32_t, std::string> names_;
};
