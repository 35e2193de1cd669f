// LED pattern strings: a segment map stored as its string reads back whole,
// and any string reads as at most one valid position per segment.
#include "tools/led/led_codes.h"

using namespace quillon::led;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const LedType type = LedType(data[0] % 3);
    const size_t n = size_t(segmentCount(type));
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

    const PatternRead any = readPattern(type, rest);
    if (any.onScreen.size() > n || any.complete != (any.onScreen.size() == n)) __builtin_trap();
    for (int32_t p : any.onScreen)
        if (!isValidPosition(p)) __builtin_trap();

    std::vector<int32_t> positions;
    for (size_t i = 0; i < n; ++i) positions.push_back(i < rest.size() ? uint8_t(rest[i]) % 16 : int32_t(i));
    const std::string s = patternString(type, positions);
    const PatternRead back = readPattern(type, s);
    if (!back.complete || back.onScreen.size() != n) __builtin_trap();
    for (size_t i = 0; i < n; ++i)
        if (back.onScreen[i] != positions[n - 1 - i]) __builtin_trap();
    return 0;
}
