#include "bench/monitor/helper_flood.h"

#include "app/mainform.h"
#include "bench/bench_dialogs.h"
#include "bench/monitor/flood_tally.h"
#include "bench/monitor/pty_flood.h"
#include "monitor/capture_device.h"
#include "monitor/monitor_requests.h"
#include "monitor/record_walk.h"
#include "monitor/serialmon_page.h"
#include "platform/device_map.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTest>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quillon::bench {

using namespace quillon::monitor;

namespace {

std::string helperPath()
{
#ifdef QUILLON_PORTMON_PATH
    return QUILLON_PORTMON_PATH;
#else
    return defaultHelperPath();
#endif
}

// The helper as the page sees it, keeping a copy of every buffer a read
// hands over: what the page received, to hold its log against.
class RecordingCapture : public monitor::CaptureService {
public:
    explicit RecordingCapture(monitor::CaptureService& inner) : inner_(inner) { clock_.start(); }

    monitor::LoadFailure load() override { return inner_.load(); }
    void unload() override { inner_.unload(); }
    bool loaded() const override { return inner_.loaded(); }
    monitor::CaptureAnswer request(uint32_t code, std::span<const uint8_t> input, uint32_t outputSize) override
    {
        if (code != kReadRecords) return inner_.request(code, input, outputSize);
        const qint64 begun = now();
        monitor::CaptureAnswer a = inner_.request(code, input, outputSize);
        const qint64 took = now() - begun;
        readNs += took;
        longestReadNs = std::max(longestReadNs, took);
        if (took > 100'000'000) ++slowReads;
        ++reads;
        if (a.ok && a.output.empty())
            lastEmptyReadBegun = begun;
        else if (a.ok)
            buffers.push_back(a.output);
        return a;
    }

    void clear()
    {
        buffers.clear();
        reads = 0;
        readNs = 0;
        longestReadNs = 0;
        slowReads = 0;
        lastEmptyReadBegun = -1;
    }
    qint64 now() const { return clock_.nsecsElapsed(); }

    std::vector<std::vector<uint8_t>> buffers; // the non-empty ones
    long long reads = 0;
    qint64 readNs = 0; // spent waiting for the helper's answers
    qint64 longestReadNs = 0;
    long long slowReads = 0; // answers that took over 100 ms
    qint64 lastEmptyReadBegun = -1;

private:
    monitor::CaptureService& inner_;
    QElapsedTimer clock_;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string loadAverage()
{
    const std::string s = readFile("/proc/loadavg");
    return s.substr(0, s.find(' ', s.find(' ', s.find(' ') + 1) + 1));
}

// The whole window, shown on the monitor page, with the pty as its only
// serial port, ticked, the list at its longest and the capture log on.
class MonitorWindow {
public:
    MonitorWindow(const std::string& dir, const std::string& slave, monitor::CaptureService& capture)
    {
        devices_.serial = std::vector<platform::DeviceMapEntry>{{"\\Device\\pty", slave}};
        devices_.parallel = std::vector<platform::DeviceMapEntry>{};
        options_.settingsPath = dir + "/quillon.INI";
        options_.dialogs = &dialogs;
        options_.deviceMap = &devices_;
        options_.capture = &capture;
        frame = std::make_unique<TfrmMain>(options_);
        frame->show();
        if (!QTest::qWaitForWindowExposed(frame.get())) std::fprintf(stderr, "window not exposed\n");
        find<QTabWidget>("pcToolSet")->setCurrentIndex(TfrmMain::SerialMonIndex);
        find<QListWidget>("clbSerialList")->item(0)->setCheckState(Qt::Checked);
        find<QLineEdit>("edMaxLines")->setText(QStringLiteral("999"));
        find<QAbstractButton>("btnMaxLines")->click();
        logPath = dir + "/PortMon.log";
        find<QLineEdit>("edLogFile")->setText(QString::fromStdString(logPath));
        find<QCheckBox>("cbLogToFile")->setChecked(true);
    }
    ~MonitorWindow()
    {
        frame.reset();
        std::remove(logPath.c_str());
        std::remove(options_.settingsPath.c_str());
    }

