#include "tools/hexbin/bin_to_hex.h"

#include "common/file_io.h"
#include "common/numbers.h"
#include "common/text.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace quillon::hexbin {

namespace {

// Two upper-case digits per byte value, copied in one go.
struct HexPairs {
    char v[256][2];
    HexPairs()
    {
        const char digits[] = "0123456789ABCDEF";
        for (int i = 0; i < 256; ++i) {
            v[i][0] = digits[i >> 4];
            v[i][1] = digits[i & 0xF];
        }
    }
};
const HexPairs kPairs;

inline char* putHex2(char* p, unsigned v)
{
    std::memcpy(p, kPairs.v[v & 0xFF], 2);
    return p + 2;
}

} // namespace

std::optional<uint32_t> parseStartAddress(std::string_view text)
{
    std::string t = trim(text);
    if (!(t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))) t = "0x" + t;
    const auto v = parseWholeNumber(t);
    if (!v) return std::nullopt;
    // Hex fields use all 32 bits; a sign has no place in an address.
    if (t.find_first_of("+-") != std::string::npos) return std::nullopt;
    return static_cast<uint32_t>(*v);
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen bytes to 32 upper-case digits with two table shuffles; returns the
// byte sum for the checksum.
__attribute__((target("ssse3"))) static unsigned format16(const uint8_t* data, char* out)
{
    const __m128i lut = _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
    const __m128i mask = _mm_set1_epi8(0x0F);
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
    const __m128i hi = _mm_shuffle_epi8(lut, _mm_and_si128(_mm_srli_epi16(v, 4), mask));
    const __m128i lo = _mm_shuffle_epi8(lut, _mm_and_si128(v, mask));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(hi, lo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi8(hi, lo));
    const __m128i sums = _mm_sad_epu8(v, _mm_setzero_si128());
    return static_cast<unsigned>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
}

static bool haveSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

char* HexEncoder::emitRecord(const uint8_t* data, unsigned count, char* p)
{
    if (address_ >= 0x100000000ull) {
        overflow_ = true;
        return p;
    }
    const uint32_t seg = static_cast<uint32_t>(address_ >> 16);
    if (seg != segment_) {
        // ":02000004" + segment + checksum
        segment_ = seg;
        std::memcpy(p, ":02000004", 9);
        p = putHex2(p + 9, seg >> 8);
        p = putHex2(p, seg & 0xFF);
        p = putHex2(p, (0x100 - ((2 + 4 + (seg >> 8) + (seg & 0xFF)) & 0xFF)) & 0xFF);
        *p++ = '\r';
        *p++ = '\n';
    }
    const unsigned lo = static_cast<unsigned>(address_ & 0xFFFF);
    *p++ = ':';
    p = putHex2(p, count);
    p = putHex2(p, lo >> 8);
    p = putHex2(p, lo & 0xFF);
    *p++ = '0';
    *p++ = '0';
    unsigned sum = count + (lo >> 8) + (lo & 0xFF);
#if defined(__x86_64__) || defined(__i386__)
    if (count == 16 && haveSsse3()) {
        sum += format16(data, p);
        p += 32;
    } else
#endif
    {
        for (unsigned i = 0; i < count; ++i) {
            sum += data[i];
            p = putHex2(p, data[i]);
        }
    }
    p = putHex2(p, (0x100 - (sum & 0xFF)) & 0xFF);
    *p++ = '\r';
    *p++ = '\n';
    address_ += count;
    return p;
}

// Room for a segment record (17) and a full data record (45).
constexpr std::size_t kRecordRoom = 64;

void HexEncoder::add(std::string_view bytes, std::string& out)
{
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    std::size_t n = bytes.size();
    // Records of this call: every 16 bytes, plus the pending ones and
    // boundary cuts; the text goes straight into the string.
    const std::size_t old = out.size();
    out.resize(old + (n / 16 + 2 + n / 0x10000 * 2) * kRecordRoom);
    char* q = out.data() + old;
    // A record never crosses a 64 KiB boundary; below 0x10000 nothing is cut.
    auto room = [&] {
        const uint64_t toBoundary = 0x10000 - (address_ & 0xFFFF);
        return address_ + 16 <= 0x10000 ? 16u : static_cast<unsigned>(std::min<uint64_t>(16, toBoundary));
    };
    while (n > 0) {
        const unsigned want = room();
        if (pendingCount_ == 0 && n >= want) {
            q = emitRecord(p, want, q);
            p += want;
            n -= want;
            continue;
        }
        const unsigned take = static_cast<unsigned>(std::min<std::size_t>(want - pendingCount_, n));
        std::copy(p, p + take, pending_ + pendingCount_);
        pendingCount_ += take;
        p += take;
        n -= take;
        if (pendingCount_ == want) {
            q = emitRecord(pending_, want, q);
            pendingCount_ = 0;
        }
    }
    out.resize(static_cast<std::size_t>(q - out.data()));
}

void HexEncoder::finish(std::string& out)
{
    if (pendingCount_ > 0) {
        const std::size_t old = out.size();
        out.resize(old + kRecordRoom);
        char* q = emitRecord(pending_, pendingCount_, out.data() + old);
        out.resize(static_cast<std::size_t>(q - out.data()));
    }
    pendingCount_ = 0;
    out.append(":00000001FF\r\n");
}

BinToHexOutcome binToHex(const std::string& source, const std::string& target, std::optional<uint32_t> start)
{
    InputFile in;
    if (!in.open(source)) return BinToHexOutcome::SourceOpenFailed;
    OutputFile out;
    // Creating the target would empty a source given twice.
    if (in.isSameFile(target) || !out.create(target)) return BinToHexOutcome::TargetOpenFailed;
    return binToHex(in, out, start);
}

BinToHexOutcome binToHex(InputFile& in, OutputFile& out, std::optional<uint32_t> start)
{
    // An image that would run past the 32-bit address space is refused before
    // anything is written, like an address that cannot be read.
    if (!start || *start + in.size() > 0x100000000ull) {
        out.close();
        return BinToHexOutcome::BadAddress;
    }
    HexEncoder enc(*start);
    std::string text;
    text.reserve(kBlockSize * 3);
    for (std::string_view block = in.readBlock(); !block.empty(); block = in.readBlock()) {
        enc.add(block, text);
        if (!enc.fits()) {
            out.close();
            return BinToHexOutcome::BadAddress;
        }
        out.append(text);
        text.clear();
    }
    enc.finish(text);
    if (!enc.fits()) {
        out.close();
        return BinToHexOutcome::BadAddress;
    }
    out.append(text);
    out.close();
    return BinToHexOutcome::Done;
}

} // namespace quillon::hexbin
