// Floods the port monitor page, the list shown and the capture log on, and
// measures the longest time the window's event loop was kept from running
// (a 10 ms timer measures it).
//
//   monitor_poll_bench [seconds [screenshot.png]]
//     a scripted capture component answering every read with a full
//     65528-byte buffer of records: how many were read and logged.
//   monitor_poll_bench --helper [seconds [rounds [paced-seconds [screenshot.png]]]]
//     the real helper (run as root), a pty ticked in the port list and a
//     separate writer flooding it; then a writer paced at 20,000 writes a second.

#include "app/application.h"
#include "app/dialogs.h"
#include "app/mainform.h"
#include "bench/bench_dialogs.h"
#include "bench/monitor/helper_flood.h"
#include "bench/monitor/pty_flood.h"
#include "monitor/capture_device.h"
#include "monitor/monitor_requests.h"
#include "monitor/serialmon_page.h"
#include "platform/device_map.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTest>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace quillon;
using namespace quillon::monitor;

namespace {

using bench::BenchDialogs;
using bench::DelayProbe;

// Every read is a full buffer: writes of 64 bytes, each read request
// completed by a second record, as a busy port gives them.
class FloodingCapture : public monitor::CaptureService {
public:
    long long records = 0;
    long long reads = 0;

    monitor::LoadFailure load() override
    {
        running_ = true;
        return monitor::LoadFailure::None;
    }
    void unload() override { running_ = false; }
    bool loaded() const override { return running_; }
    monitor::CaptureAnswer request(uint32_t code, std::span<const uint8_t> input, uint32_t) override
    {
        if (code == kHookSerial || code == kHookParallel) return {true, 0, uint32Block(hookMaskOf(input))};
        if (code != kReadRecords) return {true, 0, {}};
        ++reads;
        monitor::CaptureAnswer a{true, 0, {}};
        a.output.reserve(kReadBufferSize);
        while (true) {
            const bool completion = sequence_ % 2 == 1;
            const std::string text =
                completion ? "\t\t\tSUCCESS\tLength 64: " + std::string(64, 'r')
                           : "writer(4242)\tIRP_MJ_WRITE\t/dev/ttyS0\tSUCCESS\tLength 64: " + std::string(64, 'w');
            const size_t size = 13 + ((text.size() + 4) & ~size_t(3));
            if (a.output.size() + size > kReadBufferSize) break;
            append(a.output, text);
            ++records;
        }
        return a;
    }

private:
    void append(std::vector<uint8_t>& out, const std::string& text)
    {
        const uint32_t seq = static_cast<uint32_t>(sequence_ / 2);
        ++sequence_;
        const uint64_t time = 127244205010000000ULL + static_cast<uint64_t>(sequence_) * 1000;
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(seq >> (8 * i)));
        out.push_back(0);
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(time >> (8 * i)));
        out.insert(out.end(), text.begin(), text.end());
        out.insert(out.end(), ((text.size() + 4) & ~size_t(3)) - text.size(), 0);
    }
    bool running_ = false;
    long long sequence_ = 0;
};

long long linesIn(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    long long n = 0;
    std::string line;
    while (std::getline(in, line)) ++n;
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    if (bench::isWriterChild(argc, argv)) return bench::runWriterChild(argc, argv);
    QuillonApplication app(argc, argv);
    applyProgramLook(app);
    if (argc > 1 && std::string(argv[1]) == "--helper") {
        bench::HelperFloodSettings settings;
        if (argc > 2) settings.seconds = std::atof(argv[2]);
        if (argc > 3) settings.rounds = std::atoi(argv[3]);
        if (argc > 4) settings.pacedSeconds = std::atof(argv[4]);
        if (argc > 5) settings.screenshot = argv[5];
        return bench::runHelperFlood(settings);
    }
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const QString shot = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();

    char dirTemplate[] = "/tmp/quillon-monbench-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);
    const std::string logPath = dir + "/PortMon.log";

    BenchDialogs dialogs;
    platform::FixedDeviceMap devices;
    devices.serial = std::vector<platform::DeviceMapEntry>{{"\\Device\\Serial0", "/dev/ttyS0"},
                                                           {"\\Device\\Serial1", "/dev/ttyUSB0"}};
    devices.parallel = std::vector<platform::DeviceMapEntry>{};
    FloodingCapture capture;
    FrameOptions options;
    options.settingsPath = dir + "/quillon.INI";
    options.dialogs = &dialogs;
    options.deviceMap = &devices;
    options.capture = &capture;
    TfrmMain frame(options);
    frame.show();
    if (!QTest::qWaitForWindowExposed(&frame)) std::fprintf(stderr, "window not exposed\n");
    frame.findChild<QTabWidget*>(QStringLiteral("pcToolSet"))->setCurrentIndex(TfrmMain::SerialMonIndex);

    frame.findChild<QListWidget*>(QStringLiteral("clbSerialList"))->item(0)->setCheckState(Qt::Checked);
    frame.findChild<QLineEdit*>(QStringLiteral("edLogFile"))->setText(QString::fromStdString(logPath));
    frame.findChild<QCheckBox*>(QStringLiteral("cbLogToFile"))->setChecked(true);

    // A first run without capture shows what the machine's own load costs.
    DelayProbe probe;
    QTest::qWait(seconds * 1000);
    const qint64 idleWorst = probe.worst();
    frame.findChild<QAbstractButton*>(QStringLiteral("btnStartSerMon"))->click();
    probe.reset();
    QTest::qWait(seconds * 1000);
    const qint64 worst = probe.worst();
    if (!shot.isEmpty()) frame.grab().save(shot);
    // Unloading ends the flood; what was read by then is in the log.
    frame.findChild<QAbstractButton*>(QStringLiteral("btnStartSerMon"))->click();

    const long long logged = linesIn(logPath);
    std::printf("seconds               %d\n", seconds);
    std::printf("full buffers read     %lld (%.1f MB/s)\n", capture.reads,
                capture.reads * double(kReadBufferSize) / 1e6 / seconds);
    std::printf("records read          %lld (%.0f per second)\n", capture.records, double(capture.records) / seconds);
    std::printf("records logged        %lld%s\n", logged, logged == capture.records ? " (all)" : " (MISSING SOME)");
    std::printf("rows in the list      %zu\n", frame.serialMonPage()->rows().size());
    std::printf("worst event-loop delay %lld ms (without capture: %lld ms)\n", worst, idleWorst);
    std::printf("messages              %d\n", dialogs.messages);
    std::remove(logPath.c_str());
    std::remove(options.settingsPath.c_str());
    ::rmdir(dir.c_str());
    return 0;
}
