#include "tests/tools/hexbin/hex_records.h"
#include "tests/support/temp_dir.h"
#include "tools/hexbin/source_array.h"

#include <gtest/gtest.h>

using namespace quillon::hexbin;
using namespace quillon::test;

namespace {

class SourceArray : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("data");
    ArrayStyle c;
    ArrayStyle assembler{true, " DB ", " H ", false};

    std::string fromBinary(const std::string& bytes, const ArrayStyle& style)
    {
        TempDir::writeFile(path, bytes);
        std::string out;
        EXPECT_EQ(arrayFromBinary(path, style, "\n", out), ArrayOutcome::Done);
        return out;
    }
    std::string fromHex(const std::string& text, const ArrayStyle& style, ArrayOutcome expect = ArrayOutcome::Done)
    {
        TempDir::writeFile(path, text);
        std::string out;
        EXPECT_EQ(arrayFromHex(path, style, "\n", out).outcome, expect);
        return out;
    }
};

} // namespace

TEST_F(SourceArray, BinaryInBothForms)
{
    EXPECT_EQ(fromBinary("\x12\xAB", c), "const unsigned char BinCode[]={\n\t0x12,\t\t// 0\n\t0xAB\t\t// 1\n};\n");
    EXPECT_EQ(fromBinary("\x12\xAB", assembler), "BinTable:\n\tDB\t012H\t\t; 0\n\tDB\t0ABH\t\t; 1\n\n");
    ArrayStyle pre = assembler;
    pre.prefix = true;
    pre.marker = "$";
    EXPECT_EQ(fromBinary("\x05", pre), "BinTable:\n\tDB\t$005\t\t; 0\n\n");
    EXPECT_EQ(fromBinary("", c), "const unsigned char BinCode[]={\n};\n");
    EXPECT_EQ(fromBinary("", assembler), "BinTable:\n\n");
}

TEST_F(SourceArray, IndexCommentsCountInHex)
{
    const std::string out = fromBinary(std::string(300, '\0'), c);
    EXPECT_NE(out.find("\t0x00,\t\t// F\n\t0x00,\t\t// 10\n"), std::string::npos);
    EXPECT_NE(out.find("// FF\n\t0x00,\t\t// 100\n"), std::string::npos);
    EXPECT_NE(out.find("\t0x00\t\t// 12B\n};\n"), std::string::npos);
}

TEST_F(SourceArray, HexRecordsListedInFileOrderWithDigitsAsTyped)
{
    const std::string text = hexRecord(0, 0x8000, "\xAB\x01", true) + "\r\n" + hexRecord(0, 0, "\xCD") + "\r\n" +
                             ":00000001FF\r\n" + hexRecord(0, 0, "Z") + "\r\n";
    EXPECT_EQ(fromHex(text, c),
              "const unsigned char BinCode[]={\n\t0xab,\t\t// 0\n\t0x01,\t\t// 1\n\t0xCD\t\t// 2\n};\n");
    EXPECT_EQ(fromHex(text, assembler), "BinTable:\n\tDB\t0abH\t\t; 0\n\tDB\t001H\t\t; 1\n\tDB\t0CDH\t\t; 2\n\n");
}

TEST_F(SourceArray, ColonInTheRestOfALongLineIsNoRecord)
{
    const std::string comment(254, ';');
    const std::string text = comment + ":00000001FF\n" + comment + hexRecord(0, 0, "\x02") + "\n" +
                             hexRecord(0, 0, "\x01") + "\n:00000001FF\n";
    EXPECT_EQ(fromHex(text, c), "const unsigned char BinCode[]={\n\t0x01\t\t// 0\n};\n");
}

TEST_F(SourceArray, BadHexRecordKeepsEarlierBytesAndCloses)
{
    const std::string good = hexRecord(0, 0, "\x01") + "\n";
    EXPECT_EQ(fromHex(good + ":020000040000FA\n", c, ArrayOutcome::UnknownType),
              "const unsigned char BinCode[]={\n\t0x01\t\t// 0\n};\n");
    EXPECT_EQ(fromHex(good + ":0100000002FF\n", assembler, ArrayOutcome::BadChecksum),
              "BinTable:\n\tDB\t001H\t\t; 0\n\n");
    EXPECT_EQ(fromHex(":0100000002FF\n", c, ArrayOutcome::BadChecksum), "const unsigned char BinCode[]={\n};\n");
    std::string out;
    EXPECT_EQ(arrayFromHex(dir.file("none"), c, "\n", out).outcome, ArrayOutcome::OpenFailed);
    EXPECT_EQ(out, "");
}
