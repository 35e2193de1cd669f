// Capture cost and capacity of quillon-portmon, run as root:
//  1. a separate writer doing 64-byte writes to a pty as fast as it can,
//     unhooked, hooked with capture on, and under strace -e trace=write;
//  2. a writer pacing 20,000 writes a second for 10 s while the records are
//     read through the real channel every 500 ms: every one must arrive.
//
//   portmon_bench [seconds-per-rate-run [rounds [helper]]]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    if (isWriterChild(argc, argv)) return runWriterChild(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string helper = argc > 3 ? argv[3] : QUILLON_PORTMON_PATH;

    DrainedPty pty;
    if (!pty.ok()) return 1;
    const std::string slave = pty.slavePath();

    std::printf("pty %s, %d rounds of %.1f s per rate\n", slave.c_str(), rounds, seconds);
    HelperCaptureDevice device(helper);
    // Alternating rounds, so a neighbour's load hits both sides alike.
    std::vector<double> wallRatio, cpuRatio;
    long long recordsRead = 0, dropped = 0;
    for (int round = 0; round < rounds; ++round) {
        const WriterResult plain = writerRate(slave, seconds);
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
        const WriterResult hooked = writerRate(slave, seconds);
        poller.finish();
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
    if (::system("command -v strace >/dev/null 2>&1") == 0) {
        const WriterResult before = writerRate(slave, seconds);
        const WriterResult traced = writerRate(slave, seconds, true);
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
