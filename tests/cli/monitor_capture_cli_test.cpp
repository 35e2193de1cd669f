// quillon-cli monitor with the real capture helper in the kernel, beside the
// monitor page loaded with its own: separate programs work on a
// pseudo-terminal, and the command prints what the page's capture log
// writes. Skips, with the helper's reason, where eBPF cannot be loaded.

#include "monitor/capture_device.h"
#include "monitor/serialmon_page.h"
#include "tests/cli/cli_process.h"
#include "tests/monitor/bpf_programs.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/frame_fixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>

using namespace quillon;
using namespace quillon::test;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// The capture helper the command started, once it runs.
pid_t helperOf(pid_t cli)
{
    for (auto until = Clock::now() + 10s; Clock::now() < until; std::this_thread::sleep_for(10ms))
        if (const auto found = helperProcessesOf(cli); !found.empty()) return found.front();
    return -1;
}

bool alive(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    return std::getline(stat, line) && line.find(") Z ") == std::string::npos;
}

// A child process named `name` that opens the port and reads its settings
// (TCGETS) as any terminal program does first; returns 0 in the child, with
// `fd` and `t` set. The terminal requests are made as single ioctls: the C
// library's wrappers make a different number of calls from one version to the next.
pid_t startUser(const char* name, const std::string& port, int& fd, termios& t)
{
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::prctl(PR_SET_NAME, name);
    fd = ::open(port.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0 || ::ioctl(fd, TCGETS, &t) != 0) ::_exit(2);
    return 0;
}

// A child that uses the port and exits: open, TCGETS, write, close.
pid_t startWriter(const std::string& port)
{
    int fd = -1;
    termios t{};
    if (const pid_t pid = startUser("qpm-writer", port, fd, t)) return pid;
    if (::write(fd, "hello", 5) != 5) ::_exit(3);
    ::close(fd);
    ::_exit(0);
}

// A child that reads what the remote end sent: open, TCGETS, TCSETS (raw
// 115200), a read of data already waiting (so it never blocks), close.
pid_t startReader(const std::string& port, int ready)
{
    int fd = -1;
    termios t{};
    if (const pid_t pid = startUser("qpm-reader", port, fd, t)) return pid;
    ::cfmakeraw(&t);
    t.c_cflag = (t.c_cflag & ~CBAUD) | B115200;
    if (::ioctl(fd, TCSETS, &t) != 0) ::_exit(3);
    if (::write(ready, "r", 1) != 1) ::_exit(4);
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1) ::_exit(5);
    char buf[16];
    if (::read(fd, buf, sizeof buf) != 4) ::_exit(6);
    ::close(fd);
    ::_exit(0);
}

