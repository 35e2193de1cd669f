// BIN to HEX in random pieces: the text is well-formed Intel HEX that a plain
// reader turns back into the same bytes at the same addresses, and the
// pieces do not change it.
#include "fuzz/fuzz_support.h"
#include "tools/hexbin/bin_to_hex.h"

#include <cstring>
#include <map>

using namespace quillon;

namespace {

bool upperHex(std::string_view s)
{
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 6) return 0;
    uint32_t start;
    std::memcpy(&start, data, 4);
    // Mostly near a 64 KiB boundary, where the segment records matter.
    if (data[4] & 1) start = 0xFFFFu * (start >> 16) + (start & 0x3F) - 0x20;
    const unsigned split = data[5];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 6), size - 6);

    hexbin::HexEncoder whole(start);
    std::string text;
    whole.add(bytes, text);
    whole.finish(text);

    hexbin::HexEncoder parts(start);
    std::string pieced;
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = std::min<size_t>(bytes.size() - i, 1 + (split + i) % 37);
        parts.add(bytes.substr(i, n), pieced);
        i += n;
    }
    parts.finish(pieced);
    if (whole.fits() != parts.fits()) __builtin_trap();
    if (!whole.fits()) return 0; // refused by the caller before anything is written
    if (pieced != text || uint64_t(start) + bytes.size() > 0x100000000ull) __builtin_trap();

    // Read back: every line a record with upper-case digits, CR LF, a good
    // checksum; data records at most 16 bytes; addresses from the last 04.
    uint64_t base = 0, expect = start;
    size_t at = 0, pos = 0;
    bool ended = false;
    while (pos < text.size()) {
        const size_t nl = text.find("\r\n", pos);
        if (nl == std::string::npos || ended) __builtin_trap();
        const std::string_view line(text.data() + pos, nl - pos);
        pos = nl + 2;
        if (line.size() < 11 || line[0] != ':' || !upperHex(line.substr(1)) || line.size() % 2 == 0) __builtin_trap();
        std::vector<uint8_t> b;
        unsigned sum = 0;
        for (size_t i = 1; i + 1 < line.size(); i += 2) {
            b.push_back(uint8_t(fuzz::hexDigit(line[i]) * 16 + fuzz::hexDigit(line[i + 1])));
            sum += b.back();
        }
        if (sum % 256 != 0 || b.size() != 5 + size_t(b[0])) __builtin_trap();
        const unsigned addr = unsigned(b[1]) << 8 | b[2];
        if (b[3] == 1) {
            ended = true;
            continue;
        }
        if (b[3] == 4) {
            if (b[0] != 2 || addr != 0) __builtin_trap();
            base = (uint64_t(b[4]) << 8 | b[5]) << 16;
            continue;
        }
        if (b[3] != 0 || b[0] == 0 || b[0] > 16 || base + addr != expect || addr + b[0] > 0x10000) __builtin_trap();
        for (unsigned i = 0; i < b[0]; ++i)
            if (at >= bytes.size() || uint8_t(bytes[at++]) != b[4 + i]) __builtin_trap();
        expect += b[0];
    }
    if (!ended || at != bytes.size()) __builtin_trap();
    return 0;
}
