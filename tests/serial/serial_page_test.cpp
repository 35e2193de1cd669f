// The serial page driven through its controls, on a pseudo-terminal whose
// master side plays the remote device.

#include "common/clock.h"
#include "platform/comm_port.h"
#include "platform/port_list.h"
#include "serial/comm_threads.h"
#include "serial/comtest_page.h"
#include "serial/receive_view.h"
#include "tests/serial/serial_page_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <fstream>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <thread>

using namespace quillon;
using namespace quillon::serial;
using namespace quillon::test;

namespace {

QString dumpText(const std::string& crlf)
{
    QString s = QString::fromLatin1(crlf.data(), static_cast<qsizetype>(crlf.size()));
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

} // namespace

TEST_F(SerialPageTest, InitialStateOfTheControls)
{
    EXPECT_EQ(caption("btnOpenPort"), "打开串口");
    EXPECT_FALSE(enabled("btnSend"));
    EXPECT_FALSE(enabled("btnSendFile"));
    EXPECT_FALSE(enabled("sbStopSend"));
    EXPECT_FALSE(enabled("cbFlowControl"));
    EXPECT_FALSE(enabled("edTimer"));
    EXPECT_FALSE(enabled("lTimer"));
    EXPECT_EQ(find<QComboBox>("cbFlowControl")->currentText(), "None");
    EXPECT_EQ(find<QComboBox>("cbBaudRate")->currentText(), "1200");
    EXPECT_EQ(find<QComboBox>("cbBaudRate")->count(), 21);
    EXPECT_EQ(find<QComboBox>("cbDataBits")->currentText(), "8");
    EXPECT_EQ(find<QComboBox>("cbStopBits")->currentText(), "1");
    EXPECT_EQ(find<QComboBox>("cbVerify")->currentText(), "None");
    EXPECT_EQ(find<QComboBox>("COMList")->currentText(), QString::fromStdString(pty.slavePath()));
    EXPECT_EQ(rx(), kInitialDumpLine);
    EXPECT_TRUE(find<QPlainTextEdit>("mCOMRx")->isReadOnly());
    EXPECT_TRUE(find<QPlainTextEdit>("mCOMRx")->font().fixedPitch());
    EXPECT_EQ(caption("btnSend"), "发  送");
    EXPECT_TRUE(find<QCheckBox>("cbInterClear")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("rbManualSend")->isChecked());
    EXPECT_EQ(find<QLineEdit>("edRDDispMax")->maxLength(), 3);
    EXPECT_EQ(find<QGroupBox>("gbCOM")->title(), "通讯内容");
}

TEST_F(SerialPageTest, OpenAndCloseShowTheStateAndReleaseTheDevice)
{
    // Showing another page for the first time loads what it needs; count after that.
    find<QTabWidget>("pcToolSet")->setCurrentIndex(TfrmMain::HexBinIndex);
    find<QTabWidget>("pcToolSet")->setCurrentIndex(TfrmMain::COMTestIndex);
    fdsBefore = openFdCount();
    find<QComboBox>("cbBaudRate")->setCurrentText("9600");
    openPort();
    EXPECT_EQ(caption("btnOpenPort"), "关闭串口");
    for (auto name : {"COMList", "cbBaudRate", "cbDataBits", "cbStopBits", "cbVerify"}) EXPECT_FALSE(enabled(name));
    EXPECT_TRUE(enabled("btnSend"));
    EXPECT_TRUE(enabled("btnSendFile"));
    EXPECT_TRUE(enabled("edRDTimeout"));
    EXPECT_EQ(panel(3), QString::fromStdString(pty.slavePath()) + ": 9600");
    EXPECT_FALSE(platform::CommPort::open(pty.slavePath())); // ours alone
    remoteSends("xyz", 3);

    // An error shown in panel 3 gives way to the connection when the page is shown again.
    frame->comTestPage()->session().reportSink()->commError();
    ASSERT_TRUE(waitPanel(3, "通讯出错！"));
    find<QTabWidget>("pcToolSet")->setCurrentIndex(TfrmMain::HexBinIndex);
    find<QTabWidget>("pcToolSet")->setCurrentIndex(TfrmMain::COMTestIndex);
    EXPECT_EQ(panel(1), "接收: 3");
    EXPECT_EQ(panel(3), QString::fromStdString(pty.slavePath()) + ": 9600");

    click("btnOpenPort");
    EXPECT_FALSE(portOpen());
    EXPECT_EQ(caption("btnOpenPort"), "打开串口");
    EXPECT_EQ(panel(1), "接收: 0");
    EXPECT_EQ(panel(2), "发送: 0");
    EXPECT_EQ(panel(3), "关闭");
    for (auto name : {"COMList", "cbBaudRate", "cbDataBits", "cbStopBits", "cbVerify"}) EXPECT_TRUE(enabled(name));
    EXPECT_FALSE(enabled("btnSend"));
    EXPECT_FALSE(enabled("btnSendFile"));
    EXPECT_EQ(openFdCount(), fdsBefore + 0) << "descriptor leaked";
    EXPECT_TRUE(platform::CommPort::open(pty.slavePath()));

    // Reopening right away works, and counts from 0 again.
    openPort();
    remoteSends("q", 1);
    const std::shared_ptr<CommSink> oldSink = frame->comTestPage()->session().reportSink();
    click("btnOpenPort");
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_EQ(openFdCount(), fdsBefore);
    // A report that arrives after the close says nothing about the port now.
    oldSink->commError();
    oldSink->bytesReceived(5);
    QTest::qWait(20);
    EXPECT_EQ(panel(3), "关闭");
    EXPECT_EQ(panel(1), "接收: 0");

    // Nor is it counted into the next connection: the reports of each
    // connection come tagged with its own sink.
    openPort();
    oldSink->bytesReceived(5);
    oldSink->sendDone(0, 7);
    oldSink->commError();
    remoteSends("ab", 2);
    EXPECT_EQ(panel(1), "接收: 2");
    EXPECT_EQ(panel(2), "发送: 0");
    EXPECT_EQ(panel(3), QString::fromStdString(pty.slavePath()) + ": 9600");
    frame->comTestPage()->session().reportSink()->bytesReceived(3);
    EXPECT_TRUE(waitPanel(1, "接收: 5"));
}

TEST_F(SerialPageTest, EveryParityAndStopBitSetting)
{
    auto* verify = find<QComboBox>("cbVerify");
    auto* stop = find<QComboBox>("cbStopBits");
    auto* bits = find<QComboBox>("cbDataBits");
    for (int dataBits : {8, 5}) {
        bits->setCurrentText(QString::number(dataBits));
        for (int p = 0; p < verify->count(); ++p) {
            for (int s = 0; s < stop->count(); ++s) {
                verify->setCurrentIndex(p);
                stop->setCurrentIndex(s);
                dialogs.clear();
                click("btnOpenPort");
                // One and a half stop bits need 5-bit bytes; two can't have them.
                const bool refused = (s == 1 && dataBits != 5) || (s == 2 && dataBits == 5);
                if (refused) {
                    EXPECT_FALSE(portOpen()) << p << s;
                    ASSERT_EQ(dialogs.messages().size(), 1u);
                    EXPECT_EQ(dialogs.last().text, "设置串口时出错!");
                    EXPECT_EQ(dialogs.last().caption, "错误");
                    EXPECT_EQ(caption("btnOpenPort"), "打开串口");
                } else {
                    EXPECT_TRUE(portOpen()) << p << s;
                    EXPECT_TRUE(dialogs.calls.empty());
                    click("btnOpenPort");
                }
            }
        }
    }
    EXPECT_EQ(openFdCount(), fdsBefore);
}

TEST_F(SerialPageTest, PortHeldElsewhereOrMissing)
{
    // Held by a program (here this one) that the user may look at: named.
    int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    click("btnOpenPort");
    ::close(other);
    EXPECT_FALSE(portOpen());
    ASSERT_EQ(dialogs.messages().size(), 1u);
    std::string self;
    std::getline(std::ifstream("/proc/self/comm"), self);
    EXPECT_EQ(dialogs.last().text, QStringLiteral("打开串口时出错!\n该串口正被其他程序占用：%1（进程 %2）。")
                                       .arg(QString::fromStdString(self))
                                       .arg(::getpid()));
    EXPECT_EQ(dialogs.last().icon, MsgIcon::Error);
    EXPECT_TRUE(enabled("COMList"));
    EXPECT_FALSE(enabled("btnSend"));
    EXPECT_EQ(panel(3), "关闭");

    devices.serial = std::vector<platform::DeviceMapEntry>{};
    makeFrame();
    dialogs.clear();
    click("btnOpenPort");
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.last().text, "无可用串口!");
}

