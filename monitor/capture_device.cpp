#include "monitor/capture_device.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>
#include <vector>

extern char** environ;

namespace quillon::monitor {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point until)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

std::string pkexecPath()
{
    for (const char* p : {"/usr/bin/pkexec", "/bin/pkexec"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

} // namespace

std::string defaultHelperPath()
{
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "quillon-portmon";
    std::string self(buf, static_cast<size_t>(n));
    return self.substr(0, self.rfind('/') + 1) + "quillon-portmon";
}

HelperCaptureDevice::HelperCaptureDevice(std::string helperPath) : helperPath_(std::move(helperPath)) {}

HelperCaptureDevice::~HelperCaptureDevice()
{
    stop();
    if (cancelFd_ >= 0) ::close(cancelFd_);
}

HelperCaptureDevice::Deadline HelperCaptureDevice::after(int ms) const
{
    return Clock::now() + std::chrono::milliseconds(ms);
}

void HelperCaptureDevice::setLoadCancelled(bool on)
{
    // The flag first: a start that has not made the descriptor yet sees it.
    cancelled_ = on;
    const int fd = cancelFd_;
    if (fd < 0) return;
    if (on) {
        const uint64_t one = 1;
        (void)!::write(fd, &one, sizeof one);
    } else {
        uint64_t count = 0;
        (void)!::read(fd, &count, sizeof count);
    }
}

HelperStart HelperCaptureDevice::start()
{
    stop();
    // Made by the first start (on the loading thread), before the flag is
    // looked at: a cancel either sees the descriptor or is seen here.
    if (cancelFd_ < 0) cancelFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancelled_) return {false, ECANCELED, "cancelled", LoadFailure::Cancelled};
    // pkexec would start, ask for a password and only then find nothing to run.
    if (::access(helperPath_.c_str(), X_OK) != 0)
        return {false, errno, "cannot start " + helperPath_, LoadFailure::HelperMissing};
    std::vector<std::string> args;
    const bool viaPkexec = ::geteuid() != 0;
    if (viaPkexec) {
        std::string pkexec = launcher_ ? *launcher_ : pkexecPath();
        if (pkexec.empty())
            return {false, EPERM, "no privilege: not root and pkexec is not installed", LoadFailure::NoPrivilege};
        args.push_back(pkexec);
    }
    args.push_back(helperPath_);

    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return {false, errno, "socketpair failed"};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sv[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, sv[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(sv[1]);
    if (err != 0) {
        ::close(sv[0]);
        return {false, err, "cannot start " + std::string(argv[0])};
    }
    fd_ = sv[0];
    pid_ = pid;
    return handshake(viaPkexec);
}

HelperStart HelperCaptureDevice::handshake(bool viaPkexec)
{
    // pkexec may ask for a password first.
    const Deadline until = after(viaPkexec ? 120000 : 2 * timeoutMs_);
    uint8_t magic[4];
    CaptureAnswer hello;
    if (receiveAll(magic, 4, until, true) && capture::getU32(magic) == capture::kHelloMagic &&
        receiveAnswer(hello, after(timeoutMs_))) {
        std::string message(hello.output.begin(), hello.output.end());
        if (hello.ok) return {true, 0, message, LoadFailure::None};
        stop();
        return {false, hello.error, message};
    }
    // No handshake: how the process ended tells pkexec's refusals apart.
    ::close(fd_);
    fd_ = -1;
    // Given up: what was started is ended (or left to end) without the usual patience.
    const int status = reap(after(cancelled_ ? std::min(300, timeoutMs_) : timeoutMs_));
    if (cancelled_) return {false, ECANCELED, "cancelled", LoadFailure::Cancelled};
    // pkexec's own codes: 126 the dialog was dismissed, 127 not authorised.
    if (viaPkexec && status >= 0 && WIFEXITED(status) && (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127))
        return {false, EACCES, "pkexec: not authorised", LoadFailure::PasswordRefused};
    return {false, ECONNREFUSED, "the capture helper did not answer"};
}

void HelperCaptureDevice::stop()
{
    // Every step waits its share of one answer's time, no more.
    const Deadline until = after(timeoutMs_);
    if (fd_ >= 0) {
        const std::vector<uint8_t> quit = capture::encodeRequest(capture::kHelperQuit, {}, 0);
        CaptureAnswer ignored;
        const Deadline quitUntil = after(timeoutMs_ / 5);
        if (sendAll(quit, quitUntil)) receiveAnswer(ignored, quitUntil);
        // Closing our end is enough on its own: the helper exits at end of input.
        ::close(fd_);
        fd_ = -1;
    }
    reap(until);
}

namespace {

// Waits for `pid` until `until`; its status, or -1 while it runs.
int waitUntil(pid_t pid, std::chrono::steady_clock::time_point until)
{
    do {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        if (r < 0 && errno != EINTR) return 0; // not ours to wait for any more
        ::usleep(2000);
    } while (Clock::now() < until);
    return -1;
}

// A child that outlives our patience is waited for by a thread of its own,
// so it leaves no zombie once it ends.
void reapInBackground(pid_t pid)
{
    std::thread([pid] {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
    }).detach();
}

} // namespace

int HelperCaptureDevice::reap(Deadline until)
{
    if (pid_ <= 0) return -1;
    const pid_t pid = pid_;
    pid_ = -1;
    auto share = [&](int parts) { return Clock::now() + (until - Clock::now()) / parts; };
    int status = waitUntil(pid, share(3));
    // A helper started through pkexec runs as root: these fail with EPERM,
    // and it is left to end itself.
    if (status < 0 && ::kill(pid, SIGTERM) == 0) status = waitUntil(pid, share(2));
    if (status < 0 && ::kill(pid, SIGKILL) == 0) status = waitUntil(pid, until);
    if (status < 0) reapInBackground(pid);
    return status;
}

bool HelperCaptureDevice::sendAll(const std::vector<uint8_t>& bytes, Deadline until)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, msLeft(until)) <= 0) {
            timedOut_ = true;
            return false;
        }
    }
    return true;
}

