#include "platform/comm_port.h"

// termios2 (custom rates) lives in the kernel headers, which clash with
// <termios.h>; this file uses the kernel's definitions only.
#include <asm/termbits.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace quillon::platform {

namespace {

struct RateCode {
    uint32_t rate;
    unsigned code;
};

// Rates termios names directly; every other rate goes through BOTHER.
constexpr RateCode kStandardRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

unsigned standardCode(uint32_t rate)
{
    for (const auto& r : kStandardRates)
        if (r.rate == rate) return r.code;
    return 0;
}

bool getTermios(int fd, termios2& t) { return ::ioctl(fd, TCGETS2, &t) == 0; }
bool setTermios(int fd, const termios2& t) { return ::ioctl(fd, TCSETS2, &t) == 0; }

// A pseudo-terminal has no line: the kernel keeps it at 8 data bits without
// parity whatever is asked, so only the rate can be checked on one.
bool isPseudoTerminalNode(const struct stat& st)
{
    if (!S_ISCHR(st.st_mode)) return false;
    const unsigned maj = major(st.st_rdev);
    return maj == 3 || (maj >= 136 && maj <= 143);
}

bool isPseudoTerminal(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && isPseudoTerminalNode(st);
}

// The group a device node lets read and write it, unless that is root's.
std::string readWriteGroupOf(const std::string& device)
{
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0 || (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP) || st.st_gid == 0)
        return {};
    std::vector<char> buf(4096);
    group g{};
    group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &g, buf.data(), buf.size(), &found) != 0 || !found) return {};
    return found->gr_name;
}

PortOpenFailure describeOpenFailure(const std::string& device, int error)
{
    PortOpenFailure f;
    f.error = error;
    switch (error) {
    case EACCES:
    case EPERM:
        f.reason = PortOpenFailure::Reason::NoPermission;
        f.deviceGroup = readWriteGroupOf(device);
        break;
    case EBUSY: // TIOCEXCL of another program
    case EWOULDBLOCK: {
        f.reason = PortOpenFailure::Reason::InUse;
        const PortHolder holder = findPortHolder(device);
        f.holderPid = holder.pid;
        f.holderName = holder.name;
        break;
    }
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO: f.reason = PortOpenFailure::Reason::Gone; break;
    case ENOTTY:
    case EISDIR: f.reason = PortOpenFailure::Reason::NotAPort; break;
    default: f.reason = PortOpenFailure::Reason::Other; break;
    }
    return f;
}

CommState stateOf(const termios2& t)
{
    CommState s;
    s.BaudRate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: s.ByteSize = 5; break;
    case CS6: s.ByteSize = 6; break;
    case CS7: s.ByteSize = 7; break;
    default: s.ByteSize = 8; break;
    }
    if (t.c_cflag & PARENB) {
        if (t.c_cflag & CMSPAR)
            s.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
        else
            s.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    } else {
        s.Parity = NOPARITY;
    }
    if (t.c_cflag & CSTOPB)
        s.StopBits = s.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    else
        s.StopBits = ONESTOPBIT;
    s.fBinary = true;
    s.fParity = (t.c_cflag & PARENB) != 0;
    return s;
}

bool rateClose(uint32_t want, uint32_t got)
{
    // UARTs divide a clock; a custom rate may land a little off.
    const long long diff = static_cast<long long>(want) - static_cast<long long>(got);
    return std::llabs(diff) * 100 <= static_cast<long long>(want) * 2;
}

} // namespace

// ---------------------------------------------------------------- StopSignal

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopSignal::~StopSignal()
{
    if (fd_ >= 0) ::close(fd_);
}

void StopSignal::request()
{
    requested_.store(true, std::memory_order_release);
    if (fd_ >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
    }
}

bool StopSignal::sleepFor(int ms) const
{
    if (requested()) return true;
    if (fd_ < 0) {
        ::usleep(static_cast<useconds_t>(ms) * 1000);
        return requested();
    }
    pollfd p{fd_, POLLIN, 0};
    ::poll(&p, 1, ms);
    return requested();
}

// ------------------------------------------------------------------ CommPort

struct CommPort::Saved {
    termios2 t{};
};

CommPort::CommPort(int fd) : fd_(fd), saved_(std::make_unique<Saved>())
{
    haveSaved_ = getTermios(fd_, saved_->t);
    if (haveSaved_) {
        // What the device had: a blocking read's timer, in the five-value form.
        if (saved_->t.c_cc[VMIN] == 0)
            timeouts_.ReadTotalTimeoutConstant = saved_->t.c_cc[VTIME] * 100u;
        else
            timeouts_.ReadIntervalTimeout = saved_->t.c_cc[VTIME] * 100u;
    }
}

