#include "filesave/ZxIdMappingParser.h"
#include "filesave/ZxSaveStartRequest.h"
#include "tests/filesave/FileSaveTestSupport.h"

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

TEST(IdMappingParser, HexadecimalOctalAndDecimalIdentifiersDenoteTheSameEntryAndTheLastNameWins) {
    const Parsed parsed = parse("257,Decimal\n0x101,Hex\n0401,Octal\n");
    ASSERT_EQ(parsed.code, ZX_OK);
    EXPECT_EQ(parsed.table, (ZxIdMappingTable{{257, "Octal"}}));

    const Parsed upper = parse("0X1fF,Upper\n0101,Octal sixty-five\n+12,Plus\n");
    ASSERT_EQ(upper.code, ZX_OK);
    EXPECT_EQ(upper.table, (ZxIdMappingTable{{12, "Plus"}, {65, "Octal sixty-five"}, {0x1FF, "Upper"}}));
}

TEST(IdMappingParser, NegativeIdentifiersWrapModulo32Bits) {
    const Parsed parsed = parse("-1,All ones\n-0x10,Minus sixteen\n");
    ASSERT_EQ(parsed.code, ZX_OK);
    EXPECT_EQ(parsed.table, (ZxIdMappingTable{{4294967295u, "All ones"}, {4294967280u, "Minus sixteen"}}));
}

TEST(IdMappingParser, CommentsBlankLinesCrLfAndNamelessLinesAreSkipped) {
    const Parsed parsed =
        parse("# probes of bank 1\r\n\r\n   \n\t0x101 , Probe A \r\n0x102\n0x103,\n0x104,  \r\n"
              "  # 0x105,Commented\n0x301 , Bank 2, left");
    ASSERT_EQ(parsed.code, ZX_OK);
    EXPECT_EQ(parsed.table, (ZxIdMappingTable{{0x101, "Probe A"}, {0x301, "Bank 2, left"}}));
}

TEST(IdMappingParser, ConversionStopsAtTheFirstForeignCharacter) {
    const Parsed parsed = parse("0x101zz,Tail ignored\n12 34,Space ends it\n09,Octal stops at nine\n");
    ASSERT_EQ(parsed.code, ZX_OK);
    EXPECT_EQ(parsed.table,
              (ZxIdMappingTable{{0, "Octal stops at nine"}, {12, "Space ends it"}, {0x101, "Tail ignored"}}));
}

TEST(IdMappingParser, OnlyCommentsOrNullTextGiveAnEmptyTable) {
    EXPECT_EQ(parse("# nothing\n\n#more\r\n").table.size(), 0u);
    EXPECT_EQ(parse("# nothing\n").code, ZX_OK);
    EXPECT_EQ(parse(nullptr).code, ZX_OK);
    EXPECT_TRUE(parse("").table.empty());
}

TEST(IdMappingParser, MissingIdentifierFailsTheWholeParseWithInvalidArgument) {
    filesavetest::LogCapture log;
    const Parsed parsed = parse("0x101,Good\n,Probe\n0x102,Never reached\n");
    EXPECT_EQ(parsed.code, ZX_ERR_MAPPING_ID);
    EXPECT_TRUE(parsed.table.empty());
    EXPECT_EQ(parsed.error.field, "");
    EXPECT_EQ(parsed.error.message, "invalid stoul argument");

    const Parsed word = parse("  id , Name\n");
    EXPECT_EQ(word.code, ZX_ERR_MAPPING_ID);
    EXPECT_EQ(word.error.field, "id");
    EXPECT_EQ(parse("-,Sign only\n").code, ZX_ERR_MAPPING_ID);

    const std::string text = log.text();
    EXPECT_NE(text.find("[E]"), std::string::npos);
    EXPECT_NE(text.find("Invalid CAN ID format in mapping string: ''. Error: invalid stoul argument"),
              std::string::npos);
    EXPECT_NE(text.find("Invalid CAN ID format in mapping string: 'id'. Error: invalid stoul argument"),
              std::string::npos);
}

TEST(IdMappingParser, IdentifierBeyond32BitsFailsWithOutOfRange) {
    filesavetest::LogCapture log;
    const Parsed parsed = parse("0x1FFFFFFFF,X\n");
    EXPECT_EQ(parsed.code, ZX_ERR_MAPPING_ID);
    EXPECT_EQ(parsed.error.field, "0x1FFFFFFFF");
    EXPECT_EQ(parsed.error.message, "stoul argument out of range");
    EXPECT_EQ(parse("4294967296,X").error.message, "stoul argument out of range");
    EXPECT_EQ(parse("-4294967296,X").error.message, "stoul argument out of range");
    EXPECT_EQ(parse("4294967295,Max").table, (ZxIdMappingTable{{4294967295u, "Max"}}));
    EXPECT_NE(
        log.text().find("Invalid CAN ID format in mapping string: '0x1FFFFFFFF'. Error: stoul argument out "
                        "of range"),
        std::string::npos);
}

