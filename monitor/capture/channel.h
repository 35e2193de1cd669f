#pragma once
// The request channel between the program and quillon-portmon: one request
// frame per device request, one answer frame back, little-endian throughout.
//
//   request: u32 code, u32 input length, u32 output size, input bytes
//   answer:  u32 success (0/1), u32 system error, u32 output length, output bytes
//
// Right after it starts, the helper sends kHelloMagic and one answer frame:
// success with its version text, or failure with the error and the reason
// capture cannot be loaded here.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace quillon::capture {

// Device-control code layout: device type in bits 31-16, access in 15-14,
// function in 13-2, transfer method in 1-0.
constexpr uint32_t controlCode(uint32_t deviceType, uint32_t function, uint32_t method, uint32_t access = 0)
{
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

inline constexpr uint32_t kDeviceType = 0x8307;
inline constexpr uint32_t kMethodBuffered = 0;
inline constexpr uint32_t kMethodNeither = 3;

// Device request codes the monitor sends.
inline constexpr uint32_t kStartCapture = controlCode(kDeviceType, 0, kMethodBuffered);
inline constexpr uint32_t kStopCapture = controlCode(kDeviceType, 1, kMethodBuffered);
inline constexpr uint32_t kDiscardRecords = controlCode(kDeviceType, 2, kMethodBuffered);
inline constexpr uint32_t kReadRecords = controlCode(kDeviceType, 3, kMethodNeither);
inline constexpr uint32_t kSetFilter = controlCode(kDeviceType, 4, kMethodBuffered);
inline constexpr uint32_t kHookSerial = controlCode(kDeviceType, 10, kMethodBuffered);
inline constexpr uint32_t kHookParallel = controlCode(kDeviceType, 11, kMethodBuffered);
inline constexpr uint32_t kHexDisplay = controlCode(kDeviceType, 14, kMethodBuffered);
inline constexpr uint32_t kMaxDataBytes = controlCode(kDeviceType, 16, kMethodBuffered);

static_assert(kStartCapture == 0x83070000 && kStopCapture == 0x83070004 && kDiscardRecords == 0x83070008 &&
              kReadRecords == 0x8307000F && kSetFilter == 0x83070010 && kHookSerial == 0x83070028 &&
              kHookParallel == 0x8307002C && kHexDisplay == 0x83070038 && kMaxDataBytes == 0x83070040);

// The helper's own: answer, detach everything and exit.
inline constexpr uint32_t kHelperQuit = 0x5150FFFF;

inline constexpr uint32_t kHelloMagic = 0x314D5051; // "QPM1"

// Filter block: include and exclude text of 128 bytes each (terminator
// included), then the capture-reads and capture-writes flags.
inline constexpr size_t kFilterFieldSize = 128;
inline constexpr size_t kFilterBlockSize = 2 * kFilterFieldSize + 2;
// Hook block: a 32-bit port mask, then 64 name slots of 256 bytes. The mask
// has a bit for each of the first 32 slots only.
inline constexpr size_t kHookNameSlots = 64;
inline constexpr size_t kHookNameSize = 256;
inline constexpr size_t kHookBlockSize = 4 + kHookNameSlots * kHookNameSize;
inline constexpr size_t kHookablePorts = 32;
// One read answers with at most this many bytes of records.
inline constexpr size_t kReadBufferSize = 65528;
// The most data bytes a record carries.
inline constexpr uint32_t kDataBytesLimit = 8192;
// No request carries more; a longer input is refused without being stored.
inline constexpr uint32_t kMaxRequestInput = 65536;

// A record in a read's answer: 4-byte sequence number (signed), one unused
// byte, an 8-byte file time in UTC, then its text ended by a zero and padded
// with zeros so that text and terminator fill a multiple of 4 bytes.
inline constexpr size_t kRecordHeaderSize = 13;
// Bytes taken by a record whose text is `textLength` bytes long.
constexpr size_t nextRecordOffset(size_t textLength) { return kRecordHeaderSize + ((textLength + 4) & ~size_t(3)); }

inline constexpr size_t kFrameHeaderSize = 12;

inline void putU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline uint32_t getU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Answer {
    bool ok = false;
    int error = 0;
    std::vector<uint8_t> output;

    static Answer success(std::vector<uint8_t> out = {}) { return {true, 0, std::move(out)}; }
    static Answer failure(int err) { return {false, err, {}}; }
};

inline std::vector<uint8_t> encodeRequest(uint32_t code, std::span<const uint8_t> input, uint32_t outputSize)
{
    std::vector<uint8_t> f;
    f.reserve(kFrameHeaderSize + input.size());
    putU32(f, code);
    putU32(f, static_cast<uint32_t>(input.size()));
    putU32(f, outputSize);
    f.insert(f.end(), input.begin(), input.end());
    return f;
}

inline std::vector<uint8_t> encodeAnswer(const Answer& a)
{
    std::vector<uint8_t> f;
    f.reserve(kFrameHeaderSize + a.output.size());
    putU32(f, a.ok ? 1 : 0);
    putU32(f, static_cast<uint32_t>(a.error));
    putU32(f, static_cast<uint32_t>(a.output.size()));
    f.insert(f.end(), a.output.begin(), a.output.end());
    return f;
}

// The header of an answer frame; the output bytes follow it.
struct AnswerHeader {
    bool ok = false;
    int error = 0;
    uint32_t outputLength = 0;
};

inline AnswerHeader decodeAnswerHeader(const uint8_t (&header)[kFrameHeaderSize])
{
    return {getU32(header) != 0, static_cast<int>(getU32(header + 4)), getU32(header + 8)};
}

struct Request {
    uint32_t code = 0;
    uint32_t outputSize = 0;
    bool oversized = false; // input longer than kMaxRequestInput; not kept
    std::vector<uint8_t> input;
};

// Cuts the byte stream from the program into requests. Fed whatever arrived;
// holds at most one header and kMaxRequestInput bytes of input.
class RequestParser {
public:
    // Appends the complete requests found in `bytes` to `out`.
    void feed(std::span<const uint8_t> bytes, std::vector<Request>& out);
    bool midFrame() const { return headerHave_ != 0 || inBody_; }

private:
    uint8_t header_[kFrameHeaderSize] = {};
    size_t headerHave_ = 0;
    bool inBody_ = false;
    uint32_t bodyLeft_ = 0;
    Request current_;
};

} // namespace quillon::capture
