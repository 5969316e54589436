// The ID mapping text ("identifier,name" lines) read the way the library reads it,
// so that the program knows which identifiers are saved and what they are called.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class ZxIdMapping {
public:
    // The four module identifiers of a standard collector.
    static const char* defaultText();

    // Lines are separated by LF; with semicolonEndsLine a ';' also ends a line so that
    // a mapping fits on one command line. Returns false with a message in error for an
    // identifier that is not a number (the library would refuse the text too), for a
    // name given to two identifiers (their files would get the same path and one would
    // truncate the other) and for a name holding a path separator.
    bool parse(const std::string& text, bool semicolonEndsLine, std::string& error);

    // The text handed to the library (LF-separated lines).
    const std::string& text() const { return text_; }
    bool isMapped(std::uint32_t canId) const { return names_.count(canId) != 0; }
    // Name of a mapped identifier, empty for others.
    std::string nameOf(std::uint32_t canId) const;
    const std::map<std::uint32_t, std::string>& names() const { return names_; }

private:
    std::string text_;
    std::map<std::uint32_t, std::string> names_;
};
