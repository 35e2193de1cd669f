#include "monitor/capture_device.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <vector>

extern char** environ;

namespace quillon {

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

HelperCaptureDevice::~HelperCaptureDevice() { stop(); }

HelperStart HelperCaptureDevice::start()
{
    stop();
    std::vector<std::string> args;
    if (::geteuid() != 0) {
        std::string pkexec = pkexecPath();
        if (pkexec.empty()) return {false, EPERM, "no privilege: not root and pkexec is not installed"};
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

    // pkexec may ask for a password first.
    const int handshakeMs = args.size() > 1 ? 120000 : 2 * timeoutMs_;
    uint8_t magic[4];
    CaptureAnswer hello;
    if (!receiveAll(magic, 4, handshakeMs) || capture::getU32(magic) != capture::kHelloMagic ||
        !receiveAnswer(hello, timeoutMs_)) {
        stop();
        return {false, ECONNREFUSED, "the capture helper did not answer"};
    }
    std::string message(hello.output.begin(), hello.output.end());
    if (!hello.ok) {
        stop();
        return {false, hello.error, message};
    }
    return {true, 0, message};
}

void HelperCaptureDevice::stop()
{
    if (fd_ >= 0) {
        const std::vector<uint8_t> quit = capture::encodeRequest(capture::kHelperQuit, {}, 0);
        CaptureAnswer ignored;
        if (sendAll(quit)) receiveAnswer(ignored, std::min(1000, timeoutMs_));
        // Closing our end is enough on its own: the helper exits at end of input.
        ::close(fd_);
        fd_ = -1;
    }
    reap(std::min(2000, timeoutMs_));
}

void HelperCaptureDevice::reap(int waitMs)
{
    if (pid_ <= 0) return;
    auto exited = [this](int ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        do {
            pid_t r = ::waitpid(pid_, nullptr, WNOHANG);
            if (r == pid_ || (r < 0 && errno != EINTR)) return true;
            ::usleep(2000);
        } while (Clock::now() < until);
        return false;
    };
    if (!exited(waitMs)) {
        ::kill(pid_, SIGTERM);
        if (!exited(1000)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_ = -1;
}

bool HelperCaptureDevice::sendAll(const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs_);
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

bool HelperCaptureDevice::receiveAll(uint8_t* out, size_t n, int timeoutMs)
{
    size_t done = 0;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (done < n) {
        ssize_t got = ::recv(fd_, out + done, n - done, MSG_DONTWAIT);
        if (got > 0) {
            done += static_cast<size_t>(got);
            continue;
        }
        if (got == 0) return false;
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, msLeft(until)) <= 0) {
            timedOut_ = true;
            return false;
        }
    }
    return true;
}

bool HelperCaptureDevice::receiveAnswer(CaptureAnswer& answer, int timeoutMs)
{
    uint8_t header[capture::kFrameHeaderSize];
    if (!receiveAll(header, sizeof header, timeoutMs)) return false;
    const uint32_t length = capture::getU32(header + 8);
    // Nothing the helper answers is larger than one read buffer.
    if (length > capture::kReadBufferSize) return false;
    answer.ok = capture::getU32(header) != 0;
    answer.error = static_cast<int>(capture::getU32(header + 4));
    answer.output.resize(length);
    return length == 0 || receiveAll(answer.output.data(), length, timeoutMs);
}

CaptureAnswer HelperCaptureDevice::request(uint32_t code, std::span<const uint8_t> input, uint32_t outputSize)
{
    if (fd_ < 0) return CaptureAnswer::failure(ENOTCONN);
    CaptureAnswer answer;
    timedOut_ = false;
    if (!sendAll(capture::encodeRequest(code, input, outputSize)) || !receiveAnswer(answer, timeoutMs_)) {
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
    const std::string& why = lastStart_.message;
    if (lastStart_.error == ENOENT && why.rfind("cannot start", 0) == 0) return LoadFailure::HelperMissing;
    if (lastStart_.error == EPERM || lastStart_.error == EACCES || why.rfind("no privilege", 0) == 0)
        return LoadFailure::NoPrivilege;
    if (why.rfind("no BTF", 0) == 0) return LoadFailure::NoBtf;
    if (why.rfind("no BPF", 0) == 0) return LoadFailure::NoBpf;
    return LoadFailure::Other;
}

std::unique_ptr<CaptureService> makeSystemCaptureService() { return std::make_unique<HelperCaptureDevice>(); }

} // namespace quillon
