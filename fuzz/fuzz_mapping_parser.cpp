// Parses the input as the identifier-to-name mapping a host passes when saving starts
// and checks the result: a failure leaves an empty table, a success names every entry.
#include "api/common/ZxLog.h"
#include "common/Log.h"
#include "filesave/ZxIdMappingParser.h"
#include "zxcollector_api.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

// The log is started once and stopped, which turns it off: a failing input logs a line
// the library formats with fmt like any other, and keeping thousands of them in the
// log's memory backlog would only slow the search down.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Common::logInit("/dev/null", 3, 1, 1);
    Common::logStart(false);
    Common::logStop();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The host hands a NUL-terminated text; anything up to the first NUL is what it says.
    const std::string text(reinterpret_cast<const char*>(data), size);
    ZxIdMappingTable table;
    ZxIdMappingParser::Error error;
    const std::int32_t result = ZxIdMappingParser::parse(text.c_str(), table, error);
    if (result == ZX_OK) {
        for (const auto& [identifier, name] : table) {
            (void)identifier;
            if (name.empty()) {
                std::abort();
            }
        }
    } else if (!table.empty()) {
        std::abort();
    }
    return 0;
}
