#include "filesave/ZxIdMappingParser.h"

#include "api/common/ZxLog.h"
#include "filesave/ZxSaveNameCheck.h"
#include "zxcollector_api.h"

std::int32_t ZxIdMappingParser::parse(const char* text, ZxIdMappingTable& table, Error& error) {
    table.clear();
    if (text == nullptr) {
        return ZX_OK;
    }
    ZxIdMappingText::Refusal refusal;
    if (ZxIdMappingText::read(text, table, refusal)) {
        return ZX_OK;
    }
    error.field = refusal.field;
    error.message = refusal.problem;
    switch (refusal.kind) {
    case ZxIdMappingText::Refusal::Kind::Identifier:
        zxLog(ZxLevel::Error, "Invalid CAN ID format in mapping string: '{}'. Error: {}", error.field,
              error.message);
        break;
    case ZxIdMappingText::Refusal::Kind::Name:
        // Names become part of file paths inside the save folder; a name that would leave
        // it, never open, or share its files with another identifier's name refuses the
        // mapping.
        zxLog(ZxLevel::Error, "Invalid name in mapping string for CAN ID 0x{:X}: '{}'. Error: {}",
              refusal.identifier, ZxSaveNameCheck::printable(error.field), error.message);
        break;
    case ZxIdMappingText::Refusal::Kind::SharedName:
        zxLog(ZxLevel::Error, "Duplicate name in mapping string: '{}' for CAN IDs 0x{:X} and 0x{:X}",
              ZxSaveNameCheck::printable(error.field), refusal.firstIdentifier, refusal.identifier);
        break;
    }
    return ZX_ERR_MAPPING_ID;
}
