// HEX to BIN, plain and extended, against a small reference reader.
#include "fuzz/fuzz_support.h"
#include "tools/hexbin/intel_hex.h"

#include <stdexcept>

using namespace quillon;

namespace {

struct RefResult {
    hexbin::HexToBinOutcome outcome = hexbin::HexToBinOutcome::NoEndRecord;
    std::string image;
};

RefResult reference(std::string_view text, uint8_t fill, bool extended, uint64_t limit)
{
    using O = hexbin::HexToBinOutcome;
    RefResult r;
    uint64_t base = 0;
    for (const auto& piece : fuzz::pieces(text)) {
        if (!piece.startsLine) continue;
        fuzz::RefRecord rec;
        const auto c = fuzz::refCheck(fuzz::withoutLineEnd(piece.text, false), extended, rec);
        if (c == fuzz::RefCheck::Skip) continue;
        if (c == fuzz::RefCheck::End) {
            r.outcome = O::Done;
            return r;
        }
        if (c == fuzz::RefCheck::Unknown) {
            r.outcome = O::UnknownType;
            return r;
        }
        if (c == fuzz::RefCheck::BadSum) {
            r.outcome = O::BadChecksum;
            return r;
        }
        if (rec.type == 2 || rec.type == 4) {
            if (rec.length >= 2) {
                const uint64_t v = uint64_t(rec.data[0]) << 8 | rec.data[1];
                base = rec.type == 2 ? v << 4 : v << 16;
            }
            continue;
        }
        if (rec.type != 0) continue;
        const uint64_t a = base + rec.address;
        if (a + rec.length > limit) {
            r.outcome = O::ImageTooLarge;
            return r;
        }
        if (a > r.image.size()) r.image.append(size_t(a - r.image.size()), char(fill));
        for (unsigned i = 0; i < rec.length; ++i) {
            if (a + i < r.image.size())
                r.image[size_t(a + i)] = char(rec.data[i]);
            else
                r.image.push_back(char(rec.data[i]));
        }
    }
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    hexbin::HexToBinOptions options;
    options.fill = (data[0] & 1) ? 0x00 : 0xFF;
    options.extended = data[0] & 2;
    // Small enough to keep every run fast, large enough for several segments.
    options.maxImageSize = (data[0] & 4) ? (1u << 20) : (3u << 16);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string src = fuzz::scratchPath("in.hex");
    fuzz::writeFile(src, text);
    const std::string dst = fuzz::scratchPath("out.bin");
    const auto got = hexbin::hexToBin(src, dst, options);
    const RefResult want = reference(text, options.fill, options.extended, options.maxImageSize);
    if (got.outcome != want.outcome || fuzz::readFile(dst) != want.image || got.imageSize != want.image.size())
        __builtin_trap();
    return 0;
}