// An ordinary user without access to the device is told so, with the usual
// cure. Root opens any device, so the window's thread opens it with the file
// permissions of "nobody" (setfsuid is per thread).
TEST_F(SerialPageTest, PortTheUserMayNotUseSaysItIsPermission)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to take another user's file permissions";
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0600), 0);
    ::setfsgid(65534);
    ::setfsuid(65534);
    click("btnOpenPort");
    ::setfsuid(0);
    ::setfsgid(0);
    EXPECT_FALSE(portOpen());
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.last().text,
              "打开串口时出错!\n没有使用该串口的权限。把用户加入 dialout 组并重新登录通常即可解决。");
    EXPECT_EQ(dialogs.last().icon, MsgIcon::Error);
    EXPECT_EQ(panel(3), "关闭");
    openPort(); // as root again
}

TEST_F(SerialPageTest, TimeoutBoxes)
{
    setText("edRDTimeout", "50");
    leave("edRDTimeout");
    EXPECT_EQ(find<QLineEdit>("edRDTimeout")->text(), "100");
    setText("edWRTimeout", "250");
    leave("edWRTimeout");
    EXPECT_EQ(find<QLineEdit>("edWRTimeout")->text(), "250");
    setText("edWRTimeout", "abc");
    leave("edWRTimeout");
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.last().text, "请填入正确的毫秒数");
    // Left again unchanged: the box still holds no number and says so again.
    leave("edWRTimeout");
    ASSERT_EQ(dialogs.messages().size(), 2u);
    EXPECT_EQ(dialogs.last().text, "请填入正确的毫秒数");
    // Also when it got focus by the window becoming active; switching to
    // another window is not leaving it.
    QFocusEvent activated(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(find<QLineEdit>("edWRTimeout"), &activated);
    QFocusEvent deactivated(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(find<QLineEdit>("edWRTimeout"), &deactivated);
    EXPECT_EQ(dialogs.messages().size(), 2u);
    QFocusEvent tabbed(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(find<QLineEdit>("edWRTimeout"), &tabbed);
    EXPECT_EQ(dialogs.messages().size(), 3u);

    // Opening with no number in a box: the general message, and the port closed again.
    dialogs.clear();
    click("btnOpenPort");
    EXPECT_FALSE(portOpen());
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.last().text, "程序产生异常！请检查输入数据的合理性！");
    EXPECT_TRUE(platform::CommPort::open(pty.slavePath()));
    EXPECT_EQ(openFdCount(), fdsBefore);

    // Both boxes wrong and focus moving from one to the other: one message,
    // focus back where it was, no endless exchange between the two checks.
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    setText("edRDTimeout", "x");
    find<QLineEdit>("edRDTimeout")->setFocus(Qt::TabFocusReason);
    dialogs.clear();
    find<QLineEdit>("edWRTimeout")->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(QApplication::focusWidget(), find<QLineEdit>("edRDTimeout"));
}

TEST_F(SerialPageTest, BurstOf5000BytesIsCountedAndShownWhole)
{
    openPort();
    std::string data;
    for (int i = 0; i < 5000; ++i) data += static_cast<char>('a' + i % 26);
    remoteSends(data, 5000);
    QString shown = rx();
    shown.remove(QLatin1Char('\n')); // long lines are broken for display only
    EXPECT_EQ(shown, QString(kInitialDumpLine) + QString::fromLatin1(data.data()));
    // Receive reset counts from 0 again.
    click("sbRcvReset");
    EXPECT_EQ(panel(1), "接收: 0");
    remoteSends("k", 1);
    // A long capture passes 2 GiB without the count turning negative.
    frame->comTestPage()->session().reportSink()->bytesReceived(0x7FFFFFFF);
    EXPECT_TRUE(waitPanel(1, "接收: 2147483648")) << panel(1).toStdString();
}

TEST_F(SerialPageTest, TextModeShowsUpToZeroByteAndJoinsSplitCharacters)
{
    openPort();
    click("sbRxFlush");
    EXPECT_EQ(rx(), "");
    remoteSends(bytesOf({0x41, 0x00, 0x42}), 3);
    EXPECT_EQ(rx(), "A");
    // "中" (D6 D0) arriving in two chunks shows once.
    remoteSends("\r\n\xD6", 6);
    remoteSends("\xD0", 7);
    EXPECT_EQ(rx(), "A\n中");
    // Stopped refresh: counted, not shown.
    click("cbStopFresh");
    remoteSends("hidden", 13);
    EXPECT_EQ(rx(), "A\n中");
}

TEST_F(SerialPageTest, DisplayKeepsOnlyTheNewestLines)
{
    setText("edRDDispMax", "5");
    leave("edRDDispMax");
    EXPECT_EQ(find<QLineEdit>("edRDDispMax")->text(), "10");
    setText("edRDDispMax", "x1");
    leave("edRDDispMax");
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.last().text, "请填入正确的行数");
    setText("edRDDispMax", "10");
    openPort();
    std::string lines;
    for (int i = 0; i < 30; ++i) lines += "line " + std::to_string(i) + "\r\n";
    remoteSends(lines, static_cast<int>(lines.size()));
    // Nine full lines and the open one after them.
    EXPECT_EQ(rx(), "line 21\nline 22\nline 23\nline 24\nline 25\nline 26\nline 27\nline 28\nline 29\n");
    EXPECT_EQ(find<QPlainTextEdit>("mCOMRx")->blockCount(), 10);
}

