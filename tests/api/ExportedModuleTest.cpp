// Module configuration through the exported function against the box simulator: the
// commands on the wire and the rate of the addressed module.
#include "tests/support/InProcessSimulator.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

class ExportedModuleTest : public zxtest::SimulatorTest {
protected:
    void TearDown() override {
        ZxCloseDev(0xFFFFFFFFu);
        zxtest::SimulatorTest::TearDown();
    }
    // The data of the module commands (transmit frames AA 55 01 30 of a CAN record with
    // identifier 1 and flags 1) the box received, in order.
    std::vector<Bytes> moduleCommands() {
        std::vector<Bytes> commands;
        for (const auto& datagram : simulator().receivedDatagrams(0)) {
            const Bytes& b = datagram.bytes;
            if (b.size() > 24 && b[0] == 0xAA && b[1] == 0x55 && b[2] == 0x01 && b[3] == 0x30 &&
                b[8] == 0x01 && b[13] == 0x01) {
                commands.emplace_back(b.begin() + 24, b.begin() + 24 + b[12]);
            }
        }
        return commands;
    }
};

TEST_F(ExportedModuleTest, SamplingFrequencySequenceSendsFourFramesAndChangesOnlyTheAddressedModule) {
    ASSERT_EQ(ZxOpenDev(0, 0, 1), ZX_OK);
    ASSERT_EQ(ZxInitCAN(0, 0, 500000), ZX_OK);
    EXPECT_EQ(ZxSetModuleSamplingFrequency(0, 0, 0x101, 200), ZX_OK);
    EXPECT_EQ(moduleCommands(), (std::vector<Bytes>{{0x10, 0x01, 0x01, 0x00, 0x00, 0x03},
                                                    {0x2E, 0x01, 0x01, 0x00, 0x00, 0x02, 0xC8, 0x00},
                                                    {0x2E, 0x01, 0x01, 0x00, 0x00, 0xFF, 0x00, 0x00},
                                                    {0x10, 0x01, 0x01, 0x00, 0x00, 0x01}}));
    const vcisim::ChannelSnapshot channel = simulator().channel(0, 0);
    ASSERT_GE(channel.modules.size(), 2u);
    EXPECT_EQ(channel.modules[0].setup.identifier, 0x101u);
    EXPECT_EQ(channel.modules[0].setup.frequencyHz, 200);
    EXPECT_FALSE(channel.modules[0].configuring);
    EXPECT_EQ(channel.modules[1].setup.frequencyHz, 100);
}

} // namespace
