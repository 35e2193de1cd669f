#include "app/handler.h"
#include "common/clock.h"
#include "common/settings_file.h"
#include "tests/support/frame_fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <stdexcept>

using namespace quillon;
using namespace quillon::test;

namespace {

// Plays the open serial connection and the loaded monitor for the close paths.
struct StandInSession : SerialSessionControl, MonitorSessionControl {
    bool open = false;
    bool log = false;
    bool loaded = false;
    int closedForExit = 0;
    int unloaded = 0;
    bool portOpen() const override { return open; }
    long long receivedTotal() const override { return 12; }
    long long sentTotal() const override { return 34; }
    std::string portName() const override { return "/dev/pts/7"; }
    int baudRate() const override { return 9600; }
    bool logActive() const override { return log; }
    void closeLog() override { log = false; }
    void closeForExit() override
    {
        ++closedForExit;
        open = false;
    }
    bool driverLoaded() const override { return loaded; }
    void unloadDriver() override
    {
        ++unloaded;
        loaded = false;
    }
};

class MainFormTest : public FrameTest {
protected:
    StandInSession session;
    void attachStandIn()
    {
        frame->setSerialSession(&session);
        frame->setMonitorSession(&session);
    }
};

const char* const kTitles[] = {"Quillon之---RT值计算",    "Quillon之---LED编码器",  "Quillon之---色环电阻识别",
                               "Quillon之---HEX/BIN转换", "Quillon之---串口调试器", "Quillon之---串口监视器"};

} // namespace

TEST_F(MainFormTest, WindowFrameAndControls)
{
    makeFrame();
    EXPECT_EQ(frame->windowTitle(), "Quillon");
    EXPECT_EQ(frame->size(), QSize(793, 524));
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize());
    auto* tabs = find<QTabWidget>("pcToolSet");
    ASSERT_TRUE(tabs);
    EXPECT_EQ(tabs->geometry(), QRect(0, 0, 793, 497));
    const char* names[] = {"RTCalc", "LEDCoder", "ColorResister", "tsHexBin", "tsCOMTest", "tsSerialMon"};
    const char* captions[] = {"RT值计算", "LED 编码", "色环电阻", "HEX/BIN", "串口调试", "串口监视"};
    ASSERT_EQ(tabs->count(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(tabs->widget(i)->objectName(), names[i]);
        EXPECT_EQ(tabs->tabText(i), QString::fromUtf8(captions[i]));
    }
    EXPECT_EQ(tabs->currentWidget()->objectName(), "tsCOMTest");
    auto* exitButton = find<QPushButton>("btnExit");
    EXPECT_EQ(exitButton->text(), "E&xit");
    EXPECT_EQ(exitButton->geometry(), QRect(720, 500, 57, 22));
    EXPECT_EQ(find("StatusBar1")->geometry(), QRect(0, 499, 705, 24));
    auto* timer1 = frame->findChild<QTimer*>("Timer1");
    auto* timer2 = frame->findChild<QTimer*>("Timer2");
    ASSERT_TRUE(timer1 && timer2);
    EXPECT_TRUE(timer1->isActive());
    EXPECT_EQ(timer1->interval(), 500);
    EXPECT_FALSE(timer2->isActive());
}

TEST_F(MainFormTest, InitialPanelsAndClock)
{
    setClock([] { return std::chrono::system_clock::from_time_t(1080000000); });
    makeFrame();
    setClock({});
    EXPECT_EQ(panel(0), "Quillon之---串口调试");
    EXPECT_EQ(panel(1), "接收: 0");
    EXPECT_EQ(panel(2), "发送: 0");
    EXPECT_EQ(panel(3), "关闭");
    EXPECT_EQ(panel(4).toStdString(), dateTimeText(std::chrono::system_clock::from_time_t(1080000000)));
    EXPECT_TRUE(frame->ntPlatform());
    EXPECT_EQ(frame->typeNameList().size(), 7u);
    EXPECT_EQ(frame->formatNameList().front(), "Hex=0");
}

TEST_F(MainFormTest, ShowingTheWindowTitlesTheSerialPage)
{
    makeFrame();
    frame->show();
    EXPECT_EQ(panel(0), "Quillon之---串口调试器");
    EXPECT_EQ(panel(3), "关闭");
}

TEST_F(MainFormTest, PageSwitchingWritesTitlesAndPanels)
{
    makeFrame();
    attachStandIn();
    auto* tabs = find<QTabWidget>("pcToolSet");
    for (int i = 0; i < 4; ++i) {
        tabs->setCurrentIndex(i);
        EXPECT_EQ(panel(0), QString::fromUtf8(kTitles[i]));
        for (int p = 1; p <= 3; ++p) EXPECT_EQ(panel(p), " ") << "page " << i << " panel " << p;
    }
    tabs->setCurrentIndex(TfrmMain::SerialMonIndex);
    EXPECT_EQ(panel(0), QString::fromUtf8(kTitles[5]));
    EXPECT_EQ(panel(1), "接收: 0");
    EXPECT_EQ(panel(3), "关闭");
    session.open = true;
    tabs->setCurrentIndex(TfrmMain::HexBinIndex);
    tabs->setCurrentIndex(TfrmMain::COMTestIndex);
    EXPECT_EQ(panel(0), QString::fromUtf8(kTitles[4]));
    EXPECT_EQ(panel(1), "接收: 12");
    EXPECT_EQ(panel(2), "发送: 34");
    EXPECT_EQ(panel(3), "/dev/pts/7: 9600");
}

