#include "tools/vci-sim/SimModule.h"

#include "tools/vci-sim/SimWire.h"

#include <cmath>
#include <cstring>

namespace vcisim {

namespace {
constexpr int64_t kNsPerSecond = 1000000000;
constexpr double kTwoPi = 6.283185307179586;
} // namespace

std::vector<ModuleSpec> defaultModules() {
    return {
        {ModuleKind::Temperature, 0x101, 100, 0x3F, false},
        {ModuleKind::Voltage, 0x301, 100, 0x0F, false},
        {ModuleKind::Current, 0x501, 100, 0x3F, false},
        {ModuleKind::Frequency, 0x701, 100, 0x03, false},
    };
}

SimModule::SimModule(const ModuleSpec& setup) : setup_(setup) {}

void SimModule::restartSchedule(int64_t nowNs) {
    nextDueNs_ = setup_.frequencyHz == 0 ? nowNs : nowNs + kNsPerSecond / setup_.frequencyHz;
}

void SimModule::advanceSchedule(int64_t nowNs) {
    nextDueNs_ += kNsPerSecond / setup_.frequencyHz;
    if (nowNs - nextDueNs_ > kNsPerSecond) {
        nextDueNs_ = nowNs;
    }
}

int32_t SimModule::signal(unsigned channel) const {
    // A slow sine per channel around a value typical of the kind.
    const double seconds = static_cast<double>(counter_) / (setup_.frequencyHz == 0 ? 1 : setup_.frequencyHz);
    const double wave = std::sin(kTwoPi * 0.2 * seconds + channel);
    switch (setup_.kind) {
    case ModuleKind::Temperature: // 0.01 degC, about 25 degC
        return static_cast<int32_t>(2500 + 150 * channel + std::lround(200 * wave));
    case ModuleKind::Voltage: // mV, about 5 V and up
        return static_cast<int32_t>(5000 + 1000 * channel + std::lround(50 * wave));
    case ModuleKind::Current: // mA
        return static_cast<int32_t>(1000 + 250 * channel + std::lround(100 * wave));
    case ModuleKind::Frequency: // Hz
        return static_cast<int32_t>(50 * (channel + 1) + std::lround(wave));
    }
    return 0;
}

void SimModule::fillSample(uint8_t* data, bool uniqueValues) {
    std::memset(data, 0, kSampleDataBytes);
    for (unsigned k = 0; k < kSampleCounterIndex; ++k) {
        int32_t value = kNoValue;
        if (uniqueValues && k < 6) {
            value = static_cast<int32_t>(static_cast<uint32_t>(counter_ * 8 + k));
        } else if ((setup_.channelMask >> k) & 1u) {
            value = signal(k);
        }
        writeU32(data + 4 * k, static_cast<uint32_t>(value));
    }
    writeU32(data + 4 * kSampleCounterIndex, static_cast<uint32_t>(counter_));
    ++counter_;
}

bool SimModule::handleCommand(uint8_t command, uint8_t sub, uint16_t value, int64_t nowNs, uint8_t* answer) {
    if (setup_.silent) {
        return false;
    }
    std::memset(answer, 0, 8);
    answer[0] = static_cast<uint8_t>(command + kModuleAnswerOffset);
    writeU32(answer + 1, setup_.identifier);
    answer[5] = sub;
    writeU16(answer + 6, value);
    auto refuse = [&](uint8_t reason) {
        std::memset(answer, 0, 8);
        answer[0] = kModuleNegativeAnswer;
        answer[1] = command;
        answer[2] = reason;
    };
    if (command == kModuleCommandSession && sub == kModuleSubEnterConfig) {
        configuring_ = true;
    } else if (command == kModuleCommandSession && sub == kModuleSubCompleteConfig) {
        configuring_ = false;
    } else if (command == kModuleCommandWrite && !configuring_) {
        refuse(kModuleReasonWrongMode);
    } else if (command == kModuleCommandWrite && sub == kModuleSubSamplingFrequency) {
        if (value == 0) {
            refuse(kModuleReasonOutOfRange);
        } else {
            setup_.frequencyHz = value;
            restartSchedule(nowNs);
        }
    } else if (command == kModuleCommandWrite && sub == kModuleSubClosingWrite) {
        // Closes the write sequence; nothing to store.
    } else {
        refuse(kModuleReasonNotSupported);
    }
    ++commandsAnswered_;
    return true;
}

} // namespace vcisim