// The file's bytes; nothing while it does not exist yet.
std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int exitCode(pid_t child)
{
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class MonitorCliCapture : public FrameTest {
protected:
    void SetUp() override
    {
        {
            monitor::HelperCaptureDevice probe(QUILLON_PORTMON_PATH);
            const monitor::HelperStart s = probe.start();
            if (!s.ok) GTEST_SKIP() << "capture cannot be loaded here: " << s.message;
        }
        // Not root, the command would start its helper through pkexec.
        if (::geteuid() != 0) GTEST_SKIP() << "the command starts its helper directly only as root";
        ASSERT_TRUE(pty.ok());
    }

    // Starts the command and waits until it captures; finds its helper and programs.
    std::unique_ptr<CliProcess> startCli(std::vector<std::string> args, const std::string& stdoutPath = {})
    {
        args.insert(args.begin(), {"monitor", pty.slavePath()});
        auto cli = std::make_unique<CliProcess>(QUILLON_CLI_PATH, args, stdoutPath);
        EXPECT_TRUE(cli->waitForStderr("monitoring " + pty.slavePath(), 20000)) << cli->err;
        helper = helperOf(cli->pid());
        EXPECT_GT(helper, 0);
        programs = programsOf(helper);
        EXPECT_FALSE(programs.empty());
        return cli;
    }

    // After any ending: the helper was reaped and its programs left the kernel.
    void expectNothingLeft()
    {
        EXPECT_FALSE(alive(helper)) << "helper " << helper << " still runs";
        EXPECT_TRUE(programsGone(programs));
    }

    // The page with its own helper, hooking the same pty and logging to `log`.
    void loadPage(const std::string& log)
    {
        pageHelper = std::make_unique<monitor::HelperCaptureDevice>(QUILLON_PORTMON_PATH);
        capture = pageHelper.get();
        devices.serial = std::vector<platform::DeviceMapEntry>{{"\\Device\\pty", pty.slavePath()}};
        makeFrame();
        find<QListWidget>("clbSerialList")->item(0)->setCheckState(Qt::Checked);
        find<QLineEdit>("edLogFile")->setText(QString::fromStdString(log));
        find<QCheckBox>("cbLogToFile")->setChecked(true);
        find<QPushButton>("btnStartSerMon")->click();
        // The component may be loaded off the window's thread.
        for (auto until = Clock::now() + 20s;
             Clock::now() < until && dialogs.messages().empty() &&
             find<QPushButton>("btnStartSerMon")->text() != QStringLiteral("卸载驱动");)
            QTest::qWait(5);
        ASSERT_TRUE(dialogs.messages().empty()) << dialogs.messages()[0].toStdString();
        ASSERT_TRUE(frame->serialMonPage()->driverLoaded());
    }
    void pollPage(int ms, const std::function<bool()>& done)
    {
        for (auto until = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < until && !done();) {
            frame->Timer1Timer();
            QTest::qWait(50);
        }
    }

    // The page's session uses its helper until the frame is gone.
    void TearDown() override { frame.reset(); }

    PtyPair pty;
    std::unique_ptr<monitor::HelperCaptureDevice> pageHelper;
    pid_t helper = -1;
    std::set<uint32_t> programs;
};

} // namespace

