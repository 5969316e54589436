#include "filesave/ZxSaveStartRequest.h"

#include "api/common/ZxLog.h"
#include "zxcollector_api.h"

#include <utility>

std::int32_t ZxSaveStartRequest::prepare(std::uint32_t device, std::uint32_t channel,
                                         const char* rootDirectory, const char* idMapping,
                                         std::int32_t maxFileSizeMB) {
    if (rootDirectory == nullptr) {
        zxLog(ZxLevel::Error, "Cannot start file save for DEV{} CH{}: no root directory given.", device,
              channel);
        return ZX_ERR_SAVE_NOT_CONFIGURED;
    }
    ZxIdMappingTable table;
    ZxIdMappingParser::Error error;
    const std::int32_t parsed = ZxIdMappingParser::parse(idMapping, table, error);
    if (parsed != ZX_OK) {
        return parsed;
    }
    rootDirectory_ = rootDirectory;
    idMapping_ = std::move(table);
    maxFileSizeMB_ = static_cast<std::uint16_t>(static_cast<std::uint32_t>(maxFileSizeMB) & 0xFFFFu);
    return ZX_OK;
}
