// The three CRCs, fed in two pieces on both code paths, against bit-by-bit
// references.
#include "tools/hexbin/crc.h"

#include <string_view>

using namespace quillon::hexbin;

namespace {

uint32_t crc16Bitwise(std::string_view s, uint16_t poly)
{
    uint32_t crc = 0;
    for (unsigned char b : s)
        for (int mask = 0x80; mask; mask >>= 1) {
            const bool top = crc & 0x8000;
            crc = (crc << 1) & 0xFFFF;
            if (top != bool(b & mask)) crc ^= poly;
        }
    return crc;
}

uint32_t crc32Bitwise(std::string_view s)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : s) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const size_t cut = (size_t(data[0]) << 8 | data[1]) % (size - 1);
    const std::string_view s(reinterpret_cast<const char*>(data + 2), size - 2);
    const uint32_t want[] = {crc16Bitwise(s, 0x1021), crc16Bitwise(s, 0x8005), crc32Bitwise(s)};
    const CrcKind kinds[] = {CrcKind::Ccitt, CrcKind::Crc16, CrcKind::Crc32};
    for (bool tables : {false, true}) {
        crcForceTables(tables);
        for (int k = 0; k < 3; ++k) {
            if (crcOf(kinds[k], s) != want[k]) __builtin_trap();
            Crc c(kinds[k]);
            c.update(s.substr(0, cut));
            c.update(s.substr(cut));
            if (c.value() != want[k]) __builtin_trap();
        }
    }
    crcForceTables(false);
    return 0;
}