TEST_F(SerialPageTest, HexDumpContinuesWithinABurstAndRestartsAfterAPause)
{
    openPort();
    click("cbRcvBinary"); // empties the display: the next byte brings the header
    EXPECT_EQ(rx(), "");
    std::string twenty;
    for (int i = 0; i < 20; ++i) twenty += static_cast<char>(i);
    remoteSends(twenty, 20);
    const QString first =
        dumpText(std::string(kDumpHeader) + "00000000: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n"
                                            "00000010: 10 11 12 13 ");
    EXPECT_EQ(rx(), first);
    remoteSends(bytesOf({0xAA, 0xBB, 0xCC}), 23);
    EXPECT_EQ(rx(), first + "AA BB CC ");
    QTest::qWait(800); // the line falls quiet
    remoteSends("A", 24);
    EXPECT_EQ(rx(), first + "AA BB CC \n00000000: 41 ");
    click("cbRcvBinary");
    EXPECT_EQ(rx(), "");
}

TEST_F(SerialPageTest, SendingTextAndHexWithTheLogByteForByte)
{
    const auto t = std::chrono::system_clock::from_time_t(1080000000);
    setClock([t] { return t; });
    const std::string stamp = dateTimeText(t);
    const std::string logPath = dir.file("comm.log");

    // Cancelled dialog: logging stays off.
    click("cbAutoSave");
    EXPECT_FALSE(find<QCheckBox>("cbAutoSave")->isChecked());
    EXPECT_EQ(dialogs.last().kind, DialogCall::SaveFile);
    EXPECT_EQ(dialogs.last().filter, "Log files (*.log)|*.log|All files (*.*)|*.*");
    EXPECT_EQ(dialogs.last().defaultExt, "log");
    EXPECT_EQ(dialogs.last().fileName, "LogFile.log");
    dialogs.fileAnswers = {QString::fromStdString(dir.file("no-such-dir/x.log"))};
    click("cbAutoSave");
    EXPECT_FALSE(find<QCheckBox>("cbAutoSave")->isChecked());
    EXPECT_EQ(dialogs.last().text, "打开记录文件时出错!请重新设置");
    dialogs.fileAnswers = {QString::fromStdString(logPath)};
    click("cbAutoSave");
    ASSERT_TRUE(find<QCheckBox>("cbAutoSave")->isChecked());
    EXPECT_EQ(find<QGroupBox>("gbCOM")->title(), "通讯内容/保存到: comm.log");

    openPort();
    typeToSend("AB\nCD");
    click("btnSend");
    EXPECT_EQ(pty.receive(6), "AB\r\nCD");
    ASSERT_TRUE(waitPanel(2, "发送: 6"));
    EXPECT_TRUE(enabled("btnSend"));
    EXPECT_FALSE(enabled("sbStopSend"));
    click("cbSendBinary");
    click("btnSend");
    EXPECT_EQ(pty.receive(2), bytesOf({0xAB, 0xCD}));
    ASSERT_TRUE(waitPanel(2, "发送: 8"));
    typeToSend("0102FF");
    click("btnSend");
    EXPECT_EQ(pty.receive(3), bytesOf({0x01, 0x02, 0xFF}));
    ASSERT_TRUE(waitPanel(2, "发送: 11"));
    click("sbSndReset");
    EXPECT_EQ(panel(2), "发送: 0");

    remoteSends("OK\xD6\xD0", 4);
    EXPECT_EQ(rx(), "OK中"); // the send emptied the display first
    click("cbRcvBinary");
    remoteSends(bytesOf({0x10, 0x20}), 6);
    click("cbAutoSave");
    EXPECT_EQ(find<QGroupBox>("gbCOM")->title(), "通讯内容");
    remoteSends("after", 11); // not logged any more
    setClock({});

    const std::string e = "\r\n" + stamp;
    EXPECT_EQ(TempDir::readFile(logPath), e + "\tSend:  AB" + e + "\tSend:  CD" + e + "\tSend:  AB" + e +
                                              "\tSend:  CD" + e + "\tSend:  0102FF" + e + "\tReceived:  OK\xD6\xD0" +
                                              e + "\tReceived:  " + kDumpHeader + "00000000: 10 20 ");

    // Empty text or a closed port sends nothing.
    typeToSend("");
    click("btnSend");
    EXPECT_TRUE(enabled("btnSend"));
    EXPECT_EQ(pty.drain(50), "");
}

