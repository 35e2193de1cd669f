#pragma once
// The record buffer of one read from the capture component, walked into
// records: sequence number, time text and the tab-separated text fields.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace quillon {

struct MonitorRecord {
    int32_t sequence = 0;
    std::string time;                // local time, or the previous record's for a zero time
    std::vector<std::string> fields; // program, request, device, result, other (at most 5)
};

inline constexpr size_t kMonitorFieldCount = 5;

// Local time of day of a file time (100 ns ticks since 1601, UTC).
std::string fileTimeText(uint64_t fileTime);

// Calls `onRecord` for every whole record in the first `returned` bytes of
// `buffer` (never past the buffer or 65528 bytes). A record cut short, or
// one without its terminator, ends the walk.
void walkMonitorRecords(std::span<const uint8_t> buffer, size_t returned,
                        const std::function<void(const MonitorRecord&)>& onRecord);

} // namespace quillon
