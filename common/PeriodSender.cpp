#include "common/PeriodSender.h"

#include <utility>

namespace Common {

void PeriodSender::setSendCallback(SendCallback callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    callback_ = std::move(callback);
}

void PeriodSender::clear() {}

void PeriodSender::clear(std::uint16_t, std::uint16_t) {}

} // namespace Common
