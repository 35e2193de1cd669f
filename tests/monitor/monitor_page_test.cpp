#include "monitor/monitor_requests.h"
#include "monitor/serialmon_page.h"
#include "tests/monitor/scripted_capture.h"
#include "tests/serial/serial_page_fixture.h"
#include "tests/support/frame_fixture.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <atomic>
#include <chrono>
#include <csignal>
#include <random>
#include <sys/resource.h>
#include <thread>

using namespace quillon;
using namespace quillon::monitor;
using namespace quillon::test;

namespace {

const QString kCommError = QStringLiteral("驱动程序通讯错!");

std::vector<uint8_t> records(std::initializer_list<std::pair<int32_t, std::string>> list, uint64_t time = 0)
{
    std::vector<uint8_t> buf;
    for (const auto& [seq, text] : list) appendRecord(buf, seq, time, text);
    return buf;
}

std::string request(int32_t seq, const std::string& what = "IRP_MJ_WRITE")
{
    return "echo(42)\t" + what + "\t/dev/ttyS0\tSUCCESS\tLength 1: " + std::to_string(seq);
}

class MonitorPageTest : public FrameTest {
protected:
    ScriptedCapture service;

    ~MonitorPageTest() override { frame.reset(); }

    monitor::SerialMonPage& makeMonitor()
    {
        devices.serial = std::vector<platform::DeviceMapEntry>{{"\\Device\\ttyS0", "/dev/ttyS0"},
                                                               {"\\Device\\ttyUSB0", "/dev/ttyUSB0"}};
        devices.parallel = std::vector<platform::DeviceMapEntry>{{"\\Device\\parport0", "\\Device\\LPT1"}};
        capture = &service;
        makeFrame();
        return *frame->serialMonPage();
    }
    void tickPort(const char* list, int item, bool on = true)
    {
        find<QListWidget>(list)->item(item)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    void install()
    {
        find<QPushButton>("btnStartSerMon")->click();
        ASSERT_TRUE(waitForMonitorLoad());
    }
    // Installed with COM port 0 hooked and capture on, requests and dialogs forgotten.
    void capturing()
    {
        tickPort("clbSerialList", 0);
        install();
        ASSERT_TRUE(service.loaded());
        service.requests.clear();
        dialogs.clear();
    }
    QString caption() { return find<QPushButton>("btnStartSerMon")->text(); }
    bool startEnabled() { return find<QCheckBox>("cbStartMoniter")->isEnabled(); }
    QAbstractItemModel* list() { return find<QTreeView>("lvMonData")->model(); }
    QString cell(int row, int col) { return list()->index(row, col).data().toString(); }
    void tick() { frame->Timer1Timer(); }
    std::string filterInclude() { return blockText(service.lastOf(kSetFilter)->input, 0, 128); }
    std::string filterExclude() { return blockText(service.lastOf(kSetFilter)->input, 128, 128); }
    uint32_t sentValue(uint32_t code) { return hookMaskOf(service.lastOf(code)->input); }
    void expectUnloaded()
    {
        EXPECT_FALSE(service.loaded());
        EXPECT_EQ(caption(), "安装驱动");
        EXPECT_FALSE(startEnabled());
        EXPECT_FALSE(frame->serialMonPage()->driverLoaded());
    }
};

} // namespace

TEST_F(MonitorPageTest, ControlsAndTheirDefaults)
{
    makeMonitor();
    EXPECT_EQ(caption(), "安装驱动");
    auto* start = find<QCheckBox>("cbStartMoniter");
    EXPECT_EQ(start->text(), "开始捕捉");
    EXPECT_TRUE(start->isChecked());
    EXPECT_FALSE(start->isEnabled());
    const std::pair<const char*, bool> boxes[] = {
        {"cbMonAutoScroll", true}, {"cbMonShowHex", false},   {"cbMonShowClock", true},
        {"cbMonShowIRP", true},    {"cbMonShowResult", true}, {"cbLogReads", true},
        {"cbLogWrites", true},     {"cbDataOnly", false},     {"cbLogToFile", false}};
    for (const auto& [name, checked] : boxes) EXPECT_EQ(find<QCheckBox>(name)->isChecked(), checked) << name;
    EXPECT_EQ(find<QCheckBox>("cbDataOnly")->text(), "只显示读写操作");
    EXPECT_EQ(find<QLineEdit>("edMonInclude")->text(), "*");
    EXPECT_EQ(find<QLineEdit>("edMonInclude")->maxLength(), 128);
    EXPECT_EQ(find<QLineEdit>("edMonExclude")->text(), "");
    EXPECT_EQ(find<QLineEdit>("edMaxBytes")->text(), "64");
    EXPECT_EQ(find<QLineEdit>("edMaxBytes")->toolTip(), "8192 Max");
    EXPECT_EQ(find<QLineEdit>("edMaxLines")->toolTip(), "999 Max");
    EXPECT_EQ(find<QLineEdit>("edLogFile")->text(), "PortMon.log");
    EXPECT_EQ(find<QToolButton>("sbClearMon")->text(), "清空显示");
    EXPECT_EQ(find<QPushButton>("btnMonSaveAs")->text(), "另存为...");

    const char* headers[] = {"序号", "时间", "应用程序", "命令", "设备", "结果", "其他"};
    const int widths[] = {40, 60, 100, 200, 70, 50, 500};
    auto* view = find<QTreeView>("lvMonData");
    ASSERT_EQ(view->model()->columnCount(), 7);
    for (int c = 0; c < 7; ++c) {
        EXPECT_EQ(view->model()->headerData(c, Qt::Horizontal).toString(), QString::fromUtf8(headers[c]));
        EXPECT_EQ(view->header()->sectionSize(c), widths[c]);
    }
    EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(view->editTriggers(), QAbstractItemView::NoEditTriggers);
    // The monitor lists the same ports as the serial page, parallel ports by their last name part.
    EXPECT_EQ(find<QListWidget>("clbSerialList")->count(), 2);
    EXPECT_EQ(find<QListWidget>("clbParallelList")->item(0)->text(), "LPT1: parport0");
}

TEST_F(MonitorPageTest, InstallRunsTheSetUpInOrderAndUninstallRemovesIt)
{
    makeMonitor();
    tickPort("clbSerialList", 1);
    tickPort("clbParallelList", 0);
    install();
    EXPECT_EQ(service.codes(), (std::vector<uint32_t>{kHookSerial, kHookParallel, kDiscardRecords, kSetFilter,
                                                      kMaxDataBytes, kHexDisplay, kStartCapture}));
    const auto& hook = service.requests[0].input;
    EXPECT_EQ(hookMaskOf(hook), 0b10u);
    EXPECT_EQ(blockText(hook, 4, 256), "/dev/ttyS0");
    EXPECT_EQ(blockText(hook, 4 + 256, 256), "/dev/ttyUSB0");
    EXPECT_EQ(blockText(service.requests[1].input, 4, 256), "LPT1");
    EXPECT_EQ(sentValue(kMaxDataBytes), 64u);
    EXPECT_EQ(sentValue(kHexDisplay), 0u);
    EXPECT_EQ(caption(), "卸载驱动");
    EXPECT_TRUE(startEnabled());
    EXPECT_TRUE(dialogs.calls.empty());

    service.requests.clear();
    install();
    EXPECT_EQ(service.codes(), std::vector<uint32_t>{kStopCapture});
    expectUnloaded();

    // Capture off at install: no start request.
    find<QCheckBox>("cbStartMoniter")->setChecked(false);
    service.requests.clear();
    install();
    EXPECT_EQ(service.codes().back(), kHexDisplay);
}

TEST_F(MonitorPageTest, LoadFailureIsRetriedOnceThenReported)
{
    makeMonitor();
    service.loadResults = {monitor::LoadFailure::Other, monitor::LoadFailure::Other};
    install();
    EXPECT_EQ(service.loads, 2);
    ASSERT_EQ(dialogs.messages(),
              std::vector<QString>{QStringLiteral("加载驱动程序时出错!请检查Sermon.sys是否在当前目录\n"
                                                  "端口监视程序没有应答。")});
    EXPECT_EQ(dialogs.last().caption, "错误");
    expectUnloaded();
    EXPECT_TRUE(service.requests.empty());

    // The next press loads again; a first failure mended by the retry says nothing.
    dialogs.clear();
    service.loadResults = {monitor::LoadFailure::Other};
    install();
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_EQ(caption(), "卸载驱动");
}

TEST_F(MonitorPageTest, AFailedLoadSaysWhyOnItsSecondLineAndAsksForAPasswordOnce)
{
    makeMonitor();
    const std::pair<monitor::LoadFailure, const char*> reasons[] = {
        {monitor::LoadFailure::NoPrivilege, "端口监视需要管理员权限：请以 root 身份运行本程序，或安装 pkexec。"},
        {monitor::LoadFailure::NoBtf, "内核缺少 BTF 类型信息，无法运行端口监视程序。"},
        {monitor::LoadFailure::NoBpf, "内核拒绝加载端口监视所需的 eBPF 程序。"},
        {monitor::LoadFailure::HelperMissing, "程序所在目录中找不到 quillon-portmon。"},
        {monitor::LoadFailure::PasswordRefused, "没有输入管理员密码，或授权被拒绝。"},
    };
    for (const auto& [failure, reason] : reasons) {
        dialogs.clear();
        service.loads = 0;
        service.loadResults = {failure, monitor::LoadFailure::None};
        install();
        // None of these is mended by trying again; a second password dialog least of all.
        EXPECT_EQ(service.loads, 1) << reason;
        EXPECT_EQ(dialogs.messages(),
                  std::vector<QString>{QStringLiteral("加载驱动程序时出错!请检查Sermon.sys是否在当前目录\n") +
                                       QString::fromUtf8(reason)});
        expectUnloaded();
    }
}

// Loading waits for the helper's handshake, and through pkexec for a
// password: the window must go on meanwhile.
TEST_F(MonitorPageTest, LoadingLeavesTheWindowRunningWithThePageWaiting)
{
    makeMonitor();
    tickPort("clbSerialList", 0);
    std::atomic<bool> answered = false;
    service.duringLoad = [&] {
        while (!answered && !service.cancelled) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    find<QPushButton>("btnStartSerMon")->click();
    auto* page = frame->serialMonPage();
    ASSERT_TRUE(page->loading());
    EXPECT_FALSE(find<QPushButton>("btnStartSerMon")->isEnabled());
    EXPECT_FALSE(find<QListWidget>("clbSerialList")->isEnabled());
    // A second press, the timer and a port ticked meanwhile send nothing while the answer is awaited.
    find<QPushButton>("btnStartSerMon")->click();
    tick();
    tickPort("clbParallelList", 0);
    QTest::qWait(50);
    EXPECT_TRUE(page->loading());
    EXPECT_TRUE(service.requests.empty());
    EXPECT_EQ(service.loads, 1);
    answered = true;
    ASSERT_TRUE(waitForMonitorLoad());
    EXPECT_TRUE(find<QPushButton>("btnStartSerMon")->isEnabled());
    EXPECT_TRUE(find<QCheckBox>("cbStartMoniter")->isEnabled());
    EXPECT_EQ(caption(), "卸载驱动");
    EXPECT_EQ(service.codes().front(), kHookSerial);
    EXPECT_EQ(hookMaskOf(service.lastOf(kHookParallel)->input), 1u); // the tick made meanwhile
}

// The serial page's reader hands each chunk to the window's thread and waits
// for it: a window busy with the monitor's load would stall the port.
class MonitorLoadBesideASerialPort : public SerialPageTest {
protected:
    void SetUp() override
    {
        capture = &service;
        SerialPageTest::SetUp();
    }
    void TearDown() override { frame.reset(); }
    ScriptedCapture service;
};

TEST_F(MonitorLoadBesideASerialPort, ThePortKeepsReceivingWhileTheMonitorWaitsForItsComponent)
{
    std::atomic<bool> answered = false;
    service.duringLoad = [&] {
        while (!answered && !service.cancelled) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    openPort();
    find<QPushButton>("btnStartSerMon")->click();
    ASSERT_TRUE(frame->serialMonPage()->loading());
    remoteSends("while loading", 13);
    EXPECT_TRUE(rx().contains("while loading"));
    EXPECT_TRUE(frame->serialMonPage()->loading());
    answered = true;
    ASSERT_TRUE(waitForMonitorLoad());
    EXPECT_TRUE(frame->serialMonPage()->driverLoaded());
    click("btnOpenPort");
}

TEST_F(MonitorPageTest, ClosingTheWindowWhileLoadingGivesTheLoadUp)
{
    makeMonitor();
    service.duringLoad = [&] {
        while (!service.cancelled) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    find<QPushButton>("btnStartSerMon")->click();
    ASSERT_TRUE(frame->serialMonPage()->loading());
    frame->close();
    EXPECT_FALSE(frame->serialMonPage()->loading());
    EXPECT_TRUE(service.cancelled);
    QTest::qWait(20); // the given-up answer, if it were still delivered, would run here
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_TRUE(service.requests.empty());
    EXPECT_EQ(caption(), "安装驱动");
    EXPECT_TRUE(find<QPushButton>("btnStartSerMon")->isEnabled());
}

TEST_F(MonitorPageTest, NoCaptureComponentAtAllFailsToLoad)
{
    makeFrame(); // no component: there is no helper beside the test program
    find<QPushButton>("btnStartSerMon")->click();
    ASSERT_TRUE(waitForMonitorLoad());
    EXPECT_EQ(dialogs.messages(),
              std::vector<QString>{QStringLiteral("加载驱动程序时出错!请检查Sermon.sys是否在当前目录\n"
                                                  "程序所在目录中找不到 quillon-portmon。")});
    EXPECT_EQ(find<QPushButton>("btnStartSerMon")->text(), "安装驱动");
}

TEST_F(MonitorPageTest, RefusedPortIsNamedAndUnticked)
{
    makeMonitor();
    service.refusedSerial = 0b01;
    tickPort("clbSerialList", 0);
    tickPort("clbSerialList", 1);
    EXPECT_TRUE(service.requests.empty()); // nothing is sent before the install
    install();
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{QStringLiteral("无法监视端口/dev/ttyS0")});
    auto* ports = find<QListWidget>("clbSerialList");
    EXPECT_EQ(ports->item(0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(ports->item(1)->checkState(), Qt::Checked);
    EXPECT_EQ(caption(), "卸载驱动");

    // Ticking while installed hooks at once; the refusal says so again.
    dialogs.clear();
    service.requests.clear();
    tickPort("clbSerialList", 0);
    EXPECT_EQ(service.codes(), std::vector<uint32_t>{kHookSerial});
    EXPECT_EQ(hookMaskOf(service.requests[0].input), 0b11u);
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{QStringLiteral("无法监视端口/dev/ttyS0")});
    EXPECT_EQ(ports->item(0)->checkState(), Qt::Unchecked);
    // The untick of the refused port sent nothing more.
    EXPECT_EQ(service.requests.size(), 1u);
}

TEST_F(MonitorPageTest, EverySetUpRequestThatFailsSaysSoOnceAndUnloads)
{
    makeMonitor();
    tickPort("clbSerialList", 0);
    for (uint32_t code :
         {kHookSerial, kHookParallel, kDiscardRecords, kSetFilter, kMaxDataBytes, kHexDisplay, kStartCapture}) {
        SCOPED_TRACE(code);
        service.failing = {code};
        service.requests.clear();
        dialogs.clear();
        install();
        EXPECT_EQ(dialogs.messages(), std::vector<QString>{kCommError});
        EXPECT_EQ(service.codes().back(), code); // nothing is sent after the failure
        expectUnloaded();
    }
}

TEST_F(MonitorPageTest, ControlRequestsThatFailSayCommunicationErrorAndUnload)
{
    makeMonitor();
    struct Case {
        uint32_t code;
        std::function<void()> act;
    };
    const Case cases[] = {
        {kHexDisplay, [&] { find<QCheckBox>("cbMonShowHex")->click(); }},
        {kMaxDataBytes, [&] { find<QPushButton>("btnMaxBytes")->click(); }},
        {kSetFilter, [&] { find<QPushButton>("btnFilterApply")->click(); }},
        {kSetFilter, [&] { find<QCheckBox>("cbLogReads")->click(); }},
        {kSetFilter, [&] { find<QCheckBox>("cbDataOnly")->click(); }},
        {kStopCapture, [&] { find<QCheckBox>("cbStartMoniter")->click(); }},
        {kHookSerial, [&] { tickPort("clbSerialList", 1); }},
        {kHookParallel, [&] { tickPort("clbParallelList", 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        find<QCheckBox>("cbStartMoniter")->setChecked(true);
        service.failing.clear();
        capturing();
        service.failing = {c.code};
        c.act();
        EXPECT_EQ(dialogs.messages(), std::vector<QString>{kCommError});
        expectUnloaded();
        tickPort("clbSerialList", 1, false);
        tickPort("clbParallelList", 0, false);
    }
    // Start when installed with capture off.
    find<QCheckBox>("cbStartMoniter")->setChecked(false);
    service.failing.clear();
    capturing();
    service.failing = {kStartCapture};
    find<QCheckBox>("cbStartMoniter")->click();
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{kCommError});
    expectUnloaded();
}

TEST_F(MonitorPageTest, StopFailingOnUninstallIsReportedAndUninstallGoesOn)
{
    makeMonitor();
    capturing();
    service.failing = {kStopCapture};
    install();
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{kCommError});
    expectUnloaded();
}

TEST_F(MonitorPageTest, StartWithoutDriverAndClearingTheList)
{
    auto& page = makeMonitor();
    find<QCheckBox>("cbStartMoniter")->setChecked(true);
    page.cbStartMoniterClick();
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{QStringLiteral("尚未安装驱动程序，请先安装驱动！")});
    EXPECT_TRUE(service.requests.empty());

    capturing();
    service.reads = {records({{1, request(1)}, {2, request(2)}})};
    tick();
    ASSERT_EQ(list()->rowCount(), 2);
    find<QToolButton>("sbClearMon")->click();
    EXPECT_EQ(service.codes(), (std::vector<uint32_t>{kReadRecords, kReadRecords, kDiscardRecords}));
    EXPECT_EQ(list()->rowCount(), 0);

    // A failed discard names the driver file; the list is emptied all the same.
    service.reads = {records({{3, request(3)}})};
    tick();
    service.failing = {kDiscardRecords};
    dialogs.clear();
    find<QToolButton>("sbClearMon")->click();
    EXPECT_EQ(dialogs.messages(),
              std::vector<QString>{QStringLiteral("驱动程序通讯错!请检查Sermon.sys是否在当前目录")});
    EXPECT_EQ(list()->rowCount(), 0);
    expectUnloaded();
}

TEST_F(MonitorPageTest, ByteAndLineLimits)
{
    makeMonitor();
    capturing();
    auto* bytes = find<QLineEdit>("edMaxBytes");
    bytes->setText("10000");
    find<QPushButton>("btnMaxBytes")->click();
    EXPECT_EQ(sentValue(kMaxDataBytes), 8192u);
    EXPECT_EQ(bytes->text(), "8192");
    bytes->setText("abc");
    find<QPushButton>("btnMaxBytes")->click();
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{QStringLiteral("非法的缓冲长度!请重新设置或用默认值：64")});
    EXPECT_EQ(sentValue(kMaxDataBytes), 64u);
    EXPECT_EQ(bytes->text(), "abc");
    bytes->setText("0x100");
    find<QPushButton>("btnMaxBytes")->click();
    EXPECT_EQ(sentValue(kMaxDataBytes), 256u);

    // Leaving the field only checks it.
    service.requests.clear();
    dialogs.clear();
    bytes->setText("-5");
    frame->serialMonPage()->edMaxBytesExit();
    EXPECT_EQ(bytes->text(), "8192");
    EXPECT_TRUE(service.requests.empty());
    EXPECT_TRUE(dialogs.calls.empty());

    auto* lines = find<QLineEdit>("edMaxLines");
    lines->setText("abc");
    find<QPushButton>("btnMaxLines")->click();
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{QStringLiteral("请填入正确的数值!")});
    EXPECT_EQ(frame->serialMonPage()->rows().maxLines(), 64);
    lines->setText("5000");
    find<QPushButton>("btnMaxLines")->click();
    EXPECT_EQ(lines->text(), "999");
    EXPECT_EQ(frame->serialMonPage()->rows().maxLines(), 999);
    lines->setText("3");
    find<QPushButton>("btnMaxLines")->click();
    service.reads = {records({{1, request(1)}, {2, request(2)}, {3, request(3)}, {4, request(4)}})};
    tick();
    ASSERT_EQ(list()->rowCount(), 1);
    EXPECT_EQ(cell(0, 0), "4");
}

TEST_F(MonitorPageTest, FiltersAndCaptureSwitches)
{
    makeMonitor();
    // The block is built without a driver but not sent.
    find<QPushButton>("btnFilterApply")->click();
    EXPECT_TRUE(service.requests.empty());
    capturing();
    find<QLineEdit>("edMonInclude")->setText("");
    find<QLineEdit>("edMonExclude")->setText("");
    find<QPushButton>("btnFilterApply")->click();
    EXPECT_EQ(filterInclude(), "*");
    EXPECT_EQ(filterExclude(), "");
    find<QLineEdit>("edMonInclude")->setText("irp_mj_read");
    find<QPushButton>("btnFilterApply")->click();
    EXPECT_EQ(filterInclude(), "IRP_MJ_READ");

    auto* dataOnly = find<QCheckBox>("cbDataOnly");
    dataOnly->click();
    EXPECT_EQ(find<QLineEdit>("edMonInclude")->text(), "IRP_MJ_READ;IRP_MJ_WRITE");
    EXPECT_EQ(filterInclude(), "IRP_MJ_READ;IRP_MJ_WRITE");
    dataOnly->click();
    EXPECT_EQ(filterInclude(), "*");

    dataOnly->click();
    find<QCheckBox>("cbLogReads")->click();
    EXPECT_EQ(service.lastOf(kSetFilter)->input[256], 0);
    EXPECT_TRUE(dataOnly->isEnabled());
    find<QCheckBox>("cbLogWrites")->click();
    EXPECT_FALSE(dataOnly->isChecked());
    EXPECT_FALSE(dataOnly->isEnabled());
    EXPECT_EQ(service.lastOf(kSetFilter)->input[257], 0);
    find<QCheckBox>("cbLogWrites")->click();
    EXPECT_TRUE(dataOnly->isEnabled());

    find<QCheckBox>("cbMonShowHex")->click();
    EXPECT_EQ(sentValue(kHexDisplay), 1u);
    service.requests.clear();
    find<QCheckBox>("cbStartMoniter")->click();
    find<QCheckBox>("cbStartMoniter")->click();
    EXPECT_EQ(service.codes(), (std::vector<uint32_t>{kStopCapture, kStartCapture}));
    EXPECT_TRUE(dialogs.calls.empty());
}

TEST_F(MonitorPageTest, ColumnsShowAndHide)
{
    makeMonitor();
    auto* header = find<QTreeView>("lvMonData")->header();
    const std::tuple<const char*, int, int> columns[] = {
        {"cbMonShowClock", 1, 60}, {"cbMonShowIRP", 3, 200}, {"cbMonShowResult", 5, 50}};
    for (const auto& [box, column, width] : columns) {
        find<QCheckBox>(box)->click();
        EXPECT_EQ(header->sectionSize(column), 0) << box;
        EXPECT_TRUE(header->isSectionHidden(column));
        header->resizeSection(column, 300); // a hidden column can't be dragged open
        EXPECT_EQ(header->sectionSize(column), 0);
        find<QCheckBox>(box)->click();
        EXPECT_EQ(header->sectionSize(column), width) << box;
    }
}

TEST_F(MonitorPageTest, PollingAddsRowsCompletesThemAndLogs)
{
    setenv("TZ", "UTC", 1);
    tzset();
    makeMonitor();
    const std::string logPath = dir.file("capture.log");
    find<QLineEdit>("edLogFile")->setText(QString::fromStdString(logPath));
    find<QCheckBox>("cbLogToFile")->setChecked(true);
    capturing();
    auto first = records({{1, "echo(42)\tIRP_MJ_CREATE\t/dev/ttyS0\tSUCCESS"}}, kSampleFileTime);
    appendRecord(first, 2, 0, "cat(7)\tIRP_MJ_READ\t/dev/ttyS0");
    service.reads = {{1, 2, 3, 4, 5}, first, records({{2, "\t\t\tSUCCESS\tLength 2: ok"}}, kSampleFileTime + 20000000)};
    tick();
    EXPECT_EQ(service.codes(), std::vector<uint32_t>(4, kReadRecords)); // the short read is skipped, 0 bytes ends
    ASSERT_EQ(list()->rowCount(), 2);
    EXPECT_EQ(cell(0, 0), "1");
    EXPECT_EQ(cell(0, 1), "09:15:01");
    EXPECT_EQ(cell(0, 2), "echo(42)");
    EXPECT_EQ(cell(0, 3), "IRP_MJ_CREATE");
    EXPECT_EQ(cell(0, 5), "SUCCESS");
    EXPECT_EQ(cell(1, 1), "09:15:01"); // no time of its own
    EXPECT_EQ(cell(1, 5), "SUCCESS");  // completed by the second read
    EXPECT_EQ(cell(1, 6), "Length 2: ok");
    EXPECT_EQ(TempDir::readFile(logPath), "echo(42)\tIRP_MJ_CREATE\t/dev/ttyS0\tSUCCESS\t\r\n"
                                          "cat(7)\tIRP_MJ_READ\t/dev/ttyS0\t\t\r\n"
                                          "\t\t\tSUCCESS\tLength 2: ok\r\n");
    unsetenv("TZ");
    tzset();

    // No polling with capture off or nothing hooked.
    service.requests.clear();
    find<QCheckBox>("cbStartMoniter")->click();
    service.requests.clear();
    tick();
    EXPECT_TRUE(service.requests.empty());
    find<QCheckBox>("cbStartMoniter")->click();
    tickPort("clbSerialList", 0, false);
    service.requests.clear();
    tick();
    EXPECT_TRUE(service.requests.empty());
    EXPECT_TRUE(dialogs.calls.empty());
}

TEST_F(MonitorPageTest, SixtyFifthRequestEmptiesTheListAtSixtyFour)
{
    makeMonitor();
    capturing();
    std::vector<uint8_t> buf;
    for (int i = 1; i <= 64; ++i) appendRecord(buf, i, 0, request(i));
    service.reads = {buf};
    tick();
    ASSERT_EQ(list()->rowCount(), 64);
    service.reads = {records({{65, request(65)}, {5, "\t\t\tEIO"}})};
    tick();
    ASSERT_EQ(list()->rowCount(), 1);
    EXPECT_EQ(cell(0, 0), "65");
    EXPECT_EQ(cell(0, 5), "SUCCESS");
}

TEST_F(MonitorPageTest, LogFileProblems)
{
    makeMonitor();
    auto* logBox = find<QCheckBox>("cbLogToFile");
    auto* name = find<QLineEdit>("edLogFile");
    logBox->setChecked(true);
    name->setText("other.log");
    EXPECT_FALSE(logBox->isChecked());
    name->setText("");
    EXPECT_FALSE(logBox->isEnabled());
    name->setText(QString::fromStdString(dir.file("no/such/dir.log")));
    EXPECT_TRUE(logBox->isEnabled());
    logBox->setChecked(true);
    capturing();
    service.reads = {records({{1, request(1)}})};
    tick();
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{QStringLiteral("打开Log文件时出错!")});
    EXPECT_FALSE(logBox->isChecked());
    EXPECT_EQ(list()->rowCount(), 1);

    // The log file dialog proposes the current name and takes the chosen one.
    dialogs.clear();
    dialogs.fileAnswers = {QString::fromStdString(dir.file("chosen.log"))};
    find<QPushButton>("btnLogFile")->click();
    EXPECT_EQ(dialogs.last().filter, "Log files (*.log)|*.log|All files (*.*)|*.*");
    EXPECT_EQ(dialogs.last().defaultExt, "log");
    EXPECT_EQ(dialogs.last().fileName, QString::fromStdString(dir.file("no/such/dir.log")));
    EXPECT_EQ(name->text(), QString::fromStdString(dir.file("chosen.log")));
}

TEST_F(MonitorPageTest, FullDiskSaysSoOnceAndLoggingGoesOn)
{
    makeMonitor();
    const std::string logPath = dir.file("full.log");
    find<QLineEdit>("edLogFile")->setText(QString::fromStdString(logPath));
    find<QCheckBox>("cbLogToFile")->setChecked(true);
    capturing();
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 0; // no byte fits
    setrlimit(RLIMIT_FSIZE, &small);
    for (int i = 1; i <= 3; ++i) {
        service.reads = {records({{i, request(i)}})};
        tick();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{QStringLiteral("写入文件时出错!")});
    EXPECT_TRUE(find<QCheckBox>("cbLogToFile")->isChecked());
    service.reads = {records({{4, request(4)}})};
    tick();
    EXPECT_EQ(list()->rowCount(), 4);
    EXPECT_EQ(TempDir::readFile(logPath), "echo(42)\tIRP_MJ_WRITE\t/dev/ttyS0\tSUCCESS\tLength 1: 4\r\n");
}

TEST_F(MonitorPageTest, DeadComponentIsReportedAtTheNextRequestAndLoadsAgain)
{
    makeMonitor();
    capturing();
    service.kill();
    tick();
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{kCommError});
    expectUnloaded();
    tick(); // nothing more is asked of it
    EXPECT_EQ(dialogs.messages().size(), 1u);