TEST_F(MonitorCliCapture, PrintsTheLinesThePageLogsForAWriterAndAReader)
{
    const std::string pageLog = dir.file("page.log");
    loadPage(pageLog);
    // Writer: open, TCGETS, write, close; reader: open, TCGETS, TCSETS, read, close.
    auto cli = startCli({"--count", "9"});

    const pid_t writer = startWriter(pty.slavePath());
    EXPECT_EQ(exitCode(writer), 0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t reader = startReader(pty.slavePath(), ready[1]);
    char r = 0;
    pollfd p{ready[0], POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    ASSERT_EQ(::read(ready[0], &r, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_TRUE(pty.send("pong"));
    EXPECT_EQ(exitCode(reader), 0);

    // Ends by itself after its records.
    EXPECT_EQ(cli->wait(10000), 0) << cli->err;
    expectNothingLeft();

    pollPage(5000, [&] {
        return fileText(pageLog).find("qpm-reader:" + std::to_string(reader) + "\tIRP_MJ_CLOSE") != std::string::npos;
    });
    std::string logged;
    std::istringstream lines(fileText(pageLog));
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("qpm-writer:", 0) == 0 || line.rfind("qpm-reader:", 0) == 0) logged += line + "\n";
    EXPECT_EQ(cli->out, logged);

    const std::string w = "qpm-writer:" + std::to_string(writer) + "\t";
    const std::string rd = "qpm-reader:" + std::to_string(reader) + "\t";
    for (const std::string& start : {w + "IRP_MJ_CREATE\t", w + "IRP_MJ_DEVICE_CONTROL\t", w + "IRP_MJ_WRITE\t",
                                     w + "IRP_MJ_CLOSE\t", rd + "IRP_MJ_READ\t"})
        EXPECT_NE(cli->out.find(start + pty.slavePath() + "\tSUCCESS\t"), std::string::npos) << start;
    EXPECT_NE(cli->out.find("hello\r\n"), std::string::npos) << cli->out;
    EXPECT_NE(cli->out.find("pong\r\n"), std::string::npos) << cli->out;
}

TEST_F(MonitorCliCapture, DurationEndsOnTime)
{
    auto cli = startCli({"--duration", "1"});
    const auto capturing = Clock::now();
    EXPECT_EQ(cli->wait(10000), 0) << cli->err;
    const auto took = Clock::now() - capturing;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 4s);
    expectNothingLeft();
}

TEST_F(MonitorCliCapture, AClosedStandardOutputEndsTheRun)
{
    auto cli = startCli({});
    cli->closeStdout();
    EXPECT_EQ(cli->wait(5000), 0) << cli->err;
    EXPECT_EQ(cli->termSignal(), 0);
    expectNothingLeft();
}

// The file follows the capture while it runs (tail -f), and Ctrl-C ends it.
TEST_F(MonitorCliCapture, OutputFileGrowsWhileCapturingAndCtrlCEndsIt)
{
    const std::string out = dir.file("bench.log");
    auto cli = startCli({"-o", out});
    const pid_t writer = startWriter(pty.slavePath());
    EXPECT_EQ(exitCode(writer), 0);
    const std::string close = "qpm-writer:" + std::to_string(writer) + "\tIRP_MJ_CLOSE\t";
    for (auto until = Clock::now() + 5s; Clock::now() < until && fileText(out).find(close) == std::string::npos;)
        std::this_thread::sleep_for(20ms);
    EXPECT_NE(fileText(out).find(close), std::string::npos);
    EXPECT_EQ(cli->wait(0), -2);

    ::kill(cli->pid(), SIGINT);
    EXPECT_EQ(cli->wait(5000), 0) << cli->err;
    expectNothingLeft();
    EXPECT_EQ(cli->out, "");
}

// A port the helper will not hook is named, and the helper it started is
// stopped (a helper left behind would become this process's child here).
TEST_F(MonitorCliCapture, APortTheHelperRefusesIsNamed)
{
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    CliProcess cli(QUILLON_CLI_PATH, {"monitor", pty.slavePath(), "/dev/null"});
    EXPECT_EQ(cli.wait(20000), 1);
    EXPECT_NE(cli.err.find("quillon-cli: cannot monitor /dev/null: not a serial or parallel port"), std::string::npos)
        << cli.err;
    EXPECT_EQ(cli.err.find("cannot monitor " + pty.slavePath()), std::string::npos) << cli.err;
    EXPECT_EQ(cli.out, "");
    EXPECT_TRUE(helperProcessesOf(::getpid()).empty());
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// A read that waits for data shows at once, and is completed by a line with
// an empty first field when the data comes; --hex shows the data in hexadecimal.
TEST_F(MonitorCliCapture, ABlockedReadIsShownAndCompletedLater)
{
    auto cli = startCli({"--hex", "--count", "5"});
    int fd = -1;
    termios t{};
    const pid_t reader = startUser("qpm-reader", pty.slavePath(), fd, t);
    if (reader == 0) {
        ::cfmakeraw(&t);
        if (::ioctl(fd, TCSETS, &t) != 0) ::_exit(3);
        char buf[16];
        if (::read(fd, buf, sizeof buf) != 4) ::_exit(6);
        ::_exit(0); // closed by the exit
    }
    const std::string entry =
        "qpm-reader:" + std::to_string(reader) + "\tIRP_MJ_READ\t" + pty.slavePath() + "\t\tLength 16\r\n";
    EXPECT_NE(cli->readLines(4, 5000).find(entry), std::string::npos) << cli->out;
    ASSERT_TRUE(pty.send("pong"));
    EXPECT_EQ(exitCode(reader), 0);
    EXPECT_EQ(cli->wait(10000), 0) << cli->err;
    EXPECT_NE(cli->out.find(entry + "\t\t\tSUCCESS\tLength 4: 70 6F 6E 67\r\n"), std::string::npos) << cli->out;
    expectNothingLeft();
}
