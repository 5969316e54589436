#include "api/ZxResultText.h"

#include "zxcollector_api.h"

#include <cstring>
#include <initializer_list>
#include <set>
#include <vector>

namespace {

struct Row {
    std::int32_t code;
    const char* name;
    const char* calls; // the exported functions that return it, or where it comes from
    const char* text;  // what it means, then what to check
};

// Every code of the public header. Rows sharing a value stay together.
constexpr Row kRows[] = {
    {ZX_OK, "ZX_OK", "every function except ZxReadBuffer", "success"},
    {ZX_ERR_NO_CHANNEL_CONFIG, "ZX_ERR_NO_CHANNEL_CONFIG",
     "ZxInitCAN, ZxInitCANFD, ZxSetTerminalResistorCAN, ZxSetModuleSamplingFrequency",
     "no such CAN channel on this device; check the device index (0..15) and the channel index"},
    {ZX_ERR_LOG_START, "ZX_ERR_LOG_START", "ZxOpenLog",
     "the log could not be started; check that the path is not null and its folder exists and is writable"},
    {ZX_ERR_INVALID_ARGUMENT, "ZX_ERR_INVALID_ARGUMENT", "ZxReadBuffer",
     "record pointer null or capacity 0 or less; pass an array and its length"},
    {ZX_ERR_MAPPING_ID, "ZX_ERR_MAPPING_ID", "ZxStartSaveFile",
     "a line of the ID mapping is refused: an identifier that is not a number, or a name that cannot be "
     "part of a file name or is given twice; the log names it at level 3"},
    {ZX_ERR_SAVE_NOT_CONFIGURED, "ZX_ERR_SAVE_NOT_CONFIGURED", "ZxStartSaveFile",
     "save root folder or ID mapping empty; pass both"},
    {ZX_ERR_MODULE_NO_BUFFERS, "ZX_ERR_MODULE_NO_BUFFERS", "module configuration (internal step)",
     "the device has no channel buffers; open the device first"},
    {ZX_ERR_NO_BUFFER_MANAGER, "ZX_ERR_NO_BUFFER_MANAGER", "ZxReadBuffer, ZxClearBuffer",
     "the reader has no channel buffers: the device was closed; open it and initialise the channel again"},
    {ZX_ERR_FILE_MANAGER_RUNNING, "ZX_ERR_FILE_MANAGER_RUNNING", "saving (internal step)",
     "the file manager is already running"},
    {ZX_ERR_FILE_MANAGER_STOPPED, "ZX_ERR_FILE_MANAGER_STOPPED", "saving (internal step)",
     "the file manager is not running"},
    {ZX_ERR_FILE_WRITER_CREATE, "ZX_ERR_FILE_WRITER_CREATE", "ZxStartSaveFile",
     "a channel file writer could not be created; check that the save folder can be created and written"},
    {ZX_ERR_SAVE_EXCEPTION, "ZX_ERR_SAVE_EXCEPTION", "ZxStartSaveFile, ZxStopSaveFile",
     "saving or its thread failed to start or stop; the log at level 3 says why (memory, threads)"},
    {ZX_ERR_DEVICE_CLOSED, "ZX_ERR_DEVICE_CLOSED", "device close (internal step)",
     "the device was closed before"},
    {ZX_ERR_DEVICE_NOT_OPEN, "ZX_ERR_DEVICE_NOT_OPEN",
     "ZxCloseDev, ZxResetCAN, ZxSetTerminalResistorCAN, ZxSetModuleSamplingFrequency",
     "no open device with that index; call ZxOpenDev first and check the index"},
    {ZX_ERR_SEND_REFUSED, "ZX_ERR_SEND_REFUSED", "a request to the box (step)",
     "sending was refused: the socket is closed or the data empty; open the device again"},
    {ZX_ERR_OPEN_DEVICE, "ZX_ERR_OPEN_DEVICE", "ZxOpenDev",
     "the device could not be opened: the host address is not on any interface, or the box did not "
     "answer; check that the adapter facing the box has the static address 192.168.201.<hostOctet>, "
     "that the box (192.168.201.130 + index) is powered and cabled, and that no firewall blocks UDP "
     "port 8000; the log says which"},
    {ZX_ERR_NOT_CONNECTED, "ZX_ERR_NOT_CONNECTED", "ZxInitCAN, ZxInitCANFD",
     "the device is not connected or stopped receiving; open it again (ZxCloseDev, ZxOpenDev)"},
    {ZX_ERR_SEND_FAILED, "ZX_ERR_SEND_FAILED", "a request to the box (step)",
     "the socket send failed; check the network adapter and the route to 192.168.201.x"},
    {ZX_ERR_REQUEST_TIMEOUT, "ZX_ERR_REQUEST_TIMEOUT", "a request to the box (step)",
     "the box did not answer a request within 500 ms; check the box and the cable"},
    {ZX_ERR_UNKNOWN_CHANNEL, "ZX_ERR_UNKNOWN_CHANNEL", "ZxResetCAN, ZxClearBuffer, ZxCloseDev",
     "the device has no channel of that index; check the channel index"},
    {ZX_ERR_NO_DATA, "ZX_ERR_NO_DATA", "ZxReadBuffer",
     "nothing to read (not a failure: wait a few milliseconds and read again)"},
    {ZX_CHANNEL_BUFFER_EMPTY, "ZX_CHANNEL_BUFFER_EMPTY", "channel buffer read (internal step)",
     "nothing queued in the channel buffer"},
    {ZX_ERR_OPEN_CAN, "ZX_ERR_OPEN_CAN", "ZxInitCAN, ZxInitCANFD",
     "the box did not confirm opening the CAN channel; check the bit rates and the box"},
    {ZX_ERR_CLOSE_CAN, "ZX_ERR_CLOSE_CAN", "ZxResetCAN, ZxCloseDev",
     "the box did not confirm closing a CAN channel; the channel is closed on this side anyway"},
    {ZX_ERR_NO_READER, "ZX_ERR_NO_READER", "ZxClearBuffer, ZxReadBuffer, ZxStartSaveFile, ZxStopSaveFile",
     "no reader for this device and channel: initialise the channel first (ZxInitCAN or ZxInitCANFD)"},
    {ZX_ERR_CANFD_PARAM, "ZX_ERR_CANFD_PARAM", "ZxInitCANFD",
     "the box did not confirm a CAN FD parameter; check the nominal and data bit rates"},
    {ZX_ERR_TERMINAL_RESISTOR, "ZX_ERR_TERMINAL_RESISTOR", "ZxSetTerminalResistorCAN",
     "the box did not confirm the terminal-resistor switch"},
    {ZX_ERR_CLOSE_LIN, "ZX_ERR_CLOSE_LIN", "ZxCloseDev",
     "the box did not confirm closing a LIN channel; the channel is closed on this side anyway"},
    {ZX_ERR_MODULE_TIMEOUT, "ZX_ERR_MODULE_TIMEOUT", "ZxSetModuleSamplingFrequency",
     "a module request got no matching reply in time; check the module identifier and that the "
     "module is on this channel"},
    {ZX_ERR_MODULE_COMPLETE, "ZX_ERR_MODULE_COMPLETE", "ZxSetModuleSamplingFrequency",
     "leaving module configuration mode failed (also the result when no module answers at all or the "
     "device is not open); check the module identifier, the channel and that the device is open"},
    {ZX_ERR_MODULE_ENTER, "ZX_ERR_MODULE_ENTER", "ZxSetModuleSamplingFrequency",
     "entering module configuration mode failed; check the module identifier and the channel"},
};

// What the steps of ZxSetModuleSamplingFrequency return: each write either succeeds or
// fails with one of these.
constexpr std::int32_t kModuleWriteResults[] = {
    ZX_OK,
    ZX_ERR_MODULE_TIMEOUT,
    ZX_ERR_DEVICE_NOT_OPEN,
    ZX_ERR_SEND_REFUSED,
    ZX_ERR_SEND_FAILED,
    ZX_ERR_NOT_CONNECTED,
};

// A result that a call ORs together from its steps, with the step codes in it.
struct Combination {
    std::int32_t result;
    std::set<std::int32_t> codes;
};

void addCombination(std::vector<Combination>& combinations, std::initializer_list<std::int32_t> steps) {
    Combination combination{ZX_OK, {}};
    for (const std::int32_t step : steps) {
        if (step != ZX_OK) {
            combination.result |= step;
            combination.codes.insert(step);
        }
    }
    if (combination.codes.size() >= 2) {
        combinations.push_back(combination);
    }
}

// Every result of two or more failed steps: ZxCloseDev ORs the LIN and CAN closes;
// ZxSetModuleSamplingFrequency ORs the frequency write, the closing write and leaving
// configuration mode, or entering and leaving when entering failed.
const std::vector<Combination>& combinations() {
    static const std::vector<Combination> all = [] {
        std::vector<Combination> list;
        addCombination(list, {ZX_ERR_CLOSE_LIN, ZX_ERR_CLOSE_CAN});
        addCombination(list, {ZX_ERR_MODULE_ENTER, ZX_ERR_MODULE_COMPLETE});
        for (const std::int32_t frequencyWrite : kModuleWriteResults) {
            for (const std::int32_t closingWrite : kModuleWriteResults) {
                addCombination(list, {frequencyWrite, closingWrite});
                addCombination(list, {frequencyWrite, closingWrite, ZX_ERR_MODULE_COMPLETE});
            }
        }
        return list;
    }();
    return all;
}

std::string codeText(std::int32_t code) {
    return std::to_string(code);
}

std::string rowText(const Row& row) {
    return std::string(row.name) + " (" + row.calls + "): " + row.text;
}

// The step codes of every combination whose OR is result; empty when none is.
std::set<std::int32_t> combinedCodes(std::int32_t result) {
    std::set<std::int32_t> codes;
    for (const Combination& combination : combinations()) {
        if (combination.result == result) {
            codes.insert(combination.codes.begin(), combination.codes.end());
        }
    }
    return codes;
}

// The codes of a combined result, e.g. "it can hold -1002 ZX_ERR_CLOSE_CAN, ...".
std::string combinedText(const std::set<std::int32_t>& codes) {
    std::string text = "several failed steps combined with bitwise OR by ZxCloseDev or "
                       "ZxSetModuleSamplingFrequency; it can hold";
    const char* separator = " ";
    for (auto code = codes.rbegin(); code != codes.rend(); ++code) {
        for (const Row& row : kRows) {
            if (row.code == *code) {
                text += separator + codeText(row.code) + " " + row.name;
                separator = ", ";
                break;
            }
        }
    }
    return text + "; the log at level 3 names each failed step";
}

} // namespace

std::string ZxResultText::describe(std::int32_t result) {
    std::string text;
    int matches = 0;
    for (const Row& row : kRows) {
        if (row.code == result) {
            text += (matches == 0 ? "" : "; or ") + rowText(row);
            ++matches;
        }
    }
    if (matches > 1) {
        return codeText(result) + " has several meanings, by the call that returned it: " + text;
    }
    if (matches == 1) {
        // -120021 is also what entering (-120023) and leaving (-120021) give ORed together.
        const std::set<std::int32_t> codes = combinedCodes(result);
        return codes.empty() ? text
                             : text + "; or, from a call that combines its steps: " + combinedText(codes);
    }
    if (result > 0) {
        return codeText(result) + " records read (ZxReadBuffer's count; no other function returns a "
                                  "positive result)";
    }
    const std::set<std::int32_t> codes = combinedCodes(result);
    if (!codes.empty()) {
        return "result " + codeText(result) + " is " + combinedText(codes);
    }
    return "unknown result " + codeText(result);
}

std::int32_t ZxResultText::copyOut(const std::string& text, char* buffer, std::uint32_t capacity) {
    if (buffer == nullptr || capacity == 0) {
        return -1;
    }
    const std::size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return ZX_OK;
}
