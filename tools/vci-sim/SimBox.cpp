#include "tools/vci-sim/SimBox.h"

#include "tools/vci-sim/SimWire.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace vcisim {

namespace {

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSecond = 1000000000;
// The box thread looks at its socket at least this often even with nothing due.
constexpr int64_t kIdleWaitNs = 100 * kNsPerMs;
// Frames per channel and pass in rate mode, so requests are still answered promptly.
constexpr uint64_t kRateBatchFrames = 256;
constexpr size_t kWriterCapacity = 65536;
constexpr size_t kReceiveCapacity = 65536;
// Bits of a CAN FD frame besides its data bytes, for the bus-load estimate.
constexpr uint64_t kFrameOverheadBits = 67;
// Request datagrams kept per box; later ones are only counted.
constexpr size_t kMaxRecordedDatagrams = 100000;
static_assert(kStatusOk == 0, "an Answer starts out as accepted");

int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

uint16_t requestKey(uint8_t type, uint8_t command) {
    return static_cast<uint16_t>((type << 8) | command);
}

} // namespace

SimBox::SimBox(uint32_t deviceIndex, const VciSimulatorOptions& options)
    : deviceIndex_(deviceIndex), startNs_(steadyNs()), options_(options), channels_(options.canChannelCount),
      writer_(kWriterCapacity), replyWriter_(kWriterCapacity), receiveBuffer_(kReceiveCapacity) {
    for (auto& channel : channels_) {
        for (const auto& setup : options_.modules) {
            channel.modules.emplace_back(setup);
        }
    }
}

SimBox::~SimBox() {
    stop();
}

std::string SimBox::address() const {
    return "192.168.201." + std::to_string(130 + deviceIndex_);
}

std::string SimBox::start() {
    if (deviceIndex_ > 15) {
        return "device index " + std::to_string(deviceIndex_) + " is outside 0..15";
    }
    if (running_) {
        return {};
    }
    const std::string problem = socket_.bind(address(), options_.port);
    if (!problem.empty()) {
        return problem;
    }
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return {};
}

void SimBox::stop() {
    if (!running_.exchange(false)) {
        return;
    }
    socket_.wake();
    thread_.join();
    socket_.close();
}

int64_t SimBox::nowNs() const {
    return steadyNs() - startNs_;
}

uint64_t SimBox::clockTicks(int64_t ns) const {
    return options_.clockOffsetTicks + static_cast<uint64_t>(ns) / 100;
}

void SimBox::run() {
    while (running_) {
        int64_t waitNs = 0;
        {
            std::lock_guard lock(mutex_);
            const int64_t now = nowNs();
            receiveAll(now);
            sendInjected();
            if (!options_.misbehaviour.silent) {
                if (options_.rate.enabled) {
                    streamRate(now);
                } else {
                    streamModules(now);
                }
                sendBusLoad(now);
            }
            flush();
            waitNs = nextWakeNs(now) - nowNs();
        }
        if (waitNs > 0) {
            socket_.wait(waitNs);
        } else {
            // Streaming flat out: let control calls waiting for the lock in.
            std::this_thread::yield();
        }
    }
}

void SimBox::receiveAll(int64_t now) {
    SimPeer from;
    for (;;) {
        const long n = socket_.receive(receiveBuffer_.data(), receiveBuffer_.size(), from);
        if (n < 0) {
            return;
        }
        handleDatagram(receiveBuffer_.data(), static_cast<size_t>(n), from, now);
    }
}

void SimBox::handleDatagram(const uint8_t* data, size_t length, const SimPeer& from, int64_t now) {
    host_ = from;
    if (length == 1 && data[0] == kHeartbeatByte) {
        ++heartbeats_;
        return;
    }
    ++requestDatagrams_;
    if (received_.size() < kMaxRecordedDatagrams) {
        received_.push_back({std::vector<uint8_t>(data, data + length), from.addressText(), from.port});
    }
    // The host sends whole frames; anything that is not one is skipped byte by byte.
    size_t p = 0;
    while (length - p >= kFrameOverheadBytes) {
        if (data[p] != kHostSync1 || data[p + 1] != kHostSync2) {
            ++p;
            continue;
        }
        const size_t payloadLength = readU16(data + p + kLengthOffset);
        if (payloadLength > kMaxPayloadBytes) {
            p += 2;
            continue;
        }
        if (length - p < kFrameOverheadBytes + payloadLength) {
            return;
        }
        handleRequest(data + p, from, now);
        p += kFrameOverheadBytes + payloadLength;
    }
}

