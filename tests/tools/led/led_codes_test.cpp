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
    EXPECT_EQ(codes[0], 0x03CF); // A
    EXPECT_EQ(codes['X' - 'A'], 0xB400);
    EXPECT_EQ(codes[26 + 1], 0x000C); // digit 1
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
    EXPECT_EQ(codes['A' - 'A'], 0b00000011110111); // A B C E F G1 G2
    EXPECT_EQ(codes['I' - 'A'], 0b01001000001001); // A D J M
    EXPECT_EQ(codes['Z' - 'A'], 0b10010000001001); // A D K N
    EXPECT_EQ(codes[26 + 8], 0b00000011111111);    // 8
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

TEST(LedCodes, EveryFormHasOneLinePerPartAndOneCommaLessLinePerArray)
{
    for (auto type : {LedType::Seg7, LedType::Seg14, LedType::Seg16})
        for (bool assembler : {false, true})
            for (bool fourBits : {false, true}) {
                EmitOptions o;
                o.assembler = assembler;
                o.fourBits = fourBits;
                auto lines = emitCodeTable(type, identityCodes(type), o);
                const size_t parts = type == LedType::Seg7 ? (fourBits ? 2 : 1) : (fourBits ? 4 : 2);
                const size_t codes = type == LedType::Seg7 ? 16 : 42;
                size_t data = 0, lastOfArray = 0;
                for (const auto& line : lines) {
                    if (line.rfind(assembler ? "\tDB\t" : "\t0x", 0) != 0) continue;
                    ++data;
                    lastOfArray += !assembler && line.find(',') == std::string::npos;
                }
                SCOPED_TRACE(lines[0]);
                EXPECT_EQ(data, codes * parts);
                EXPECT_EQ(lastOfArray, assembler ? 0u : (type == LedType::Seg7 ? 1u : 2u));
                EXPECT_EQ(lines.back(), " ");
            }
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
