// The periodic sender of one VCI device: it is given the device's send path, and the
// device clears it per channel before the channel closes and wholly at close. This
// library registers no periodic frames, so a clear finds nothing to stop.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace Common {

class PeriodSender {
public:
    using SendCallback = std::function<int(const std::vector<std::uint8_t>&)>;

    void setSendCallback(SendCallback callback);
    // Everything registered, or what is registered for one channel of one protocol (1 CAN,
    // 5 LIN).
    void clear();
    void clear(std::uint16_t protocolId, std::uint16_t channel);

private:
    std::mutex mutex_; // guards callback_
    SendCallback callback_;
};

} // namespace Common
