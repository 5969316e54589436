// Turns the identifier-to-name mapping text given to ZxStartSaveFile into the table
// from CAN identifier to name that file saving works with.
#pragma once

#include "filesave/ZxIdMappingText.h"

#include <cstdint>
#include <string>

class ZxIdMappingParser {
public:
    // What made a parse fail: the trimmed identifier field and the conversion error,
    // "invalid stoul argument" (nothing convertible) or "stoul argument out of range"
    // (the value does not fit in 32 bits); or a refused name and why it was refused.
    struct Error {
        std::string field;
        std::string message;
    };

    // Parses text as ZxIdMappingText reads it (one "identifier,name" per entry, entries
    // ended by LF or ';'; blank entries and those starting with '#' are skipped, so are
    // entries without a name; identifiers are read as strtoul with base 0; a later entry
    // with the same identifier wins). Every name must be fit for a file name inside the save folder
    // (ZxSaveNameCheck) and no two identifiers may end with the same name (compared without ASCII case).
    // Returns ZX_OK (0) with table filled, or ZX_ERR_MAPPING_ID (-1) with error filled
    // and table left empty. A null text gives ZX_OK and an empty table.
    // Logging: on failure this function itself logs, at level 3, one of
    //   "Invalid CAN ID format in mapping string: '<field>'. Error: <message>"
    //   "Invalid name in mapping string for CAN ID 0x<id>: '<name>'. Error: <message>"
    //   "Duplicate name in mapping string: '<name>' for CAN IDs 0x<id> and 0x<id>"
    // so the caller must NOT log it again.
    static std::int32_t parse(const char* text, ZxIdMappingTable& table, Error& error);
};
