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
    writer_.setGarbageBytes(options_.misbehaviour.garbageBytesBetweenFrames);
    replyWriter_.setGarbageBytes(options_.misbehaviour.garbageBytesBetweenFrames);
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
            sendDuePending(now);
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
    if (received_.size() < options_.maxRecordedDatagrams) {
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
    const auto sub = frame[kSubOffset];
    const size_t length = readU16(frame + kLengthOffset);
    const uint8_t* payload = frame + kFrameHeaderBytes;

    if (type == static_cast<uint8_t>(FrameType::Can) &&
        command == static_cast<uint8_t>(ChannelCommand::Transmit)) {
        handleTransmit(channelIndex, payload, length, now);
        return;
    }
    ++requestCounts_[requestKey(type, command)];

    uint8_t answer[8] = {kStatusOk};
    size_t answerLength = 1;
    SimChannel* channel = channelIndex < channels_.size() ? &channels_[channelIndex] : nullptr;
    auto refuse = [&] { answer[0] = kStatusRefused; };

    if (type == static_cast<uint8_t>(FrameType::Device)) {
        switch (static_cast<DeviceCommand>(command)) {
        case DeviceCommand::Version:
            std::copy(options_.firmware.begin(), options_.firmware.end(), answer);
            answerLength = 4;
            break;
        case DeviceCommand::BaseTime:
            writeU64(answer, clockTicks(now));
            answerLength = 8;
            break;
        case DeviceCommand::TerminalResistor:
            if (channel != nullptr && length >= 1) {
                channel->terminalResistor = payload[0] != 0;
            } else {
                refuse();
            }
            break;
        default:
            refuse();
        }
    } else if (type == static_cast<uint8_t>(FrameType::Can) && channel != nullptr) {
        switch (static_cast<ChannelCommand>(command)) {
        case ChannelCommand::Open:
            if (length >= 4) {
                openChannel(*channel, readU32(payload), now);
            } else {
                refuse();
            }
            break;
        case ChannelCommand::Close:
            channel->open = false;
            break;
        case ChannelCommand::CanFdParameter:
            if (sub == static_cast<uint8_t>(CanFdSub::SetParameter) && length >= 5) {
                channel->canFdParameters[payload[0]] = readU32(payload + 1);
            } else if (sub == static_cast<uint8_t>(CanFdSub::Apply)) {
                ++channel->applyCount;
            } else {
                refuse();
            }
            break;
        default:
            refuse();
        }
    } else if (type == static_cast<uint8_t>(FrameType::Lin) &&
               command == static_cast<uint8_t>(ChannelCommand::Close)) {
        // LIN channels are not simulated; closing one always succeeds.
    } else {
        refuse();
    }
    reply(frame, answer, answerLength, from, now);
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

void SimBox::reply(const uint8_t* request, const uint8_t* payload, size_t length, const SimPeer& to,
                   int64_t now) {
    const Misbehaviour& bad = options_.misbehaviour;
    if (bad.silent || replyDropped(request[kTypeOffset], request[kCommandOffset])) {
        return;
    }
    const uint8_t channel = static_cast<uint8_t>(request[kChannelOffset] + (bad.wrongChannelReplies ? 1 : 0));
    replyWriter_.clear();
    replyWriter_.appendFrame(request[kTypeOffset], request[kCommandOffset], channel, request[kSubOffset],
                             payload, length);
    const size_t splitAt = replyWriter_.lastFrameOffset() + replyWriter_.lastFrameLength() / 2;
    if (bad.replyDelayMs == 0) {
        sendDatagram(to, replyWriter_.data(), replyWriter_.size(), splitAt);
        return;
    }
    pending_.push_back({now + static_cast<int64_t>(bad.replyDelayMs) * kNsPerMs, to,
                        std::vector<uint8_t>(replyWriter_.data(), replyWriter_.data() + replyWriter_.size()),
                        splitAt});
}

void SimBox::sendDuePending(int64_t now) {
    // Replies are queued in request order with one delay, so the front is due first.
    while (!pending_.empty() && pending_.front().dueNs <= now) {
        const PendingDatagram& next = pending_.front();
        const SimPeer to = next.to.valid() ? next.to : host_;
        if (to.valid()) {
            sendDatagram(to, next.bytes.data(), next.bytes.size(), next.splitAt);
        }
        pending_.pop_front();
    }
}

void SimBox::makeRoom(size_t payloadLength) {
    if (!writer_.fits(payloadLength, options_.maxDatagramBytes) ||
        (options_.framesPerDatagram != 0 && writer_.frameCount() >= options_.framesPerDatagram)) {
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
        sendDatagram(host_, writer_.data(), writer_.size(),
                     writer_.lastFrameOffset() + writer_.lastFrameLength() / 2);
    }
    writer_.clear();
}

void SimBox::sendDatagram(const SimPeer& to, const uint8_t* data, size_t length, size_t splitAt) {
    auto sendOne = [&](const uint8_t* bytes, size_t count) {
        if (socket_.sendTo(to, bytes, count)) {
            ++datagramsSent_;
        } else {
            ++sendFailures_;
        }
    };
    if (options_.misbehaviour.splitFrames && splitAt > 0 && splitAt < length) {
        sendOne(data, splitAt);
        sendOne(data + splitAt, length - splitAt);
    } else {
        sendOne(data, length);
    }
}

int64_t SimBox::nextWakeNs(int64_t now) const {
    int64_t next = now + kIdleWaitNs;
    if (!pending_.empty()) {
        next = std::min(next, pending_.front().dueNs);
    }
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
        writer_.setGarbageBytes(misbehaviour.garbageBytesBetweenFrames);
        replyWriter_.setGarbageBytes(misbehaviour.garbageBytesBetweenFrames);
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

void SimBox::setRateMode(const RateMode& rate) {
    {
        std::lock_guard lock(mutex_);
        options_.rate = rate;
        const int64_t now = nowNs();
        for (auto& channel : channels_) {
            channel.rateStartNs = now;
            channel.rateSent = 0;
            for (auto& module : channel.modules) {
                module.restartSchedule(now);
            }
        }
    }
    socket_.wake();
}

void SimBox::setModules(uint8_t channelIndex, const std::vector<ModuleSpec>& modules) {
    {
        std::lock_guard lock(mutex_);
        if (channelIndex >= channels_.size()) {
            return;
        }
        SimChannel& channel = channels_[channelIndex];
        channel.modules.clear();
        channel.rateNextModule = 0;
        const int64_t now = nowNs();
        for (const auto& setup : modules) {
            channel.modules.emplace_back(setup);
            channel.modules.back().restartSchedule(now);
        }
    }
    socket_.wake();
}

void SimBox::setUniqueValues(bool unique) {
    std::lock_guard lock(mutex_);
    options_.uniqueValues = unique;
}

void SimBox::setFirmware(const std::array<uint8_t, 4>& firmware) {
    std::lock_guard lock(mutex_);
    options_.firmware = firmware;
}

void SimBox::setBusLoadInterval(uint32_t intervalMs) {
    {
        std::lock_guard lock(mutex_);
        options_.busLoadIntervalMs = intervalMs;
        const int64_t now = nowNs();
        for (auto& channel : channels_) {
            channel.nextBusLoadNs = now + static_cast<int64_t>(intervalMs) * kNsPerMs;
        }
    }
    socket_.wake();
}

void SimBox::setFramesPerDatagram(uint32_t frames) {
    std::lock_guard lock(mutex_);
    options_.framesPerDatagram = frames;
}

void SimBox::injectDatagram(std::vector<uint8_t> bytes) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_front({0, SimPeer{}, std::move(bytes), 0});
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
