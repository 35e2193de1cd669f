#include "common/numbers.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quillon {

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isBlank(char c) { return c == ' ' || c == '\t'; }

} // namespace

std::optional<int32_t> parseWholeNumber(std::string_view s)
{
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;

    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        uint64_t v = 0;
        for (char c : s) {
            int d = hexDigitValue(c);
            if (d < 0) return std::nullopt;
            v = v * 16 + static_cast<uint64_t>(d);
            if (v > 0xFFFFFFFFull) return std::nullopt;
        }
        auto bits = static_cast<uint32_t>(v);
        if (negative) bits = 0u - bits;
        return static_cast<int32_t>(bits);
    }

    uint64_t v = 0;
    for (char c : s) {
        if (!isDigit(c)) return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 2147483648ull) return std::nullopt;
    }
    if (negative) return static_cast<int32_t>(-static_cast<int64_t>(v));
    if (v > 2147483647ull) return std::nullopt;
    return static_cast<int32_t>(v);
}

std::optional<int32_t> parseHexField(std::string_view text) { return parseWholeNumber("0x" + std::string(text)); }

std::optional<long double> parseDecimal(std::string_view s)
{
    size_t i = 0;
    const size_t n = s.size();
    while (i < n && isBlank(s[i])) ++i;
    const size_t start = i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && isDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && isDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) return std::nullopt;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        size_t expDigits = 0;
        while (i < n && isDigit(s[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0) return std::nullopt;
    }
    const size_t end = i;
    while (i < n && isBlank(s[i])) ++i;
    if (i != n) return std::nullopt;

    // strtold honours the C locale's decimal point, which is '.' unless the
    // process changed it; the text was validated above, so it parses whole.
    std::string body(s.substr(start, end - start));
    errno = 0;
    long double v = std::strtold(body.c_str(), nullptr);
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

std::string formatFloat(long double value)
{
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";

    // Round to 15 significant digits first; the exponent is that of the rounded value.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14Le", value);
    // buf: [-]d.dddddddddddddde[+-]xx
    std::string text(buf);
    const bool negative = text[0] == '-';
    if (negative) text.erase(0, 1);
    const size_t ePos = text.find('e');
    int exponent = std::atoi(text.c_str() + ePos + 1);
    std::string digits = text.substr(0, 1) + text.substr(2, ePos - 2);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out;
    if (exponent < -5 || exponent >= 15) {
        out = digits.substr(0, 1);
        if (digits.size() > 1) out += "." + digits.substr(1);
        out += "E" + std::to_string(exponent);
    } else if (exponent < 0) {
        out = "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
        const auto intLen = static_cast<size_t>(exponent + 1);
        if (digits.size() <= intLen) {
            out = digits + std::string(intLen - digits.size(), '0');
        } else {
            out = digits.substr(0, intLen) + "." + digits.substr(intLen);
        }
    }
    return negative ? "-" + out : out;
}

std::string formatG(double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", value);
    return buf;
}

std::string hexN(uint32_t value, int digits)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%0*X", digits < 0 ? 0 : (digits > 32 ? 32 : digits), value);
    return buf;
}

} // namespace quillon
