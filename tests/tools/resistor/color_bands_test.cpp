#include "tools/resistor/color_bands.h"

#include <gtest/gtest.h>
#include <set>

using namespace quillon::resistor;

TEST(ColorBands, InitialStateAndThirdDigitKeptAcrossModes)
{
    Decoder d;
    EXPECT_EQ(d.valueText(false, Unit::Ohm), "1");
    EXPECT_EQ(d.precisionText(), "精度: ±5%");
    d.select(1, Color::Brown);
    d.select(2, Color::Black);
    EXPECT_EQ(d.valueText(false, Unit::Ohm), "10");
    EXPECT_EQ(d.valueText(true, Unit::Ohm), "100");
    d.select(3, Color::Red); // only counts in 5-band mode
    EXPECT_EQ(d.valueText(false, Unit::Ohm), "10");
    EXPECT_EQ(d.valueText(true, Unit::Ohm), "102");
    d.select(4, Color::Gold);
    EXPECT_EQ(d.valueText(false, Unit::Ohm), "1");
    d.select(1, Color::Black);
    EXPECT_EQ(d.valueText(false, Unit::Ohm), "0");
    d.select(2, Color::Brown);
    EXPECT_EQ(d.valueText(false, Unit::Ohm), "0.1");
}

TEST(ColorBands, PaletteHasFiftyTwoDistinctButtons)
{
    const auto& p = palette();
    ASSERT_EQ(p.size(), 52u);
    std::set<std::string> names;
    for (const auto& b : p) names.insert(b.objectName);
    EXPECT_EQ(names.size(), 52u);
    for (const char* n : {"sb1Black", "sb3White", "sb4Gold", "sb4Silver", "sb5Silver", "sb5Black", "sb5Gray"})
        EXPECT_TRUE(names.count(n)) << n;
    EXPECT_FALSE(names.count("sb5Orange"));
    for (const auto& b : p) {
        if (b.objectName == "sb5Black" || b.objectName == "sb5Gray") {
            EXPECT_EQ(b.color, Color::None);
            EXPECT_EQ(b.caption, "");
        }
        if (b.objectName == "sb5Gold") {
            EXPECT_EQ(b.row, 3);
        }
        if (b.objectName == "sb2Orange") {
            EXPECT_EQ(b.caption, "█橙");
        }
    }
}
