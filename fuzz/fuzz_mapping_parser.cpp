// Parses the input as the identifier-to-name mapping a host passes when saving starts
// and checks the result: a failure leaves an empty table, a success names every entry.
#include "filesave/ZxIdMappingParser.h"
#include "fuzz/FuzzStart.h"
#include "zxcollector_api.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The host hands a NUL-terminated text; anything up to the first NUL is what it says.
    const std::string text(reinterpret_cast<const char*>(data), size);
    ZxIdMappingTable table;
    ZxIdMappingParser::Error error;
    const bool parsed = ZxIdMappingParser::parse(text.c_str(), table, error) == ZX_OK;
    check(parsed || table.empty());
    for (const auto& entry : table) {
        check(!entry.second.empty());
    }
    return 0;
}
