#include "tools/hexbin/intel_hex.h"

#include "common/file_io.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillon::hexbin {

namespace {

constexpr std::array<int8_t, 256> makeDigitTable()
{
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<int8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<int8_t>(c - 'a' + 10);
    return t;
}

constexpr std::array<int8_t, 256> kDigit = makeDigitTable();

inline int digitAt(std::string_view s, std::size_t i) { return i < s.size() ? kDigit[static_cast<uint8_t>(s[i])] : -1; }

// Byte from the two characters at index i, or -1 if either is not a digit.
inline int byteAt(std::string_view s, std::size_t i)
{
    int hi = digitAt(s, i), lo = digitAt(s, i + 1);
    return (hi < 0 || lo < 0) ? -1 : hi * 16 + lo;
}

// Byte value of two adjacent characters, or -1 if either is not a hex digit.
// Two lookups in a 256-entry table stay in the L1 cache.
inline int pairAt(const char* p)
{
    const int hi = kDigit[static_cast<uint8_t>(p[0])];
    const int lo = kDigit[static_cast<uint8_t>(p[1])];
    return (hi | lo) < 0 ? -1 : hi * 16 + lo;
}

#if defined(__SSE2__)
// Sixteen digits at p become eight bytes at out, added to sum. Nothing is
// written and false returned when any of the sixteen is not a hex digit, so
// the byte-wise loop can find where the digit run ends.
inline bool decode16(const char* p, uint8_t* out, unsigned& sum)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i d = _mm_sub_epi8(c, _mm_set1_epi8('0'));
    const __m128i a = _mm_sub_epi8(_mm_or_si128(c, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    // x <= n as unsigned bytes: saturating x - n is zero.
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_subs_epu8(d, _mm_set1_epi8(9)), zero);
    const __m128i isLetter = _mm_cmpeq_epi8(_mm_subs_epu8(a, _mm_set1_epi8(5)), zero);
    if (_mm_movemask_epi8(_mm_or_si128(isDigit, isLetter)) != 0xFFFF) return false;
    const __m128i value =
        _mm_or_si128(_mm_and_si128(isDigit, d), _mm_andnot_si128(isDigit, _mm_add_epi8(a, _mm_set1_epi8(10))));
    // Each 16-bit lane holds a pair: the first digit (high nibble) in its low byte.
    const __m128i high = _mm_and_si128(value, _mm_set1_epi16(0x00FF));
    const __m128i low = _mm_srli_epi16(value, 8);
    const __m128i bytes = _mm_packus_epi16(_mm_or_si128(_mm_slli_epi16(high, 4), low), zero);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
    sum += static_cast<unsigned>(_mm_cvtsi128_si32(_mm_sad_epu8(bytes, zero)));
    return true;
}
#endif

} // namespace

RecordCheck checkRecord(std::string_view piece, bool extended, HexRecord& rec)
{
    if (piece.empty() || piece[0] != ':') return RecordCheck::Skip;
    // rec.bytes holds one read's worth of digits; never look further.
    if (piece.size() > kHexLineChars) piece = piece.substr(0, kHexLineChars);
    // Indices below are 0-based: the colon is at 0, the type at 7..8.
    rec.type = byteAt(piece, 7);
    if (rec.type == 1) return RecordCheck::EndOfFile;
    const bool known = rec.type == 0 || (extended && rec.type >= 2 && rec.type <= 5);
    if (!known) return RecordCheck::UnknownType;

    // The checksum covers the digits from the length field up to the first
    // non-digit: the sum of all bytes of a good record is 0 modulo 256.
    // The bytes are kept on the way, so the data need no second pass.
    const char* p = piece.data();
    std::size_t end = 1;
    unsigned sum = 0;
    std::size_t count = 0;
#if defined(__SSE2__)
    while (end + 16 <= piece.size() && decode16(p + end, rec.bytes + count, sum)) {
        end += 16;
        count += 8;
    }
#endif
    for (; end + 1 < piece.size(); end += 2) {
        const int v = pairAt(p + end);
        if (v < 0) break;
        sum += static_cast<unsigned>(v);
        rec.bytes[count++] = static_cast<uint8_t>(v);
    }
    // A lone digit before the first non-digit counts as a high nibble.
    if (int hi = digitAt(piece, end); hi >= 0) {
        sum += static_cast<unsigned>(hi * 16);
        ++end;
    }
    if (sum % 256 != 0) return RecordCheck::BadChecksum;

    // Data come from this piece only: a record cut short is refused.
    if (count < 4 || count < 4 + std::size_t(rec.bytes[0])) return RecordCheck::BadChecksum;
    rec.length = rec.bytes[0];
    rec.address = static_cast<uint16_t>(rec.bytes[1] << 8 | rec.bytes[2]);
    rec.data = rec.bytes + 4;
    rec.digits = piece.substr(9, 2 * std::size_t(rec.length));
    return RecordCheck::Data;
}

HexToBinResult hexToBin(const std::string& source, const std::string& target, const HexToBinOptions& options)
{
    HexToBinResult result;
    InputFile in;
    if (!in.open(source)) {
        result.outcome = HexToBinOutcome::SourceOpenFailed;
        return result;
    }
    OutputFile out;
    // Creating the target would empty a source given twice.
    if (in.isSameFile(target) || !out.create(target)) {
        result.outcome = HexToBinOutcome::TargetOpenFailed;
        return result;
    }
    return hexToBin(in, out, options);
}

HexToBinResult hexToBin(InputFile& in, OutputFile& out, const HexToBinOptions& options)
{
    HexToBinResult result;
    LineReader lines(in, kHexLineChars);
    std::string_view piece;
    HexRecord rec;
    uint64_t base = 0; // from address records (extended mode only)
    result.outcome = HexToBinOutcome::NoEndRecord;
    while (lines.next(piece)) {
        if (lines.continuesLine()) continue;
        if (!piece.empty() && piece.back() == '\n') piece.remove_suffix(1);
        const RecordCheck check = checkRecord(piece, options.extended, rec);
        if (check == RecordCheck::Skip) continue;
        if (check == RecordCheck::EndOfFile) {
            result.outcome = HexToBinOutcome::Done;
            break;
        }
        if (check == RecordCheck::UnknownType || check == RecordCheck::BadChecksum) {
            result.outcome =
                check == RecordCheck::UnknownType ? HexToBinOutcome::UnknownType : HexToBinOutcome::BadChecksum;
            result.line = lines.lineNumber();
            break;
        }
        if (rec.type != 0) {
            // Address records carry a 16-bit value; start addresses are not
            // part of an image.
            if ((rec.type == 2 || rec.type == 4) && rec.length >= 2) {
                const uint64_t value = uint64_t(rec.data[0]) << 8 | rec.data[1];
                base = rec.type == 2 ? value << 4 : value << 16;
            }
            continue;
        }
        const uint64_t a = base + rec.address;
        if (a + rec.length > options.maxImageSize) {
            result.outcome = HexToBinOutcome::ImageTooLarge;
            result.neededSize = a + rec.length;
            result.line = lines.lineNumber();
            break;
        }
        const uint64_t e = out.size();
        const std::string_view bytes(reinterpret_cast<const char*>(rec.data), rec.length);
        if (a > e) out.appendFill(options.fill, a - e);
        if (a >= out.size())
            out.append(bytes);
        else
            out.writeAt(a, bytes);
    }
    result.imageSize = out.size();
    out.close();
    return result;
}

} // namespace quillon::hexbin