void SimBox::handleRequest(const uint8_t* frame, const SimPeer& from, int64_t now) {
    const auto type = frame[kTypeOffset];
    const auto command = frame[kCommandOffset];
    const auto channelIndex = frame[kChannelOffset];
    const size_t length = readU16(frame + kLengthOffset);
    const uint8_t* payload = frame + kFrameHeaderBytes;

    if (type == static_cast<uint8_t>(FrameType::Can) &&
        command == static_cast<uint8_t>(ChannelCommand::Transmit)) {
        handleTransmit(channelIndex, payload, length, now);
        return;
    }
    ++requestCounts_[requestKey(type, command)];
    SimChannel* channel = channelIndex < channels_.size() ? &channels_[channelIndex] : nullptr;
    Answer answer;
    if (type == static_cast<uint8_t>(FrameType::Device)) {
        answer = answerDeviceRequest(command, channel, payload, length, now);
    } else if (type == static_cast<uint8_t>(FrameType::Can) && channel != nullptr) {
        answer = answerChannelRequest(*channel, command, frame[kSubOffset], payload, length, now);
    } else if (type != static_cast<uint8_t>(FrameType::Lin) ||
               command != static_cast<uint8_t>(ChannelCommand::Close)) {
        // Anything else is refused; LIN channels are not simulated, but closing one succeeds.
        answer.bytes[0] = kStatusRefused;
    }
    reply(frame, answer, from);
}

SimBox::Answer SimBox::answerDeviceRequest(uint8_t command, SimChannel* channel, const uint8_t* payload,
                                           size_t length, int64_t now) {
    Answer answer;
    switch (static_cast<DeviceCommand>(command)) {
    case DeviceCommand::Version:
        std::copy(options_.firmware.begin(), options_.firmware.end(), answer.bytes);
        answer.length = options_.firmware.size();
        break;
    case DeviceCommand::BaseTime:
        writeU64(answer.bytes, clockTicks(now));
        answer.length = 8;
        break;
    case DeviceCommand::TerminalResistor:
        if (channel != nullptr && length >= 1) {
            channel->terminalResistor = payload[0] != 0;
        } else {
            answer.bytes[0] = kStatusRefused;
        }
        break;
    default:
        answer.bytes[0] = kStatusRefused;
    }
    return answer;
}

SimBox::Answer SimBox::answerChannelRequest(SimChannel& channel, uint8_t command, uint8_t sub,
                                            const uint8_t* payload, size_t length, int64_t now) {
    Answer answer;
    bool accepted = true;
    switch (static_cast<ChannelCommand>(command)) {
    case ChannelCommand::Open:
        accepted = length >= 4;
        if (accepted) {
            openChannel(channel, readU32(payload), now);
        }
        break;
    case ChannelCommand::Close:
        channel.open = false;
        break;
    case ChannelCommand::CanFdParameter:
        if (sub == static_cast<uint8_t>(CanFdSub::SetParameter) && length >= 5) {
            channel.canFdParameters[payload[0]] = readU32(payload + 1);
        } else if (sub == static_cast<uint8_t>(CanFdSub::Apply)) {
            ++channel.applyCount;
        } else {
            accepted = false;
        }
        break;
    default:
        accepted = false;
    }
    answer.bytes[0] = accepted ? kStatusOk : kStatusRefused;
    return answer;
}

void SimBox::openChannel(SimChannel& channel, uint32_t bitRate, int64_t now) {
    channel.bitRate = bitRate;
    if (channel.open) {
        return;
    }
    channel.open = true;
    for (auto& module : channel.modules) {
        module.restartSchedule(now);
    }
    channel.nextBusLoadNs = now + static_cast<int64_t>(options_.busLoadIntervalMs) * kNsPerMs;
    channel.framesInPeriod = 0;
    channel.rateStartNs = now;
    channel.rateSent = 0;
}

void SimBox::handleTransmit(uint8_t channelIndex, const uint8_t* record, size_t length, int64_t now) {
    if (length < kCanHeaderBytes || channelIndex >= channels_.size() || !channels_[channelIndex].open) {
        return;
    }
    ++channels_[channelIndex].transmitted;
    const uint32_t id = readU32(record + kCanIdOffset);
    const uint8_t dataLength = record[kCanDataLengthOffset];
    if (id != kModuleRequestId || dataLength < 6 || dataLength > kCanMaxDataBytes ||
        kCanHeaderBytes + dataLength > length || options_.misbehaviour.silent) {
        return;
    }
    const uint8_t* data = record + kCanHeaderBytes;
    const uint8_t command = data[0];
    const uint32_t moduleId = readU32(data + 1);
    const uint8_t sub = data[5];
    const uint16_t value = dataLength >= 8 ? readU16(data + 6) : 0;
    for (auto& module : channels_[channelIndex].modules) {
        uint8_t answer[8];
        if (module.setup().identifier == moduleId && module.handleCommand(command, sub, value, now, answer)) {
            std::memcpy(appendCanFrame(channelIndex, moduleId, clockTicks(now), sizeof answer), answer,
                        sizeof answer);
        }
    }
}

