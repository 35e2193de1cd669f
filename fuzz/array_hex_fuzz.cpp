// Source array of a HEX file: the data digits of the records in file order,
// as typed, until the end record or the first bad record.
#include "fuzz/array_reference.h"
#include "fuzz/fuzz_support.h"

using namespace quillon;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const auto style = fuzz::styleFrom(data[0], "DB", "H");
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string path = fuzz::scratchPath("in.hex");
    fuzz::writeFile(path, text);

    hexbin::ArrayOutcome outcome = hexbin::ArrayOutcome::Done;
    std::vector<std::string> digits;
    for (const auto& piece : fuzz::pieces(text)) {
        if (!piece.startsLine) continue;
        fuzz::RefRecord rec;
        const auto c = fuzz::refCheck(fuzz::withoutLineEnd(piece.text, true), false, rec);
        if (c == fuzz::RefCheck::Skip) continue;
        if (c == fuzz::RefCheck::End) break;
        if (c == fuzz::RefCheck::Unknown || c == fuzz::RefCheck::BadSum) {
            outcome =
                c == fuzz::RefCheck::Unknown ? hexbin::ArrayOutcome::UnknownType : hexbin::ArrayOutcome::BadChecksum;
            break;
        }
        for (size_t i = 0; i < rec.digits.size(); i += 2) digits.push_back(rec.digits.substr(i, 2));
    }
    const std::string want = fuzz::referenceArray(style, digits, "\n");
    std::string got;
    const auto r = hexbin::arrayFromHex(path, style, "\n", got);
    if (r.outcome != outcome || got != want) __builtin_trap();
    return 0;
}
