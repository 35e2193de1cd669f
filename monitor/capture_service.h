#pragma once
// The capture component as the monitor page sees it: one object that is both
// the service and its device. Loading starts the component and does its
// handshake; each request is one device-control call.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace quillon {

struct CaptureAnswer {
    bool ok = false;
    int error = 0; // the system error number when !ok
    std::vector<uint8_t> output;
};

enum class LoadFailure { None, NoPrivilege, NoBpf, NoBtf, HelperMissing, Other };

class CaptureService {
public:
    virtual ~CaptureService() = default;
    // Start the component and do the handshake.
    virtual LoadFailure load() = 0;
    // Ask it to stop, then end it. Harmless when nothing runs.
    virtual void unload() = 0;
    // True from a successful load until unload, and false once the component
    // is found gone (a request that failed because it died).
    virtual bool loaded() const = 0;
    // One device-control call: request code, input block, output buffer size.
    virtual CaptureAnswer request(uint32_t code, std::span<const uint8_t> input, uint32_t outputSize) = 0;
};

// The capture component of this system; null where there is none.
std::unique_ptr<CaptureService> makeSystemCaptureService();

} // namespace quillon
