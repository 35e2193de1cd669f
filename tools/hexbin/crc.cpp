#include "tools/hexbin/crc.h"

#include "common/file_io.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUILLON_HAVE_X86 1
#endif

namespace quillon::hexbin {

namespace {

constexpr uint16_t kPolyCcitt = 0x1021;
constexpr uint16_t kPoly16 = 0x8005;
constexpr uint32_t kPoly32Reflected = 0xEDB88320u;

// Slicing-by-8: table k gives the CRC of one byte followed by k zero bytes.
struct Tables16 {
    std::array<std::array<uint16_t, 256>, 8> t{};
    explicit Tables16(uint16_t poly)
    {
        for (unsigned v = 0; v < 256; ++v) {
            uint16_t crc = static_cast<uint16_t>(v << 8);
            for (int b = 0; b < 8; ++b) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ poly : crc << 1);
            t[0][v] = crc;
        }
        for (int k = 1; k < 8; ++k)
            for (unsigned v = 0; v < 256; ++v) {
                uint16_t c = t[k - 1][v];
                t[k][v] = static_cast<uint16_t>((c << 8) ^ t[0][c >> 8]);
            }
    }
};

struct Tables32 {
    std::array<std::array<uint32_t, 256>, 8> t{};
    Tables32()
    {
        for (uint32_t v = 0; v < 256; ++v) {
            uint32_t crc = v;
            for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ kPoly32Reflected : crc >> 1;
            t[0][v] = crc;
        }
        for (int k = 1; k < 8; ++k)
            for (unsigned v = 0; v < 256; ++v) {
                uint32_t c = t[k - 1][v];
                t[k][v] = (c >> 8) ^ t[0][c & 0xFF];
            }
    }
};

const Tables16& tablesCcitt()
{
    static const Tables16 tables(kPolyCcitt);
    return tables;
}
const Tables16& tables16()
{
    static const Tables16 tables(kPoly16);
    return tables;
}
const Tables32& tables32()
{
    static const Tables32 tables;
    return tables;
}

uint32_t load32le(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

uint16_t update16Tables(const Tables16& tb, uint16_t crc, const uint8_t* p, std::size_t n)
{
    const auto& t = tb.t;
    while (n >= 8) {
        unsigned c = crc ^ ((unsigned(p[0]) << 8) | p[1]);
        crc = static_cast<uint16_t>(t[7][c >> 8] ^ t[6][c & 0xFF] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^
                                    t[1][p[6]] ^ t[0][p[7]]);
        p += 8;
        n -= 8;
    }
    while (n--) crc = static_cast<uint16_t>((crc << 8) ^ t[0][(crc >> 8) ^ *p++]);
    return crc;
}

uint32_t update32Tables(uint32_t crc, const uint8_t* p, std::size_t n)
{
    const auto& t = tables32().t;
    while (n >= 8) {
        uint32_t c = crc ^ load32le(p);
        uint32_t d = load32le(p + 4);
        crc = t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^ t[3][d & 0xFF] ^
              t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
        p += 8;
        n -= 8;
    }
    while (n--) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    return crc;
}

bool forceTables = false;

#ifdef QUILLON_HAVE_X86

// Carry-less-multiply folding. Blocks of 16 bytes are folded forward onto
// later blocks with constants x^k mod P, so the whole input shrinks to one
// 16-byte remainder whose CRC (plus the tail) the tables finish.

// x^n mod P, P of degree `deg` given with its top bit.
uint64_t xPowMod(unsigned n, uint64_t fullPoly, unsigned deg)
{
    uint64_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if (r & (uint64_t(1) << deg)) r ^= fullPoly;
    }
    return r;
}

uint64_t reverse64(uint64_t v)
{
    uint64_t r = 0;
    for (int i = 0; i < 64; ++i)
        if (v & (uint64_t(1) << i)) r |= uint64_t(1) << (63 - i);
    return r;
}

// The constant each register half is multiplied by, per folding distance.
struct FoldKeys {
    uint64_t lo512, hi512, lo128, hi128;
};

// Most-significant-bit-first CRC: register bit j holds the coefficient of x^j.
FoldKeys keysMsbFirst(uint16_t poly)
{
    const uint64_t full = 0x10000u | poly;
    return {xPowMod(512, full, 16), xPowMod(512 + 64, full, 16), xPowMod(128, full, 16), xPowMod(128 + 64, full, 16)};
}

// Reflected CRC: register bit j holds the coefficient of x^(127-j); the
// multiply of reflected operands lands one bit low, hence the exponents - 1.
FoldKeys keysReflected()
{
    const uint64_t full = 0x104C11DB7ull;
    return {reverse64(xPowMod(512 + 63, full, 32)), reverse64(xPowMod(512 - 1, full, 32)),
            reverse64(xPowMod(128 + 63, full, 32)), reverse64(xPowMod(128 - 1, full, 32))};
}

__attribute__((target("pclmul,sse4.1,ssse3"))) inline __m128i fold(__m128i x, __m128i keys)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, keys, 0x00), _mm_clmulepi64_si128(x, keys, 0x11));
}

