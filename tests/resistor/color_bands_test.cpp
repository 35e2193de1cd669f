#include "tools/resistor/color_bands.h"

#include <gtest/gtest.h>
#include <set>

using namespace quillon::bands;

namespace {

struct Example {
    bool five;
    std::vector<Color> colors;
    const char* ohm;
    const char* kohm;
    const char* mohm;
    const char* tolerance;
};

Decoder decode(const Example& e)
{
    Decoder d;
    const std::vector<int> columns = e.five ? std::vector<int>{1, 2, 3, 4, 5} : std::vector<int>{1, 2, 4, 5};
    for (size_t i = 0; i < columns.size(); ++i) d.select(columns[i], e.colors[i]);
    return d;
}

} // namespace

TEST(ColorBands, WorkedExamplesInAllUnits)
{
    using C = Color;
    const Example examples[] = {
        {false, {C::Brown, C::Black, C::Red, C::Gold}, "1000", "1", "0.001", "±5%"},
        {false, {C::Blue, C::Gray, C::Orange, C::Gold}, "68000", "68", "0.068", "±5%"},
        {true, {C::Brown, C::Black, C::Green, C::Brown, C::Brown}, "1050", "1.05", "0.00105", "±1%"},
        {false, {C::Yellow, C::Purple, C::Silver, C::None}, "0.47", "0.00047", "4.7e-07", "±20%"},
        {true, {C::White, C::White, C::White, C::White, C::White}, "9.99e+11", "9.99e+08", "999000", "+5~-20%"},
    };
    for (const auto& e : examples) {
        const Decoder d = decode(e);
        EXPECT_EQ(d.valueText(e.five, Unit::Ohm), e.ohm);
        EXPECT_EQ(d.valueText(e.five, Unit::KOhm), e.kohm);
        EXPECT_EQ(d.valueText(e.five, Unit::MOhm), e.mohm);
        EXPECT_EQ(d.precisionText(), std::string("精度: ") + e.tolerance);
    }
}

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