TEST_F(MainFormTest, ClosingWithoutConnectionAsksNothingButUnloadsMonitor)
{
    makeFrame();
    attachStandIn();
    session.loaded = true;
    session.log = true;
    frame->show();
    find<QPushButton>("btnExit")->click();
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_EQ(session.unloaded, 1);
    EXPECT_FALSE(session.log);
    EXPECT_FALSE(frame->isVisible());
}

TEST_F(MainFormTest, CancelledExitKeepsConnectionButMonitorAndLogAreGone)
{
    makeFrame();
    attachStandIn();
    session.open = session.loaded = session.log = true;
    frame->show();
    dialogs.confirmAnswers = {false};
    frame->close(); // the close box takes the same road as E&xit
    ASSERT_EQ(dialogs.calls.size(), 1u);
    EXPECT_EQ(dialogs.last().kind, DialogCall::Confirm);
    EXPECT_EQ(dialogs.last().caption, "Confirm");
    EXPECT_EQ(dialogs.last().text, "串口已打开，要退出吗？");
    EXPECT_EQ(dialogs.last().icon, MsgIcon::Question);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(session.open);
    EXPECT_EQ(session.closedForExit, 0);
    EXPECT_FALSE(session.loaded);
    EXPECT_FALSE(session.log);
}

TEST_F(MainFormTest, ConfirmedExitClosesTheConnection)
{
    makeFrame();
    attachStandIn();
    session.open = true;
    frame->show();
    dialogs.confirmAnswers = {true};
    find<QPushButton>("btnExit")->click();
    EXPECT_EQ(session.closedForExit, 1);
    EXPECT_FALSE(frame->isVisible());
}

TEST_F(MainFormTest, EscapingExceptionShowsTheGeneralMessageAndGoesOn)
{
    makeFrame();
    QPushButton probe(frame.get());
    int after = 0;
    connectHandler(&probe, &QPushButton::clicked, frame.get(), [] { throw std::runtime_error("division by zero"); });
    connectHandler(&probe, &QPushButton::clicked, frame.get(), [&] { ++after; });
    probe.click();
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.last().caption, "错误");
    EXPECT_EQ(dialogs.last().text, "程序产生异常！请检查输入数据的合理性！");
    EXPECT_EQ(dialogs.last().icon, MsgIcon::Error);
    EXPECT_EQ(after, 1);
    probe.click();
    EXPECT_EQ(dialogs.messages().size(), 2u);
}

TEST_F(MainFormTest, PortListsFilledFromTheDeviceMap)
{
    devices.serial = std::vector<platform::DeviceMapEntry>{
        {"\\Device\\Serial0", "COM1"}, {"\\Device\\Serial1", "COM2"}, {"\\Device\\VCP0", "COM10"}};
    devices.parallel = std::vector<platform::DeviceMapEntry>{{"\\Device\\Parallel0", "\\DosDevices\\LPT1"}};
    makeFrame();
    auto* com = find<QComboBox>("COMList");
    ASSERT_EQ(com->count(), 3);
    EXPECT_EQ(com->itemText(1), "COM10");
    EXPECT_EQ(com->currentText(), "COM1");
    auto* serial = find<QListWidget>("clbSerialList");
    ASSERT_EQ(serial->count(), 3);
    EXPECT_EQ(serial->item(2)->text(), "COM10: VCP0");
    EXPECT_EQ(serial->item(0)->checkState(), Qt::Unchecked);
    auto* parallel = find<QListWidget>("clbParallelList");
    ASSERT_EQ(parallel->count(), 1);
    EXPECT_EQ(parallel->item(0)->text(), "LPT1: Parallel0");
}

TEST_F(MainFormTest, UnreadableDeviceMapLeavesListsEmpty)
{
    makeFrame();
    EXPECT_EQ(find<QComboBox>("COMList")->count(), 0);
    EXPECT_EQ(find<QComboBox>("COMList")->currentIndex(), -1);
    EXPECT_EQ(find<QListWidget>("clbParallelList")->count(), 0);
}

TEST_F(MainFormTest, TearingDownWithAFocusedBoxRunsNoHandler)
{
    makeFrame();
    frame->show();
    QApplication::setActiveWindow(frame.get());
    auto* box = find<QLineEdit>("edRDTimeout");
    ASSERT_TRUE(box);
    frame->findChild<QTabWidget*>("pcToolSet")->setCurrentIndex(TfrmMain::COMTestIndex);
    box->setFocus();
    box->setText("abc");
    frame.reset(); // the box loses focus while the window goes away
    EXPECT_TRUE(dialogs.calls.empty());
}