// Names become part of file paths below the save folder: one that would leave it, name
// a folder that is never created or a file Windows cannot open refuses the mapping.
TEST(IdMappingParser, NamesUnfitForAFileInsideTheSaveFolderRefuseTheMapping) {
    struct Case {
        const char* line;
        const char* loggedName;
        const char* problem;
    };
    const Case refused[] = {
        {"0x101,../../x", "../../x", "the name holds a path separator"},
        {"0x101,..", "..", "the name is the parent folder"},
        {"0x101,/etc/passwd", "/etc/passwd", "the name starts at the root of a drive"},
        {"0x101,\\server\\share", "\\server\\share", "the name starts at the root of a drive"},
        {"0x101,C:\\Temp", "C:\\Temp", "the name starts with a drive"},
        {"0x101,c:x", "c:x", "the name starts with a drive"},
        {"0x101,Bank 2/left", "Bank 2/left", "the name holds a path separator"},
        {"0x101,Bank 2\\left", "Bank 2\\left", "the name holds a path separator"},
        {"0x101,a/../b", "a/../b", "the name holds a path separator"},
        {"0x101,Tab\there", "Tab\\x09here", "the name holds a control character"},
        {"0x101,Bell\a", "Bell\\x07", "the name holds a control character"},
        {"0x101,Cr\rInside", "Cr\\x0DInside", "the name holds a control character"},
        {"0x101,Del\x7F", "Del\\x7F", "the name holds a control character"},
        {"0x101,a<b", "a<b", "<>:"},
        {"0x101,a>b", "a>b", "<>:"},
        {"0x101,Probe: A", "Probe: A", "<>:"},
        {"0x101,\"quoted\"", "\"quoted\"", "<>:"},
        {"0x101,a|b", "a|b", "<>:"},
        {"0x101,what?", "what?", "<>:"},
        {"0x101,star*", "star*", "<>:"},
        {"0x101,NUL.probe", "NUL.probe", "Windows device"},
        {"0x101,com7.x", "com7.x", "Windows device"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.line);
        filesavetest::LogCapture log;
        const Parsed parsed = parse((std::string("0x100,Good\n") + c.line + "\n0x102,Later\n").c_str());
        EXPECT_EQ(parsed.code, ZX_ERR_MAPPING_ID);
        EXPECT_TRUE(parsed.table.empty());
        EXPECT_NE(parsed.error.message.find(c.problem), std::string::npos) << parsed.error.message;
        EXPECT_NE(log.text().find(std::string("[E]")), std::string::npos);
        EXPECT_NE(log.text().find(std::string("Invalid name in mapping string for CAN ID 0x101: '") +
                                  c.loggedName + "'. Error: "),
                  std::string::npos)
            << log.text();
    }

    // Dots, commas, spaces inside and bytes of any narrow encoding stay usable.
    const Parsed fit = parse("1,a..b\n2,.hidden\n3,Bank 2, left\n4,K\xC3\xBChlung\n5,K\xFChlung\n6,x.\n"
                             "7,NUL\n8,console.x\n");
    ASSERT_EQ(fit.code, ZX_OK) << fit.error.message;
    EXPECT_EQ(fit.table.size(), 8u);

    // A file name has room for the time and index after at most 200 bytes of name.
    EXPECT_EQ(parse(("1," + std::string(200, 'n')).c_str()).code, ZX_OK);
    EXPECT_EQ(parse(("1," + std::string(201, 'n')).c_str()).code, ZX_ERR_MAPPING_ID);
}

// Two identifiers with one name would write indistinguishable series into one folder,
// also on a file system that ignores case.
TEST(IdMappingParser, ANameGivenToTwoIdentifiersRefusesTheMapping) {
    filesavetest::LogCapture log;
    const Parsed same = parse("0x101,Probe\n0x102,Other\n0x301,Probe\n");
    EXPECT_EQ(same.code, ZX_ERR_MAPPING_ID);
    EXPECT_TRUE(same.table.empty());
    EXPECT_EQ(same.error.field, "Probe");
    EXPECT_EQ(parse("0x101,Probe\n0x102,PROBE\n").code, ZX_ERR_MAPPING_ID);
    EXPECT_NE(log.text().find("Duplicate name in mapping string: 'Probe' for CAN IDs 0x101 and 0x301"),
              std::string::npos)
        << log.text();

    // A later line for the same identifier replaces its name, so the earlier one is free.
    const Parsed renamed = parse("0x101,Probe\n0x101,Probe\n0x101,Renamed\n0x102,Probe\n");
    ASSERT_EQ(renamed.code, ZX_OK);
    EXPECT_EQ(renamed.table, (ZxIdMappingTable{{0x101, "Renamed"}, {0x102, "Probe"}}));
}

TEST(SaveStartRequest, NullRootIsRefusedAndTheSizeKeepsItsLow16Bits) {
    ZxSaveStartRequest request;
    EXPECT_EQ(request.prepare(1, 2, nullptr, "0x101,A", 10), ZX_ERR_SAVE_NOT_CONFIGURED);
    EXPECT_EQ(request.prepare(1, 2, "/tmp/x", ",A", 10), ZX_ERR_MAPPING_ID);

    ASSERT_EQ(request.prepare(1, 2, "/tmp/x", "0x101,A", 70000), ZX_OK);
    EXPECT_EQ(request.rootDirectory(), "/tmp/x");
    EXPECT_EQ(request.idMapping(), (ZxIdMappingTable{{0x101, "A"}}));
    EXPECT_EQ(request.maxFileSizeMB(), 4464);
    ASSERT_EQ(request.prepare(1, 2, "/tmp/x", nullptr, 65536), ZX_OK);
    EXPECT_TRUE(request.idMapping().empty());
    EXPECT_EQ(request.maxFileSizeMB(), 0);
    ASSERT_EQ(request.prepare(1, 2, "", "1,B", -1), ZX_OK);
    EXPECT_EQ(request.maxFileSizeMB(), 65535);
}

} // namespace
