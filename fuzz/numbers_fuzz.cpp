// The number rules of every input field, against plain readings of them,
// and the float and hex formatting read back.
#include "common/numbers.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <regex>

using namespace quillon;

namespace {

std::optional<int32_t> wholeReference(std::string s)
{
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.erase(0, 1);
    }
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const std::string digits = hex ? s.substr(2) : s;
    if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
        return std::nullopt;
    const size_t first = digits.find_first_not_of('0');
    const std::string significant = first == std::string::npos ? "0" : digits.substr(first);
    if (significant.size() > (hex ? 8u : 10u)) return std::nullopt;
    const unsigned long long v = std::strtoull(significant.c_str(), nullptr, hex ? 16 : 10);
    if (hex) return int32_t(uint32_t(negative ? 0 - uint32_t(v) : uint32_t(v)));
    if (v > (negative ? 2147483648ull : 2147483647ull)) return std::nullopt;
    return int32_t(negative ? -int64_t(v) : int64_t(v));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 64) return 0;
    const std::string s(reinterpret_cast<const char*>(data), size);
    if (parseWholeNumber(s) != wholeReference(s)) __builtin_trap();
    if (parseHexField(s) != wholeReference("0x" + s)) __builtin_trap();

    static const std::regex decimal(R"(^[ \t]*([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?)[ \t]*$)");
    std::smatch m;
    const auto got = parseDecimal(s);
    if (std::regex_match(s, m, decimal)) {
        const long double v = std::strtold(m[1].str().c_str(), nullptr);
        if (std::isfinite(v) ? (!got || *got != v) : got.has_value()) __builtin_trap();
    } else if (got) {
        __builtin_trap();
    }

    if (size >= 8) {
        double d;
        std::memcpy(&d, data, 8);
        if (std::isfinite(d)) {
            // Compared in long double: fifteen digits of a value next to the
            // largest double round to just above it.
            const auto back = parseDecimal(formatFloat(d));
            if (!back || std::fabs(*back - static_cast<long double>(d)) > std::fabs(d) * 1e-14L) __builtin_trap();
        }
        uint32_t u;
        std::memcpy(&u, data, 4);
        const int digits = data[4] % 12;
        const std::string h = hexN(u, digits);
        if (h.size() < size_t(digits) || h.find_first_not_of("0123456789ABCDEF") != std::string::npos ||
            std::strtoul(h.c_str(), nullptr, 16) != u)
            __builtin_trap();
    }
    return 0;
}
