#include "api/ZxLibrary.h"

#include "api/common/ZxLog.h"
#include "collector/ZxCollectorManager.h"
#include "common/Log.h"
#include "common/Utils.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/manager/KvVciDeviceManager.h"
#include "zxcollector_api.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

#define ZX_STRINGIFY(x) #x
#define ZX_VERSION_TEXT(major, minor, patch)                                                                 \
    ZX_STRINGIFY(major) "." ZX_STRINGIFY(minor) "." ZX_STRINGIFY(patch)

namespace {
const char* const kSoftwareName = "ReZuzodadidUda";
const char* const kSoftwareAuthor = "ZORVEX";
const char* const kSoftwarePlatform = "windows";
// The log stays open a moment after the devices closed so their last lines land.
constexpr std::chrono::milliseconds kLogGraceAfterClose{200};
} // namespace

void ZxLibrary::onLoad() {
    // The order in which the process-wide objects come to life; they are destroyed
    // in the reverse order after the unload notification.
    KvVciConfigStore::instance();
    KvVciDeviceManager::instance();
    ZxCollectorManager::instance();

    Common::Utils::registerCrashHandler(&ZxLibrary::onCrash);
    Common::Utils::setupCrashHandler();
    KvVciConfigStore::instance().loadDefaults();
}

void ZxLibrary::onUnload() {
    shutdown();
    Common::Utils::removeCrashHandler();
}

void ZxLibrary::onCrash() {
    zxLog(ZxLevel::Info, "System abnormality, exiting...");
    shutdown();
}

void ZxLibrary::shutdown() {
    try {
        ZxCollectorManager::instance().closeAllReaders();
        // Under the platform's loader lock no thread may be started and joined, so the
        // devices close one after the other on this thread.
        KvVciDeviceManager::instance().closeAllDevices(KvVciCloseMode::OnCallingThread);
        std::this_thread::sleep_for(kLogGraceAfterClose);
        Common::logStop();
    } catch (...) {
        // Nothing may escape into the host's unload or crash path.
    }
}

std::int32_t ZxLibrary::openLog(const char* logPath, std::int32_t minLevel, std::int32_t fileSizeMB,
                                std::int32_t fileCount) {
    if (logPath == nullptr) {
        return ZX_ERR_LOG_START;
    }
    try {
        Common::logInit(std::string(logPath), minLevel, fileSizeMB, fileCount);
        Common::logStart(false);
        Common::logSoftwareInfo(kSoftwareName, std::string("v") + version(), kSoftwareAuthor,
                                kSoftwarePlatform);
    } catch (const std::exception& error) {
        std::perror(error.what());
        return ZX_ERR_LOG_START;
    }
    return ZX_OK;
}

std::int32_t ZxLibrary::closeLog() {
    Common::logStop();
    return ZX_OK;
}

const char* ZxLibrary::version() {
    return ZX_VERSION_TEXT(ZXCOLLECTOR_VERSION_MAJOR, ZXCOLLECTOR_VERSION_MINOR, ZXCOLLECTOR_VERSION_PATCH);
}
