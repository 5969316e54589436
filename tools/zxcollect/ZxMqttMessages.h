// The topics and JSON texts zxcollect publishes to an MQTT broker: a summary per
// identifier and interval, the records of an interval (--mqtt-records) and the status.
#pragma once

#include "ZxCollectStatistics.h"
#include "ZxIdMapping.h"
#include "ZxLiveFeed.h"
#include "ZxMqttRecordTap.h"

#include <cstdint>
#include <string>
#include <vector>

class ZxMqttMessages {
public:
    // What the status tells beside the snapshot's counters.
    struct Link {
        bool running = true;
        bool saving = false;
        std::uint64_t outages = 0;
        double lastOutageSeconds = 0.0;
        std::uint64_t droppedMessages = 0;
        std::uint64_t unpublishedRecords = 0;
        // Per box of the run: its latest loss line from the library's log ("" for none).
        std::vector<std::string> losses;
        bool watchingLog = false;
    };

    ZxMqttMessages(std::string prefix, const ZxIdMapping& mapping, const std::vector<ZxSlot>& slots);

    const std::string& statusTopic() const { return statusTopic_; }
    // PREFIX/dev<D>/can<CH>/<name>; name is the mapped name or the identifier as 0x...
    std::string topicOf(std::size_t slot, std::uint32_t canId) const;
    std::string summary(std::size_t slot, const ZxLiveFeed::Series& series) const;
    // entries: records of one slot and identifier only.
    std::string records(std::size_t slot, std::uint32_t canId, const ZxMqttRecordTap::Entry* entries,
                        std::size_t count) const;
    std::string status(const ZxLiveFeed::Snapshot& snapshot, const std::vector<std::uint32_t>& devices,
                       const Link& link) const;

private:
    std::string nameOf(std::uint32_t canId) const;
    std::string head(std::size_t slot, std::uint32_t canId) const;

    std::string prefix_;
    std::string statusTopic_;
    const ZxIdMapping& mapping_;
    const std::vector<ZxSlot>& slots_;
};
