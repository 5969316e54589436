// Fixture: the process-wide device and collector managers talking to the in-process
// box simulator, with device 0 open and its CAN channel 0 initialised. Network
// cases: they skip outside a private namespace.
#pragma once

#include "collector/ZxCollectorManager.h"
#include "tests/support/InProcessSimulator.h"

#include <cstdint>

class CollectorOnBox : public zxtest::SimulatorTest {
protected:
    static constexpr std::uint32_t kDevice = 0;
    static constexpr std::uint32_t kChannel = 0;
    static constexpr std::uint32_t kModuleId = 0x101;

    void SetUp() override;
    void TearDown() override;

    // Opens the device as ZxOpenDev does, with the host on 192.168.201.1.
    void openDevice(std::uint32_t device);
    // Opens the channel as ZxInitCAN does (500 kbit/s) and creates its reader.
    void openChannel(std::uint32_t device, std::uint32_t channel);

    ZxCollectorManager& collector() { return ZxCollectorManager::instance(); }
};
