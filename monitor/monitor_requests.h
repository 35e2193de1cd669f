#pragma once
// The blocks the capture device's requests carry and the limits the page
// applies to the numbers it sends. The codes and layouts are the channel's.

#include "monitor/capture/channel.h"
#include "platform/device_map.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::monitor {

// The protocol's codes and block sizes, as the helper knows them.
using capture::kDiscardRecords;
using capture::kFilterBlockSize;
using capture::kFilterFieldSize;
using capture::kHexDisplay;
using capture::kHookablePorts;
using capture::kHookBlockSize;
using capture::kHookNameSize;
using capture::kHookParallel;
using capture::kHookSerial;
using capture::kMaxDataBytes;
using capture::kReadBufferSize;
using capture::kReadRecords;
using capture::kSetFilter;
using capture::kStartCapture;
using capture::kStopCapture;

struct FilterSettings {
    std::string include; // as typed, UTF-8
    std::string exclude;
    bool captureReads = true;
    bool captureWrites = true;
};

// Empty include means everything ("*"); empty exclude means nothing. Both
// are sent in upper case, cut to 127 bytes at a character boundary.
std::vector<uint8_t> buildFilterBlock(const FilterSettings& settings);

// The names of `tables` go into the slots in list order; the slots after them stay zero.
std::vector<uint8_t> buildHookBlock(uint32_t mask, const platform::PortTables& tables);
// The mask at the start of an answer (0 when the answer is too short to hold one).
uint32_t hookMaskOf(std::span<const uint8_t> answer);

std::vector<uint8_t> uint32Block(uint32_t value);

// The byte limit the page sends: unreadable text gives the default 64 and a
// message; a negative value or one above 8192 becomes 8192, shown in the field.
struct LimitValue {
    int32_t value = 0;
    bool unreadable = false; // say so
    bool fieldReset = false; // the field is to show `value`
};
inline constexpr int32_t kMaxBytesLimit = static_cast<int32_t>(capture::kDataBytesLimit);
inline constexpr int32_t kMaxLinesLimit = 999;
inline constexpr int32_t kLimitDefault = 64;
LimitValue limitFrom(std::optional<int32_t> typed, int32_t limit);

} // namespace quillon::monitor
