// The texts behind ZxGetResultText: every result code of the public header with the
// calls that return it, what it means and what to check, and the decoding of results
// that a call combined from several steps with bitwise OR.
#pragma once

#include <cstdint>
#include <string>

class ZxResultText {
public:
    // The English text for a result of any exported function.
    static std::string describe(std::int32_t result);

    // Copies text into buffer, cut to fit capacity bytes with its NUL. Returns 0, or
    // -1 for a null buffer or a capacity of 0.
    static std::int32_t copyOut(const std::string& text, char* buffer, std::uint32_t capacity);
};
