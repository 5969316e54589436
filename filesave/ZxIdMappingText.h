// The one reading of an identifier-to-name mapping text, shared by the library (which
// logs what it refuses) and the zxcollect program (which tells its user), so both
// save the same identifiers under the same names. It logs nothing itself.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// CAN identifier -> name, in ascending identifier order, one entry per identifier.
using ZxIdMappingTable = std::map<std::uint32_t, std::string>;

class ZxIdMappingText {
public:
    // Why a text was refused.
    struct Refusal {
        enum class Kind {
            Identifier, // field: the trimmed identifier; problem: the conversion error
            Name,       // identifier and field (the name); problem: why it is unfit
            SharedName, // field: the name; identifier and firstIdentifier both have it
        };
        Kind kind = Kind::Identifier;
        std::string field;
        std::string problem;
        std::uint32_t identifier = 0;
        std::uint32_t firstIdentifier = 0;
    };

    // "identifier,name" entries, each ended by a line feed or a ';' (so a mapping fits
    // on one command line); blank entries and those starting with '#' are skipped, so
    // are entries without a name; identifiers are read as strtoul with base 0, in 32
    // bits; a later entry for the same identifier wins. Every name must be fit for a
    // file name inside the save folder (ZxSaveNameCheck) and no two identifiers may end
    // with the same name (compared without ASCII case). Returns true with table filled,
    // or false with refusal filled and table empty.
    static bool read(std::string_view text, ZxIdMappingTable& table, Refusal& refusal);
};