PortHolder findPortHolder(const std::string& device, const std::string& procRoot, std::size_t maxEntries)
{
    struct stat port {};
    if (::stat(device.c_str(), &port) != 0 || !S_ISCHR(port.st_mode)) return {};
    // Pty numbers repeat in every devpts instance (each container has its own).
    const bool matchFilesystem = isPseudoTerminalNode(port);
    DIR* proc = ::opendir(procRoot.c_str());
    if (!proc) return {};
    PortHolder holder;
    std::size_t seen = 0;
    while (!holder.pid && seen < maxEntries) {
        const dirent* p = ::readdir(proc);
        if (!p) break;
        char* end = nullptr;
        const long pid = std::strtol(p->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        ++seen;
        const std::string base = procRoot + "/" + p->d_name;
        DIR* fds = ::opendir((base + "/fd").c_str());
        if (!fds) continue; // another user's process, or gone meanwhile
        while (const dirent* f = ::readdir(fds)) {
            if (f->d_name[0] == '.') continue;
            if (++seen > maxEntries) break;
            // Only what names a device is stat'ed: a stat of a file on a
            // hung network mount would hang here too.
            char target[64];
            const ssize_t n = ::readlinkat(::dirfd(fds), f->d_name, target, sizeof target - 1);
            if (n < 5 || std::string_view(target, 5) != "/dev/") continue;
            struct stat st {};
            if (::fstatat(::dirfd(fds), f->d_name, &st, 0) != 0) continue;
            if (!S_ISCHR(st.st_mode) || st.st_rdev != port.st_rdev) continue;
            if (matchFilesystem && st.st_dev != port.st_dev) continue;
            holder.pid = static_cast<pid_t>(pid);
            std::ifstream comm(base + "/comm");
            std::getline(comm, holder.name);
            break;
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return holder;
}

std::unique_ptr<CommPort> CommPort::open(const std::string& device, PortOpenFailure* failure)
{
    // Closes what was opened and tells why, keeping errno for the caller.
    auto fail = [&](int fd) -> std::unique_ptr<CommPort> {
        const int e = errno;
        if (fd >= 0) ::close(fd); // before looking for the holder, so it is not us
        if (failure) *failure = describeOpenFailure(device, e);
        errno = e;
        return nullptr;
    };
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(-1);
    // Another program (or another copy of this one) holding the port.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(fd);
    termios2 probe{};
    if (!getTermios(fd, probe)) return fail(fd); // not a terminal at all
    // Refuse later opens by programs that don't take the lock.
    ::ioctl(fd, TIOCEXCL);
    if (failure) *failure = {};
    return std::unique_ptr<CommPort>(new CommPort(fd));
}

CommPort::~CommPort() { close(0); }

bool CommPort::getState(CommState& state) const
{
    termios2 t{};
    if (fd_ < 0 || !getTermios(fd_, t)) return false;
    state = stateOf(t);
    return true;
}

bool CommPort::setState(const CommState& s)
{
    if (fd_ < 0) return false;
    if (s.ByteSize < 5 || s.ByteSize > 8 || s.Parity > SPACEPARITY || s.StopBits > TWOSTOPBITS || s.BaudRate == 0)
        return false;
    // A UART gives one and a half stop bits only with 5-bit bytes, and two
    // only with longer ones; the device refuses the other combinations.
    if (s.StopBits == ONE5STOPBITS && s.ByteSize != 5) return false;
    if (s.StopBits == TWOSTOPBITS && s.ByteSize == 5) return false;

    termios2 t{};
    if (!getTermios(fd_, t)) return false;

    // Raw binary bytes both ways. Software flow control comes from the
    // terminal defaults, not from a port setting, and would swallow XON/XOFF
    // bytes of binary data; hardware flow control stays as the device has it.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON | IXOFF | IXANY | IMAXBEL |
                   INPCK | IGNPAR);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE | ICANON | ISIG | IEXTEN | XCASE);

    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= CREAD | CLOCAL;
    switch (s.ByteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
    }
    switch (s.Parity) {
    case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: t.c_cflag |= PARENB; break;
    case MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (s.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;

    if (unsigned code = standardCode(s.BaudRate)) {
        t.c_cflag |= code;
    } else {
        t.c_cflag |= BOTHER;
    }
    t.c_ispeed = s.BaudRate;
    t.c_ospeed = s.BaudRate;
    if (!setTermios(fd_, t)) return false;

    // tcsetattr succeeds when any part was taken; check that all of it was.
    termios2 back{};
    if (!getTermios(fd_, back)) return false;
    const CommState got = stateOf(back);
    if (!rateClose(s.BaudRate, got.BaudRate)) return false;
    if (isPseudoTerminal(fd_)) return true;
    return got.ByteSize == s.ByteSize && got.Parity == s.Parity && got.StopBits == s.StopBits;
}

bool CommPort::getTimeouts(CommTimeouts& timeouts) const
{
    if (fd_ < 0) return false;
    timeouts = timeouts_;
    return true;
}

bool CommPort::setTimeouts(const CommTimeouts& timeouts)
{
    if (fd_ < 0) return false;
    termios2 t{};
    if (!getTermios(fd_, t)) return false;
    // Only a blocking read has a timer in termios (tenths of a second, at
    // most 25.5 s). Our own reads never block; this keeps the device in a
    // defined state for whoever uses it next. The write values have no
    // counterpart and are only kept, so they read back as set.
    const uint32_t ms =
        timeouts.ReadTotalTimeoutConstant ? timeouts.ReadTotalTimeoutConstant : timeouts.ReadIntervalTimeout;
    const uint32_t tenths = (ms + 99) / 100;
    t.c_cc[VMIN] = timeouts.ReadTotalTimeoutConstant ? 0 : (timeouts.ReadIntervalTimeout ? 1 : 0);
    t.c_cc[VTIME] = static_cast<cc_t>(tenths > 255 ? 255 : tenths);
    if (!setTermios(fd_, t)) return false;
    timeouts_ = timeouts;
    return true;
}

int CommPort::queued() const
{
    int n = 0;
    if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &n) != 0) return -1;
    return n;
}

int CommPort::outQueued() const
{
    int n = 0;
    if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &n) != 0) return -1;
    return n;
}