bool SimBox::replyDropped(uint8_t type, uint8_t command) {
    const uint32_t seen = requestCounts_[requestKey(type, command)];
    for (const auto& rule : options_.misbehaviour.dropReplies) {
        if (rule.type == type && rule.command == command && (rule.nth == 0 || rule.nth == seen)) {
            return true;
        }
    }
    return false;
}

void SimBox::reply(const uint8_t* request, const Answer& answer, const SimPeer& to) {
    const Misbehaviour& bad = options_.misbehaviour;
    if (bad.silent || replyDropped(request[kTypeOffset], request[kCommandOffset])) {
        return;
    }
    const uint8_t channel = static_cast<uint8_t>(request[kChannelOffset] + (bad.wrongChannelReplies ? 1 : 0));
    replyWriter_.clear();
    replyWriter_.appendFrame(request[kTypeOffset], request[kCommandOffset], channel, request[kSubOffset],
                             answer.bytes, answer.length);
    sendDatagram(to, replyWriter_.data(), replyWriter_.size());
}

void SimBox::sendInjected() {
    for (; !injected_.empty(); injected_.pop_front()) {
        if (host_.valid()) {
            sendDatagram(host_, injected_.front().data(), injected_.front().size());
        }
    }
}

void SimBox::makeRoom(size_t payloadLength) {
    if (!writer_.fits(payloadLength, options_.maxDatagramBytes)) {
        flush();
    }
}

uint8_t* SimBox::appendCanFrame(uint8_t channel, uint32_t id, uint64_t ticks, uint8_t dataLength) {
    const size_t payloadLength = kCanHeaderBytes + dataLength;
    makeRoom(payloadLength);
    uint8_t* record =
        writer_.appendFrame(static_cast<uint8_t>(FrameType::Can), static_cast<uint8_t>(ChannelCommand::Data),
                            channel, 0, payloadLength);
    std::memset(record, 0, kCanHeaderBytes);
    writeU32(record + kCanIdOffset, id);
    record[kCanDataLengthOffset] = dataLength;
    record[kCanKindOffset] = kFrameKindReceived;
    writeU64(record + kCanTimestampOffset, ticks);
    ++framesSent_;
    ++channels_[channel].framesSent;
    ++channels_[channel].framesInPeriod;
    return record + kCanHeaderBytes;
}

void SimBox::streamModules(int64_t now) {
    for (size_t c = 0; c < channels_.size(); ++c) {
        SimChannel& channel = channels_[c];
        if (!channel.open) {
            continue;
        }
        for (auto& module : channel.modules) {
            while (module.due(now)) {
                // Stamped with the time the sample was due, so timestamps are evenly spaced.
                uint8_t* data = appendCanFrame(static_cast<uint8_t>(c), module.setup().identifier,
                                               clockTicks(module.nextDueNs()), kSampleDataBytes);
                module.fillSample(data, options_.uniqueValues);
                module.advanceSchedule(now);
            }
        }
    }
}

void SimBox::streamRate(int64_t now) {
    const RateMode& rate = options_.rate;
    for (size_t c = 0; c < channels_.size(); ++c) {
        SimChannel& channel = channels_[c];
        if (!channel.open || channel.modules.empty()) {
            continue;
        }
        uint64_t target = channel.rateSent + kRateBatchFrames;
        if (rate.framesPerSecond > 0) {
            target = static_cast<uint64_t>(static_cast<double>(now - channel.rateStartNs) *
                                           rate.framesPerSecond / kNsPerSecond);
        }
        if (rate.frameCount != 0) {
            target = std::min(target, rate.frameCount);
        }
        target = std::min(target, channel.rateSent + kRateBatchFrames);
        const uint64_t ticks = clockTicks(now);
        for (; channel.rateSent < target; ++channel.rateSent) {
            SimModule& module = channel.modules[channel.rateNextModule];
            channel.rateNextModule = (channel.rateNextModule + 1) % channel.modules.size();
            uint8_t* data =
                appendCanFrame(static_cast<uint8_t>(c), module.setup().identifier, ticks, kSampleDataBytes);
            module.fillSample(data, options_.uniqueValues);
        }
    }
}

