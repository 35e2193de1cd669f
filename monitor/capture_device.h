#pragma once
// The monitor's capture component as the program sees it: a device that
// takes a request (code, input block, output size) and gives an answer.
// The real one is the helper quillon-portmon, started with privilege and
// spoken to over a socket on its standard input and output.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "monitor/capture/channel.h"

namespace quillon::monitor {

using CaptureAnswer = capture::Answer;

class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;
    // One device-control call: request code, input block, output buffer size.
    virtual CaptureAnswer request(uint32_t code, std::span<const uint8_t> input, uint32_t outputSize) = 0;
};

enum class LoadFailure {
    None,
    NoPrivilege,     // neither root nor pkexec
    NoBpf,           // the kernel refused the capture programs
    NoBtf,           // the kernel has no type information for them
    HelperMissing,   // quillon-portmon is not beside the program
    PasswordRefused, // pkexec: the password was not given, or not accepted
    Cancelled,       // given up on request (the window closing)
    Other
};

// The device together with its service: loading starts the component and
// does its handshake, unloading ends it.
class CaptureService : public CaptureDevice {
public:
    // May take long (a password may be asked for); runs off the window's thread.
    virtual LoadFailure load() = 0;
    // Makes a load running on another thread give up at once, and every
    // load after it, until called with false.
    virtual void setLoadCancelled(bool) {}
    // Ask it to stop, then end it. Harmless when nothing runs. Never waits
    // longer than one answer may take.
    virtual void unload() = 0;
    // True from a successful load until unload, and false once the component
    // is found gone (a request that failed because it died).
    virtual bool loaded() const = 0;
};

struct HelperStart {
    bool ok = false;
    int error = 0;
    std::string message; // the helper's version, or why capture cannot run here
    // What a failure was, where the client knows it without the helper's words.
    LoadFailure failure = LoadFailure::Other;
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
    // Asks the helper to detach and exit and closes the channel; a helper we
    // may signal is ended. Returns within the answer timeout; one that is
    // still there then (pkexec's, which runs as root) ends on its own at the
    // end of its input and is reaped in the background.
    void stop();
    bool running() const { return fd_ >= 0; }
    pid_t pid() const { return pid_; }

    // A lost or silent helper fails the request (EPIPE, ETIMEDOUT) and is stopped.
    CaptureAnswer request(uint32_t code, std::span<const uint8_t> input, uint32_t outputSize) override;

    // CaptureService: start() and stop() under the service's names.
    LoadFailure load() override;
    void setLoadCancelled(bool on) override;
    void unload() override { stop(); }
    bool loaded() const override { return running(); }
    // What the last start said: the helper's version, or why it could not run.
    const HelperStart& lastStart() const { return lastStart_; }

    // How long an answer may take; the handshake may take twice as long
    // (pkexec, which may ask for a password, two minutes).
    void setTimeoutMs(int ms) { timeoutMs_ = ms; }
    // What starts the helper with privilege when we are not root: pkexec
    // where it is installed, unless set here.
    void setLauncher(std::string path) { launcher_ = std::move(path); }

private:
    using Deadline = std::chrono::steady_clock::time_point;
    HelperStart handshake(bool viaPkexec);
    bool sendAll(const std::vector<uint8_t>& bytes, Deadline until);
    bool receiveAll(uint8_t* out, size_t n, Deadline until, bool cancellable = false);
    bool receiveAnswer(CaptureAnswer& answer, Deadline until, bool cancellable = false);
    // Ends the process by `until`; its wait status, or -1 if it is left running.
    int reap(Deadline until);
    Deadline after(int ms) const;

    std::string helperPath_;
    std::optional<std::string> launcher_;
    int fd_ = -1;
    pid_t pid_ = -1;
    int timeoutMs_ = 5000;
    bool timedOut_ = false;
    HelperStart lastStart_;
    // Readable while loads are cancelled; wakes a handshake in progress.
    std::atomic<int> cancelFd_{-1};
    std::atomic<bool> cancelled_{false};
};

// The capture component of this system: the helper beside the program.
std::unique_ptr<CaptureService> makeSystemCaptureService();

} // namespace quillon::monitor
