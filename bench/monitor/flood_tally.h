#pragma once
// Counting what a flood left behind: the records the page's reads handed
// over, and the lines its capture log holds, by kind.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::bench {

// Records counted by kind; `writerTag` (":PID") picks out the writer's.
struct Tally {
    long long records = 0;
    long long writerWrites = 0; // IRP_MJ_WRITE entries of the writer
    long long completions = 0;  // second records of requests that blocked
    long long overflowRecords = 0;
    long long dropped = 0; // what the overflow records say

    void add(std::string_view program, std::string_view request, std::string_view result, std::string_view other,
             std::string_view writerTag);
    bool operator==(const Tally&) const = default;
};

struct Received {
    Tally tally;
    long long bytes = 0;
    long long fullBuffers = 0; // no room left for one more of the largest record seen
    std::string expectedLog;   // the lines the page's log must hold for them
};

// The buffers of the reads, as the page walks them.
Received receivedFrom(const std::vector<std::vector<uint8_t>>& buffers, std::string_view writerTag);

// The log's lines: five tab-separated fields ended by CR LF.
Tally tallyLog(const std::string& log, std::string_view writerTag);

} // namespace quillon::bench