    service = ScriptedCapture();
    dialogs.clear();
    install();
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_EQ(caption(), "卸载驱动");
    service.reads = {records({{1, request(1)}})};
    tick();
    EXPECT_EQ(list()->rowCount(), 1);
}

TEST_F(MonitorPageTest, GarbageBuffersAndAnEndlessSource)
{
    makeMonitor();
    capturing();
    std::mt19937 rng(99);
    for (int round = 0; round < 50; ++round) {
        std::vector<uint8_t> junk(kReadBufferSize);
        for (auto& b : junk) b = rng() % 8 == 0 ? 0 : static_cast<uint8_t>(rng());
        service.reads.push_back(std::move(junk));
    }
    tick();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_LE(list()->rowCount(), 64);
    for (int r = 0; r < list()->rowCount(); ++r) (void)cell(r, 6);

    // A source that never runs dry: the tick still returns, with the rest left for later.
    std::vector<uint8_t> full;
    for (int seq = 0; full.size() + 80 < kReadBufferSize; ++seq) appendRecord(full, seq, 0, request(seq));
    service.endless = [&] { return full; };
    tick();
    EXPECT_GT(list()->rowCount(), 0);
    service.endless = nullptr;
    QCoreApplication::processEvents();
}

TEST_F(MonitorPageTest, SaveAndSaveAs)
{
    makeMonitor();
    capturing();
    service.reads = {records({{1, request(1)}, {2, "cat(3)\tIRP_MJ_CLOSE"}})};
    tick();
    const QString path = QString::fromStdString(dir.file("saved.log"));
    dialogs.fileAnswers = {path};
    find<QPushButton>("btnMonSave")->click();
    ASSERT_EQ(dialogs.calls.size(), 1u);
    EXPECT_EQ(dialogs.last().fileName, "Portmon.log");
    EXPECT_EQ(dialogs.last().filter, "Log files (*.log)|*.log|All files (*.*)|*.*");
    EXPECT_EQ(TempDir::readFile(path.toStdString()),
              "1\t \techo(42)\tIRP_MJ_WRITE\t/dev/ttyS0\tSUCCESS\tLength 1: 1\r\n"
              "2\t \tcat(3)\tIRP_MJ_CLOSE\t \t \t \r\n");
    // Later saves go to the same file without asking.
    find<QToolButton>("sbClearMon")->click();
    dialogs.clear();
    find<QPushButton>("btnMonSave")->click();
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_EQ(TempDir::readFile(path.toStdString()), "");

    // Save as proposes the remembered file; an existing file asks, Cancel ends.
    dialogs.fileAnswers = {path};
    dialogs.confirmAnswers = {false};
    find<QPushButton>("btnMonSaveAs")->click();
    EXPECT_EQ(dialogs.calls[0].fileName, path);
    EXPECT_EQ(dialogs.last().text, "文件已经存在，要覆盖它吗?");
    EXPECT_EQ(dialogs.last().caption, "文件覆盖");
    const QString other = QString::fromStdString(dir.file("other.log"));
    dialogs.fileAnswers = {other};
    find<QPushButton>("btnMonSaveAs")->click();
    EXPECT_EQ(TempDir::readFile(other.toStdString()), "");
    dialogs.clear();
    find<QPushButton>("btnMonSave")->click();
    EXPECT_TRUE(dialogs.calls.empty());

    // A folder that is gone.
    dialogs.fileAnswers = {QString::fromStdString(dir.file("gone/x.log"))};
    find<QPushButton>("btnMonSaveAs")->click();
    EXPECT_EQ(dialogs.messages(), std::vector<QString>{QStringLiteral("打开文件时出错!")});
}

TEST_F(MonitorPageTest, ClosingTheWindowUnloadsWithoutAsking)
{
    makeMonitor();
    capturing();
    EXPECT_TRUE(frame->serialMonPage()->driverLoaded());
    frame->close();
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_FALSE(service.loaded());
    EXPECT_EQ(caption(), "安装驱动");
}
