#pragma once
// A serial device opened for exclusive use, on a non-blocking descriptor.
// Line settings and timeouts keep the field layout users of the serial page
// think in (baud, byte size, parity, stop bits; five timeout values); they
// are mapped onto termios here. Whatever the device had at open is put back
// at close, so other programs find the port as they left it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace quillon::platform {

// Parity codes, as indices of the parity list: none, odd, even, mark, space.
enum : uint8_t { NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4 };
// Stop-bit codes: one, one and a half, two.
enum : uint8_t { ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2 };

struct CommState {
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = NOPARITY;
    uint8_t StopBits = ONESTOPBIT;
    bool fBinary = true;
    bool fParity = false;
};

struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
    bool operator==(const CommTimeouts&) const = default;
};

// A stop request a worker thread can sleep on: poll() on fd() wakes as soon
// as request() is called, so no loop waits out its full timeout.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void request();
    bool requested() const { return requested_.load(std::memory_order_acquire); }
    int fd() const { return fd_; }
    // Sleeps up to `ms` milliseconds; true when a stop was requested.
    bool sleepFor(int ms) const;

private:
    int fd_;
    std::atomic<bool> requested_{false};
};

enum class WaitResult { Ready, Timeout, Stopped, Failed };

// Why a port could not be opened, as data for whoever tells the user.
struct PortOpenFailure {
    enum class Reason {
        None,
        NoPermission, // the user may not read and write the device
        InUse,        // another program holds it for itself
        Gone,         // no such device (any more): adapter pulled, link left dangling
        NotAPort,     // opened, but it is no terminal device
        Other,        // see `error`
    };
    Reason reason = Reason::None;
    int error = 0; // errno of the step that failed
    // NoPermission: the group the device node lets read and write it, when
    // that is an ordinary group ("dialout" on Debian); empty otherwise.
    std::string deviceGroup;
    // InUse: a process that has the device open, when one could be seen
    // (only the user's own processes can be seen unless run as root).
    pid_t holderPid = 0;
    std::string holderName;
};

// A process with the device open: its pid and command name.
struct PortHolder {
    pid_t pid = 0;
    std::string name;
};

// Looks through /proc/*/fd for a descriptor on the same device as `device`
// (a pty of another devpts instance is another device). Processes whose
// descriptors can't be read are skipped, and the walk gives up after
// `maxEntries` descriptors so a crowded machine can't stall the caller.
// pid 0 when none was found.
PortHolder findPortHolder(const std::string& device, const std::string& procRoot = "/proc",
                          std::size_t maxEntries = 200000);

class CommPort {
public:
    // Opens the device read/write, non-blocking, for this process alone
    // (flock + TIOCEXCL). Null on failure; errno tells why, and so does
    // `failure` when given.
    static std::unique_ptr<CommPort> open(const std::string& device, PortOpenFailure* failure = nullptr);
    ~CommPort();
    CommPort(const CommPort&) = delete;
    CommPort& operator=(const CommPort&) = delete;

    bool getState(CommState& state) const;
    // False when the device refuses the settings (or does not keep them).
    bool setState(const CommState& state);
    bool getTimeouts(CommTimeouts& timeouts) const;
    bool setTimeouts(const CommTimeouts& timeouts);

    // Bytes queued for reading, or -1 when the device can't be asked.
    int queued() const;
    // Bytes written but not yet sent out on the line, or -1.
    int outQueued() const;

    // Waits until the device can be read (or written), or until `stop`
    // fires. A device that hung up or failed gives Failed.
    WaitResult waitReadable(int timeoutMs, const StopSignal& stop) const;
    WaitResult waitWritable(int timeoutMs, const StopSignal& stop) const;

    // Non-blocking; -1 with errno as read(2)/write(2). A hung-up terminal
    // reads 0 bytes.
    ssize_t read(void* buffer, size_t size) const;
    ssize_t write(const void* buffer, size_t size) const;

    // Waits up to `ms` for queued output to leave, then discards the rest,
    // puts back the settings found at open and closes. Safe to call twice.
    void close(int drainMs = 250);
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

private:
    explicit CommPort(int fd);
    WaitResult waitFor(short events, int timeoutMs, const StopSignal& stop) const;

    int fd_;
    bool haveSaved_ = false;
    struct Saved;
    std::unique_ptr<Saved> saved_;
    CommTimeouts timeouts_;
};

} // namespace quillon::platform
