#include "ZxMqttMessages.h"

#include "ZxLiveMessages.h"

#include <cstdio>

namespace {

void appendReal(std::string& out, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    out += text;
}

void appendValue(std::string& out, std::int32_t value) {
    if (value == ZX_NO_VALUE) {
        out += "null";
    } else {
        out += std::to_string(value);
    }
}

} // namespace

ZxMqttMessages::ZxMqttMessages(std::string prefix, const ZxIdMapping& mapping,
                               const std::vector<ZxSlot>& slots)
    : prefix_(std::move(prefix)), statusTopic_(prefix_ + "/status"), mapping_(mapping), slots_(slots) {}

std::string ZxMqttMessages::nameOf(std::uint32_t canId) const {
    const std::string name = mapping_.nameOf(canId);
    if (!name.empty()) {
        return name;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(canId));
    return text;
}

std::string ZxMqttMessages::topicOf(std::size_t slot, std::uint32_t canId) const {
    return prefix_ + "/dev" + std::to_string(slots_[slot].device) + "/can" +
           std::to_string(slots_[slot].channel) + "/" + nameOf(canId);
}

std::string ZxMqttMessages::head(std::size_t slot, std::uint32_t canId) const {
    char id[16];
    std::snprintf(id, sizeof id, "0x%X", static_cast<unsigned>(canId));
    return "{\"device\":" + std::to_string(slots_[slot].device) +
           ",\"channel\":" + std::to_string(slots_[slot].channel) + ",\"id\":\"" + id +
           "\",\"name\":" + ZxLiveMessages::jsonString(nameOf(canId));
}

// The arrays hold the measurement channels (CH1..CH6) that carried a value, named in "ch";
// min, max and mean are null for one that had none in this interval.
std::string ZxMqttMessages::summary(std::size_t slot, const ZxLiveFeed::Series& series) const {
    std::vector<int> channels;
    for (int k = 0; k < ZxLiveFeed::kValues; ++k) {
        if (series.valued[k] > 0 || series.last[k] != ZX_NO_VALUE) {
            channels.push_back(k);
        }
    }
    std::string out = head(slot, series.canId);
    out += ",\"time\":" + ZxLiveMessages::jsonString(series.timestamp);
    out += ",\"count\":" + std::to_string(series.bucketRecords);
    const auto array = [&](const char* name, auto valueOf) {
        out += ",\"";
        out += name;
        out += "\":[";
        for (std::size_t i = 0; i < channels.size(); ++i) {
            out += i == 0 ? "" : ",";
            valueOf(channels[i]);
        }
        out += "]";
    };
    array("ch", [&](int k) { out += std::to_string(k + 1); });
    const auto statistic = [&](int k, auto value) {
        if (series.valued[k] == 0) {
            out += "null";
        } else {
            value();
        }
    };
    array("min", [&](int k) { statistic(k, [&] { out += std::to_string(series.min[k]); }); });
    array("max", [&](int k) { statistic(k, [&] { out += std::to_string(series.max[k]); }); });
    array("mean", [&](int k) {
        statistic(k, [&] { appendReal(out, series.sum[k] / static_cast<double>(series.valued[k])); });
    });
    array("last", [&](int k) { appendValue(out, series.last[k]); });
    out += "}";
    return out;
}

std::string ZxMqttMessages::records(std::size_t slot, std::uint32_t canId,
                                    const ZxMqttRecordTap::Entry* entries, std::size_t count) const {
    std::string out = head(slot, canId);
    out.reserve(out.size() + count * 80);
    out += ",\"records\":[";
    for (std::size_t i = 0; i < count; ++i) {
        const ZxCollectData& record = entries[i].record;
        out += i == 0 ? "[" : ",[";
        out += ZxLiveMessages::jsonString(record.timestamp);
        for (int k = 0; k < ZxLiveFeed::kValues; ++k) {
            out += ",";
            appendValue(out, record.values[k]);
        }
        out += "]";
    }
    out += "]}";
    return out;
}

std::string ZxMqttMessages::status(const ZxLiveFeed::Snapshot& snapshot,
                                   const std::vector<std::uint32_t>& devices, const Link& link) const {
    std::uint64_t records = 0;
    for (const std::uint64_t slotRecords : snapshot.records) {
        records += slotRecords;
    }
    std::string out = "{\"state\":";
    out += link.running ? "\"running\"" : "\"stopped\"";
    out += ",\"version\":\"" + std::to_string(ZXCOLLECTOR_VERSION_MAJOR) + "." +
           std::to_string(ZXCOLLECTOR_VERSION_MINOR) + "." + std::to_string(ZXCOLLECTOR_VERSION_PATCH) + "\"";
    out += ",\"boxes\":[";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        out += (i == 0 ? "" : ",") + std::to_string(devices[i]);
    }
    out += "],\"channels\":[";
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        out += slot == 0 ? "" : ",";
        out += "{\"device\":" + std::to_string(slots_[slot].device) +
               ",\"channel\":" + std::to_string(slots_[slot].channel) +
               ",\"records\":" + std::to_string(snapshot.records[slot]) + ",\"saving\":";
        out += link.saving ? "true" : "false";
        out += ",\"samples_saved\":" + std::to_string(snapshot.samplesSaved[slot]) + "}";
    }
    out += "],\"records\":" + std::to_string(records);
    if (link.watchingLog) {
        out += ",\"link_losses\":{";
        for (std::size_t i = 0; i < devices.size(); ++i) {
            out += (i == 0 ? "\"" : ",\"") + std::to_string(devices[i]) +
                   "\":" + ZxLiveMessages::jsonString(link.losses[i]);
        }
        out += "}";
    } else {
        out += ",\"link_losses\":null";
    }
    out += ",\"broker_outages\":" + std::to_string(link.outages) + ",\"last_outage_seconds\":";
    appendReal(out, link.lastOutageSeconds);
    out += ",\"dropped_messages\":" + std::to_string(link.droppedMessages) +
           ",\"unpublished_records\":" + std::to_string(link.unpublishedRecords) + "}";
    return out;
}