// Folds whole 16-byte blocks of p[0, n) (n >= 64) and leaves the 16-byte
// remainder in `out`; returns the number of bytes consumed. `reflect` = no
// byte swap (reflected CRC); `seed` is XORed into the first block.
__attribute__((target("pclmul,sse4.1,ssse3"))) std::size_t foldBlocks(const uint8_t* p, std::size_t n, bool swap,
                                                                      __m128i seed, const FoldKeys& k, uint8_t out[16])
{
    const __m128i bswap = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i order = swap ? bswap : _mm_set_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
#define load(q) _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), order)
    const __m128i k512 = _mm_set_epi64x(int64_t(k.hi512), int64_t(k.lo512));
    const __m128i k128 = _mm_set_epi64x(int64_t(k.hi128), int64_t(k.lo128));
    const uint8_t* start = p;
    __m128i x0 = _mm_xor_si128(load(p), seed);
    __m128i x1 = load(p + 16);
    __m128i x2 = load(p + 32);
    __m128i x3 = load(p + 48);
    p += 64;
    n -= 64;
    while (n >= 64) {
        x0 = _mm_xor_si128(fold(x0, k512), load(p));
        x1 = _mm_xor_si128(fold(x1, k512), load(p + 16));
        x2 = _mm_xor_si128(fold(x2, k512), load(p + 32));
        x3 = _mm_xor_si128(fold(x3, k512), load(p + 48));
        p += 64;
        n -= 64;
    }
    __m128i x = _mm_xor_si128(fold(x0, k128), x1);
    x = _mm_xor_si128(fold(x, k128), x2);
    x = _mm_xor_si128(fold(x, k128), x3);
    while (n >= 16) {
        x = _mm_xor_si128(fold(x, k128), load(p));
        p += 16;
        n -= 16;
    }
#undef load
    x = _mm_shuffle_epi8(x, order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), x);
    return static_cast<std::size_t>(p - start);
}

bool cpuHasClmul()
{
    static const bool has =
        __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("ssse3");
    return has;
}

constexpr std::size_t kClmulMin = 128;

__attribute__((target("pclmul,sse4.1,ssse3"))) uint16_t update16Clmul(const Tables16& tb, const FoldKeys& keys,
                                                                      uint16_t crc, const uint8_t* p, std::size_t n)
{
    // The 16-bit state lines up with the first two message bytes (top of the register).
    const __m128i seed = _mm_set_epi64x(int64_t(uint64_t(crc) << 48), 0);
    uint8_t rest[16];
    std::size_t used = foldBlocks(p, n, true, seed, keys, rest);
    uint16_t c = update16Tables(tb, 0, rest, 16);
    return update16Tables(tb, c, p + used, n - used);
}

__attribute__((target("pclmul,sse4.1,ssse3"))) uint32_t update32Clmul(const FoldKeys& keys, uint32_t crc,
                                                                      const uint8_t* p, std::size_t n)
{
    const __m128i seed = _mm_cvtsi32_si128(int(crc));
    uint8_t rest[16];
    std::size_t used = foldBlocks(p, n, false, seed, keys, rest);
    uint32_t c = update32Tables(0, rest, 16);
    return update32Tables(c, p + used, n - used);
}

#endif

uint16_t update16(uint16_t poly, uint16_t crc, const uint8_t* p, std::size_t n)
{
    const Tables16& tb = poly == kPolyCcitt ? tablesCcitt() : tables16();
#ifdef QUILLON_HAVE_X86
    if (n >= kClmulMin && !forceTables && cpuHasClmul()) {
        static const FoldKeys keysCcitt = keysMsbFirst(kPolyCcitt);
        static const FoldKeys keys16 = keysMsbFirst(kPoly16);
        return update16Clmul(tb, poly == kPolyCcitt ? keysCcitt : keys16, crc, p, n);
    }
#endif
    return update16Tables(tb, crc, p, n);
}

uint32_t update32(uint32_t crc, const uint8_t* p, std::size_t n)
{
#ifdef QUILLON_HAVE_X86
    if (n >= kClmulMin && !forceTables && cpuHasClmul()) {
        static const FoldKeys keys = keysReflected();
        return update32Clmul(keys, crc, p, n);
    }
#endif
    return update32Tables(crc, p, n);
}

} // namespace

Crc::Crc(CrcKind kind) : kind_(kind), state_(kind == CrcKind::Crc32 ? 0xFFFFFFFFu : 0u) {}

void Crc::update(const void* data, std::size_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    switch (kind_) {
    case CrcKind::Ccitt: state_ = update16(kPolyCcitt, static_cast<uint16_t>(state_), p, size); break;
    case CrcKind::Crc16: state_ = update16(kPoly16, static_cast<uint16_t>(state_), p, size); break;
    case CrcKind::Crc32: state_ = update32(state_, p, size); break;
    }
}

uint32_t Crc::value() const { return kind_ == CrcKind::Crc32 ? state_ ^ 0xFFFFFFFFu : state_; }

uint32_t crcOf(CrcKind kind, std::string_view bytes)
{
    Crc crc(kind);
    crc.update(bytes);
    return crc.value();
}

std::optional<uint32_t> crcOfFile(const std::string& path, CrcKind kind)
{
    InputFile in;
    if (!in.open(path)) return std::nullopt;
    Crc crc(kind);
    in.forEachBlock([&](std::string_view block) { crc.update(block); });
    return crc.value();
}

std::string crcText(CrcKind kind, uint32_t value)
{
    static const char digits[] = "0123456789ABCDEF";
    const int n = kind == CrcKind::Crc32 ? 8 : 4;
    std::string s(n, '0');
    for (int i = n - 1; i >= 0; --i, value >>= 4) s[i] = digits[value & 0xF];
    return s;
}

bool crcUsesClmul()
{
#ifdef QUILLON_HAVE_X86
    return !forceTables && cpuHasClmul();
#else
    return false;
#endif
}

void crcForceTables(bool force) { forceTables = force; }

} // namespace quillon::hexbin
