#pragma once
// Walking the records of one read of the capture device's buffer.
//
// A record's layout is the channel's; its text holds up to five
// tab-separated fields: program, request, device, result, other.

#include "monitor/capture/channel.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::monitor {

using capture::kRecordHeaderSize;
using capture::nextRecordOffset;
inline constexpr size_t kRecordFields = 5;

struct CapturedRecord {
    int32_t sequence = 0;
    std::string timeText;
    // Fields past the fifth are dropped; fieldCount counts the ones present.
    std::array<std::string_view, kRecordFields> fields;
    size_t fieldCount = 0;
};

// Local time of a file time (100 ns ticks since 1601, UTC), "17:15:01".
std::string fileTimeText(uint64_t fileTime);

// Calls `handle` for every whole record in the first `count` bytes of
// `buffer` (never past one read's 65528 bytes). A record whose text has no
// terminator within them ends the walk.
// A record with a zero time takes the time text of the record before it in
// the same read (the first one gets none). The fields point into `buffer`.
void walkRecords(std::span<const uint8_t> buffer, size_t count,
                 const std::function<void(const CapturedRecord&)>& handle);

// A record with its own copy of the text, for keeping after the walk.
struct MonitorRecord {
    int32_t sequence = 0;
    std::string time;
    std::vector<std::string> fields; // the ones present, at most kRecordFields
};

// The same walk, handing out records that own their text.
void walkMonitorRecords(std::span<const uint8_t> buffer, size_t count,
                        const std::function<void(const MonitorRecord&)>& handle);

} // namespace quillon::monitor
