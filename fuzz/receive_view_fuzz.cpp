// The receive display fed in random chunks shows what one piece shows: the
// hex dump (addresses, line breaks, memory-map start) and the text view
// (GBK across chunks, CR LF pairs, long lines broken).
#include "serial/receive_view.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace quillon;
using namespace quillon::serial;

namespace {

std::string dumpAll(const std::vector<std::span<const uint8_t>>& chunks, bool memoryMap, int32_t start)
{
    int32_t address = 0;
    DumpStart from;
    if (memoryMap) from.freshAddress = start;
    std::string display;
    for (const auto& c : chunks) {
        DumpOutput out = dumpChunk(address, from, c, display.empty());
        display = out.replaceAll ? out.text : display + out.text;
    }
    return display;
}

std::string textAll(const std::vector<std::span<const uint8_t>>& chunks)
{
    TextFeed feed;
    std::string display;
    for (const auto& c : chunks) display += feed.feed(c);
    return display;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const bool memoryMap = in.ConsumeBool();
    const int32_t start = in.ConsumeIntegral<int32_t>();
    std::vector<size_t> cuts;
    const int n = in.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < n; ++i) cuts.push_back(in.ConsumeIntegralInRange<size_t>(1, 40));
    std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
    // A zero byte ends what a chunk shows, so chunks would differ by design.
    for (auto& b : bytes)
        if (b == 0) b = 1;
    // Long lines matter for the text view: stretch short inputs.
    if (!bytes.empty() && bytes[0] == 'L') bytes.insert(bytes.end(), 1500, 'x');

    const std::span<const uint8_t> all(bytes);
    std::vector<std::span<const uint8_t>> one;
    if (!all.empty()) one.push_back(all);
    std::vector<std::span<const uint8_t>> chunks;
    for (size_t at = 0, i = 0; at < all.size(); ++i) {
        const size_t len = std::min(all.size() - at, cuts.empty() ? size_t(1) : cuts[i % cuts.size()]);
        chunks.push_back(all.subspan(at, len));
        at += len;
    }
    if (dumpAll(chunks, memoryMap, start) != dumpAll(one, memoryMap, start)) __builtin_trap();
    if (textAll(chunks) != textAll(one)) __builtin_trap();
    return 0;
}
