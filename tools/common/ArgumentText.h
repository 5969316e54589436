// The values of command-line options taken apart: fields at a separator, numbers
// that must be the whole text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zxtools {

class ArgumentText {
public:
    // "a,b," gives "a", "b" and "": an empty field is kept so that it can be refused.
    static std::vector<std::string> split(const std::string& text, char separator);
    // Decimal, or hexadecimal after 0x; no sign, no spaces, at most max.
    static bool toNumber(const std::string& text, std::uint64_t max, std::uint64_t& value);
    // A finite decimal number (a fraction allowed), the whole text.
    static bool toReal(const std::string& text, double& value);
};

} // namespace zxtools
