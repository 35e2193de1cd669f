// .dat files: any bytes parse without harm, and the rows a table saves are
// the rows it loads back (texts trimmed, incomplete rows left out).
#include "common/text.h"
#include "tools/thermistor/rt_table.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace quillon;

namespace {

const char* const kPieces[] = {"0", "1", "25", "-", ".", "5", "E", " ", "\t", "k", "\xE6\xB8\xA9", "\xE6\xAC\xA7"};

std::string text(FuzzedDataProvider& in)
{
    std::string s;
    const int n = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < n; ++i) s += in.PickValueInArray(kPieces);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        const std::string raw = in.ConsumeRemainingBytesAsString();
        for (const auto& row : thermistor::parseDat(raw))
            if (row.resistance.empty()) __builtin_trap();
        return 0;
    }
    std::vector<thermistor::Row> rows, complete;
    const int n = in.ConsumeIntegralInRange(0, 20);
    for (int i = 0; i < n; ++i) {
        thermistor::Row r{text(in), text(in)};
        if (thermistor::isComplete(r)) complete.push_back({trim(r.temperature), trim(r.resistance)});
        rows.push_back(std::move(r));
    }
    const auto back = thermistor::parseDat(thermistor::formatDat(rows));
    if (back.size() != complete.size()) __builtin_trap();
    for (size_t i = 0; i < back.size(); ++i)
        if (back[i].temperature != complete[i].temperature || back[i].resistance != complete[i].resistance)
            __builtin_trap();
    return 0;
}
