// The box simulator inside the test process: VciSimulator with its options, started
// by the test and always stopped at the end. SimulatorTest is a ready fixture that
// skips outside the private namespace and starts the simulator in SetUp.
#pragma once

#include "tests/support/PrivateNetwork.h"
#include "tools/vci-sim/VciSimulator.h"

#include <gtest/gtest.h>

namespace zxtest {

class InProcessSimulator {
public:
    explicit InProcessSimulator(vcisim::VciSimulatorOptions options = {}) : simulator_(std::move(options)) {}
    ~InProcessSimulator() { simulator_.stop(); }

    ::testing::AssertionResult start() {
        if (simulator_.start()) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << simulator_.lastError();
    }
    vcisim::VciSimulator& operator*() { return simulator_; }
    vcisim::VciSimulator* operator->() { return &simulator_; }

private:
    vcisim::VciSimulator simulator_;
};

class SimulatorTest : public ::testing::Test {
protected:
    // Override to start the simulator with other options.
    virtual vcisim::VciSimulatorOptions simulatorOptions() const { return {}; }

    void SetUp() override {
        ZX_REQUIRE_PRIVATE_NETWORK();
        simulator_ = std::make_unique<InProcessSimulator>(simulatorOptions());
        ASSERT_TRUE(simulator_->start());
    }
    void TearDown() override { simulator_.reset(); }

    vcisim::VciSimulator& simulator() { return **simulator_; }

private:
    std::unique_ptr<InProcessSimulator> simulator_;
};

} // namespace zxtest
