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

// Device request codes the monitor sends.
inline constexpr uint32_t kStartCapture = 0x83070000;
inline constexpr uint32_t kStopCapture = 0x83070004;
inline constexpr uint32_t kDiscardRecords = 0x83070008;
inline constexpr uint32_t kReadRecords = 0x8307000F;
inline constexpr uint32_t kSetFilter = 0x83070010;
inline constexpr uint32_t kHookSerial = 0x83070028;
inline constexpr uint32_t kHookParallel = 0x8307002C;
inline constexpr uint32_t kHexDisplay = 0x83070038;
inline constexpr uint32_t kMaxDataBytes = 0x83070040;
// The helper's own: answer, detach everything and exit.
inline constexpr uint32_t kHelperQuit = 0x5150FFFF;

inline constexpr uint32_t kHelloMagic = 0x314D5051; // "QPM1"

inline constexpr size_t kFilterBlockSize = 258;
inline constexpr size_t kFilterFieldSize = 128;
inline constexpr size_t kHookBlockSize = 4 + 64 * 256;
inline constexpr size_t kHookNameSize = 256;
inline constexpr size_t kHookablePorts = 32;
inline constexpr size_t kReadBufferSize = 65528;
inline constexpr uint32_t kDataBytesLimit = 8192;
// No request carries more; a longer input is refused without being stored.
inline constexpr uint32_t kMaxRequestInput = 65536;
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
