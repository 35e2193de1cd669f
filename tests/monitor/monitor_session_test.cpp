// The monitor session without its page: a recording view and a scripted
// capture component.
#include "monitor/monitor_session.h"
#include "tests/monitor/scripted_capture.h"
#include "tests/support/temp_dir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

using namespace quillon;
using namespace quillon::monitor;
using namespace quillon::test;

namespace {

const QString kCommError = QStringLiteral("驱动程序通讯错!");

std::string request(int32_t seq)
{
    return "echo(42)\tIRP_MJ_WRITE\t/dev/ttyS0\tSUCCESS\tLength 1: " + std::to_string(seq);
}

std::vector<uint8_t> records(std::initializer_list<int32_t> sequences)
{
    std::vector<uint8_t> buf;
    for (int32_t seq : sequences) appendRecord(buf, seq, 0, request(seq));
    return buf;
}

// What the page would show, and the controls it would read.
class RecordingView : public monitor::MonitorView {
public:
    std::vector<QString> errors;
    std::vector<bool> loadingShown;
    std::vector<bool> loadedShown;
    std::vector<std::pair<PortKind, int>> refused;
    int rowUpdates = 0;
    int logOpenFailures = 0;

    std::vector<bool> serialChecks;
    std::vector<bool> parallelChecks;
    bool start = true;
    std::optional<std::string> log;

    void showError(const QString& text) override { errors.push_back(text); }
    void showLoading(bool loading) override { loadingShown.push_back(loading); }
    void showLoaded(bool loaded) override { loadedShown.push_back(loaded); }
    void portRefused(PortKind kind, int item) override { refused.emplace_back(kind, item); }
    void rowsChanged(const RowChanges&) override { ++rowUpdates; }
    void logOpenFailed() override
    {
        ++logOpenFailures;
        log.reset();
    }
    std::vector<bool> checkedPorts(PortKind kind) override
    {
        return kind == PortKind::Serial ? serialChecks : parallelChecks;
    }
    CaptureSettings captureSettings() override
    {
        return {FilterSettings{}, [] { return 64u; }, false, start};
    }
    std::optional<std::string> logPath() override { return log; }
};

class MonitorSessionTest : public ::testing::Test {
protected:
    ScriptedCapture service;
    RecordingView view;
    monitor::MonitorSession session{&service};
    TempDir dir;

