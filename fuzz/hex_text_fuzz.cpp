// Hexadecimal send text packed into bytes, against the rule read plainly:
// two adjacent digits make a byte, a lone digit a byte of its own value,
// anything else is skipped and makes the text invalid.
#include "serial/hex_text.h"

#include <cstring>

using namespace quillon;
using namespace quillon::serial;

namespace {
int digit(uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
    return -1;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> want;
    bool valid = true;
    for (size_t i = 0; i < size;) {
        const int a = digit(data[i]);
        const int b = i + 1 < size ? digit(data[i + 1]) : -1;
        if (a >= 0 && b >= 0) {
            want.push_back(uint8_t(a * 16 + b));
            i += 2;
        } else if (a >= 0) {
            want.push_back(uint8_t(a));
            i += 1;
        } else {
            valid = false;
            i += 1;
        }
    }
    std::vector<uint8_t> buf(data, data + size);
    size_t length = size;
    if (HexTextToBytes(buf.data(), length) != valid || length != want.size() ||
        (length && std::memcmp(buf.data(), want.data(), length) != 0))
        __builtin_trap();
    std::vector<uint8_t> v(data, data + size);
    if (HexTextToBytes(v) != valid || v != want) __builtin_trap();
    return 0;
}
