// ZxGetResultText and ZxGetVersion through the built shared object: a text for every
// code of the public header, results combined from several steps decoded, texts cut
// to the host's buffer.
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

std::string resultText(int32_t result) {
    char text[1024];
    EXPECT_EQ(ZxGetResultText(result, text, sizeof text), 0);
    return text;
}

struct NamedCode {
    std::string name;
    int32_t code;
};

// The names as one text ("A, B, ...") beside their values, as ZX_NAMED_CODES gives them.
std::vector<NamedCode> namedCodes(const std::string& names, const std::vector<int32_t>& codes) {
    std::vector<NamedCode> named;
    std::istringstream list(names);
    for (std::string name; std::getline(list >> std::ws, name, ',');) {
        named.push_back({name, codes.at(named.size())});
    }
    return named;
}
#define ZX_NAMED_CODES(...) namedCodes(#__VA_ARGS__, {__VA_ARGS__})

// Every enumerator of ZxResultCode, in the header's order.
const std::vector<NamedCode> kHeaderCodes = ZX_NAMED_CODES(
    ZX_OK, ZX_ERR_NO_CHANNEL_CONFIG, ZX_ERR_LOG_START, ZX_ERR_INVALID_ARGUMENT, ZX_ERR_MAPPING_ID,
    ZX_ERR_SAVE_NOT_CONFIGURED, ZX_ERR_NO_BUFFER_MANAGER, ZX_ERR_FILE_WRITER_CREATE, ZX_ERR_SAVE_EXCEPTION,
    ZX_ERR_DEVICE_NOT_OPEN, ZX_ERR_OPEN_DEVICE, ZX_ERR_NOT_CONNECTED, ZX_ERR_UNKNOWN_CHANNEL, ZX_ERR_NO_DATA,
    ZX_ERR_OPEN_CAN, ZX_ERR_CLOSE_CAN, ZX_ERR_NO_READER, ZX_ERR_CANFD_PARAM, ZX_ERR_TERMINAL_RESISTOR,
    ZX_ERR_CLOSE_LIN, ZX_ERR_MODULE_TIMEOUT, ZX_ERR_MODULE_COMPLETE, ZX_ERR_MODULE_ENTER,
    ZX_ERR_MODULE_NO_BUFFERS, ZX_ERR_FILE_MANAGER_RUNNING, ZX_ERR_FILE_MANAGER_STOPPED, ZX_ERR_DEVICE_CLOSED,
    ZX_ERR_SEND_REFUSED, ZX_ERR_SEND_FAILED, ZX_ERR_REQUEST_TIMEOUT, ZX_CHANNEL_BUFFER_EMPTY);

// The text names the code's own constant, so a value that shares it with others gets
// every meaning, each with its name.
TEST(ExportedTexts, EveryCodeOfTheHeaderHasItsOwnText) {
    for (const NamedCode& code : kHeaderCodes) {
        const std::string text = resultText(code.code);
        EXPECT_NE(text.find(code.name), std::string::npos) << code.code << ": " << text;
        EXPECT_EQ(text.find("unknown"), std::string::npos) << code.code << ": " << text;
    }
}

TEST(ExportedTexts, CombinedResultsAreNamedWithTheCodesTheyCanHold) {
    const struct {
        int32_t result;
        std::vector<const char*> held;
    } cases[]{
        {ZX_ERR_CLOSE_CAN | ZX_ERR_CLOSE_LIN, {"-1002", "-5002"}},
        // Entering and leaving failed: the OR is -120021 itself, so its text says both.
        {ZX_ERR_MODULE_ENTER | ZX_ERR_MODULE_COMPLETE, {"-120023", "-120021", "ZX_ERR_MODULE_COMPLETE ("}},
        {ZX_ERR_MODULE_TIMEOUT | ZX_ERR_MODULE_COMPLETE, {"-120000", "-120021"}},
    };
    for (const auto& c : cases) {
        const std::string text = resultText(c.result);
        EXPECT_NE(text.find("combined with bitwise OR"), std::string::npos) << c.result << ": " << text;
        for (const char* code : c.held) {
            EXPECT_NE(text.find(code), std::string::npos) << c.result << " lacks " << code << ": " << text;
        }
    }
}

TEST(ExportedTexts, ValuesNoCallReturnsAreUnknown) {
    EXPECT_EQ(resultText(INT32_MIN), "unknown result -2147483648");
    EXPECT_EQ(resultText(-7), "unknown result -7");
}

TEST(ExportedTexts, TextsAreCutToTheBufferAndRefuseNoRoom) {
    char text[8] = "xxxxxxx";
    EXPECT_EQ(ZxGetResultText(ZX_ERR_NO_DATA, text, sizeof text), 0);
    EXPECT_EQ(std::string(text), resultText(ZX_ERR_NO_DATA).substr(0, 7));
    EXPECT_EQ(ZxGetResultText(ZX_OK, text, 1), 0);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(ZxGetResultText(ZX_OK, nullptr, 8), -1);
    EXPECT_EQ(ZxGetResultText(ZX_OK, text, 0), -1);
    EXPECT_EQ(ZxGetVersion(nullptr, 8), -1);
    EXPECT_EQ(ZxGetVersion(text, 0), -1);
}

TEST(ExportedTexts, VersionIsTheHeaders) {
    char text[32];
    ASSERT_EQ(ZxGetVersion(text, sizeof text), 0);
    EXPECT_EQ(std::string(text), std::to_string(ZXCOLLECTOR_VERSION_MAJOR) + "." +
                                     std::to_string(ZXCOLLECTOR_VERSION_MINOR) + "." +
                                     std::to_string(ZXCOLLECTOR_VERSION_PATCH));
}

} // namespace
