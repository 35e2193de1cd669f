#pragma once
// Reading and writing numbers the way every page of the program does.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// Whole number as typed in a field: optional sign, then decimal digits, or
// hex digits after "0x"/"0X". Decimal must fit a signed 32-bit value; hex may
// use all 32 bits (0xFFFFFFFF reads as -1), as users type masks that way.
// Empty text, blanks or any other character: nullopt.
std::optional<int32_t> parseWholeNumber(std::string_view text);

// Same rule, for fields the user fills in hex without the prefix
// (offsets, start addresses, marks): "0x" is put in front of the text.
std::optional<int32_t> parseHexField(std::string_view text);
// The value of one hexadecimal digit, either case; -1 for any other character.
int hexDigitValue(char c);

// Decimal floating-point text: optional blanks, optional sign, digits with an
// optional '.', optional exponent (E/e, optional sign, digits), optional
// blanks, nothing else. At least one mantissa digit. Non-finite: nullopt.
std::optional<long double> parseDecimal(std::string_view text);

// Shortest text of the value with at most 15 significant digits; exponent
// form ("1E-6", "1.5E20") only below 0.00001 or with more than 15 integer digits.
std::string formatFloat(long double value);

// printf "%g".
std::string formatG(double value);

// Upper-case hex digits, at least `digits` of them (more if the value needs them).
std::string hexN(uint32_t value, int digits);

} // namespace quillon
