#include "common/Utils.h"

#include "common/CrashHandler.h"
#include "common/ThreadIdentity.h"

#include <utility>

namespace Common {

void Utils::registerCrashHandler(std::function<void()> handler) {
    CrashHandler::registerHandler(std::move(handler));
}

void Utils::setupCrashHandler() {
    CrashHandler::install();
}

void Utils::removeCrashHandler() {
    CrashHandler::remove();
}

std::string Utils::getThreadIdString() {
    return std::to_string(ThreadIdentity::current());
}

} // namespace Common