WaitResult CommPort::waitFor(short events, int timeoutMs, const StopSignal& stop) const
{
    if (stop.requested()) return WaitResult::Stopped;
    pollfd p[2] = {{fd_, events, 0}, {stop.fd(), POLLIN, 0}};
    const nfds_t n = stop.fd() >= 0 ? 2 : 1;
    int r = ::poll(p, n, timeoutMs);
    if (stop.requested()) return WaitResult::Stopped;
    if (r == 0) return WaitResult::Timeout;
    if (r < 0) return errno == EINTR ? WaitResult::Timeout : WaitResult::Failed;
    if (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
        // Bytes that came in before the hang-up are still worth reading.
        if ((events & POLLIN) && (p[0].revents & POLLIN) && queued() > 0) return WaitResult::Ready;
        return WaitResult::Failed;
    }
    if (p[0].revents & events) return WaitResult::Ready;
    return WaitResult::Timeout;
}

WaitResult CommPort::waitReadable(int timeoutMs, const StopSignal& stop) const
{
    return waitFor(POLLIN, timeoutMs, stop);
}

WaitResult CommPort::waitWritable(int timeoutMs, const StopSignal& stop) const
{
    return waitFor(POLLOUT, timeoutMs, stop);
}

ssize_t CommPort::read(void* buffer, size_t size) const
{
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    ssize_t n;
    do n = ::read(fd_, buffer, size);
    while (n < 0 && errno == EINTR);
    return n;
}

ssize_t CommPort::write(const void* buffer, size_t size) const
{
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    ssize_t n;
    do n = ::write(fd_, buffer, size);
    while (n < 0 && errno == EINTR);
    return n;
}

void CommPort::close(int drainMs)
{
    if (fd_ < 0) return;
    // Let what was just sent leave the port, but don't wait on a stalled line:
    // close() itself would wait for the driver to drain it.
    if (drainMs > 0) {
        using Clock = std::chrono::steady_clock;
        const auto until = Clock::now() + std::chrono::milliseconds(drainMs);
        int out = 0;
        while (::ioctl(fd_, TIOCOUTQ, &out) == 0 && out > 0 && Clock::now() < until) ::usleep(5000);
    }
    ::ioctl(fd_, TCFLSH, TCIOFLUSH);
    if (haveSaved_) setTermios(fd_, saved_->t);
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

} // namespace quillon::platform
