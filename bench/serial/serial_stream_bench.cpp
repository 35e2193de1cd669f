// Streams data into the serial page through a pseudo-terminal, as a device
// would, with the communication log on. Reports the sustained rate, whether
// every byte was counted and logged, and the longest time the window's
// event loop was kept from running (a 10 ms timer measures it).
//
//   serial_stream_bench [text-megabytes [hex-megabytes]]

#include "app/application.h"
#include "app/dialogs.h"
#include "app/mainform.h"
#include "bench/bench_dialogs.h"
#include "bench/serial/bench_support.h"
#include "common/codepage.h"
#include "platform/device_map.h"
#include "serial/comtest_page.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <random>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace quillon;
using namespace quillon::serial;

namespace {

std::string textData(size_t size)
{
    std::string out;
    out.reserve(size + 128);
    const std::string tail = utf8ToGbk(" 温度采样 The quick brown fox jumps over the lazy dog 0123456789\r\n");
    char num[16];
    for (unsigned i = 0; out.size() < size; ++i) {
        std::snprintf(num, sizeof num, "%08u", i);
        out += num;
        out += tail;
    }
    out.resize(size);
    return out;
}

std::string binaryData(size_t size)
{
    std::mt19937 rng(12345);
    std::string out(size, '\0');
    for (auto& c : out) c = static_cast<char>(rng() & 0xFF);
    return out;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Text log: entries "\r\n" + date and time + "\tReceived:  " + the bytes.
std::string loggedText(const std::string& log)
{
    static const std::string word = "\tReceived:  ";
    const size_t headLen = 2 + 19;
    std::string out;
    size_t pos = log.find(word);
    while (pos != std::string::npos) {
        const size_t start = pos + word.size();
        const size_t next = log.find(word, start);
        const size_t end = next == std::string::npos ? log.size() : next - headLen;
        out.append(log, start, end - start);
        pos = next;
    }
    return out;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hex-dump log: every two-digit token is a byte; addresses end in ':' and
// the header's column digits are single characters.
std::string loggedDump(const std::string& log)
{
    std::string out;
    size_t i = 0;
    while (i < log.size()) {
        while (i < log.size() && (log[i] == ' ' || log[i] == '\r' || log[i] == '\n' || log[i] == '\t')) ++i;
        size_t j = i;
        while (j < log.size() && log[j] != ' ' && log[j] != '\r' && log[j] != '\n' && log[j] != '\t') ++j;
        if (j - i == 2 && hexDigit(log[i]) >= 0 && hexDigit(log[i + 1]) >= 0)
            out += static_cast<char>(hexDigit(log[i]) * 16 + hexDigit(log[i + 1]));
        i = j;
    }
    return out;
}

struct Result {
    double seconds = 0;
    long long received = 0;
    bool logMatches = false;
    double worstDelayMs = 0;
    double meanDelayMs = 0;
};

Result run(bool hex, const std::string& data, const std::string& dir)
{
    Result r;
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return r;
    }
    ::close(slave);

    platform::FixedDeviceMap devices;
    devices.serial = std::vector<platform::DeviceMapEntry>{{"\\Device\\pts", name}};
    bench::BenchDialogs dialogs;
    const std::string logPath = dir + (hex ? "/hex.log" : "/text.log");
    dialogs.savePath = QString::fromStdString(logPath);
    FrameOptions options;
    options.settingsPath = dir + "/bench.INI";
    options.dialogs = &dialogs;
    options.deviceMap = &devices;
    TfrmMain frame(options);
    frame.show();
    QTest::qWait(50);

    auto button = [&](const char* n) { return frame.findChild<QAbstractButton*>(QString::fromLatin1(n)); };
    button("btnOpenPort")->click();
    if (hex) button("cbRcvBinary")->click();
    button("cbCOMAutoScroll")->click();
    button("cbAutoSave")->click();
    ComTestPage* page = frame.comTestPage();
    if (!page->portOpen() || !page->session().logActive()) {
        std::fprintf(stderr, "port or log did not open\n");
        return r;
    }

    QElapsedTimer clock;
    clock.start();
    bench::EventLoopProbe probe;
    probe.start();
    QTest::qWait(30);
    probe.reset();

    std::atomic<bool> feederDone{false};
    const qint64 t0 = clock.nsecsElapsed();
    std::thread feeder([&] {
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::write(master, data.data() + done, std::min<size_t>(65536, data.size() - done));
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
        feederDone = true;
    });

    // Run the window's own event loop (as the program does) until the page
    // counted everything, or nothing moved for 5 s.
    long long seen = 0;
    qint64 lastMove = clock.elapsed();
    QEventLoop loop;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (page->session().receivedTotal() >= static_cast<long long>(data.size())) {
            loop.quit();
        } else if (page->session().receivedTotal() != seen) {
            seen = page->session().receivedTotal();
            lastMove = clock.elapsed();
        } else if (clock.elapsed() - lastMove > 5000) {
            loop.quit();
        }
    });
    watch.start();
    loop.exec();
    r.seconds = (clock.nsecsElapsed() - t0) / 1e9;
    r.worstDelayMs = probe.worst;
    r.meanDelayMs = probe.mean();
    r.received = page->session().receivedTotal();
    probe.stop();
    feeder.join();

    // A look at the page as it stands after the stream, when asked for.
    if (const QByteArray shot = qgetenv("QUILLON_BENCH_SHOT"); !shot.isEmpty()) {
        QTest::qWait(100);
        frame.grab().save(QString::fromLocal8Bit(shot) + (hex ? "-hex.png" : "-text.png"));
    }
    button("cbAutoSave")->click(); // closes the log
    button("btnOpenPort")->click();
    ::close(master);

    const std::string log = readFile(logPath);
    r.logMatches = (hex ? loggedDump(log) : loggedText(log)) == data;
    std::printf("%-5s %8.1f MB in %6.2f s = %7.2f MB/s  counted %lld of %zu (lost %lld)  log %s  "
                "worst UI delay %.1f ms (mean lateness %.2f ms over %ld ticks)  messages %d\n",
                hex ? "hex" : "text", data.size() / 1e6, r.seconds, data.size() / 1e6 / r.seconds, r.received,
                data.size(), static_cast<long long>(data.size()) - r.received, r.logMatches ? "matches" : "DIFFERS",
                r.worstDelayMs, r.meanDelayMs, probe.ticks, dialogs.messages);
    std::fflush(stdout);
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QuillonApplication app(argc, argv);
    applyProgramLook(app);
    const double textMb = argc > 1 ? std::atof(argv[1]) : 50;
    const double hexMb = argc > 2 ? std::atof(argv[2]) : 10;

    char dirTemplate[] = "/tmp/quillon-bench-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);

    const Result text = run(false, textData(static_cast<size_t>(textMb * 1e6)), dir);
    const Result hex = run(true, binaryData(static_cast<size_t>(hexMb * 1e6)), dir);

    std::remove((dir + "/text.log").c_str());
    std::remove((dir + "/hex.log").c_str());
    std::remove((dir + "/bench.INI").c_str());
    ::rmdir(dir.c_str());

    const bool ok = text.logMatches && hex.logMatches && text.received == static_cast<long long>(textMb * 1e6) &&
                    hex.received == static_cast<long long>(hexMb * 1e6);
    return ok ? 0 : 1;
}
