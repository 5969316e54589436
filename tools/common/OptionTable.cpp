#include "tools/common/OptionTable.h"

#include <algorithm>

namespace zxtools {

OptionTable::Outcome OptionTable::parse(int argc, const char* const* argv) const {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const auto option =
            std::find_if(options_.begin(), options_.end(), [&](const Option& o) { return name == o.name; });
        if (option == options_.end()) {
            return {name.rfind("--", 0) == 0 ? Problem::UnknownOption : Problem::NotAnOption, name, {}};
        }
        std::string value;
        if (option->argument == Argument::Value) {
            if (i + 1 >= argc) {
                return {Problem::MissingValue, name, {}};
            }
            value = argv[++i];
        }
        if (!option->take(value)) {
            return {Problem::BadValue, name, value};
        }
        if (option->last) {
            break;
        }
    }
    return {};
}

} // namespace zxtools
