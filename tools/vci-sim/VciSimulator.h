// Simulated VCI boxes for tests and benchmarks: one box per device index, each on
// 192.168.201.(130 + index):8000, answering the library's requests and streaming
// module frames. Runs only inside a private network namespace (scripts/netns-run.sh).
#pragma once

#include "tools/vci-sim/VciSimulatorOptions.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace vcisim {

class SimBox;

class VciSimulator {
public:
    explicit VciSimulator(VciSimulatorOptions options = {});
    ~VciSimulator();
    VciSimulator(const VciSimulator&) = delete;
    VciSimulator& operator=(const VciSimulator&) = delete;

    // Binds every box and starts its thread. False (with lastError) outside a private
    // namespace or when an address cannot be bound; nothing is left running then.
    bool start();
    void stop();
    bool running() const { return !boxes_.empty(); }
    // Takes every box off its address for the pause (datagrams to it are refused, as
    // by a box that reboots), then binds again and goes on with the same state and the
    // same host. False (with lastError) when an address cannot be bound again.
    bool restart(std::chrono::milliseconds pause);
    const std::string& lastError() const { return lastError_; }
    const VciSimulatorOptions& options() const { return options_; }

    // Run-time control, thread-safe between start and stop. deviceIndex selects one
    // box; kAllDevices all. Data frames go to the host that sent the box's latest datagram.
    static constexpr uint32_t kAllDevices = 0xFFFFFFFFu;
    void setMisbehaviour(const Misbehaviour& misbehaviour, uint32_t deviceIndex = kAllDevices);
    void setSilent(bool silent, uint32_t deviceIndex = kAllDevices);

    // Datagrams for the host that talked to the box last, sent as given.
    void sendRawDatagram(uint32_t deviceIndex, std::vector<uint8_t> bytes);
    void sendEmptyDatagram(uint32_t deviceIndex);

    // Accessors, thread-safe; an unknown device index gives empty results.
    std::vector<ReceivedDatagram> receivedDatagrams(uint32_t deviceIndex) const;
    void clearReceivedDatagrams(uint32_t deviceIndex);
    uint64_t heartbeatCount(uint32_t deviceIndex) const;
    uint64_t requestDatagramCount(uint32_t deviceIndex) const;
    uint64_t framesSent(uint32_t deviceIndex) const;
    uint64_t datagramsSent(uint32_t deviceIndex) const;
    ChannelSnapshot channel(uint32_t deviceIndex, uint8_t channel) const;
    bool rateFinished(uint32_t deviceIndex) const;

private:
    SimBox* box(uint32_t deviceIndex) const;
    // What the box of this index answers, or an empty result for an unknown index.
    template <typename Result, typename... Arguments>
    Result ask(uint32_t deviceIndex, Result (SimBox::*query)(Arguments...) const,
               Arguments... arguments) const;
    template <typename Action> void forEach(uint32_t deviceIndex, Action action);

    VciSimulatorOptions options_;
    std::vector<std::unique_ptr<SimBox>> boxes_;
    std::string lastError_;
};

} // namespace vcisim
