// Capture cost and capacity of quillon-portmon, run as root:
//  1. a separate writer doing 64-byte writes to a pty as fast as it can,
//     unhooked, hooked with capture on, and under strace -e trace=write;
//  2. a writer pacing 20,000 writes a second for 10 s while the records are
//     read through the real channel every 500 ms: every one must arrive.
//
//   portmon_bench [seconds-per-rate-run [rounds [helper]]]

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "monitor/capture_device.h"
#include "monitor/record_walk.h"

using namespace quillon;
using namespace quillon::capture;
using namespace quillon::monitor;

namespace {

double nowSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Child modes: --writer PATH SECONDS, --paced PATH RATE SECONDS.
int childMain(int argc, char** argv)
{
    int fd = ::open(argv[2], O_WRONLY | O_NOCTTY);
    if (fd < 0) return 3;
    char block[64];
    std::memset(block, 'x', sizeof block);
    long long writes = 0;
    if (std::strcmp(argv[1], "--writer") == 0 && argc > 3) {
        const double seconds = std::atof(argv[3]);
        const double start = nowSeconds();
        double elapsed = 0;
        while (elapsed < seconds) {
            for (int i = 0; i < 256; ++i)
                if (::write(fd, block, sizeof block) == sizeof block) ++writes;
            elapsed = nowSeconds() - start;
        }
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        const double cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
        std::printf("%.0f %.0f\n", writes / elapsed, writes / cpu);
    } else if (std::strcmp(argv[1], "--paced") == 0 && argc > 4) {
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
        std::printf("%lld\n", writes);
    }
    ::close(fd);
    return 0;
}

struct Child {
    pid_t pid = -1;
    int out = -1;
};

Child spawn(std::vector<std::string> args)
{
    int p[2];
    if (::pipe(p) != 0) return {};
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(p[1], STDOUT_FILENO);
        ::close(p[0]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(p[1]);
    return {pid, p[0]};
}

std::string finish(Child c)
{
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = ::read(c.out, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(c.out);
    ::waitpid(c.pid, nullptr, 0);
    return out;
}

std::string self()
{
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

// Writes per second of wall time, and per second of the writer's own CPU
// time (less swayed by whatever else runs on a shared machine).
struct Rate {
    double wall = 0;
    double cpu = 0;
};

Rate writerRate(const std::string& slave, double seconds, bool underStrace = false)
{
    std::vector<std::string> args = {self(), "--writer", slave, std::to_string(seconds)};
    if (underStrace) args.insert(args.begin(), {"strace", "-qq", "-e", "trace=write", "-o", "/dev/null"});
    Rate r;
    std::sscanf(finish(spawn(args)).c_str(), "%lf %lf", &r.wall, &r.cpu);
    return r;
}

std::vector<uint8_t> hookBlock(const std::string& name)
{
    std::vector<uint8_t> b(kHookBlockSize, 0);
    b[0] = 1;
    std::memcpy(b.data() + 4, name.data(), name.size());
    return b;
}

std::vector<uint8_t> u32Block(uint32_t v)
{
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

// Reads records the way the monitor page does: every 500 ms, until a read returns nothing.
struct Poller {
    explicit Poller(HelperCaptureDevice& d) : device(d) {}
    void start()
    {
        thread = std::thread([this] {
            while (!stop) {
                for (;;) {
                    CaptureAnswer a = device.request(kReadRecords, {}, kReadBufferSize);
                    if (!a.ok || a.output.empty()) break;
                    walkMonitorRecords(a.output, a.output.size(), [&](const MonitorRecord& r) {
                        ++records;
                        if (r.fields.size() > 3 && r.fields[3] == "OVERFLOW") {
                            ++overflowRecords;
                            dropped += std::atoll(r.fields[4].c_str());
                        } else if (r.fields.size() > 1 && r.fields[1] == "IRP_MJ_WRITE") {
                            ++writeRecords;
                        }
                    });
                }
                for (int i = 0; i < 50 && !stop; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    void finish()
    {
        stop = true;
        thread.join();
    }
    HelperCaptureDevice& device;
    std::thread thread;
    std::atomic<bool> stop{false};
    long long records = 0, writeRecords = 0, overflowRecords = 0, dropped = 0;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && argv[1][0] == '-' && argv[1][1] == '-') return childMain(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string helper = argc > 3 ? argv[3] : defaultHelperPath();

    int master = -1, slaveFd = -1;
    char name[256] = {};
    if (::openpty(&master, &slaveFd, name, nullptr, nullptr) != 0) return 1;
    termios raw{};
    tcgetattr(slaveFd, &raw);
    cfmakeraw(&raw);
    tcsetattr(slaveFd, TCSANOW, &raw);
    const std::string slave = name;
    // The remote end takes everything, so the writer never waits for room.
    std::atomic<bool> draining{true};
    std::thread drain([&] {
        char buf[65536];
        while (draining) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) (void)!::read(master, buf, sizeof buf);
        }
    });

    std::printf("pty %s, %d rounds of %.1f s per rate\n", slave.c_str(), rounds, seconds);
    HelperCaptureDevice device(helper);
    // Alternating rounds, so a neighbour's load hits both sides alike.
    std::vector<double> wallRatio, cpuRatio;
    long long recordsRead = 0, dropped = 0;
    for (int round = 0; round < rounds; ++round) {
        const Rate plain = writerRate(slave, seconds);
        HelperStart s = device.start();
        if (!s.ok) {
            std::printf("capture cannot be loaded here: %s\n", s.message.c_str());
            return 2;
        }
        device.request(kHookSerial, hookBlock(slave), 4);
        device.request(kMaxDataBytes, u32Block(64), 0);
        device.request(kStartCapture, {}, 0);
        Poller poller(device);
        poller.start();
        const Rate hooked = writerRate(slave, seconds);
        poller.finish();
        device.stop();
        recordsRead += poller.writeRecords;
        dropped += poller.dropped;
        wallRatio.push_back(hooked.wall / plain.wall);
        cpuRatio.push_back(hooked.cpu / plain.cpu);
        std::printf("round %d: unhooked %8.0f/s (%8.0f per CPU s)  hooked %8.0f/s (%8.0f per CPU s)  wall %.1f %%  CPU %.1f %%\n",
                    round + 1, plain.wall, plain.cpu, hooked.wall, hooked.cpu, 100.0 * wallRatio.back(),
                    100.0 * cpuRatio.back());
    }
    std::printf("median hooked/unhooked: wall-clock rate %.1f %%, per writer CPU second %.1f %%; %lld write records read, %lld dropped\n",
                100.0 * median(wallRatio), 100.0 * median(cpuRatio), recordsRead, dropped);
    if (::system("command -v strace >/dev/null 2>&1") == 0) {
        const Rate before = writerRate(slave, seconds);
        const Rate traced = writerRate(slave, seconds, true);
        std::printf("strace -e trace=write: %8.0f/s against %8.0f/s unhooked: wall-clock rate %.1f %%\n", traced.wall,
                    before.wall, 100.0 * traced.wall / before.wall);
    } else {
        std::printf("strace not installed\n");
    }

    HelperStart started = device.start();
    if (!started.ok) return 2;
    device.request(kHookSerial, hookBlock(slave), 4);
    device.request(kMaxDataBytes, u32Block(64), 0);
    device.request(kStartCapture, {}, 0);
    device.request(kDiscardRecords, {}, 0);
    {
        Poller poller(device);
        poller.start();
        const long rate = 20000;
        const int paceSeconds = 10;
        Child c = spawn({self(), "--paced", slave, std::to_string(rate), std::to_string(paceSeconds)});
        const long long written = std::atoll(finish(c).c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(700)); // the last poll
        poller.finish();
        std::printf("paced      %lld writes in %d s (%ld/s asked); %lld write records read, %lld dropped, %s\n", written,
                    paceSeconds, rate, poller.writeRecords, poller.dropped,
                    poller.writeRecords == written && poller.overflowRecords == 0 ? "none lost" : "RECORDS LOST");
    }
    device.stop();
    draining = false;
    drain.join();
    return 0;
}
