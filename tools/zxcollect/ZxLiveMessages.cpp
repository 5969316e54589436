#include "ZxLiveMessages.h"

#include <cstdio>
#include <cstring>

namespace {

void appendNumber(std::string& out, std::int64_t value) {
    out += std::to_string(value);
}

void appendReal(std::string& out, double value, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    out += text;
}

void appendValue(std::string& out, std::int32_t value) {
    if (value == ZX_NO_VALUE) {
        out += "null";
    } else {
        appendNumber(out, value);
    }
}

void beginEvent(std::string& out, const char* name) {
    out += "event: ";
    out += name;
    out += "\ndata: ";
}

} // namespace

ZxLiveMessages::ZxLiveMessages(const ZxIdMapping& mapping, const std::vector<ZxSlot>& slots, bool saving)
    : mapping_(mapping), slots_(slots), saving_(saving) {}

std::string ZxLiveMessages::jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string ZxLiveMessages::meta() const {
    std::string out;
    beginEvent(out, "meta");
    out += "{\"names\":{";
    const char* comma = "";
    for (const auto& [canId, name] : mapping_.names()) {
        out += comma;
        out += "\"" + std::to_string(canId) + "\":" + jsonString(name);
        comma = ",";
    }
    out += "},\"saving\":";
    out += saving_ ? "true" : "false";
    out += ",\"slots\":[";
    comma = "";
    for (const ZxSlot& slot : slots_) {
        out += comma;
        out += "[" + std::to_string(slot.device) + "," + std::to_string(slot.channel) + "]";
        comma = ",";
    }
    out += "]}\n\n";
    return out;
}

void ZxLiveMessages::tick(const ZxLiveFeed::Snapshot& snapshot, std::uint32_t device, double unixSeconds,
                          std::string& out) const {
    beginEvent(out, "tick");
    out += "{\"t\":";
    appendReal(out, unixSeconds, "%.3f");
    out += ",\"p\":[";
    const char* comma = "";
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        if (slots_[slot].device != device) {
            continue;
        }
        for (const ZxLiveFeed::Series& series : snapshot.series[slot]) {
            if (series.bucketRecords == 0 || !mapping_.isMapped(series.canId)) {
                continue;
            }
            for (int k = 0; k < ZxLiveFeed::kValues; ++k) {
                if (series.min[k] > series.max[k]) {
                    continue; // only "no value" markers in this bucket
                }
                out += comma;
                out += '[';
                appendNumber(out, static_cast<std::int64_t>(slot));
                out += ',';
                appendNumber(out, series.canId);
                out += ',';
                appendNumber(out, k);
                out += ',';
                appendNumber(out, series.min[k]);
                out += ',';
                appendNumber(out, series.max[k]);
                out += ']';
                comma = ",";
            }
        }
    }
    out += "]}\n\n";
}

void ZxLiveMessages::status(const ZxLiveFeed::Snapshot& snapshot, std::uint32_t device, double elapsedSeconds,
                            const std::vector<std::vector<double>>& rates, const std::string* losses,
                            std::string& out) const {
    beginEvent(out, "status");
    out += "{\"device\":";
    appendNumber(out, device);
    out += ",\"elapsed\":";
    appendReal(out, elapsedSeconds, "%.1f");
    out += ",\"losses\":";
    out += losses == nullptr ? "null" : jsonString(*losses);
    out += ",\"unshownIdentifiers\":";
    appendNumber(out, static_cast<std::int64_t>(snapshot.unshownIdentifiers));
    out += ",\"channels\":[";
    const char* comma = "";
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        if (slots_[slot].device != device) {
            continue;
        }
        out += comma;
        out += "[" + std::to_string(slot) + "," + std::to_string(snapshot.records[slot]) + "," +
               std::to_string(snapshot.samplesSaved[slot]) + "]";
        comma = ",";
    }
    out += "],\"rows\":[";
    comma = "";
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        if (slots_[slot].device != device) {
            continue;
        }
        const std::vector<ZxLiveFeed::Series>& table = snapshot.series[slot];
        for (std::size_t i = 0; i < table.size(); ++i) {
            const ZxLiveFeed::Series& series = table[i];
            out += comma;
            out += "[" + std::to_string(slot) + "," + std::to_string(series.canId) + "," +
                   std::to_string(series.records) + ",";
            appendReal(out, i < rates[slot].size() ? rates[slot][i] : 0.0, "%.1f");
            out += ",[";
            for (int k = 0; k < ZxLiveFeed::kValues; ++k) {
                out += k == 0 ? "" : ",";
                appendValue(out, series.last[k]);
            }
            out += "]," +
                   jsonString(
                       std::string(series.timestamp, strnlen(series.timestamp, sizeof series.timestamp))) +
                   "]";
            comma = ",";
        }
    }
    out += "]}\n\n";
}