    template <class T>
    T* find(const char* name)
    {
        return frame->findChild<T*>(QString::fromLatin1(name));
    }
    bool loaded() const { return frame->serialMonPage()->driverLoaded(); }
    // The load/unload button, as the user presses it; a load is awaited.
    void toggleDriver()
    {
        find<QAbstractButton>("btnStartSerMon")->click();
        while (frame->serialMonPage()->loading()) QTest::qWait(5);
    }

    BenchDialogs dialogs;
    std::unique_ptr<TfrmMain> frame;
    std::string logPath;

private:
    platform::FixedDeviceMap devices_;
    FrameOptions options_;
};

WriterResult waitForWriter(Child& writer)
{
    while (!writer.exited()) QTest::qWait(20);
    return writerResult(writer.finish());
}

struct Delay {
    qint64 worst = 0;
    int over100 = 0;
};

struct CaptureCase {
    WriterResult writer;
    Delay delay;
    bool drained = false;
    double drainSeconds = 0;
    long long reads = 0;
    double readMsEach = 0;
    double longestReadMs = 0;
    long long slowReads = 0;
    Received received;
    Tally logged;
    bool logMatches = false;
};

// Loads the helper with the button, runs the writer on the ticked pty while
// the page polls, keeps polling until a read begun well after the writer's
// end comes back empty (everything it did has been read), then unloads.
bool runCapture(MonitorWindow& w, RecordingCapture& capture, DelayProbe& probe, const std::string& slave,
                double seconds, long rate, CaptureCase& c)
{
    std::remove(w.logPath.c_str());
    capture.clear();
    w.toggleDriver();
    if (!w.loaded()) return false;
    probe.reset();
    Child writer = startWriter(slave, seconds, rate);
    const std::string tag = ":" + std::to_string(writer.pid());
    c.writer = waitForWriter(writer);
    const qint64 ended = capture.now();
    constexpr qint64 kSettleNs = 200'000'000;
    QElapsedTimer waited;
    waited.start();
    while (capture.lastEmptyReadBegun < ended + kSettleNs && waited.elapsed() < 60'000 && w.loaded()) QTest::qWait(20);
    c.drained = capture.lastEmptyReadBegun >= ended + kSettleNs;
    c.drainSeconds = (capture.now() - ended) / 1e9;
    c.delay = {probe.worst(), probe.over100()};
    w.toggleDriver();
    c.reads = capture.reads;
    c.readMsEach = capture.reads ? capture.readNs / 1e6 / capture.reads : 0;
    c.longestReadMs = capture.longestReadNs / 1e6;
    c.slowReads = capture.slowReads;
    c.received = receivedFrom(capture.buffers, tag);
    const std::string log = readFile(w.logPath);
    c.logged = tallyLog(log, tag);
    c.logMatches = log == c.received.expectedLog;
    capture.clear();
    return true;
}

void printCapture(const char* label, const CaptureCase& c, bool paced)
{
    const Tally& got = c.received.tally;
    const Tally& log = c.logged;
    std::printf("  %s: %lld writes (%.0f/s)\n", label, c.writer.writes, c.writer.wall);
    std::printf("    reads %lld (%.2f ms each, longest %.0f ms, %lld over 100 ms), %lld full 65528-byte buffers, %.1f "
                "MB; drained %.2f s after the writer%s\n",
                c.reads, c.readMsEach, c.longestReadMs, c.slowReads, c.received.fullBuffers, c.received.bytes / 1e6,
                c.drainSeconds, c.drained ? "" : " (NOT DRAINED)");
    std::printf("    records received %lld, log lines %lld, log %s\n", got.records, log.records,
                c.logMatches ? "byte for byte what was received" : "DIFFERS FROM WHAT WAS RECEIVED");
    std::printf("    in the log: %lld IRP_MJ_WRITE of the writer, %lld completions, %lld overflow records saying %lld "
                "dropped\n",
                log.writerWrites, log.completions, log.overflowRecords, log.dropped);
    const bool accounted =
        c.logMatches && log.writerWrites <= c.writer.writes && log.writerWrites + log.dropped >= c.writer.writes;
    if (paced) {
        const bool none = c.logMatches && log.writerWrites == c.writer.writes && log.overflowRecords == 0;
        std::printf("    %s\n", none ? "none lost" : "RECORDS LOST");
    } else {
        std::printf("    %s (%lld writes not in the log, %lld reported dropped)\n",
                    accounted ? "nothing lost silently" : "RECORDS LOST SILENTLY", c.writer.writes - log.writerWrites,
                    log.dropped);
    }
    std::printf("    worst event-loop delay %lld ms, %d ticks over 100 ms\n", c.delay.worst, c.delay.over100);
}

} // namespace

int runHelperFlood(const HelperFloodSettings& settings)
{
    DrainedPty pty;
    if (!pty.ok()) {
        std::fprintf(stderr, "no pty\n");
        return 1;
    }
    char dirTemplate[] = "/tmp/quillon-monbench-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);

    monitor::HelperCaptureDevice helper(helperPath());
    RecordingCapture capture(helper);
    int code = 0;
    {
        MonitorWindow w(dir, pty.slavePath(), capture);
        DelayProbe probe;
        std::printf("pty %s, helper %s, %d rounds: flood %.1f s without and with capture, paced %ld/s for %.1f s\n",
                    pty.slavePath().c_str(), helperPath().c_str(), settings.rounds, settings.seconds,
                    settings.pacedRate, settings.pacedSeconds);
        std::vector<qint64> without, with, paced;
        for (int round = 1; round <= settings.rounds && code == 0; ++round) {
            // The machine may be shared: say how busy it was.
            std::printf("round %d (load average %s)\n", round, loadAverage().c_str());
            probe.reset();
            Child plainWriter = startWriter(pty.slavePath(), settings.seconds);
            const WriterResult plain = waitForWriter(plainWriter);
            without.push_back(probe.worst());
            std::printf(
                "  flood without capture: %lld writes (%.0f/s), worst event-loop delay %lld ms, %d ticks over 100 ms\n",
                plain.writes, plain.wall, probe.worst(), probe.over100());

            CaptureCase flood, steady;
            if (!runCapture(w, capture, probe, pty.slavePath(), settings.seconds, 0, flood)) {
                std::printf("capture cannot be loaded here: %s\n", helper.lastStart().message.c_str());
                code = 2;
                break;
            }
            printCapture("flood with capture", flood, false);
            with.push_back(flood.delay.worst);
            if (settings.pacedSeconds <= 0) continue;
            if (!runCapture(w, capture, probe, pty.slavePath(), settings.pacedSeconds, settings.pacedRate, steady)) {
                code = 2;
                break;
            }
            char label[64];
            std::snprintf(label, sizeof label, "paced %ld/s with capture", settings.pacedRate);
            printCapture(label, steady, true);
            paced.push_back(steady.delay.worst);
        }
        // The list as the last run left it, captured rows and all.
        if (!settings.screenshot.empty()) w.frame->grab().save(QString::fromStdString(settings.screenshot));
        if (!with.empty()) {
            const auto worstOf = [](const std::vector<qint64>& v) {
                return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
            };
            std::printf("worst event-loop delay over all rounds: flood without capture %lld ms, with capture %lld ms, "
                        "paced %lld ms\n",
                        worstOf(without), worstOf(with), worstOf(paced));
        }
        std::printf("messages %d\n", w.dialogs.messages);
    }
    ::rmdir(dir.c_str());
    return code;
}

} // namespace quillon::bench