TEST_F(SerialPageTest, StoppedRefreshNeitherShowsNorLogsWhatIsReceived)
{
    const auto t = std::chrono::system_clock::from_time_t(1080000000);
    setClock([t] { return t; });
    const std::string e = "\r\n" + dateTimeText(t) + "\tReceived:  ";
    const std::string logPath = dir.file("comm.log");
    dialogs.fileAnswers = {QString::fromStdString(logPath)};
    click("cbAutoSave");
    openPort();
    remoteSends("A", 1);
    click("cbStopFresh");
    remoteSends("B", 2);
    click("cbRcvBinary");
    remoteSends("C", 3);
    EXPECT_EQ(rx(), "");
    click("cbRcvBinary");
    // String variables log the raw chunk whatever the display does.
    click("rbMultiVars");
    ASSERT_TRUE(find<QCheckBox>("cbVarFixLength")->isChecked());
    click("btnVarApply");
    remoteSends("D\r\n", 6);
    click("cbStopFresh");
    remoteSends("E", 7);
    EXPECT_EQ(rx(), "E");
    click("cbAutoSave");
    setClock({});
    EXPECT_EQ(TempDir::readFile(logPath), e + "A" + e + "D\r\n" + e + "E");
}

TEST_F(SerialPageTest, FileSendCountsEveryByteAndGivesTheButtonsBack)
{
    click("btnSendFile"); // disabled while closed
    openPort();
    click("btnSendFile");
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.last().text, "请先选择要发送的文件!");

    std::string data;
    for (int i = 0; i < 1000; ++i) data += static_cast<char>(i * 13);
    const std::string path = tempFileOf(data);
    dialogs.fileAnswers = {QString::fromStdString(path)};
    click("btnGetFile");
    EXPECT_EQ(dialogs.last().filter, "All files (*.*)|*.*");
    EXPECT_EQ(find<QLineEdit>("edFileSend")->text(), QString::fromStdString(path));
    click("btnSendFile");
    EXPECT_FALSE(enabled("btnSend"));
    EXPECT_TRUE(enabled("sbStopSend"));
    EXPECT_EQ(pty.receive(1000), data);
    ASSERT_TRUE(waitPanel(2, "发送: 1000"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return enabled("btnSendFile"); }));
    EXPECT_TRUE(enabled("btnSend"));
    EXPECT_FALSE(enabled("sbStopSend"));

    setText("edFileSend", QString::fromStdString(dir.file("missing.bin")));
    dialogs.clear();
    click("btnSendFile");
    ASSERT_TRUE(QTest::qWaitFor([&] { return enabled("btnSendFile"); }));
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.last().text, "打开文件时出错!");
    EXPECT_EQ(panel(2), "发送: 1000");
}

