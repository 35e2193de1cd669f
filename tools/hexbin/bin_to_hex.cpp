#include "tools/hexbin/bin_to_hex.h"

#include "common/numbers.h"
#include "common/text.h"
#include "tools/hexbin/file_io.h"

#include <algorithm>
#include <cstring>

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
    if (!(t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')))
        t = "0x" + t;
    const auto v = parseWholeNumber(t);
    if (!v)
        return std::nullopt;
    // Hex fields use all 32 bits; a sign has no place in an address.
    if (t.find_first_of("+-") != std::string::npos)
        return std::nullopt;
    return static_cast<uint32_t>(*v);
}

void HexEncoder::emitRecord(const uint8_t* data, unsigned count, std::string& out)
{
    if (address_ >= 0x100000000ull) {
        overflow_ = true;
        return;
    }
    // Room for a segment record (17) and a full data record (45).
    const std::size_t old = out.size();
    out.resize(old + 64);
    char* p = out.data() + old;
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
    for (unsigned i = 0; i < count; ++i) {
        sum += data[i];
        p = putHex2(p, data[i]);
    }
    p = putHex2(p, (0x100 - (sum & 0xFF)) & 0xFF);
    *p++ = '\r';
    *p++ = '\n';
    out.resize(static_cast<std::size_t>(p - out.data()));
    address_ += count;
}

void HexEncoder::add(std::string_view bytes, std::string& out)
{
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    std::size_t n = bytes.size();
    // A record never crosses a 64 KiB boundary; below 0x10000 nothing is cut.
    auto room = [&] {
        const uint64_t toBoundary = 0x10000 - (address_ & 0xFFFF);
        return address_ + 16 <= 0x10000 ? 16u : static_cast<unsigned>(std::min<uint64_t>(16, toBoundary));
    };
    while (n > 0) {
        const unsigned want = room();
        if (pendingCount_ == 0 && n >= want) {
            emitRecord(p, want, out);
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
            emitRecord(pending_, want, out);
            pendingCount_ = 0;
        }
    }
}

void HexEncoder::finish(std::string& out)
{
    if (pendingCount_ > 0)
        emitRecord(pending_, pendingCount_, out);
    pendingCount_ = 0;
    out.append(":00000001FF\r\n");
}

BinToHexOutcome binToHex(const std::string& source, const std::string& target, std::optional<uint32_t> start)
{
    InputFile in;
    if (!in.open(source))
        return BinToHexOutcome::SourceOpenFailed;
    OutputFile out;
    // Creating the target would empty a source given twice.
    if (in.isSameFile(target) || !out.create(target))
        return BinToHexOutcome::TargetOpenFailed;
    if (!start) {
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
