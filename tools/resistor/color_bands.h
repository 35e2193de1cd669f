#pragma once
// Colour-band resistor decoding: the colour table, the palette's buttons and
// the resulting value text.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::resistor {

enum class Color { Black, Brown, Red, Orange, Yellow, Green, Blue, Purple, Gray, White, Gold, Silver, None };

struct ColorInfo {
    Color color;
    const char* englishName; // used in button names: sb1Black
    const char* name;        // shown above the band
    uint8_t r, g, b;         // swatch; `None` uses the button face instead
    int digit;               // -1: not a digit colour
    double multiplier;       // 0: not a multiplier colour
    const char* tolerance;   // nullptr: not a tolerance colour
};

const ColorInfo& info(Color c);

// One palette button: column 1-5, row 0-11 from the top, its colour.
// The two blank tolerance buttons (sb5Black, sb5Gray) select `None` but keep
// the colour name of their row in their object name.
struct PaletteButton {
    int column;
    int row;
    Color color;
    std::string objectName; // "sb1Black"
    std::string caption;    // "█黑", empty for the blank buttons
};

// All 52 buttons, column by column, top to bottom.
const std::vector<PaletteButton>& palette();

// Whether column 1-5 of the palette has a button of that colour.
bool hasButton(int column, Color color);

// The palette columns a resistor's bands are read from, first band first:
// 1 2 4 5 with four bands (the third band is the multiplier), 1 to 5 with five.
std::vector<int> bandColumns(bool fiveBand);

// A colour by the name the page shows ("棕") or its English name, in any
// letter case ("brown"; also "grey", "violet", and "none" for no band).
std::optional<Color> colorByName(std::string_view name);

enum class Unit { Ohm, KOhm, MOhm };

struct Decoder {
    int first = 0;
    int second = 1;
    int third = 0;
    double multiplier = 1.0;
    std::string tolerance = "±5%";

    // Applies a palette button of `column` (1-5) with `color`.
    void select(int column, Color color);

    int significant(bool fiveBand) const;
    double ohms(bool fiveBand) const;
    // printf "%g" of the value in the unit.
    std::string valueText(bool fiveBand, Unit unit) const;
    std::string precisionText() const; // "精度: ±5%"
};

// Band-number label texts under the drawn resistor.
inline constexpr const char* kBandNumbers4 = "1   2         3     4";
inline constexpr const char* kBandNumbers5 = "1   2    3   4     5";

// The read-only reference text on resistor marking.
std::string referenceText();

} // namespace quillon::resistor