void SimBox::sendBusLoad(int64_t now) {
    if (options_.busLoadIntervalMs == 0) {
        return;
    }
    const int64_t periodNs = static_cast<int64_t>(options_.busLoadIntervalMs) * kNsPerMs;
    for (size_t c = 0; c < channels_.size(); ++c) {
        SimChannel& channel = channels_[c];
        if (!channel.open || channel.nextBusLoadNs > now) {
            continue;
        }
        const uint64_t bits = channel.framesInPeriod * (kFrameOverheadBits + 8 * kSampleDataBytes);
        const uint64_t capacity = static_cast<uint64_t>(channel.bitRate == 0 ? 1 : channel.bitRate) *
                                  options_.busLoadIntervalMs / 1000;
        uint8_t report[kBusLoadPayloadBytes] = {};
        writeU32(report, static_cast<uint32_t>(
                             std::min<uint64_t>(10000, bits * 10000 / std::max<uint64_t>(1, capacity))));
        writeU32(report + 4, static_cast<uint32_t>(channel.framesInPeriod));
        makeRoom(sizeof report);
        writer_.appendFrame(static_cast<uint8_t>(FrameType::Can),
                            static_cast<uint8_t>(ChannelCommand::BusLoad), static_cast<uint8_t>(c), 0, report,
                            sizeof report);
        channel.framesInPeriod = 0;
        channel.nextBusLoadNs = std::max(channel.nextBusLoadNs + periodNs, now);
    }
}

void SimBox::flush() {
    if (writer_.size() != 0 && host_.valid()) {
        sendDatagram(host_, writer_.data(), writer_.size());
    }
    writer_.clear();
}

void SimBox::sendDatagram(const SimPeer& to, const uint8_t* data, size_t length) {
    if (socket_.sendTo(to, data, length)) {
        ++datagramsSent_;
    }
}

int64_t SimBox::nextWakeNs(int64_t now) const {
    int64_t next = now + kIdleWaitNs;
    if (options_.misbehaviour.silent) {
        return next;
    }
    for (const auto& channel : channels_) {
        if (!channel.open) {
            continue;
        }
        if (options_.busLoadIntervalMs != 0) {
            next = std::min(next, channel.nextBusLoadNs);
        }
        if (!options_.rate.enabled) {
            for (const auto& module : channel.modules) {
                if (module.setup().frequencyHz != 0) {
                    next = std::min(next, module.nextDueNs());
                }
            }
        } else if (!channel.modules.empty() &&
                   (options_.rate.frameCount == 0 || channel.rateSent < options_.rate.frameCount)) {
            if (options_.rate.framesPerSecond <= 0) {
                return now;
            }
            next = std::min(next,
                            channel.rateStartNs + static_cast<int64_t>((channel.rateSent + 1) * kNsPerSecond /
                                                                       options_.rate.framesPerSecond));
        }
    }
    return next;
}

void SimBox::setMisbehaviour(const Misbehaviour& misbehaviour) {
    {
        std::lock_guard lock(mutex_);
        options_.misbehaviour = misbehaviour;
    }
    socket_.wake();
}

void SimBox::setSilent(bool silent) {
    {
        std::lock_guard lock(mutex_);
        options_.misbehaviour.silent = silent;
    }
    socket_.wake();
}

void SimBox::injectDatagram(std::vector<uint8_t> bytes) {
    {
        std::lock_guard lock(mutex_);
        injected_.push_back(std::move(bytes));
    }
    socket_.wake();
}

std::vector<ReceivedDatagram> SimBox::receivedDatagrams() const {
    std::lock_guard lock(mutex_);
    return received_;
}

void SimBox::clearReceivedDatagrams() {
    std::lock_guard lock(mutex_);
    received_.clear();
}

ChannelSnapshot SimBox::channel(uint8_t channelIndex) const {
    std::lock_guard lock(mutex_);
    ChannelSnapshot snapshot;
    if (channelIndex >= channels_.size()) {
        return snapshot;
    }
    const SimChannel& channel = channels_[channelIndex];
    snapshot.open = channel.open;
    snapshot.bitRate = channel.bitRate;
    snapshot.canFdParameters = channel.canFdParameters;
    snapshot.applyCount = channel.applyCount;
    snapshot.terminalResistor = channel.terminalResistor;
    snapshot.framesSent = channel.framesSent;
    snapshot.transmitted = channel.transmitted;
    for (const auto& module : channel.modules) {
        snapshot.modules.push_back(
            {module.setup(), module.configuring(), module.framesSent(), module.commandsAnswered()});
    }
    return snapshot;
}

bool SimBox::rateFinished() const {
    std::lock_guard lock(mutex_);
    if (!options_.rate.enabled || options_.rate.frameCount == 0) {
        return false;
    }
    for (const auto& channel : channels_) {
        if (channel.open && !channel.modules.empty() && channel.rateSent < options_.rate.frameCount) {
            return false;
        }
    }
    return true;
}

} // namespace vcisim
