#include "ZxResultText.h"

#include "zxcollector_api.h"

#include <set>

namespace {

constexpr char kSeveralMeanings[] = " has several meanings, by the call that returned it: ";
constexpr char kNextMeaning[] = "; or ";

std::string libraryText(std::int32_t code) {
    char text[1024];
    if (ZxGetResultText(code, text, sizeof text) != ZX_OK) {
        return "no text";
    }
    return text;
}

// The clause of a several-meanings text whose call list holds call, or "".
std::string clauseFor(const std::string& text, const std::string& call) {
    std::size_t start = text.find(kSeveralMeanings);
    if (start == std::string::npos) {
        return "";
    }
    start += sizeof kSeveralMeanings - 1;
    while (start < text.size()) {
        std::size_t end = text.find(kNextMeaning, start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string clause = text.substr(start, end - start);
        const std::size_t calls = clause.find(" (");
        const std::size_t callsEnd = clause.find("): ");
        if (calls != std::string::npos && callsEnd != std::string::npos &&
            (", " + clause.substr(calls + 2, callsEnd - calls - 2) + ",").find(" " + call + ",") !=
                std::string::npos) {
            return clause;
        }
        start = end + sizeof kNextMeaning - 1;
    }
    return "";
}

} // namespace

std::string ZxResultText::meaning(const std::string& call, std::int32_t code) {
    const std::string text = libraryText(code);
    const std::string clause = clauseFor(text, call);
    return clause.empty() ? text : clause;
}

std::string ZxResultText::markdownTable() {
    // The values of the header's codes; those shared by several names come once.
    const std::set<std::int32_t, std::greater<std::int32_t>> codes{
        ZX_OK,
        ZX_ERR_NO_CHANNEL_CONFIG,
        ZX_ERR_SAVE_NOT_CONFIGURED,
        ZX_ERR_NO_BUFFER_MANAGER,
        ZX_ERR_FILE_MANAGER_STOPPED,
        ZX_ERR_FILE_WRITER_CREATE,
        ZX_ERR_SAVE_EXCEPTION,
        ZX_ERR_DEVICE_CLOSED,
        ZX_ERR_DEVICE_NOT_OPEN,
        ZX_ERR_SEND_REFUSED,
        ZX_ERR_OPEN_DEVICE,
        ZX_ERR_NOT_CONNECTED,
        ZX_ERR_SEND_FAILED,
        ZX_ERR_REQUEST_TIMEOUT,
        ZX_ERR_UNKNOWN_CHANNEL,
        ZX_ERR_NO_DATA,
        ZX_CHANNEL_BUFFER_EMPTY,
        ZX_ERR_OPEN_CAN,
        ZX_ERR_CLOSE_CAN,
        ZX_ERR_NO_READER,
        ZX_ERR_CANFD_PARAM,
        ZX_ERR_TERMINAL_RESISTOR,
        ZX_ERR_CLOSE_LIN,
        ZX_ERR_MODULE_TIMEOUT,
        ZX_ERR_MODULE_COMPLETE,
        ZX_ERR_MODULE_ENTER,
    };
    std::string table = "| Code | Meaning (ZxGetResultText) |\n|---|---|\n";
    for (const std::int32_t code : codes) {
        table += "| " + std::to_string(code) + " | " + libraryText(code) + " |\n";
    }
    return table;
}
