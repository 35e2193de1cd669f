// The page against the system's capture component: a separate program works
// on a pseudo-terminal while the page captures it. Skips where this build has
// no component or the machine can't load one.

#include "monitor/capture_device.h"
#include "monitor/monitor_rows.h"
#include "monitor/serialmon_page.h"
#include "tests/monitor/bpf_programs.h"
#include "tests/serial/pty_pair.h"
#include "tests/support/frame_fixture.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>

using namespace quillon;
using namespace quillon::monitor;
using namespace quillon::test;

namespace {

constexpr const char* kWriterName = "qpm-writer";

// Opens the port, sets 115200 8N1, writes, waits in a read until the device answers, closes.
pid_t startWriter(const std::string& port)
{
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::prctl(PR_SET_NAME, kWriterName);
    const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) ::_exit(2);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B115200);
    ::tcsetattr(fd, TCSANOW, &t);
    if (::write(fd, "hello", 5) != 5) ::_exit(3);
    char buf[16];
    if (::read(fd, buf, sizeof buf) <= 0) ::_exit(4);
    ::close(fd);
    ::_exit(0);
}

// Children of this process still running the capture helper.
int helperProcesses() { return static_cast<int>(helperProcessesOf(::getpid()).size()); }

class MonitorCaptureTest : public FrameTest {
protected:
    void SetUp() override
    {
        {
            // Where the helper can't load its programs (no root, no BTF)
            // there is nothing to capture with. Past this probe, a failed
            // load is the page's fault.
            monitor::HelperCaptureDevice probe(QUILLON_PORTMON_PATH);
            const monitor::HelperStart s = probe.start();
            if (!s.ok) GTEST_SKIP() << "capture cannot be loaded here: " << s.message;
        }
        helper = std::make_unique<monitor::HelperCaptureDevice>(QUILLON_PORTMON_PATH);
        capture = helper.get();
        ASSERT_TRUE(pty.ok());
        devices.serial = std::vector<platform::DeviceMapEntry>{{"\\Device\\pty", pty.slavePath()}};
        makeFrame();
        find<QListWidget>("clbSerialList")->item(0)->setCheckState(Qt::Checked);
        find<QPushButton>("btnStartSerMon")->click();
        ASSERT_TRUE(waitForMonitorLoad());
        const auto shown = dialogs.messages();
        ASSERT_TRUE(shown.empty()) << shown[0].toStdString();
        ours = portmonPrograms();
        ASSERT_FALSE(ours.empty());
    }
    void pollFor(int ms, const std::function<bool()>& done)
    {
        for (int waited = 0; waited < ms && !done(); waited += 50) {
            frame->Timer1Timer();
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    // The frame's session uses the helper until it is gone.
    void TearDown() override { frame.reset(); }
    const std::vector<MonitorRow>& rows() { return frame->serialMonPage()->rows().rows(); }
    const MonitorRow* rowOf(const std::string& request)
    {
        for (const auto& r : rows())
            if (r.columns[ColProgram].find(kWriterName) == 0 && r.columns[ColRequest] == request) return &r;
        return nullptr;
    }

    PtyPair pty;
    std::unique_ptr<monitor::HelperCaptureDevice> helper;
    std::set<uint32_t> ours; // the programs of the helper the page loaded
};

} // namespace

TEST_F(MonitorCaptureTest, WriterOnAPtyShowsInTheListTheLogAndTheSavedFile)
{
    const std::string logPath = dir.file("capture.log");
    find<QLineEdit>("edLogFile")->setText(QString::fromStdString(logPath));
    find<QCheckBox>("cbLogToFile")->setChecked(true);
    find<QLineEdit>("edMaxLines")->setText("999");
    find<QPushButton>("btnMaxLines")->click();

    const pid_t writer = startWriter(pty.slavePath());
    std::string got;
    pollFor(3000, [&] {
        got += pty.receive(5 - got.size(), 20);
        return got.size() >= 5;
    });
    EXPECT_EQ(got, "hello");
    pty.send("pong");
    int status = 0;
    ::waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    pollFor(5000, [&] { return rowOf("IRP_MJ_CLOSE") != nullptr; });

    for (const char* request :
         {"IRP_MJ_CREATE", "IRP_MJ_DEVICE_CONTROL", "IRP_MJ_WRITE", "IRP_MJ_READ", "IRP_MJ_CLOSE"}) {
        const MonitorRow* r = rowOf(request);
        ASSERT_TRUE(r) << request;
        EXPECT_EQ(r->columns[ColDevice], pty.slavePath()) << request;
        EXPECT_EQ(r->columns[ColResult], "SUCCESS") << request;
        EXPECT_NE(r->columns[ColProgram].find(std::to_string(writer)), std::string::npos) << request;
    }
    EXPECT_NE(rowOf("IRP_MJ_WRITE")->columns[ColOther].find("hello"), std::string::npos);
    EXPECT_NE(rowOf("IRP_MJ_READ")->columns[ColOther].find("pong"), std::string::npos);

    // Every new request is in the log, with its program, request and device.
    const std::string log = TempDir::readFile(logPath);
    for (const auto& r : rows()) {
        if (r.columns[ColProgram].find(kWriterName) != 0) continue;
        const std::string start = r.columns[ColProgram] + "\t" + r.columns[ColRequest] + "\t" + r.columns[ColDevice];
        EXPECT_NE(log.find(start), std::string::npos) << start;
    }

    const QString saved = QString::fromStdString(dir.file("saved.log"));
    dialogs.fileAnswers = {saved};
    find<QPushButton>("btnMonSave")->click();
    EXPECT_EQ(TempDir::readFile(saved.toStdString()), savedListText(rows()));

    find<QPushButton>("btnStartSerMon")->click();
    EXPECT_FALSE(frame->serialMonPage()->driverLoaded());
    pollFor(2000, [] { return helperProcesses() == 0; });
    EXPECT_EQ(helperProcesses(), 0);
    EXPECT_TRUE(programsGone(ours));
}

TEST_F(MonitorCaptureTest, AKilledHelperIsACommunicationErrorAndLoadingAgainWorks)
{
    ASSERT_GT(helper->pid(), 0);
    ASSERT_EQ(::kill(helper->pid(), SIGKILL), 0);
    frame->Timer1Timer();
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{QStringLiteral("驱动程序通讯错!")});
    EXPECT_FALSE(frame->serialMonPage()->driverLoaded());
    EXPECT_EQ(find<QPushButton>("btnStartSerMon")->text(), QStringLiteral("安装驱动"));
    EXPECT_EQ(helperProcesses(), 0);
    EXPECT_TRUE(programsGone(ours));

    dialogs.clear();
    find<QPushButton>("btnStartSerMon")->click();
    ASSERT_TRUE(waitForMonitorLoad());
    EXPECT_TRUE(dialogs.messages().empty());
    EXPECT_TRUE(frame->serialMonPage()->driverLoaded());
    EXPECT_EQ(find<QPushButton>("btnStartSerMon")->text(), QStringLiteral("卸载驱动"));
    const pid_t writer = startWriter(pty.slavePath());
    pty.send("pong");
    pollFor(5000, [&] { return rowOf("IRP_MJ_CLOSE") != nullptr; });
    ::waitpid(writer, nullptr, 0);
    EXPECT_TRUE(rowOf("IRP_MJ_WRITE"));
}

TEST_F(MonitorCaptureTest, ClosingTheWindowLeavesNoHelperBehind)
{
    EXPECT_TRUE(frame->serialMonPage()->driverLoaded());
    frame->close();
    EXPECT_FALSE(frame->serialMonPage()->driverLoaded());
    pollFor(2000, [] { return helperProcesses() == 0; });
    EXPECT_EQ(helperProcesses(), 0);
    EXPECT_TRUE(programsGone(ours));
}