bool HelperCaptureDevice::receiveAll(uint8_t* out, size_t n, Deadline until, bool cancellable)
{
    size_t done = 0;
    while (done < n) {
        ssize_t got = ::recv(fd_, out + done, n - done, MSG_DONTWAIT);
        if (got > 0) {
            done += static_cast<size_t>(got);
            continue;
        }
        if (got == 0) return false;
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return false;
        pollfd p[2] = {{fd_, POLLIN, 0}, {cancellable ? cancelFd_.load() : -1, POLLIN, 0}};
        const int ready = ::poll(p, 2, msLeft(until));
        if (ready > 0 && p[1].revents) return false; // the load was cancelled
        if (ready <= 0) {
            timedOut_ = true;
            return false;
        }
    }
    return true;
}

bool HelperCaptureDevice::receiveAnswer(CaptureAnswer& answer, Deadline until, bool cancellable)
{
    uint8_t header[capture::kFrameHeaderSize];
    if (!receiveAll(header, sizeof header, until, cancellable)) return false;
    const capture::AnswerHeader head = capture::decodeAnswerHeader(header);
    const uint32_t length = head.outputLength;
    // Nothing the helper answers is larger than one read buffer.
    if (length > capture::kReadBufferSize) return false;
    answer.ok = head.ok;
    answer.error = head.error;
    answer.output.resize(length);
    return length == 0 || receiveAll(answer.output.data(), length, until, cancellable);
}

CaptureAnswer HelperCaptureDevice::request(uint32_t code, std::span<const uint8_t> input, uint32_t outputSize)
{
    if (fd_ < 0) return CaptureAnswer::failure(ENOTCONN);
    CaptureAnswer answer;
    timedOut_ = false;
    // One answer's time for the request and its answer together.
    const Deadline until = after(timeoutMs_);
    if (!sendAll(capture::encodeRequest(code, input, outputSize), until) || !receiveAnswer(answer, until)) {
        const int err = timedOut_ ? ETIMEDOUT : EPIPE;
        stop();
        return CaptureAnswer::failure(err);
    }
    // Never more than was asked for.
    if (answer.output.size() > outputSize) answer.output.resize(outputSize);
    return answer;
}

LoadFailure HelperCaptureDevice::load()
{
    lastStart_ = start();
    if (lastStart_.ok) return LoadFailure::None;
    if (lastStart_.failure != LoadFailure::Other) return lastStart_.failure;
    // The helper's own refusal says why in its first words.
    const std::string& why = lastStart_.message;
    if (lastStart_.error == EPERM || lastStart_.error == EACCES || why.rfind("no privilege", 0) == 0)
        return LoadFailure::NoPrivilege;
    if (why.rfind("no BTF", 0) == 0) return LoadFailure::NoBtf;
    if (why.rfind("no BPF", 0) == 0) return LoadFailure::NoBpf;
    return LoadFailure::Other;
}

std::unique_ptr<CaptureService> makeSystemCaptureService() { return std::make_unique<HelperCaptureDevice>(); }

} // namespace quillon::monitor
