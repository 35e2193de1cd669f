#pragma once
// A number decoded from a received block, on its way from the receive
// pipeline to the sample store behind the plot.

#include <chrono>
#include <cstdint>

namespace quillon::serial {

// How a numeric variable's value is kept.
enum class SampleKind : uint8_t { U8, I16, I32, F32, F64 };

using SampleClock = std::chrono::steady_clock;

// One decoded value. `series` is the row's VarRow::series, `block` the
// decoder's count of the block it came from (blocks of one chunk share `time`).
struct Sample {
    uint64_t series = 0;
    uint64_t block = 0;
    SampleClock::time_point time;
    SampleKind kind = SampleKind::F64;
    double value = 0; // exact for every kind
};

} // namespace quillon::serial
