#include "common/numbers.h"

#include <gtest/gtest.h>

using namespace quillon;

TEST(WholeNumber, AcceptsSignedDecimalAndHex)
{
    EXPECT_EQ(parseWholeNumber("0"), 0);
    EXPECT_EQ(parseWholeNumber("+17"), 17);
    EXPECT_EQ(parseWholeNumber("-17"), -17);
    EXPECT_EQ(parseWholeNumber("0x1F"), 31);
    EXPECT_EQ(parseWholeNumber("0Xff"), 255);
    EXPECT_EQ(parseWholeNumber("-0x10"), -16);
    EXPECT_EQ(parseHexField("8000"), 0x8000);
}

TEST(WholeNumber, ThirtyTwoBitLimits)
{
    EXPECT_EQ(parseWholeNumber("2147483647"), 2147483647);
    EXPECT_EQ(parseWholeNumber("-2147483648"), INT32_MIN);
    EXPECT_EQ(parseWholeNumber("2147483648"), std::nullopt);
    EXPECT_EQ(parseWholeNumber("-2147483649"), std::nullopt);
    EXPECT_EQ(parseWholeNumber("99999999999999999999"), std::nullopt);
    // Hex may use all 32 bits, as masks are typed that way.
    EXPECT_EQ(parseWholeNumber("0xFFFFFFFF"), -1);
    EXPECT_EQ(parseWholeNumber("0x100000000"), std::nullopt);
}

TEST(WholeNumber, RejectsJunk)
{
    for (const char* bad : {"", " 1", "1 ", "+", "-", "0x", "1.0", "12a", "0xG", "abc", "1e3", "--1", "$10"})
        EXPECT_EQ(parseWholeNumber(bad), std::nullopt) << bad;
    EXPECT_EQ(parseHexField(""), std::nullopt);
}

TEST(Decimal, AcceptsTheUsualForms)
{
    EXPECT_EQ(parseDecimal("25"), 25.0L);
    EXPECT_EQ(parseDecimal("  -3.5  "), -3.5L);
    EXPECT_EQ(parseDecimal(".5"), 0.5L);
    EXPECT_EQ(parseDecimal("5."), 5.0L);
    EXPECT_EQ(parseDecimal("1e3"), 1000.0L);
    EXPECT_EQ(parseDecimal("+2.5E-1"), 0.25L);
}

TEST(Decimal, RejectsJunkAndOverflow)
{
    for (const char* bad :
         {"", "  ", ".", "-", "1,5", "1.2.3", "1e", "1e+", "abc", "1 2", "0x10", "1e99999", "inf", "nan"})
        EXPECT_EQ(parseDecimal(bad), std::nullopt) << bad;
}

TEST(FloatText, ShortestWithFifteenDigits)
{
    EXPECT_EQ(formatFloat(26), "26");
    EXPECT_EQ(formatFloat(25.5L), "25.5");
    EXPECT_EQ(formatFloat(-0.5L), "-0.5");
    EXPECT_EQ(formatFloat(0), "0");
    EXPECT_EQ(formatFloat(0.1L + 0.2L), "0.3");
    EXPECT_EQ(formatFloat(1.0L / 3), "0.333333333333333");
    EXPECT_EQ(formatFloat(0.00001L), "0.00001");
    EXPECT_EQ(formatFloat(999999999999999.0L), "999999999999999");
}

TEST(FloatText, ExponentOnlyForTinyOrHugeValues)
{
    EXPECT_EQ(formatFloat(0.000001L), "1E-6");
    EXPECT_EQ(formatFloat(0.0000015L), "1.5E-6");
    EXPECT_EQ(formatFloat(1e15L), "1E15");
    EXPECT_EQ(formatFloat(-1.25e20L), "-1.25E20");
}

TEST(Formatting, PrintfGAndHex)
{
    EXPECT_EQ(formatG(4700.0), "4700");
    EXPECT_EQ(formatG(0.47), "0.47");
    EXPECT_EQ(formatG(1e7), "1e+07");
    EXPECT_EQ(hexN(0x3F, 2), "3F");
    EXPECT_EQ(hexN(0x5, 4), "0005");
    EXPECT_EQ(hexN(0x12345, 2), "12345");
}
