#include "tools/vci-sim/VciSimulator.h"

#include "tools/vci-sim/PrivateNamespaceCheck.h"
#include "tools/vci-sim/SimBox.h"

#include <thread>

namespace vcisim {

VciSimulator::VciSimulator(VciSimulatorOptions options) : options_(std::move(options)) {}

VciSimulator::~VciSimulator() {
    stop();
}

bool VciSimulator::start() {
    if (running()) {
        return true;
    }
    const std::string problem = privateNamespaceProblem();
    if (!problem.empty()) {
        lastError_ = "vci-sim refuses to start outside a private network namespace (" + problem +
                     "); run it through scripts/netns-run.sh";
        return false;
    }
    for (uint32_t index : options_.deviceIndices) {
        auto box = std::make_unique<SimBox>(index, options_);
        const std::string why = box->start();
        if (!why.empty()) {
            lastError_ = "device " + std::to_string(index) + ": " + why;
            stop();
            return false;
        }
        boxes_.push_back(std::move(box));
    }
    lastError_.clear();
    return true;
}

void VciSimulator::stop() {
    for (auto& box : boxes_) {
        box->stop();
    }
    boxes_.clear();
}

bool VciSimulator::restart(std::chrono::milliseconds pause) {
    for (auto& box : boxes_) {
        box->stop();
    }
    std::this_thread::sleep_for(pause);
    for (auto& box : boxes_) {
        const std::string why = box->start();
        if (!why.empty()) {
            lastError_ = "device " + std::to_string(box->deviceIndex()) + ": " + why;
            return false;
        }
    }
    return true;
}

SimBox* VciSimulator::box(uint32_t deviceIndex) const {
    for (const auto& box : boxes_) {
        if (box->deviceIndex() == deviceIndex) {
            return box.get();
        }
    }
    return nullptr;
}

template <typename Action> void VciSimulator::forEach(uint32_t deviceIndex, Action action) {
    for (auto& box : boxes_) {
        if (deviceIndex == kAllDevices || box->deviceIndex() == deviceIndex) {
            action(*box);
        }
    }
}

void VciSimulator::setMisbehaviour(const Misbehaviour& misbehaviour, uint32_t deviceIndex) {
    if (deviceIndex == kAllDevices) {
        options_.misbehaviour = misbehaviour;
    }
    forEach(deviceIndex, [&](SimBox& box) { box.setMisbehaviour(misbehaviour); });
}

void VciSimulator::setSilent(bool silent, uint32_t deviceIndex) {
    forEach(deviceIndex, [&](SimBox& box) { box.setSilent(silent); });
}

void VciSimulator::sendRawDatagram(uint32_t deviceIndex, std::vector<uint8_t> bytes) {
    if (SimBox* target = box(deviceIndex)) {
        target->injectDatagram(std::move(bytes));
    }
}

void VciSimulator::sendEmptyDatagram(uint32_t deviceIndex) {
    sendRawDatagram(deviceIndex, {});
}

template <typename Result, typename... Arguments>
Result VciSimulator::ask(uint32_t deviceIndex, Result (SimBox::*query)(Arguments...) const,
                         Arguments... arguments) const {
    const SimBox* target = box(deviceIndex);
    return target ? (target->*query)(arguments...) : Result{};
}

std::vector<ReceivedDatagram> VciSimulator::receivedDatagrams(uint32_t deviceIndex) const {
    return ask(deviceIndex, &SimBox::receivedDatagrams);
}

void VciSimulator::clearReceivedDatagrams(uint32_t deviceIndex) {
    forEach(deviceIndex, [](SimBox& box) { box.clearReceivedDatagrams(); });
}

uint64_t VciSimulator::heartbeatCount(uint32_t deviceIndex) const {
    return ask(deviceIndex, &SimBox::heartbeatCount);
}

uint64_t VciSimulator::requestDatagramCount(uint32_t deviceIndex) const {
    return ask(deviceIndex, &SimBox::requestDatagramCount);
}

uint64_t VciSimulator::framesSent(uint32_t deviceIndex) const {
    return ask(deviceIndex, &SimBox::framesSent);
}

uint64_t VciSimulator::datagramsSent(uint32_t deviceIndex) const {
    return ask(deviceIndex, &SimBox::datagramsSent);
}

ChannelSnapshot VciSimulator::channel(uint32_t deviceIndex, uint8_t channel) const {
    return ask(deviceIndex, &SimBox::channel, channel);
}

bool VciSimulator::rateFinished(uint32_t deviceIndex) const {
    return ask(deviceIndex, &SimBox::rateFinished);
}

} // namespace vcisim
