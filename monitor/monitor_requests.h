#pragma once
// The capture device's requests: their codes, the blocks they carry and the
// limits the page applies to the numbers it sends.

#include "platform/device_map.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::monitor {

// Device-control code layout: device type in bits 31-16, access in 15-14,
// function in 13-2, transfer method in 1-0.
constexpr uint32_t controlCode(uint32_t deviceType, uint32_t function, uint32_t method, uint32_t access = 0)
{
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

inline constexpr uint32_t kDeviceType = 0x8307;
inline constexpr uint32_t kMethodBuffered = 0;
inline constexpr uint32_t kMethodNeither = 3;

inline constexpr uint32_t kStartCapture = controlCode(kDeviceType, 0, kMethodBuffered);
inline constexpr uint32_t kStopCapture = controlCode(kDeviceType, 1, kMethodBuffered);
inline constexpr uint32_t kDiscardRecords = controlCode(kDeviceType, 2, kMethodBuffered);
inline constexpr uint32_t kReadRecords = controlCode(kDeviceType, 3, kMethodNeither);
inline constexpr uint32_t kSetFilter = controlCode(kDeviceType, 4, kMethodBuffered);
inline constexpr uint32_t kHookSerialPorts = controlCode(kDeviceType, 10, kMethodBuffered);
inline constexpr uint32_t kHookParallelPorts = controlCode(kDeviceType, 11, kMethodBuffered);
inline constexpr uint32_t kHexDisplay = controlCode(kDeviceType, 14, kMethodBuffered);
inline constexpr uint32_t kMaxDataBytes = controlCode(kDeviceType, 16, kMethodBuffered);

static_assert(kStartCapture == 0x83070000 && kStopCapture == 0x83070004 && kDiscardRecords == 0x83070008 &&
              kReadRecords == 0x8307000F && kSetFilter == 0x83070010 && kHookSerialPorts == 0x83070028 &&
              kHookParallelPorts == 0x8307002C && kHexDisplay == 0x83070038 && kMaxDataBytes == 0x83070040);

inline constexpr uint32_t kReadBufferSize = 65528;

// Filter block: include and exclude text of 128 bytes each (terminator
// included), then the capture-reads and capture-writes flags.
inline constexpr size_t kFilterTextSize = 128;
inline constexpr size_t kFilterBlockSize = 2 * kFilterTextSize + 2;

// Hook block: a 32-bit port mask, then 64 name slots of 256 bytes.
inline constexpr size_t kHookNameSlots = 64;
inline constexpr size_t kHookNameSize = 256;
inline constexpr size_t kHookBlockSize = 4 + kHookNameSlots * kHookNameSize;
// The mask has a bit for each of the first 32 list entries only.
inline constexpr size_t kHookablePorts = 32;

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
std::vector<uint8_t> buildHookBlock(uint32_t mask, const PortTables& tables);
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
inline constexpr int32_t kMaxBytesLimit = 8192;
inline constexpr int32_t kMaxLinesLimit = 999;
inline constexpr int32_t kLimitDefault = 64;
LimitValue limitFrom(std::optional<int32_t> typed, int32_t limit);

} // namespace quillon::monitor
