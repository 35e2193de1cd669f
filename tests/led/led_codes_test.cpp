#include "tools/led/led_codes.h"

#include <gtest/gtest.h>
#include <numeric>

using namespace quillon::led;

namespace {

std::vector<int32_t> identityMap(LedType type)
{
    std::vector<int32_t> p(static_cast<size_t>(segmentCount(type)));
    std::iota(p.begin(), p.end(), 0);
    return p;
}

std::vector<uint16_t> identityCodes(LedType type, bool inverted = false)
{
    auto p = identityMap(type);
    auto codes = codeTable(type, p);
    if (inverted) invertCodes(type, codes);
    return codes;
}

} // namespace

TEST(LedCodes, SevenSegmentDigitsWithStraightWiring)
{
    auto codes = identityCodes(LedType::Seg7);
    ASSERT_EQ(codes.size(), 16u);
    EXPECT_EQ(codes[0], 0x3F);
    EXPECT_EQ(codes[1], 0x06);
    EXPECT_EQ(codes[8], 0x7F);
    EXPECT_EQ(codes[0xB], 0x7C); // lower-case b
    EXPECT_EQ(codes[0xD], 0x5E); // lower-case d
    EXPECT_EQ(codes[0xF], 0x71);

    auto inv = identityCodes(LedType::Seg7, true);
    EXPECT_EQ(inv[0], 0xC0);
    EXPECT_EQ(inv[8], 0x80);
}

TEST(LedCodes, SixteenSegmentLettersAndDigits)
{
    auto codes = identityCodes(LedType::Seg16);
    ASSERT_EQ(codes.size(), 42u);
    EXPECT_EQ(codes[0], 0x03CF);       // A
    EXPECT_EQ(codes['X' - 'A'], 0xB400);
    EXPECT_EQ(codes[26 + 1], 0x000C);  // digit 1
    auto inv = identityCodes(LedType::Seg16, true);
    EXPECT_EQ(inv[26 + 1], 0xFFF3);
    // The hex digits A..F are the letters A..F, in every table.
    for (auto type : {LedType::Seg14, LedType::Seg16})
        for (bool inverted : {false, true}) {
            auto c = identityCodes(type, inverted);
            for (int i = 0; i < 6; ++i) EXPECT_EQ(c[36 + i], c[i]);
        }
}

