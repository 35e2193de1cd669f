// Framed memory-map blocks streamed through a pseudo-terminal into the serial
// page at a steady rate, with 50 watched variables of mixed types, as a
// device reporting its memory would. Reports the blocks decoded per second,
// the blocks lost and whether the accumulator's 2048-byte rule explains every
// loss, and the worst event-loop delay; the same rate of plain text is run
// first for comparison. The blocks are run twice: with the plot window
// closed, and open and following, where the redraws per second count too and
// the window's CSV export must hold a row for every decoded block.
//
//   decoding_bench [seconds [bytes-per-second]]

#include "app/application.h"
#include "app/dialogs.h"
#include "app/mainform.h"
#include "bench/serial/bench_support.h"
#include "platform/device_map.h"
#include "serial/comtest_page.h"
#include "vars/datamode_group.h"
#include "vars/decoding.h"
#include "vars/plot_window.h"
#include "vars/var_group.h"

#include <QAbstractButton>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <random>
#include <thread>
#include <time.h>
#include <unistd.h>

using namespace quillon;
using namespace quillon::serial;

namespace {

// 50 variables: the block's sequence number first, then every type in turn.
void addVariables(vars::VarList& list, int32_t& bodySize)
{
    const vars::VarType cycle[] = {vars::VarType::Char,  vars::VarType::Int,    vars::VarType::Long,
                                   vars::VarType::Float, vars::VarType::Double, vars::VarType::BitMask,
                                   vars::VarType::Array};
    const int32_t sizes[] = {1, 2, 4, 4, 8, 1, 8};
    int32_t offset = 0;
    for (int i = 0; i < 50; ++i) {
        vars::VarRow r;
        r.def.number = i;
        r.def.type = i == 0 ? vars::VarType::Long : cycle[(i - 1) % 7];
        r.def.format = static_cast<vars::DisplayFormat>(i % 3);
        r.def.offset = offset;
        r.length = r.def.type == vars::VarType::BitMask ? 0x3C : 8;
        list.insert(r);
        offset += i == 0 ? 4 : sizes[(i - 1) % 7];
    }
    bodySize = offset;
}

// Body bytes stay below 0x80, so no mark can occur inside a block; the
// sequence number is written seven bits to a byte.
std::string block(uint32_t seq, int32_t bodySize, std::mt19937& rng)
{
    std::string b = "\xA5\x5A";
    for (int k = 0; k < 4; ++k) b += static_cast<char>((seq >> (7 * k)) & 0x7F);
    for (int32_t i = 4; i < bodySize; ++i) b += static_cast<char>(rng() & 0x7F);
    b += "\xFE\xDC";
    return b;
}

// Writes `data` in 10 ms slices at `rate` bytes per second.
void feed(int master, const std::string& data, double rate)
{
    const auto t0 = std::chrono::steady_clock::now();
    size_t done = 0;
    while (done < data.size()) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const size_t due = std::min(data.size(), static_cast<size_t>(elapsed * rate) + 1);
        while (done < due) {
            ssize_t n = ::write(master, data.data() + done, due - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

struct Run {
    double seconds = 0;
    long long received = 0;
    double worst = 0;
    double mean = 0;
    uint64_t decoded = 0;
    uint64_t overflows = 0;
    double redrawsPerSecond = 0;
    long long csvRows = -1;
    double csvSeconds = 0;
    size_t storeBytes = 0;
    double uiBusy = 0; // share of the run the window's thread was working
};

double threadSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

long long dataLines(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    long long n = -1; // the header
    for (std::string line; std::getline(in, line);) ++n;
    return n;
}

Run stream(bool blocks, const std::string& data, double rate, const std::string& dir, bool plot = false)
{
    Run r;
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return r;
    ::close(slave);
    platform::FixedDeviceMap devices;
    devices.serial = std::vector<platform::DeviceMapEntry>{{"\\Device\\pts", name}};
    bench::BenchDialogs dialogs;
    FrameOptions options;
    options.settingsPath = dir + "/bench.INI";
    options.dialogs = &dialogs;
    options.deviceMap = &devices;
    TfrmMain frame(options);
    frame.show();
    QTest::qWait(50);
    auto button = [&](const char* n) { return frame.findChild<QAbstractButton*>(QString::fromLatin1(n)); };
    ComTestPage* page = frame.comTestPage();
    if (blocks) {
        int32_t bodySize = 0;
        addVariables(page->session().watchedVariables(), bodySize);
        button("rbMemMap")->click();
        button("btnVarApply")->click();
        button("cbRcvBinary")->click();
    }
    button("cbCOMAutoScroll")->click();
    button("btnOpenPort")->click();
    vars::PlotWindow* window = nullptr;
    if (plot) {
        button("btnPlotVars")->click();
        window = page->varGroup()->plotWindow();
    }

    bench::EventLoopProbe probe;
    probe.start();
    QTest::qWait(30);
    probe.reset();
    const auto t0 = std::chrono::steady_clock::now();
    const long redraws0 = window ? window->framesShown() : 0;
    const double busy0 = threadSeconds();
    std::thread feeder([&] { feed(master, data, rate); });

    QEventLoop loop;
    QTimer watch;
    long long seen = -1;
    auto lastMove = std::chrono::steady_clock::now();
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const long long got = page->session().receivedTotal();
        const auto now = std::chrono::steady_clock::now();
        if (got >= static_cast<long long>(data.size())) loop.quit();
        if (got != seen) {
            seen = got;
            lastMove = now;
        } else if (now - lastMove > std::chrono::seconds(5)) {
            loop.quit();
        }
    });
    watch.start(5);
    loop.exec();
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    probe.stop();
    r.uiBusy = (threadSeconds() - busy0) / r.seconds;
    if (window) r.redrawsPerSecond = (window->framesShown() - redraws0) / r.seconds;
    r.storeBytes = page->session().samples().memoryUsed();
    feeder.join();
    r.received = page->session().receivedTotal();
    r.worst = probe.worst;
    r.mean = probe.mean();
    if (auto* group = frame.findChild<vars::DataModeGroup*>()) {
        r.decoded = group->decoder().blocksDecoded();
        r.overflows = group->decoder().overflows();
    }
    button("btnOpenPort")->click();
    if (window) {
        dialogs.savePath = QString::fromStdString(dir + "/bench.csv");
        const auto c0 = std::chrono::steady_clock::now();
        frame.findChild<QAbstractButton*>(QStringLiteral("btnPlotCsv"))->click();
        if (!QTest::qWaitFor([&] { return !window->exporting(); }, 600000))
            std::fprintf(stderr, "CSV export did not end\n");
        r.csvSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - c0).count();
        r.csvRows = dataLines(dir + "/bench.csv");
        std::remove((dir + "/bench.csv").c_str());
    }
    ::close(master);
    if (dialogs.messages) std::fprintf(stderr, "%d messages came up\n", dialogs.messages);
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QuillonApplication app(argc, argv);
    applyProgramLook(app);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
    const double rate = argc > 2 ? std::atof(argv[2]) : 1e6;
    char dirTemplate[] = "/tmp/quillon-bench-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);

    std::string text;
    while (text.size() < seconds * rate) text += "temperature 23.5 C, pressure 1013 hPa, humidity 40 %\r\n";
    text.resize(static_cast<size_t>(seconds * rate));
    const Run plain = stream(false, text, rate, dir);
    std::printf("text    %8.1f MB in %6.2f s  counted %lld of %zu  worst UI delay %.1f ms (mean lateness %.2f ms)\n",
                text.size() / 1e6, plain.seconds, plain.received, text.size(), plain.worst, plain.mean);

    vars::VarList sizing;
    int32_t bodySize = 0;
    addVariables(sizing, bodySize);
    std::mt19937 rng(7);
    std::string blocks;
    uint32_t sent = 0;
    while (blocks.size() < seconds * rate) blocks += block(sent++, bodySize, rng);
    auto report = [&](const char* what, const Run& framed) {
        const long long lost = static_cast<long long>(sent) - static_cast<long long>(framed.decoded);
        // A start-over of the accumulator drops at most the one block then being collected.
        const long long unexplained = std::max<long long>(0, lost - static_cast<long long>(framed.overflows));
        std::printf("%s %u blocks of %d bytes (%.1f MB) in %6.2f s  counted %lld of %zu  decoded %llu = %.0f/s  "
                    "lost %lld (accumulator start-overs %llu, losses they do not explain %lld)  "
                    "worst UI delay %.1f ms (mean lateness %.2f ms)  UI thread busy %.0f%%  store %.1f MB\n",
                    what, sent, bodySize + 4, blocks.size() / 1e6, framed.seconds, framed.received, blocks.size(),
                    static_cast<unsigned long long>(framed.decoded), framed.decoded / framed.seconds, lost,
                    static_cast<unsigned long long>(framed.overflows), unexplained, framed.worst, framed.mean,
                    framed.uiBusy * 100, framed.storeBytes / 1e6);
        return unexplained == 0 && framed.received == static_cast<long long>(blocks.size());
    };
    const Run closed = stream(true, blocks, rate, dir);
    bool ok = report("blocks, plot closed ", closed);
    const Run open = stream(true, blocks, rate, dir, true);
    ok = report("blocks, plot open   ", open) && ok;
    std::printf(
        "plot open: %.1f redraws/s on screen; CSV export %lld rows for %llu decoded blocks, written in %.2f s\n",
        open.redrawsPerSecond, open.csvRows, static_cast<unsigned long long>(open.decoded), open.csvSeconds);
    ok = ok && open.csvRows == static_cast<long long>(open.decoded);
    std::remove((dir + "/bench.INI").c_str());
    ::rmdir(dir.c_str());
    return ok ? 0 : 1;
}