    MonitorSessionTest()
    {
        session.setView(&view);
        view.serialChecks = {false, true};
    }
    void load()
    {
        session.toggleLoad();
        QElapsedTimer waited;
        waited.start();
        while (session.loading() && waited.elapsed() < 5000) QTest::qWait(2);
        ASSERT_FALSE(session.loading());
    }
    size_t sent(uint32_t code) const
    {
        size_t n = 0;
        for (uint32_t c : service.codes()) n += c == code;
        return n;
    }
};

TEST_F(MonitorSessionTest, StateFollowsLoadStartStopAndUnload)
{
    EXPECT_EQ(session.state(), monitor::MonitorState::Unloaded);
    EXPECT_FALSE(session.driverLoaded());
    session.toggleLoad();
    EXPECT_EQ(session.state(), monitor::MonitorState::Loading);
    EXPECT_TRUE(session.driverLoaded()); // ending the monitor now cancels the load
    EXPECT_EQ(view.loadingShown, std::vector<bool>{true});
    EXPECT_TRUE(service.requests.empty()); // nothing is sent while the component loads
    load();
    EXPECT_EQ(session.state(), monitor::MonitorState::Capturing);
    EXPECT_EQ(view.loadingShown, (std::vector<bool>{true, false}));
    EXPECT_EQ(view.loadedShown, std::vector<bool>{true});
    EXPECT_EQ(service.codes().back(), kStartCapture);
    EXPECT_EQ(session.driver().hookedMask(PortKind::Serial), 0b10u);

    session.setCapturing(false);
    EXPECT_EQ(session.state(), monitor::MonitorState::Loaded);
    EXPECT_EQ(service.codes().back(), kStopCapture);
    session.setCapturing(true);
    EXPECT_EQ(session.state(), monitor::MonitorState::Capturing);
    EXPECT_EQ(service.codes().back(), kStartCapture);

    service.requests.clear();
    session.toggleLoad();
    EXPECT_EQ(session.state(), monitor::MonitorState::Unloaded);
    EXPECT_EQ(service.codes(), std::vector<uint32_t>{kStopCapture});
    EXPECT_FALSE(service.loaded());
    EXPECT_EQ(view.loadedShown, (std::vector<bool>{true, false}));
    EXPECT_FALSE(session.driver().anyPortHooked());
    EXPECT_TRUE(view.errors.empty());

    // Capture off at the set-up: loaded, not capturing.
    view.start = false;
    load();
    EXPECT_EQ(session.state(), monitor::MonitorState::Loaded);
    EXPECT_EQ(service.codes().back(), kHexDisplay);
}

TEST_F(MonitorSessionTest, FailedRequestWhileLoadedClosesTheMonitorAndSaysSoOnce)
{
    view.start = false;
    load();
    ASSERT_EQ(session.state(), monitor::MonitorState::Loaded);
    service.failing = {kSetFilter, kHexDisplay, kMaxDataBytes, kHookSerial};
    EXPECT_FALSE(session.sendFilter(FilterSettings{}));
    EXPECT_EQ(view.errors, std::vector<QString>{kCommError});
    EXPECT_EQ(session.state(), monitor::MonitorState::Unloaded);
    EXPECT_FALSE(service.loaded());
    EXPECT_EQ(view.loadedShown.back(), false);

    // Closed: nothing more is asked of the component, nothing more is said.
    service.requests.clear();
    EXPECT_TRUE(session.sendFilter(FilterSettings{}));
    session.setHexDisplay(true);
    session.setMaxDataBytes(100);
    EXPECT_TRUE(session.hookPorts(PortKind::Serial));
    session.discardRecords();
    session.poll();
    EXPECT_TRUE(service.requests.empty());
    EXPECT_EQ(view.errors.size(), 1u);
}

TEST_F(MonitorSessionTest, ComponentGoneWhileLoadedIsACommunicationErrorAtTheCaptureSwitch)
{
    view.start = false;
    load();
    ASSERT_EQ(session.state(), monitor::MonitorState::Loaded);
    service.unload(); // the helper ended without a request noticing
    session.setCapturing(true);
    EXPECT_EQ(view.errors, std::vector<QString>{kCommError});
    EXPECT_EQ(session.state(), monitor::MonitorState::Unloaded);
    EXPECT_EQ(view.loadedShown.back(), false);

    // Not loaded at all: the user is told to load it first, and nothing closes.
    view.errors.clear();
    session.setCapturing(true);
    EXPECT_EQ(view.errors, std::vector<QString>{QStringLiteral("尚未安装驱动程序，请先安装驱动！")});
    session.setCapturing(false);
    EXPECT_EQ(view.errors.size(), 1u);
}

TEST_F(MonitorSessionTest, FailedLoadIsReportedWithItsReasonAndLeavesTheMonitorUnloaded)
{
    service.loadResults = {monitor::LoadFailure::NoPrivilege};
    load();
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_TRUE(view.errors[0].startsWith(QStringLiteral("加载驱动程序时出错!")));
    EXPECT_TRUE(view.errors[0].contains(QStringLiteral("管理员权限")));
    EXPECT_EQ(session.state(), monitor::MonitorState::Unloaded);
    EXPECT_EQ(view.loadedShown, std::vector<bool>{false});
    EXPECT_TRUE(service.requests.empty());
}

TEST_F(MonitorSessionTest, RefusedPortsAreNamedToTheViewAndCaptureGoesOn)
{
    service.refusedSerial = 0b10;
    view.serialChecks = {true, true};
    load();
    EXPECT_EQ(view.refused, (std::vector<std::pair<PortKind, int>>{{PortKind::Serial, 1}}));
    EXPECT_EQ(session.state(), monitor::MonitorState::Capturing);
    EXPECT_EQ(session.driver().hookedMask(PortKind::Serial), 0b01u);
}

TEST_F(MonitorSessionTest, PollingNeedsCaptureAndAHookedPort)
{
    // Nothing hooked: no reads.
    view.serialChecks = {false, false};
    load();
    ASSERT_EQ(session.state(), monitor::MonitorState::Capturing);
    service.requests.clear();
    service.reads = {records({1})};
    session.poll();
    EXPECT_TRUE(service.requests.empty());

    // Hooked but capture stopped: no reads either.
    view.serialChecks = {true, false};
    ASSERT_TRUE(session.hookPorts(PortKind::Serial));
    session.setCapturing(false);
    service.requests.clear();
    session.poll();
    EXPECT_TRUE(service.requests.empty());

    session.setCapturing(true);
    service.requests.clear();
    session.poll();
    EXPECT_EQ(service.codes(), (std::vector<uint32_t>{kReadRecords, kReadRecords}));
    EXPECT_EQ(session.rows().size(), 1u);
    EXPECT_EQ(view.rowUpdates, 1);

    // Discarding empties the list too.
    session.discardRecords();
    EXPECT_EQ(service.codes().back(), kDiscardRecords);
    EXPECT_EQ(session.rows().size(), 0u);
    EXPECT_TRUE(view.errors.empty());
}

TEST_F(MonitorSessionTest, RecordsStillWaitingAreReadByTheFollowUpWithoutAnotherTick)
{
    load();
    service.requests.clear();
    service.endless = [] { return records({7}); };
    session.poll();
    const size_t firstSlice = sent(kReadRecords);
    ASSERT_GT(firstSlice, 0u);
    session.poll(); // a follow-up is queued: the tick adds no slice of its own
    EXPECT_EQ(sent(kReadRecords), firstSlice);
    service.endless = nullptr;
    QElapsedTimer waited;
    waited.start();
    while (sent(kReadRecords) == firstSlice && waited.elapsed() < 2000) QTest::qWait(2);
    EXPECT_GT(sent(kReadRecords), firstSlice);
    EXPECT_TRUE(view.errors.empty());
}

TEST_F(MonitorSessionTest, LogIsWrittenPerPollAndAnUnopenableOneIsReportedOnce)
{
    load();
    view.log = dir.file("capture.log");
    service.reads = {records({1, 2})};
    session.poll();
    EXPECT_EQ(TempDir::readFile(*view.log), request(1) + "\r\n" + request(2) + "\r\n");

    view.log = dir.file("no/such/dir.log");
    service.reads = {records({3})};
    session.poll();
    EXPECT_EQ(view.logOpenFailures, 1);
    EXPECT_EQ(view.errors, std::vector<QString>{QStringLiteral("打开Log文件时出错!")});
    service.reads = {records({4})};
    session.poll();
    EXPECT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(session.rows().size(), 4u);
    EXPECT_EQ(session.state(), monitor::MonitorState::Capturing);
}

TEST_F(MonitorSessionTest, DeadComponentDuringAPollIsReportedOnce)
{
    load();
    service.kill();
    session.poll();
    EXPECT_EQ(view.errors, std::vector<QString>{kCommError});
    EXPECT_EQ(session.state(), monitor::MonitorState::Unloaded);
    service.requests.clear();
    session.poll();
    EXPECT_TRUE(service.requests.empty());
    EXPECT_EQ(view.errors.size(), 1u);
}

} // namespace
