// Fixture: the process-wide device and collector managers talking to the in-process
// box simulator, with device 0 open and its CAN channel 0 initialised. Network
// cases: they skip outside a private namespace.
#pragma once

#include "collector/ZxCollectorManager.h"
#include "tests/support/InProcessSimulator.h"
#include "tests/support/PollUntil.h"

#include <chrono>
#include <cstdint>
#include <vector>

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

    // Reads until `expected` records arrived (never more) or the deadline passed.
    std::vector<ZxCollectData> readRecords(std::size_t expected, std::chrono::seconds timeout,
                                           std::uint32_t device = kDevice, std::uint32_t channel = kChannel);

    ZxCollectorManager& collector() { return ZxCollectorManager::instance(); }
};

// One temperature module streaming `frames` frames as fast as the rate allows, with
// unique values: value k (k = 0..5) of frame c is c * 8 + k, value 7 is c.
class CollectorOnStreamingBox : public CollectorOnBox {
protected:
    static constexpr std::uint64_t kFrames = 30000;
    static constexpr double kFramesPerSecond = 100000.0;

    vcisim::VciSimulatorOptions simulatorOptions() const override;
};
