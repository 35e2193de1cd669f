#include "tools/resistor/color_bands.h"

#include "common/numbers.h"
#include "common/text.h"

#include <algorithm>

namespace quillon::resistor {

namespace {

const std::array<ColorInfo, 13> kColors = {{
    {Color::Black, "Black", "黑", 0, 0, 0, 0, 1, nullptr},
    {Color::Brown, "Brown", "棕", 128, 0, 0, 1, 10, "±1%"},
    {Color::Red, "Red", "红", 255, 0, 0, 2, 100, "±2%"},
    {Color::Orange, "Orange", "橙", 230, 167, 51, 3, 1000, nullptr},
    {Color::Yellow, "Yellow", "黄", 255, 255, 0, 4, 10000, nullptr},
    {Color::Green, "Green", "绿", 0, 128, 0, 5, 100000, "±0.5%"},
    {Color::Blue, "Blue", "蓝", 0, 0, 255, 6, 1000000, "±0.25%"},
    {Color::Purple, "Purple", "紫", 128, 0, 128, 7, 10000000, "±0.1%"},
    {Color::Gray, "Gray", "灰", 128, 128, 128, 8, 100000000, nullptr},
    {Color::White, "White", "白", 255, 255, 255, 9, 1000000000, "+5~-20%"},
    {Color::Gold, "Gold", "金", 128, 128, 0, -1, 0.1, "±5%"},
    {Color::Silver, "Silver", "银", 192, 192, 192, -1, 0.01, "±10%"},
    {Color::None, "None", "无", 0, 0, 0, -1, 0, "±20%"},
}};

const Color kDigitColors[10] = {Color::Black, Color::Brown, Color::Red,    Color::Orange, Color::Yellow,
                                Color::Green, Color::Blue,  Color::Purple, Color::Gray,   Color::White};

PaletteButton makeButton(int column, int row, Color color, const char* nameColor, bool blank)
{
    const ColorInfo& ci = info(color);
    return {column, row, color, std::string("sb") + std::to_string(column) + nameColor,
            blank ? std::string() : std::string("█") + ci.name};
}

} // namespace

const ColorInfo& info(Color c) { return kColors[static_cast<size_t>(c)]; }

const std::vector<PaletteButton>& palette()
{
    static const std::vector<PaletteButton> buttons = [] {
        std::vector<PaletteButton> v;
        for (int column = 1; column <= 4; ++column) {
            for (int row = 0; row < 10; ++row)
                v.push_back(makeButton(column, row, kDigitColors[row], info(kDigitColors[row]).englishName, false));
            if (column == 4) {
                v.push_back(makeButton(4, 10, Color::Gold, "Gold", false));
                v.push_back(makeButton(4, 11, Color::Silver, "Silver", false));
            }
        }
        // Tolerance column: the rows of colours without a tolerance hold
        // gold, silver or a blank "no band" button instead.
        v.push_back(makeButton(5, 0, Color::None, "Black", true));
        v.push_back(makeButton(5, 1, Color::Brown, "Brown", false));
        v.push_back(makeButton(5, 2, Color::Red, "Red", false));
        v.push_back(makeButton(5, 3, Color::Gold, "Gold", false));
        v.push_back(makeButton(5, 4, Color::Silver, "Silver", false));
        v.push_back(makeButton(5, 5, Color::Green, "Green", false));
        v.push_back(makeButton(5, 6, Color::Blue, "Blue", false));
        v.push_back(makeButton(5, 7, Color::Purple, "Purple", false));
        v.push_back(makeButton(5, 8, Color::None, "Gray", true));
        v.push_back(makeButton(5, 9, Color::White, "White", false));
        return v;
    }();
    return buttons;
}

bool hasButton(int column, Color color)
{
    const auto& all = palette();
    return std::any_of(all.begin(), all.end(),
                       [&](const PaletteButton& b) { return b.column == column && b.color == color; });
}

std::vector<int> bandColumns(bool fiveBand) { return fiveBand ? std::vector{1, 2, 3, 4, 5} : std::vector{1, 2, 4, 5}; }

std::optional<Color> colorByName(std::string_view name)
{
    const std::string_view t = trimmed(name);
    for (const ColorInfo& ci : kColors)
        if (t == ci.name || equalsNoCase(t, ci.englishName)) return ci.color;
    if (equalsNoCase(t, "grey")) return Color::Gray;
    if (equalsNoCase(t, "violet")) return Color::Purple;
    return std::nullopt;
}

void Decoder::select(int column, Color color)
{
    const ColorInfo& ci = info(color);
    switch (column) {
    case 1: first = ci.digit; break;
    case 2: second = ci.digit; break;
    case 3: third = ci.digit; break;
    case 4: multiplier = ci.multiplier; break;
    case 5: tolerance = ci.tolerance; break;
    default: break;
    }
}

int Decoder::significant(bool fiveBand) const
{
    return fiveBand ? 100 * first + 10 * second + third : 10 * first + second;
}

double Decoder::ohms(bool fiveBand) const { return significant(fiveBand) * multiplier; }

std::string Decoder::valueText(bool fiveBand, Unit unit) const
{
    const double v = ohms(fiveBand);
    double shown = v;
    // The unit factor is applied in extended precision and the product rounded back.
    if (unit == Unit::KOhm) shown = static_cast<double>(static_cast<long double>(v) * 0.001L);
    if (unit == Unit::MOhm) shown = static_cast<double>(static_cast<long double>(v) * 0.000001L);
    return formatG(shown);
}

std::string Decoder::precisionText() const { return "精度: " + tolerance; }

std::string referenceText()
{
    return "一、常用电阻器的标志方法:\n"
           "1. 直标法：在电阻体上直接印出阻值和允许偏差，如 5.1kΩ±5%。\n"
           "2. 文字符号法（三位数码）：前两位是有效数字，第三位是 10 的幂次，"
           "单位为欧；R 表示小数点。如 103 = 10×10³ Ω = 10kΩ，4R7 = 4.7Ω。\n"
           "3. 色环法：四环电阻前两环为有效数字，第三环为倍率，第四环为误差；"
           "五环电阻前三环为有效数字，第四环为倍率，第五环为误差。\n"
           "\n"
           "颜色\t数字\t倍率\t误差\n"
           "黑\t0\t×1\t-\n"
           "棕\t1\t×10\t±1%\n"
           "红\t2\t×100\t±2%\n"
           "橙\t3\t×1k\t-\n"
           "黄\t4\t×10k\t-\n"
           "绿\t5\t×100k\t±0.5%\n"
           "蓝\t6\t×1M\t±0.25%\n"
           "紫\t7\t×10M\t±0.1%\n"
           "灰\t8\t×100M\t-\n"
           "白\t9\t×1G\t+5~-20%\n"
           "金\t-\t×0.1\t±5%\n"
           "银\t-\t×0.01\t±10%\n"
           "无色\t-\t-\t±20%\n"
           "\n"
           "例1：棕 黑 红 金（四环）= 10×100 Ω = 1kΩ，误差 ±5%。\n"
           "例2：棕 黑 绿 棕 棕（五环）= 105×10 Ω = 1.05kΩ，误差 ±1%。\n"
           "\n"
           "二、电阻器的正确选用\n"
           "1. 标称阻值系列：阻值按下列系列的数值乘以 10 的整数次幂生产。\n"
           "E24（±5%）：1.0 1.1 1.2 1.3 1.5 1.6 1.8 2.0 2.2 2.4 2.7 3.0 "
           "3.3 3.6 3.9 4.3 4.7 5.1 5.6 6.2 6.8 7.5 8.2 9.1\n"
           "E12（±10%）：1.0 1.2 1.5 1.8 2.2 2.7 3.3 3.9 4.7 5.6 6.8 8.2\n"
           "E6（±20%）：1.0 1.5 2.2 3.3 4.7 6.8\n"
           "2. 额定功率：常用 1/16W、1/8W、1/4W、1/2W、1W、2W、3W、5W、10W；"
           "选用时额定功率应比电路中实际消耗的功率大 1.5～2 倍。\n"
           "3. 精度：一般电路选 ±5%，精密电路（如分压采样、基准）选 ±1% 或更高。\n";
}

} // namespace quillon::resistor
