#include "filesave/ZxIdMappingParser.h"
#include "filesave/ZxSaveStartRequest.h"
#include "tests/support/LogCapture.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
    std::int32_t code;
    ZxIdMappingTable table;
    ZxIdMappingParser::Error error;
};

Parsed parse(const char* text) {
    Parsed result;
    result.code = ZxIdMappingParser::parse(text, result.table, result.error);
    return result;
}

constexpr const char* kOutOfRange = "stoul argument out of range";
constexpr const char* kInvalid = "invalid stoul argument";

// A failed parse gives -1 and an empty table, and logs the failing field with the reason.
TEST(IdMappingParser, TextGivesTableOrFailingField) {
    struct Case {
        const char* text;
        ZxIdMappingTable table;      // when the parse succeeds
        const char* field = nullptr; // when it fails: the trimmed field and the reason
        const char* message = nullptr;
    };
    const Case cases[] = {
        {"257,Decimal\n0x101,Hex\n0401,Octal\n", {{257, "Octal"}}, nullptr, nullptr},
        {"0X1fF,Upper\n0101,Sixty-five\n+12,Plus\n", {{12, "Plus"}, {65, "Sixty-five"}, {0x1FF, "Upper"}}},
        {"-1,All ones\n-0x10,Minus sixteen\n", {{4294967295u, "All ones"}, {4294967280u, "Minus sixteen"}}},
        {"# bank 1\r\n\r\n   \n\t0x101 , Probe A \r\n0x102\n0x103,\n0x104,  \r\n  # 0x105,Commented\n"
         "0x301 , Bank 2 left",
         {{0x101, "Probe A"}, {0x301, "Bank 2 left"}}},
        // ';' ends an entry as a line break does, so a mapping fits on one line.
        {"0x101,Temperature;0x301,Voltage; ;#0x501,Off;0x701 , Frequency;",
         {{0x101, "Temperature"}, {0x301, "Voltage"}, {0x701, "Frequency"}}},
        {"0x101zz,Tail ignored\n12 34,Space ends it\n09,Octal stops at nine\n",
         {{0, "Octal stops at nine"}, {12, "Space ends it"}, {0x101, "Tail ignored"}}},
        {"4294967295,Max", {{4294967295u, "Max"}}},
        {"# nothing\n\n#more\r\n", {}},
        {"", {}},
        {nullptr, {}},
        {"0x101,Good\n,Probe\n0x102,Never reached\n", {}, "", kInvalid},
        {"  id , Name\n", {}, "id", kInvalid},
        {"-,Sign only\n", {}, "-", kInvalid},
        {"0x1FFFFFFFF,X\n", {}, "0x1FFFFFFFF", kOutOfRange},
        {"4294967296,X", {}, "4294967296", kOutOfRange},
        {"-4294967296,X", {}, "-4294967296", kOutOfRange},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        LogCapture log;
        const Parsed parsed = parse(c.text);
        EXPECT_EQ(parsed.table, c.table);
        if (c.message == nullptr) {
            EXPECT_EQ(parsed.code, ZX_OK);
            continue;
        }
        EXPECT_EQ(parsed.code, ZX_ERR_MAPPING_ID); // the log line names the field and the reason
        EXPECT_TRUE(log.hasLine(3, std::string("Invalid CAN ID format in mapping string: '") + c.field +
                                       "'. Error: " + c.message))
            << log.text();
    }
}

// Names become file names below the save folder: a name that would leave it, or that
// Windows cannot open, refuses the whole mapping.
TEST(IdMappingParser, NamesUnfitForAFileInsideTheSaveFolderRefuseTheMapping) {
    struct Case {
        const char* name;
        const char* logged; // control characters are shown as \xNN
        const char* problem;
    };
    const Case refused[] = {
        {"../../x", "../../x", "path separator"},
        {"..", "..", "parent folder"},
        {"/etc/passwd", "/etc/passwd", "root"},
        {"\\server\\share", "\\server\\share", "root"},
        {"C:\\Temp", "C:\\Temp", "drive"},
        {"Bank 2\\left", "Bank 2\\left", "separator"},
        {"Tab\there", "Tab\\x09here", "control"},
        {"Del\x7F", "Del\\x7F", "control"},
        {"Probe: A", "Probe: A", "<>:"},
        {"a|b", "a|b", "<>:"},
        {"what?", "what?", "<>:"},
        {"star*", "star*", "<>:"},
        {"\"quoted\"", "\"quoted\"", "<>:"},
        {"NUL.probe", "NUL.probe", "Windows device"},
        {"Bank 2, left", "Bank 2, left", "','"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        const Parsed parsed = parse((std::string("0x100,Good\n0x101,") + c.name + "\n0x102,Later\n").c_str());
        EXPECT_EQ(parsed.code, ZX_ERR_MAPPING_ID);
        EXPECT_TRUE(parsed.table.empty());
        EXPECT_NE(parsed.error.message.find(c.problem), std::string::npos) << parsed.error.message;
        EXPECT_TRUE(log.hasLine(3, std::string("Invalid name in mapping string for CAN ID 0x101: '") +
                                       c.logged + "'. Error: "))
            << log.text();
    }
    // Dots, spaces inside and bytes of any narrow encoding stay usable, and a name has
    // room for 200 bytes.
    const Parsed fit = parse("1,a..b\n2,.hidden\n3,Bank 2 left\n4,K\xC3\xBChlung\n5,K\xFChlung\n6,x.\n"
                             "7,NUL\n8,console.x\n");
    EXPECT_EQ(fit.code, ZX_OK) << fit.error.message;
    EXPECT_EQ(fit.table.size(), 8u);
    EXPECT_EQ(parse(("1," + std::string(200, 'n')).c_str()).code, ZX_OK);
    EXPECT_EQ(parse(("1," + std::string(201, 'n')).c_str()).code, ZX_ERR_MAPPING_ID);
}

// Two identifiers with one name would write into the same files, also where the file
// system ignores case; a later line for the same identifier frees its earlier name.
TEST(IdMappingParser, ANameGivenToTwoIdentifiersRefusesTheMapping) {
    LogCapture log;
    const Parsed same = parse("0x101,Probe\n0x102,Other\n0x301,Probe\n");
    EXPECT_EQ(same.code, ZX_ERR_MAPPING_ID);
    EXPECT_TRUE(same.table.empty());
    EXPECT_EQ(same.error.field, "Probe");
    EXPECT_TRUE(log.hasLine(3, "Duplicate name in mapping string: 'Probe' for CAN IDs 0x101 and 0x301"));
    EXPECT_EQ(parse("0x101,Probe\n0x102,PROBE\n").code, ZX_ERR_MAPPING_ID);
    const Parsed renamed = parse("0x101,Probe\n0x101,Renamed\n0x102,Probe\n");
    EXPECT_EQ(renamed.code, ZX_OK);
    EXPECT_EQ(renamed.table, (ZxIdMappingTable{{0x101, "Renamed"}, {0x102, "Probe"}}));
}

// The rest of the start's arguments are checked through the exports.
TEST(SaveStartRequest, TheSizeKeepsItsLow16Bits) {
    ZxSaveStartRequest request;
    ASSERT_EQ(request.prepare(1, 2, "/tmp/x", "0x101,A", 70000), ZX_OK);
    EXPECT_EQ(request.maxFileSizeMB(), 4464);
    ASSERT_EQ(request.prepare(1, 2, "/tmp/x", "0x101,A", 65536), ZX_OK);
    EXPECT_EQ(request.maxFileSizeMB(), 0);
}

} // namespace
