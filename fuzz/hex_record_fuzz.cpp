// One piece of a HEX file through the record check, against the plain rules.
#include "fuzz/fuzz_support.h"
#include "tools/hexbin/intel_hex.h"

#include <cstring>

using namespace quillon;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const bool extended = data[0] & 1;
    std::string piece(reinterpret_cast<const char*>(data + 1), size - 1);
    if (piece.size() > hexbin::kHexLineChars) piece.resize(hexbin::kHexLineChars);
    hexbin::HexRecord rec;
    const auto got = hexbin::checkRecord(piece, extended, rec);
    fuzz::RefRecord ref;
    const auto want = fuzz::refCheck(piece, extended, ref);
    if (int(got) != int(want)) __builtin_trap();
    if (got == hexbin::RecordCheck::Data) {
        if (rec.type != ref.type || rec.length != ref.length || rec.address != ref.address ||
            (ref.length && std::memcmp(rec.data, ref.data.data(), ref.length) != 0) || rec.digits != ref.digits)
            __builtin_trap();
    }
    return 0;
}