TEST_F(SerialPageTest, StoppingAFileSendKeepsWhatWasReported)
{
    openPort();
    setText("edFileSend", QString::fromStdString(tempFileOf(std::string(4 << 20, 'z'))));
    click("btnSendFile");
    // Nobody reads on the far side: the send stalls and reports progress.
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel(2) != "发送: 0"; }, 5000));
    click("sbStopSend");
    EXPECT_TRUE(enabled("btnSend"));
    EXPECT_TRUE(enabled("btnSendFile"));
    EXPECT_FALSE(enabled("sbStopSend"));
    const QString counted = panel(2);
    QTest::qWait(700);
    EXPECT_EQ(panel(2), counted);
    const size_t arrived = pty.drain().size();
    EXPECT_GE(arrived, counted.mid(4).toULongLong());
    EXPECT_LT(arrived, size_t(4 << 20));

    // Closing while a send is pending stops it too.
    click("btnSendFile");
    QTest::qWait(100);
    click("btnOpenPort");
    EXPECT_EQ(panel(2), "发送: 0");
    EXPECT_EQ(openFdCount(), fdsBefore);
}

TEST_F(SerialPageTest, TimedSendingSendsAtOnceThenPerTickAndOnceMoreOnStop)
{
    openPort();
    typeToSend("T");
    click("rbTimedSend");
    EXPECT_EQ(caption("btnSend"), "开  始");
    EXPECT_TRUE(enabled("edTimer"));
    setText("edTimer", "20");
    leave("edTimer");
    EXPECT_EQ(find<QLineEdit>("edTimer")->text(), "100");
    setText("edTimer", "x");
    click("btnSend");
    EXPECT_EQ(dialogs.last().text, "请正确设置间隔时间!");
    EXPECT_FALSE(frame->findChild<QTimer*>("Timer2")->isActive());
    EXPECT_EQ(pty.drain(50), "");

    setText("edTimer", "100");
    click("btnSend");
    EXPECT_EQ(caption("btnSend"), "停  止");
    EXPECT_FALSE(enabled("rbManualSend"));
    EXPECT_FALSE(enabled("edTimer"));
    EXPECT_TRUE(frame->findChild<QTimer*>("Timer2")->isActive());
    EXPECT_EQ(frame->findChild<QTimer*>("Timer2")->interval(), 100);
    click("rbTimedSend"); // already chosen: nothing changes
    EXPECT_EQ(caption("btnSend"), "停  止");
    EXPECT_FALSE(enabled("edTimer"));
    EXPECT_EQ(pty.receive(1, 1000), "T");    // at the press
    const std::string ticks = remoteGets(3); // then on the ticks
    EXPECT_GE(ticks.size(), 3u);
    EXPECT_EQ(ticks, std::string(ticks.size(), 'T'));
    // Sends go out while the buttons are busy: the stop button stays usable.
    ASSERT_TRUE(QTest::qWaitFor([&] { return enabled("btnSend"); }));
    click("btnSend");
    EXPECT_FALSE(frame->findChild<QTimer*>("Timer2")->isActive());
    EXPECT_EQ(caption("btnSend"), "开  始");
    EXPECT_TRUE(enabled("rbManualSend"));
    QTest::qWait(300);
    EXPECT_GE(pty.drain(0).size(), 1u); // the send of the stopping press
    QTest::qWait(300);
    EXPECT_EQ(pty.drain(0), ""); // and nothing after it
    click("rbManualSend");
    EXPECT_EQ(caption("btnSend"), "发  送");
    EXPECT_FALSE(enabled("edTimer"));
}

