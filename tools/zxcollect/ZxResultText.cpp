#include "ZxResultText.h"

#include <cstdio>

namespace {

// Calls that combine the codes of several steps with bitwise OR.
bool combinesStepResults(const std::string& call) {
    return call == "ZxCloseDev" || call == "ZxSetModuleSamplingFrequency";
}

bool callIsListed(const char* calls, const std::string& call) {
    const std::string list(calls);
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(", ", start);
        if (end == std::string::npos) {
            end = list.size();
        }
        if (list.compare(start, end - start, call) == 0) {
            return true;
        }
        start = end + 2;
    }
    return false;
}

} // namespace

const std::vector<ZxResultText::Row>& ZxResultText::rows() {
    static const std::vector<Row> table{
        {0, "every function except ZxReadBuffer", "success"},
        {-1, "ZxInitCAN, ZxInitCANFD", "no CAN channel configuration for this device and channel"},
        {-1, "ZxOpenLog", "the log could not be started"},
        {-1, "ZxReadBuffer", "record pointer null or capacity 0"},
        {-1, "ZxStartSaveFile", "an identifier in the ID mapping is not a valid number"},
        {-2, "ZxStartSaveFile", "save root folder or ID mapping empty"},
        {-3, "ZxReadBuffer, ZxClearBuffer", "the reader has no channel buffers"},
        {-6, "ZxStartSaveFile", "a channel file writer could not be created"},
        {-99, "ZxStartSaveFile", "saving or its router thread failed to start"},
        {-102, "ZxCloseDev, ZxInitCAN, ZxInitCANFD, ZxResetCAN, ZxSetTerminalResistorCAN",
         "no open device with that index"},
        {-401, "ZxOpenDev",
         "opening the device failed: no connection, or the box did not answer the version request"},
        {-402, "ZxInitCAN, ZxInitCANFD", "the device is not connected"},
        {-601, "ZxResetCAN, ZxClearBuffer, ZxCloseDev", "the channel is unknown"},
        {-621, "ZxReadBuffer", "nothing to read (not a failure: wait and read again)"},
        {-1001, "ZxInitCAN, ZxInitCANFD", "the box did not confirm opening the CAN channel"},
        {-1002, "ZxResetCAN, ZxCloseDev", "the box did not confirm closing a CAN channel"},
        {-1003, "ZxClearBuffer, ZxReadBuffer, ZxStartSaveFile, ZxStopSaveFile",
         "no reader for this device and channel: initialise the channel first"},
        {-1011, "ZxInitCANFD", "the box did not confirm a CAN FD parameter"},
        {-1021, "ZxSetTerminalResistorCAN", "the box did not confirm the terminal-resistor switch"},
        {-5002, "ZxCloseDev", "the box did not confirm closing a LIN channel"},
        {-120000, "ZxSetModuleSamplingFrequency", "a module request got no matching reply in time"},
        {-120021, "ZxSetModuleSamplingFrequency",
         "leaving module configuration mode failed (also the result when no module answers at all "
         "or the device is not open)"},
        {-120023, "ZxSetModuleSamplingFrequency", "entering module configuration mode failed"},
    };
    return table;
}

std::string ZxResultText::meaning(const std::string& call, std::int32_t code) {
    for (const Row& row : rows()) {
        if (row.code == code && callIsListed(row.calls, call)) {
            return row.meaning;
        }
    }
    if (combinesStepResults(call) && code < 0) {
        return "several steps failed (their codes combined with bitwise OR)";
    }
    for (const Row& row : rows()) {
        if (row.code == code) {
            return row.meaning;
        }
    }
    return code > 0 ? "number of records read" : "unknown code";
}

std::string ZxResultText::markdownTable() {
    std::string text = "| Code | Returned by | Meaning |\n|---|---|---|\n";
    for (const Row& row : rows()) {
        char code[16];
        std::snprintf(code, sizeof code, "%d", static_cast<int>(row.code));
        text += "| " + std::string(code) + " | " + row.calls + " | " + row.meaning + " |\n";
    }
    return text;
}