TEST(LedCodes, FourteenSegmentGlyphsMergeTheBarHalves)
{
    // A B C D E F G1 G2 H J K L M N on bits 0..13.
    auto codes = identityCodes(LedType::Seg14);
    ASSERT_EQ(codes.size(), 42u);
    EXPECT_EQ(codes['A' - 'A'], 0b00000011110111);      // A B C E F G1 G2
    EXPECT_EQ(codes['I' - 'A'], 0b01001000001001);      // A D J M
    EXPECT_EQ(codes['Z' - 'A'], 0b10010000001001);      // A D K N
    EXPECT_EQ(codes[26 + 8], 0b00000011111111);         // 8
    // Wiring both halves of a 16-segment bar to one bit gives the 14-segment code.
    std::vector<int32_t> merged = {0, 0, 1, 2, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    EXPECT_EQ(codeTable(LedType::Seg16, merged), codes);
}

TEST(LedCodes, MasksTakeThePositionModulo32)
{
    EXPECT_EQ(segmentMask(0), 0x0001);
    EXPECT_EQ(segmentMask(15), 0x8000);
    EXPECT_EQ(segmentMask(33), 0x0002);
    EXPECT_EQ(segmentMask(16), 0);
    EXPECT_EQ(segmentMask(-1), 0);
    EXPECT_EQ(segmentMask(-32), 0x0001);
}

TEST(LedCodes, SegmentMapRefusesAnythingButPositions0To15)
{
    auto read = [](std::vector<std::string> texts) { return readSegmentMap(LedType::Seg7, texts); };
    EXPECT_EQ(read({"0", "1", "2", "3", "4", "5", "6"}), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(read({"9", " 8", "2 ", "3", "0x4", "5", "6"}), (std::vector<int32_t>{9, 8, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(read({"N", "1", "2", "3", "4", "5", "6"}));
    EXPECT_FALSE(read({"0", "1", "2", "3", "4", "5", ""}));
    EXPECT_FALSE(read({"0", "1", "2", "3", "4", "5", "-1"}));
    EXPECT_FALSE(readSegmentMap(LedType::Seg16, std::vector<std::string>(16, "16")));
    EXPECT_TRUE(readSegmentMap(LedType::Seg16, std::vector<std::string>(16, "15")));
    EXPECT_FALSE(read({"0", "1"})); // wrong count
}

TEST(LedCodes, SevenSegmentEmissionForms)
{
    auto codes = identityCodes(LedType::Seg7);
    EmitOptions o;
    auto c8 = emitCodeTable(LedType::Seg7, codes, o);
    ASSERT_EQ(c8.size(), 19u);
    EXPECT_EQ(c8[0], "const unsigned char LED7Code[]={\n");
    EXPECT_EQ(c8[1], "\t0x3F,\t\t// 0");
    EXPECT_EQ(c8[2], "\t0x06,\t\t// 1");
    EXPECT_EQ(c8[11], "\t0x77,\t\t// A");
    EXPECT_EQ(c8[16], "\t0x71\t\t// F");
    EXPECT_EQ(c8[17], "};");
    EXPECT_EQ(c8[18], " ");

    o.fourBits = true;
    auto c4 = emitCodeTable(LedType::Seg7, codes, o);
    ASSERT_EQ(c4.size(), 35u);
    EXPECT_EQ(c4[1], "\t0x0F,\t\t// 0 LSB");
    EXPECT_EQ(c4[2], "\t0x03,\t\t// 0 MSB");
    EXPECT_EQ(c4[31], "\t0x01,\t\t// F LSB");
    EXPECT_EQ(c4[32], "\t0x07\t\t// F MSB");

    o = EmitOptions{};
    o.assembler = true;
    auto a8 = emitCodeTable(LedType::Seg7, codes, o);
    ASSERT_EQ(a8.size(), 18u);
    EXPECT_EQ(a8[0], "LED7Code:");
    EXPECT_EQ(a8[1], "\tDB\t03FH\t\t; 0");
    EXPECT_EQ(a8[16], "\tDB\t071H\t\t; F");
    EXPECT_EQ(a8[17], " ");

    o.fourBits = true;
    auto a4 = emitCodeTable(LedType::Seg7, codes, o);
    EXPECT_EQ(a4[1], "\tDB\t0FH\t\t; 0 LSB");
    EXPECT_EQ(a4[2], "\tDB\t03H\t\t; 0 MSB");
    o.prefix = true;
    o.hexMarker = " 0x ";
    o.dataDefine = "  .byte ";
    EXPECT_EQ(emitCodeTable(LedType::Seg7, codes, o)[1], "\t.byte\t0x0F\t\t; 0 LSB");

    o = EmitOptions{};
    o.assembler = true;
    o.dataDefine = "   ";
    EXPECT_EQ(emitCodeTable(LedType::Seg7, codes, o)[1], "\t\t03FH\t\t; 0");
}

TEST(LedCodes, SevenSegmentCodesAboveOneByte)
{
    // G on bit 9, A on bit 8: digit 8 = 0x33E.
    std::vector<int32_t> p = {8, 1, 2, 3, 4, 5, 9};
    auto codes = codeTable(LedType::Seg7, p);
    EXPECT_EQ(codes[8], 0x33E);
    EmitOptions o;
    EXPECT_EQ(emitCodeTable(LedType::Seg7, codes, o)[9], "\t0x33E,\t\t// 8");
    o.assembler = true;
    EXPECT_EQ(emitCodeTable(LedType::Seg7, codes, o)[9], "\tDB\t33EH\t\t; 8");
    o.fourBits = true;
    auto a4 = emitCodeTable(LedType::Seg7, codes, o);
    EXPECT_EQ(a4[17], "\tDB\t0EH\t\t; 8 LSB");
    EXPECT_EQ(a4[18], "\tDB\t03H\t\t; 8 MSB");
    // Inversion covers the 8-bit code width only.
    invertCodes(LedType::Seg7, codes);
    EXPECT_EQ(codes[8], 0x3C1);
}

TEST(LedCodes, SixteenSegmentCArrays)
{
    auto codes = identityCodes(LedType::Seg16);
    EmitOptions o;
    o.fourBits = true;
    auto lines = emitCodeTable(LedType::Seg16, codes, o);
    ASSERT_EQ(lines.size(), 1u + 104 + 2 + 1 + 64 + 2);
    EXPECT_EQ(lines[0], "const unsigned char LED16Char[]={\t\t// Character Encode");
    EXPECT_EQ(lines[1], "\t0x0F,\t\t// A LSB");
    EXPECT_EQ(lines[2], "\t0x0C,\t\t// A ...");
    EXPECT_EQ(lines[3], "\t0x03,\t\t// A ...");
    EXPECT_EQ(lines[4], "\t0x00,\t\t// A MSB");
    for (int i = 1; i <= 103; ++i) EXPECT_NE(lines[i].find(",\t\t// "), std::string::npos) << i;
    EXPECT_EQ(lines[104], "\t0x09\t\t// Z MSB"); // Z = 0x9033
    EXPECT_EQ(lines[105], "};");
    EXPECT_EQ(lines[106], " ");
    EXPECT_EQ(lines[107], "const unsigned char LED16Num[]={\t\t// Number Encode");
    EXPECT_EQ(lines[108], "\t0x0F,\t\t// 0 LSB");
    EXPECT_EQ(lines[171], "\t0x00\t\t// F MSB");
    EXPECT_EQ(lines[172], "};");
    EXPECT_EQ(lines[173], " ");

    o.fourBits = false;
    lines = emitCodeTable(LedType::Seg16, codes, o);
    ASSERT_EQ(lines.size(), 1u + 52 + 2 + 1 + 32 + 2);
    EXPECT_EQ(lines[1], "\t0xCF,\t\t// A LSB");
    EXPECT_EQ(lines[2], "\t0x03,\t\t// A MSB");
    EXPECT_EQ(lines[52], "\t0x90\t\t// Z MSB");
    EXPECT_EQ(lines[55], "const unsigned char LED16Num[]={\t\t// Number Encode");
    EXPECT_EQ(lines[58], "\t0x0C,\t\t// 1 LSB");
}

TEST(LedCodes, FourteenSegmentAssembler)
{
    auto codes = identityCodes(LedType::Seg14);
    EmitOptions o;
    o.assembler = true;
    auto lines = emitCodeTable(LedType::Seg14, codes, o);
    ASSERT_EQ(lines.size(), 1u + 52 + 1 + 1 + 32 + 1);
    EXPECT_EQ(lines[0], "LED14Char:\t\t; Character Encode");
    EXPECT_EQ(lines[1], "\tDB\t0F7H\t\t; A LSB");
    EXPECT_EQ(lines[2], "\tDB\t000H\t\t; A MSB");
    EXPECT_EQ(lines[53], " ");
    EXPECT_EQ(lines[54], "LED14Num:\t\t; Number Encode");
    EXPECT_EQ(lines[86], "\tDB\t000H\t\t; F MSB");
    EXPECT_EQ(lines[87], " ");

    o.fourBits = true;
    o.prefix = true;
    o.hexMarker = "$";
    lines = emitCodeTable(LedType::Seg14, codes, o);
    EXPECT_EQ(lines[1], "\tDB\t$07\t\t; A LSB");
    EXPECT_EQ(lines[2], "\tDB\t$0F\t\t; A ...");
    EXPECT_EQ(lines[4], "\tDB\t$00\t\t; A MSB");
}

TEST(LedCodes, PatternStrings)
{
    auto p7 = identityMap(LedType::Seg7);
    EXPECT_EQ(patternString(LedType::Seg7, p7), "6543210");
    auto back = readPattern(LedType::Seg7, "6543210");
    EXPECT_TRUE(back.complete);
    EXPECT_EQ(back.onScreen, (std::vector<int32_t>{6, 5, 4, 3, 2, 1, 0}));

    std::vector<int32_t> p16(16, 3);
    p16[0] = 15; // A1
    p16[15] = 0; // N
    std::string s = patternString(LedType::Seg16, p16);
    EXPECT_EQ(s, "0" + std::string(14, '3') + "F");
    EXPECT_EQ(readPattern(LedType::Seg16, s).onScreen.back(), 15);
    EXPECT_EQ(readPattern(LedType::Seg14, "dcba9876543210").onScreen.front(), 13);

    auto shortOne = readPattern(LedType::Seg7, "654");
    EXPECT_FALSE(shortOne.complete);
    EXPECT_EQ(shortOne.onScreen.size(), 3u);
    auto bad = readPattern(LedType::Seg7, "65G3210");
    EXPECT_FALSE(bad.complete);
    EXPECT_EQ(bad.onScreen.size(), 2u);
}

TEST(LedCodes, PatternNamesThatSurviveTheSettingsFile)
{
    EXPECT_TRUE(isStorablePatternName("P1"));
    EXPECT_TRUE(isStorablePatternName("共阳 数码管"));
    EXPECT_FALSE(isStorablePatternName("a=b"));
    EXPECT_FALSE(isStorablePatternName(";note"));
    EXPECT_FALSE(isStorablePatternName("[LED7 Patterns]"));
    EXPECT_FALSE(isStorablePatternName("   "));
}
