// Received bytes decoded from GBK in random chunks give the text of one piece.
#include "common/codepage.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace quillon;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    std::vector<size_t> cuts;
    const int n = in.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < n; ++i) cuts.push_back(in.ConsumeIntegralInRange<size_t>(1, 9));
    const std::string bytes = in.ConsumeRemainingBytesAsString();

    GbkStreamDecoder one;
    // Two statements: the operands of + may be evaluated in either order.
    std::string whole = one.decode(bytes);
    whole += one.flush();

    GbkStreamDecoder chunked;
    std::string text;
    size_t at = 0;
    for (size_t i = 0; at < bytes.size(); ++i) {
        const size_t len = cuts.empty() ? 1 : cuts[i % cuts.size()];
        text += chunked.decode(std::string_view(bytes).substr(at, len));
        at += len;
    }
    text += chunked.flush();
    if (text != whole) __builtin_trap();
    return 0;
}