TEST_F(SerialPageTest, VanishedDeviceShowsTheErrorAndClosingStillWorks)
{
    openPort();
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        while (!stop && pty.master() >= 0) pty.send(std::string(512, 'f'), 50);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel(1) != "接收: 0"; }));
    stop = true;
    feeder.join();
    pty.closeMaster(); // adapter pulled mid-transfer
    ASSERT_TRUE(waitPanel(3, "通讯出错！"));
    QTest::qWait(600);
    EXPECT_EQ(panel(3), "通讯出错！");
    EXPECT_TRUE(dialogs.calls.empty()); // no pile of message boxes
    click("btnOpenPort");
    EXPECT_FALSE(portOpen());
    EXPECT_EQ(panel(3), "关闭");
    EXPECT_EQ(openFdCount(), fdsBefore - 1); // the master side is gone too
}

TEST_F(SerialPageTest, ClosingAtAnyMomentWhileStreamingNeitherHangsNorLeaks)
{
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        while (!stop) pty.send(std::string(2048, 's'), 20);
    });
    for (int round = 0; round < 6; ++round) {
        openPort();
        QTest::qWait(20 + round * 15);
        click("btnOpenPort");
        EXPECT_FALSE(portOpen());
    }
    EXPECT_EQ(openFdCount(), fdsBefore);

    // The window closed with the port open, the log on and the feeder running.
    dialogs.fileAnswers = {QString::fromStdString(dir.file("exit.log"))};
    click("cbAutoSave");
    openPort();
    // Something has been received and logged before the window closes, however busy the machine.
    ASSERT_TRUE(QTest::qWaitFor([&] { return TempDir::readFile(dir.file("exit.log")).size() > 40; }, 5000));
    dialogs.confirmAnswers = {true};
    frame->close();
    EXPECT_FALSE(frame->isVisible());
    EXPECT_FALSE(portOpen());
    EXPECT_FALSE(find<QCheckBox>("cbAutoSave")->isChecked()); // the log was closed on the way
    EXPECT_NE(TempDir::readFile(dir.file("exit.log")).find("\tReceived:  ss"), std::string::npos);
    stop = true;
    feeder.join();
    frame.reset();
    EXPECT_EQ(openFdCount(), fdsBefore - 0) << "descriptor leaked";
    EXPECT_TRUE(platform::CommPort::open(pty.slavePath()));
}

