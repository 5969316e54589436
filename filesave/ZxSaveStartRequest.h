// Checks and converts the narrow arguments of ZxStartSaveFile before anything is
// changed, so a refused start leaves a running save untouched.
#pragma once

#include "filesave/ZxIdMappingParser.h"

#include <cstdint>
#include <string>

class ZxSaveStartRequest {
public:
    // Returns:
    //  ZX_OK                      arguments taken; use the accessors below.
    //  ZX_ERR_SAVE_NOT_CONFIGURED rootDirectory is a null pointer; logs at level 3
    //                             "Cannot start file save for DEV{} CH{}: no root directory given."
    //  ZX_ERR_MAPPING_ID          the mapping text holds a bad identifier; the parser
    //                             has logged "Invalid CAN ID format in mapping string: ..."
    // A null idMapping is accepted and gives an empty table (the file manager's start
    // then refuses with ZX_ERR_SAVE_NOT_CONFIGURED, after the old save was stopped).
    // device and channel only appear in the message.
    std::int32_t prepare(std::uint32_t device, std::uint32_t channel, const char* rootDirectory,
                         const char* idMapping, std::int32_t maxFileSizeMB);

    const std::string& rootDirectory() const { return rootDirectory_; }
    const ZxIdMappingTable& idMapping() const { return idMapping_; }
    // Only the low 16 bits of the host's size are used: 65536 becomes 0 (then 10 MiB).
    std::uint16_t maxFileSizeMB() const { return maxFileSizeMB_; }

private:
    std::string rootDirectory_;
    ZxIdMappingTable idMapping_;
    std::uint16_t maxFileSizeMB_ = 0;
};
