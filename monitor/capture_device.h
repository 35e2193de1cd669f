#pragma once
// The monitor's capture component as the program sees it: a device that
// takes a request (code, input block, output size) and gives an answer.
// The real one is the helper quillon-portmon, started with privilege and
// spoken to over a socket on its standard input and output.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "monitor/capture/channel.h"

namespace quillon {

using CaptureAnswer = capture::Answer;

class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;
    // One device-control call: request code, input block, output buffer size.
    virtual CaptureAnswer request(uint32_t code, std::span<const uint8_t> input, uint32_t outputSize) = 0;
};

enum class LoadFailure { None, NoPrivilege, NoBpf, NoBtf, HelperMissing, Other };

// The device together with its service: loading starts the component and
// does its handshake, unloading ends it.
class CaptureService : public CaptureDevice {
public:
    virtual LoadFailure load() = 0;
    // Ask it to stop, then end it. Harmless when nothing runs.
    virtual void unload() = 0;
    // True from a successful load until unload, and false once the component
    // is found gone (a request that failed because it died).
    virtual bool loaded() const = 0;
};

struct HelperStart {
    bool ok = false;
    int error = 0;
    std::string message; // the helper's version, or why capture cannot run here
};

// quillon-portmon beside the running program.
std::string defaultHelperPath();

class HelperCaptureDevice : public CaptureService {
public:
    explicit HelperCaptureDevice(std::string helperPath = defaultHelperPath());
    ~HelperCaptureDevice() override;
    HelperCaptureDevice(const HelperCaptureDevice&) = delete;
    HelperCaptureDevice& operator=(const HelperCaptureDevice&) = delete;

    // Starts the helper (directly as root, else through pkexec where it is
    // installed) and waits for its handshake. Call it from a thread that
    // lives as long as the helper should: the helper ends with that thread.
    HelperStart start();
    // Asks the helper to detach and exit, then makes sure it has.
    void stop();
    bool running() const { return fd_ >= 0; }
    pid_t pid() const { return pid_; }

    // A lost or silent helper fails the request (EPIPE, ETIMEDOUT) and is stopped.
    CaptureAnswer request(uint32_t code, std::span<const uint8_t> input, uint32_t outputSize) override;

    // CaptureService: start() and stop() under the service's names.
    LoadFailure load() override;
    void unload() override { stop(); }
    bool loaded() const override { return running(); }
    // What the last start said: the helper's version, or why it could not run.
    const HelperStart& lastStart() const { return lastStart_; }

    // How long an answer may take; the handshake may take twice as long
    // (pkexec, which may ask for a password, two minutes).
    void setTimeoutMs(int ms) { timeoutMs_ = ms; }

private:
    bool sendAll(const std::vector<uint8_t>& bytes);
    bool receiveAll(uint8_t* out, size_t n, int timeoutMs);
    bool receiveAnswer(CaptureAnswer& answer, int timeoutMs);
    void reap(int waitMs);

    std::string helperPath_;
    int fd_ = -1;
    pid_t pid_ = -1;
    int timeoutMs_ = 5000;
    bool timedOut_ = false;
    HelperStart lastStart_;
};

// The capture component of this system: the helper beside the program.
std::unique_ptr<CaptureService> makeSystemCaptureService();

} // namespace quillon