// The list is read again when the drop-down opens: an adapter plugged in
// later appears, the chosen port stays chosen while it is there.
TEST_F(SerialPageTest, PortListIsReadAgainWhenItOpens)
{
    PtyPair second;
    ASSERT_TRUE(second.ok());
    const std::string link = dir.file("ttyV0");
    ASSERT_EQ(::symlink(second.slavePath().c_str(), link.c_str()), 0);
    auto* list = find<QComboBox>("COMList");
    auto items = [&] {
        QStringList all;
        for (int i = 0; i < list->count(); ++i) all << list->itemText(i);
        return all.join(QLatin1Char(' ')).toStdString();
    };
    const QString first = QString::fromStdString(pty.slavePath());

    // A virtual port named by a symlink; the link's path is listed.
    auto entries = *devices.serial;
    for (const auto& e : platform::ptySymlinkPorts({dir.path()})) entries.push_back(e);
    devices.serial = entries;
    list->showPopup();
    list->hidePopup();
    EXPECT_EQ(items(), pty.slavePath() + " " + link);
    EXPECT_EQ(list->currentText(), first);

    list->setCurrentIndex(1);
    devices.serial = std::vector<platform::DeviceMapEntry>{{"\\Device\\x", "/dev/aa-gone"}, entries[0], entries[1]};
    list->showPopup();
    list->hidePopup();
    EXPECT_EQ(items(), "/dev/aa-gone " + pty.slavePath() + " " + link);
    EXPECT_EQ(list->currentText().toStdString(), link);

    // The chosen port went away: the first entry, as at start-up.
    devices.serial = std::vector<platform::DeviceMapEntry>{entries[0]};
    list->showPopup();
    list->hidePopup();
    EXPECT_EQ(list->currentText(), first);

    // One that vanishes between the refresh and the open gives the open error.
    devices.serial = entries;
    list->showPopup();
    list->hidePopup();
    list->setCurrentIndex(1);
    ASSERT_EQ(::unlink(link.c_str()), 0);
    click("btnOpenPort");
    EXPECT_FALSE(portOpen());
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.last().text, "打开串口时出错!\n该串口已不存在，设备可能已被拔出。");

    // The link itself opens as a port while it is there.
    ASSERT_EQ(::symlink(second.slavePath().c_str(), link.c_str()), 0);
    openPort();
    typeToSend("via link");
    click("btnSend");
    EXPECT_EQ(second.receive(8), "via link");
}

