// Capture cost and capacity of quillon-portmon, run as root:
//  1. a separate writer doing 64-byte writes to a pty as fast as it can,
//     unhooked, hooked with capture on, and under strace -e trace=write;
//  2. the helper's peak resident memory, read every 500 ms and with nobody
//     reading at all (its queues are bounded);
//  3. the same writer rates for a 32-bit writer (i386 system calls);
//  4. a writer pacing 20,000 writes a second for 10 s while the records are
//     read through the real channel every 500 ms: every one must arrive.
//
//   portmon_bench [seconds-per-rate-run [rounds [helper]]]

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/monitor/pty_flood.h"
#include "monitor/capture_device.h"
#include "monitor/record_walk.h"

using namespace quillon;
using namespace quillon::bench;
using namespace quillon::capture;
using namespace quillon::monitor;

namespace {

// Writes per second of wall time and per writer CPU second, of a writer as fast as it can.
WriterResult writerRate(const std::string& slave, double seconds, bool underStrace = false)
{
    std::vector<std::string> strace;
    if (underStrace) strace = {"strace", "-qq", "-e", "trace=write", "-o", "/dev/null"};
    return writerResult(startWriter(slave, seconds, 0, strace).finish());
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
    explicit Poller(monitor::HelperCaptureDevice& d) : device(d) {}
    void start()
    {
        thread = std::thread([this] {
            while (!stop) {
                for (;;) {
                    monitor::CaptureAnswer a = device.request(kReadRecords, {}, kReadBufferSize);
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
    monitor::HelperCaptureDevice& device;
    std::thread thread;
    std::atomic<bool> stop{false};
    long long records = 0, writeRecords = 0, overflowRecords = 0, dropped = 0;
};

// Peak resident memory of a process (VmHWM), in MiB; 0 when unknown.
double peakRssMiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

// Loads the helper with the pty hooked, 64 data bytes a record, capture on.
bool startHooked(monitor::HelperCaptureDevice& device, const std::string& slave)
{
    monitor::HelperStart s = device.start();
    if (!s.ok) {
        std::printf("capture cannot be loaded here: %s\n", s.message.c_str());
        return false;
    }
    monitor::CaptureAnswer hooked = device.request(kHookSerial, hookBlock(slave), 4);
    return hooked.ok && hooked.output == u32Block(1) && device.request(kMaxDataBytes, u32Block(64), 0).ok &&
           device.request(kStartCapture, {}, 0).ok;
}

// The 32-bit writer makes a given number of 64-byte writes; its rate is
// that number over the time it took.
// 0 when it did not run (a kernel without 32-bit system calls).
struct Writer32 {
    std::string path;
    const DrainedPty& pty;
    long long count = 0;

    double rate(const std::vector<std::string>& prefix = {}) const
    {
        const long long drained = pty.drainedBytes();
        const double begun = nowSeconds();
        Child c({path, pty.slavePath(), std::string(64, 'w'), std::to_string(count)}, prefix);
        c.finish();
        const double took = nowSeconds() - begun;
        for (int i = 0; i < 100 && pty.drainedBytes() == drained; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return pty.drainedBytes() > drained ? count / took : 0;
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (isWriterChild(argc, argv)) return runWriterChild(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string helper = argc > 3 ? argv[3] : QUILLON_PORTMON_PATH;

    DrainedPty pty;
    if (!pty.ok()) return 1;
    const std::string slave = pty.slavePath();

    std::printf("pty %s, %d rounds of %.1f s per rate\n", slave.c_str(), rounds, seconds);
    monitor::HelperCaptureDevice device(helper);
    // Alternating rounds, so a neighbour's load hits both sides alike.
    std::vector<double> wallRatio, cpuRatio;
    long long recordsRead = 0, dropped = 0;
    double polledPeak = 0;
    for (int round = 0; round < rounds; ++round) {
        const WriterResult plain = writerRate(slave, seconds);
        if (!startHooked(device, slave)) return 2;
        Poller poller(device);
        poller.start();
        const WriterResult hooked = writerRate(slave, seconds);
        poller.finish();
        polledPeak = std::max(polledPeak, peakRssMiB(device.pid()));
        device.stop();
        recordsRead += poller.writeRecords;
        dropped += poller.dropped;
        wallRatio.push_back(hooked.wall / plain.wall);
        cpuRatio.push_back(hooked.cpu / plain.cpu);
        std::printf("round %d: unhooked %8.0f/s (%8.0f per CPU s)  hooked %8.0f/s (%8.0f per CPU s)  wall %.1f %%  CPU "
                    "%.1f %%\n",
                    round + 1, plain.wall, plain.cpu, hooked.wall, hooked.cpu, 100.0 * wallRatio.back(),
                    100.0 * cpuRatio.back());
    }
    std::printf("median hooked/unhooked: wall-clock rate %.1f %%, per writer CPU second %.1f %%; %lld write records "
                "read, %lld dropped\n",
                100.0 * median(wallRatio), 100.0 * median(cpuRatio), recordsRead, dropped);
    const bool haveStrace = ::system("command -v strace >/dev/null 2>&1") == 0;
    if (haveStrace) {
        const WriterResult before = writerRate(slave, seconds);
        const WriterResult traced = writerRate(slave, seconds, true);
        std::printf("strace -e trace=write: %8.0f/s against %8.0f/s unhooked: wall-clock rate %.1f %%\n", traced.wall,
                    before.wall, 100.0 * traced.wall / before.wall);
    } else {
        std::printf("strace not installed\n");
    }

    // Nobody reads: the records pile up to the queue's bound and no further.
    {
        if (!startHooked(device, slave)) return 2;
        const WriterResult flood = writerRate(slave, 2 * seconds);
        const double unreadPeak = peakRssMiB(device.pid());
        monitor::CaptureAnswer first = device.request(kReadRecords, {}, kReadBufferSize);
        long long overflow = 0;
        walkMonitorRecords(first.output, first.output.size(), [&](const MonitorRecord& r) {
            if (r.fields.size() > 4 && r.fields[3] == "OVERFLOW") overflow = std::atoll(r.fields[4].c_str());
        });
        device.stop();
        std::printf("helper peak RSS: %.1f MiB read every 500 ms; %.1f MiB after %.0f s of %.0f writes/s nobody read "
                    "(%lld records dropped, told in one OVERFLOW record)\n",
                    polledPeak, unreadPeak, 2 * seconds, flood.wall, overflow);
    }

    const std::string writer32 = QUILLON_PORTMON_WRITER32;
    if (writer32.empty()) {
        std::printf("32-bit writer not built (no i386 assembler)\n");
    } else {
        Writer32 w{writer32, pty, 20000};
        const double probe = w.rate();
        if (probe <= 0) {
            std::printf("32-bit writer does not run here (no 32-bit system calls in this kernel)\n");
        } else {
            w.count = static_cast<long long>(probe * seconds);
            std::vector<double> ratio;
            double plain = 0, hooked = 0, peak = 0;
            for (int round = 0; round < rounds; ++round) {
                plain = w.rate();
                if (!startHooked(device, slave)) return 2;
                Poller poller(device);
                poller.start();
                hooked = w.rate();
                poller.finish();
                peak = std::max(peak, peakRssMiB(device.pid()));
                device.stop();
                ratio.push_back(hooked / plain);
                std::printf("32-bit round %d: unhooked %8.0f/s  hooked %8.0f/s  wall %.1f %%; %lld write records read, "
                            "%lld dropped\n",
                            round + 1, plain, hooked, 100.0 * ratio.back(), poller.writeRecords, poller.dropped);
            }
            std::printf("32-bit median hooked/unhooked: wall-clock rate %.1f %%; helper peak RSS %.1f MiB\n",
                        100.0 * median(ratio), peak);
            if (haveStrace) {
                const double before = w.rate();
                const double traced = w.rate({"strace", "-qq", "-e", "trace=write", "-o", "/dev/null"});
                std::printf("32-bit strace -e trace=write: %8.0f/s against %8.0f/s unhooked: wall-clock rate %.1f %%\n",
                            traced, before, 100.0 * traced / before);
            }
        }
    }

    if (!startHooked(device, slave)) return 2;
    device.request(kDiscardRecords, {}, 0);
    {
        Poller poller(device);
        poller.start();
        const long rate = 20000;
        const int paceSeconds = 10;
        const long long written = writerResult(startWriter(slave, paceSeconds, rate).finish()).writes;
        std::this_thread::sleep_for(std::chrono::milliseconds(700)); // the last poll
        poller.finish();
        std::printf("paced      %lld writes in %d s (%ld/s asked); %lld write records read, %lld dropped, %s\n",
                    written, paceSeconds, rate, poller.writeRecords, poller.dropped,
                    poller.writeRecords == written && poller.overflowRecords == 0 ? "none lost" : "RECORDS LOST");
    }
    device.stop();
    return 0;
}
