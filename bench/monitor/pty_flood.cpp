#include "bench/monitor/pty_flood.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quillon::bench {

namespace {

std::string selfPath()
{
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

double cpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

} // namespace

double nowSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

bool isWriterChild(int argc, char** argv)
{
    if (argc < 2) return false;
    return (std::strcmp(argv[1], "--writer") == 0 && argc > 3) || (std::strcmp(argv[1], "--paced") == 0 && argc > 4);
}

int runWriterChild(int argc, char** argv)
{
    if (!isWriterChild(argc, argv)) return 2;
    int fd = ::open(argv[2], O_WRONLY | O_NOCTTY);
    if (fd < 0) return 3;
    char block[64];
    std::memset(block, 'x', sizeof block);
    long long writes = 0;
    const double start = nowSeconds();
    if (std::strcmp(argv[1], "--writer") == 0) {
        const double seconds = std::atof(argv[3]);
        while (nowSeconds() - start < seconds) {
            for (int i = 0; i < 256; ++i)
                if (::write(fd, block, sizeof block) == sizeof block) ++writes;
        }
    } else {
        const long rate = std::atol(argv[3]);
        const double seconds = std::atof(argv[4]);
        const long perMs = rate / 1000;
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        for (long ms = 0; ms < seconds * 1000; ++ms) {
            for (long i = 0; i < perMs; ++i)
                if (::write(fd, block, sizeof block) == sizeof block) ++writes;
            next.tv_nsec += 1'000'000;
            if (next.tv_nsec >= 1'000'000'000) {
                next.tv_nsec -= 1'000'000'000;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
    }
    const double elapsed = nowSeconds() - start;
    const double cpu = cpuSeconds();
    std::printf("%lld %.0f %.0f\n", writes, elapsed > 0 ? writes / elapsed : 0, cpu > 0 ? writes / cpu : 0);
    ::close(fd);
    return 0;
}

Child::Child(std::vector<std::string> args, const std::vector<std::string>& prefix)
{
    args.insert(args.begin(), prefix.begin(), prefix.end());
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return;
    // Built before the fork: the child may only call async-signal-safe functions.
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(p[1], STDOUT_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(p[1]);
    if (pid < 0) {
        ::close(p[0]);
        return;
    }
    pid_ = pid;
    out_ = p[0];
}

Child::Child(Child&& other) noexcept : pid_(other.pid_), out_(other.out_), reaped_(other.reaped_)
{
    other.pid_ = -1;
    other.out_ = -1;
}

Child::~Child()
{
    if (pid_ > 0 && !reaped_) finish();
    if (out_ >= 0) ::close(out_);
}

bool Child::exited()
{
    if (pid_ <= 0 || reaped_) return true;
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) reaped_ = true;
    return reaped_;
}

std::string Child::finish()
{
    std::string out;
    if (out_ >= 0) {
        // It prints one short line, so reading to the end never holds it up.
        char buf[256];
        ssize_t n;
        while ((n = ::read(out_, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
        ::close(out_);
        out_ = -1;
    }
    if (pid_ > 0 && !reaped_) {
        ::waitpid(pid_, nullptr, 0);
        reaped_ = true;
    }
    return out;
}

Child startWriter(const std::string& slave, double seconds, long rate, const std::vector<std::string>& prefix)
{
    if (rate > 0) return Child({selfPath(), "--paced", slave, std::to_string(rate), std::to_string(seconds)}, prefix);
    return Child({selfPath(), "--writer", slave, std::to_string(seconds)}, prefix);
}

WriterResult writerResult(const std::string& printed)
{
    WriterResult r;
    if (std::sscanf(printed.c_str(), "%lld %lf %lf", &r.writes, &r.wall, &r.cpu) != 3) return {};
    return r;
}

DrainedPty::DrainedPty()
{
    char name[256] = {};
    if (::openpty(&master_, &slaveFd_, name, nullptr, nullptr) != 0) {
        master_ = slaveFd_ = -1;
        return;
    }
    // Writers and the capture helper are started from this process: neither keeps the pty.
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slaveFd_, F_SETFD, FD_CLOEXEC);
    termios raw{};
    tcgetattr(slaveFd_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slaveFd_, TCSANOW, &raw);
    slave_ = name;
    drain_ = std::thread([this] {
        char buf[65536];
        while (draining_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) drained_ += n;
        }
    });
}

DrainedPty::~DrainedPty()
{
    draining_ = false;
    if (drain_.joinable()) drain_.join();
    if (slaveFd_ >= 0) ::close(slaveFd_);
    if (master_ >= 0) ::close(master_);
}

} // namespace quillon::bench