TEST_F(SerialPageTest, CtrlEnterInTheSendBoxSends)
{
    auto* box = find<QPlainTextEdit>("mDataSend");
    typeToSend("ping");
    // Not open: the key changes nothing but the text.
    QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(dialogs.calls.empty());
    openPort();
    typeToSend("ping");
    QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(pty.receive(4), "ping");
    ASSERT_TRUE(waitPanel(2, "发送: 4"));
    QTest::keyClick(box, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(pty.receive(4), "ping");
    EXPECT_EQ(box->toPlainText(), "ping");
    // Enter alone still breaks the line.
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(pty.drain(50), "");
}

TEST_F(SerialPageTest, FastRatesAfterTheUsualOnes)
{
    auto* rates = find<QComboBox>("cbBaudRate");
    QStringList all;
    for (int i = 0; i < rates->count(); ++i) all << rates->itemText(i);
    EXPECT_EQ(all.join(QLatin1Char(' ')).toStdString(),
              "110 300 600 1200 2400 4800 9600 14400 19200 38400 56000 57600 115200 128000 256000 "
              "460800 921600 1000000 1500000 2000000 3000000");
    EXPECT_EQ(rates->currentText(), "1200");
    for (const char* rate : {"921600", "3000000"}) {
        rates->setCurrentText(QString::fromLatin1(rate));
        openPort();
        EXPECT_EQ(panel(3), QString::fromStdString(pty.slavePath()) + ": " + rate);
        click("btnOpenPort");
    }
}
