// A program's command-line options as a table: each option's name, whether a value
// follows it, and what taking it does. parse walks the arguments once and says what,
// if anything, was wrong, so that each program words its own messages.
#pragma once

#include "tools/common/ArgumentText.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zxtools {

class OptionTable {
public:
    enum class Argument { None, Value };
    // Takes the option's value (empty for Argument::None); false refuses it.
    using Setter = std::function<bool(const std::string& value)>;
    struct Option {
        const char* name;
        Argument argument;
        Setter take;
        // Nothing after this option is read (as after --help).
        bool last = false;
    };
    enum class Problem { None, NotAnOption, UnknownOption, MissingValue, BadValue };
    struct Outcome {
        Problem problem = Problem::None;
        // The argument in question and, for BadValue, its value.
        std::string argument;
        std::string value;
    };

    explicit OptionTable(std::vector<Option> options) : options_(std::move(options)) {}

    Outcome parse(int argc, const char* const* argv) const;

    // Setters for the common cases: a number in min..max, a text that is not empty.
    template <typename Field> static Setter number(Field& field, std::uint64_t min, std::uint64_t max) {
        return [&field, min, max](const std::string& text) {
            std::uint64_t value = 0;
            if (!ArgumentText::toNumber(text, max, value) || value < min) {
                return false;
            }
            field = static_cast<Field>(value);
            return true;
        };
    }
    static Setter text(std::string& field) {
        return [&field](const std::string& value) {
            field = value;
            return !value.empty();
        };
    }

private:
    std::vector<Option> options_;
};

} // namespace zxtools
