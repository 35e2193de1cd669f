// Source array of a binary file, with and without flushing on the way,
// against the table built line by line.
#include "fuzz/array_reference.h"
#include "fuzz/fuzz_support.h"

using namespace quillon;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) return 0;
    const size_t dbLen = data[1] % 4, fixLen = data[2] % 4;
    if (size < 3 + dbLen + fixLen) return 0;
    const char* p = reinterpret_cast<const char*>(data + 3);
    const auto style = fuzz::styleFrom(data[0], std::string(p, dbLen), std::string(p + dbLen, fixLen));
    const std::string_view bytes(p + dbLen + fixLen, size - 3 - dbLen - fixLen);
    const std::string nl = (data[0] & 4) ? "\r\n" : "\n";
    const std::string path = fuzz::scratchPath("in.bin");
    fuzz::writeFile(path, bytes);

    std::vector<std::string> digits;
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char b : bytes) digits.push_back({kHex[b >> 4], kHex[b & 15]});
    const std::string want = fuzz::referenceArray(style, digits, nl);

    std::string got;
    if (hexbin::arrayFromBinary(path, style, nl, got) != hexbin::ArrayOutcome::Done || got != want) __builtin_trap();
    // The flush callback may take the text away at any point.
    std::string taken, rest;
    auto flush = [&](std::string& t) {
        taken += t;
        t.clear();
    };
    if (hexbin::arrayFromBinary(path, style, nl, rest, flush) != hexbin::ArrayOutcome::Done || taken + rest != want)
        __builtin_trap();
    return 0;
}
