#include "serial/comtest_page.h"

#include "app/comm_events.h"
#include "app/dialogs.h"
#include "app/handler.h"
#include "app/page_host.h"
#include "app/qt_text.h"
#include "app/send_key.h"
#include "app/status_panels.h"
#include "common/codepage.h"
#include "common/text.h"
#include "platform/comm_port.h"
#include "platform/device_map.h"
#include "platform/port_list.h"
#include "serial/hex_text.h"
#include "serial/interactive_group.h"
#include "serial/port_combo_box.h"
#include "serial/receive_display.h"
#include "ui_comtest_page.h"
#include "vars/datamode_group.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>
#include <cstring>
#include <stdexcept>

namespace quillon {

namespace {

const QString kOpenCaption = QStringLiteral("打开串口");
const QString kCloseCaption = QStringLiteral("关闭串口");
const QString kComGroupCaption = QStringLiteral("通讯内容");
// The received-bytes panel is repainted at most this often (one display refresh).
constexpr int kStatusRepaintMs = 25;

// The second line of the open error: why, in the user's terms.
QString openFailureReason(const PortOpenFailure& failure)
{
    using Reason = PortOpenFailure::Reason;
    switch (failure.reason) {
    case Reason::NoPermission: {
        const QString group =
            failure.deviceGroup.empty() ? QStringLiteral("dialout") : QString::fromStdString(failure.deviceGroup);
        return QStringLiteral("没有使用该串口的权限。把用户加入 %1 组并重新登录通常即可解决。").arg(group);
    }
    case Reason::InUse:
        if (failure.holderPid > 0)
            return QStringLiteral("该串口正被其他程序占用：%1（进程 %2）。")
                .arg(QString::fromStdString(failure.holderName))
                .arg(failure.holderPid);
        return QStringLiteral("该串口正被其他程序占用。");
    case Reason::Gone: return QStringLiteral("该串口已不存在，设备可能已被拔出。");
    case Reason::NotAPort: return QStringLiteral("该设备不是串口。");
    case Reason::Other:
        return QStringLiteral("系统报告：%1。").arg(QString::fromLocal8Bit(std::strerror(failure.error)));
    case Reason::None: break;
    }
    return {};
}

QString openFailureText(const PortOpenFailure& failure)
{
    QString text = QStringLiteral("打开串口时出错!");
    const QString reason = openFailureReason(failure);
    if (!reason.isEmpty()) text += QLatin1Char('\n') + reason;
    return text;
}

} // namespace

ComTestPage::ComTestPage(PageHost& host, QWidget* parent)
    : QWidget(parent), host_(host), ui(std::make_unique<Ui::ComTestPage>())
{
    ui->setupUi(this);
    session_ = std::make_unique<SerialSession>(host_.mainWindow(), *this);
    display_ = std::make_unique<ReceiveDisplay>(ui->mCOMRx, ui->cbCOMAutoScroll);
    applyDisplayLimit();
    connectHandlers();
    auto* dataMode = new vars::DataModeGroup(host_, *session_);
    placeGroup(GroupSlot::DataMode, dataMode);
    interactiveGroup_ =
        new InteractiveGroup(host_, *session_, {ui->mDataSend, ui->cbSendBinary, [this] { SendData(); }}, *dataMode);
    placeGroup(GroupSlot::Interactive, interactiveGroup_);
    setInteractiveHooks(interactiveGroup_);
}

ComTestPage::~ComTestPage()
{
    // The session's threads end before the display they report to.
    session_.reset();
}

void ComTestPage::connectHandlers()
{
    connectHandler(ui->COMList, &PortComboBox::popupAboutToShow, this, &ComTestPage::refreshPortList);
    connectHandler(ui->btnOpenPort, &QPushButton::clicked, this, &ComTestPage::btnOpenPortClick);
    leaveChecks_.add(ui->edRDTimeout, [this] { edRDTimeoutExit(); });
    leaveChecks_.add(ui->edWRTimeout, [this] { edWRTimeoutExit(); });

    connectHandler(ui->btnSend, &QPushButton::clicked, this, &ComTestPage::btnSendClick);
    pressOnCtrlEnter(ui->mDataSend, ui->btnSend);
    // Only a change of choice counts: clicking the choice already made must
    // not relabel "停  止" while timed sending runs.
    connectHandler(ui->rbTimedSend, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rbTimedSendClick();
    });
    connectHandler(ui->rbManualSend, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rbManualSendClick();
    });
    leaveChecks_.add(ui->edTimer, [this] { edTimerExit(); });
    connectHandler(ui->btnGetFile, &QPushButton::clicked, this, &ComTestPage::btnGetFileClick);
    connectHandler(ui->btnSendFile, &QPushButton::clicked, this, &ComTestPage::btnSendFileClick);
    connectHandler(ui->sbStopSend, &QToolButton::clicked, this, &ComTestPage::sbStopSendClick);
    connectHandler(ui->sbTxFlush, &QToolButton::clicked, this, &ComTestPage::sbTxFlushClick);
    connectHandler(ui->sbSndReset, &QToolButton::clicked, this, &ComTestPage::sbSndResetClick);

    connectHandler(ui->sbRxFlush, &QToolButton::clicked, this, &ComTestPage::sbRxFlushClick);
    connectHandler(ui->sbRcvReset, &QToolButton::clicked, this, &ComTestPage::sbRcvResetClick);
    connectHandler(ui->cbRcvBinary, &QCheckBox::clicked, this, &ComTestPage::cbRcvBinaryClick);
    connectHandler(ui->cbAutoSave, &QCheckBox::clicked, this, &ComTestPage::cbAutoSaveClick);
    leaveChecks_.add(ui->edRDDispMax, [this] { edRDDispMaxExit(); });
}

QRect ComTestPage::groupRect(GroupSlot slot)
{
    // The free right-hand column and the left column below the port settings.
    switch (slot) {
    case GroupSlot::Variables: return {604, 4, 185, 248};
    case GroupSlot::DataMode: return {604, 254, 185, 214};
    case GroupSlot::Interactive: return {4, 304, 182, 164};
    }
    return {};
}

void ComTestPage::placeGroup(GroupSlot slot, QWidget* group)
{
    group->setParent(this);
    group->setGeometry(groupRect(slot));
    group->show();
}

void ComTestPage::applyDisplayLimit()
{
    auto lines = wholeNumberIn(ui->edRDDispMax);
    display_->setLineLimit(lines && *lines >= 10 ? *lines : 10);
}

// ------------------------------------------------------------------ start-up

void ComTestPage::fillPortList(const PortListing& listing)
{
    ui->COMList->clear();
    for (const auto& name : listing.comList) ui->COMList->addItem(fromStd(name));
    ui->COMList->setCurrentIndex(listing.comList.empty() ? -1 : 0);
}

void ComTestPage::refreshPortList()
{
    if (!portSource_) return;
    const auto entries = portSource_->serialPorts();
    if (!entries) return;
    ui->COMList->refill(buildSerialListing(*entries).comList);
}

// ---------------------------------------------------------------- connection

void ComTestPage::setLineControlsEnabled(bool enabled)
{
    ui->COMList->setEnabled(enabled);
    ui->cbBaudRate->setEnabled(enabled);
    ui->cbDataBits->setEnabled(enabled);
    ui->cbStopBits->setEnabled(enabled);
    ui->cbVerify->setEnabled(enabled);
}

void ComTestPage::setSendButtonsEnabled(bool enabled)
{
    ui->btnSend->setEnabled(enabled);
    ui->btnSendFile->setEnabled(enabled);
}

void ComTestPage::btnOpenPortClick()
{
    if (session_->portOpen()) {
        session_->close();
        showConnectionClosed();
        return;
    }
    Dialogs& dialogs = host_.dialogs();
    if (ui->COMList->currentIndex() < 0) {
        dialogs.error(QStringLiteral("无可用串口!"));
        return;
    }
    const QString name = ui->COMList->currentText();
    LineSettings line;
    line.baudRate = ui->cbBaudRate->currentText().toInt();
    line.parityIndex = ui->cbVerify->currentIndex();
    line.dataBits = ui->cbDataBits->currentText().toInt();
    line.stopBitsIndex = ui->cbStopBits->currentIndex();

    const auto result = session_->open(localPath(name), line, [this] {
        const auto rd = wholeNumberIn(ui->edRDTimeout);
        const auto wr = wholeNumberIn(ui->edWRTimeout);
        if (!rd || !wr) throw std::invalid_argument("timeout is not a whole number");
        CommTimeouts t;
        t.ReadTotalTimeoutConstant = static_cast<uint32_t>(*rd);
        t.WriteTotalTimeoutConstant = static_cast<uint32_t>(*wr);
        return t;
    });
    switch (result) {
    case SerialSession::OpenResult::OpenFailed: dialogs.error(openFailureText(session_->openFailure())); return;
    case SerialSession::OpenResult::SetupFailed: dialogs.error(QStringLiteral("设置串口时出错!")); return;
    case SerialSession::OpenResult::ThreadFailed:
        dialogs.error(QStringLiteral("创建线程时错!"));
        showConnectionClosed();
        return;
    case SerialSession::OpenResult::Opened: break;
    }
    setLineControlsEnabled(false);
    setSendButtonsEnabled(true);
    host_.setStatusText(PanelPort, portStateText(name, line.baudRate));
    ui->btnOpenPort->setText(kCloseCaption);
}

void ComTestPage::showConnectionClosed()
{
    setSendButtonsEnabled(false);
    setLineControlsEnabled(true);
    host_.setStatusText(PanelPort, portClosedText());
    host_.setStatusText(PanelReceived, receivedPanelText(0));
    host_.showStatusNow(PanelSent, sentPanelText(0));
    ui->btnOpenPort->setText(kOpenCaption);
}

void ComTestPage::edRDTimeoutExit()
{
    checkWholeNumberAtLeast(host_.dialogs(), ui->edRDTimeout, 100, QStringLiteral("请填入正确的毫秒数"));
}

void ComTestPage::edWRTimeoutExit()
{
    checkWholeNumberAtLeast(host_.dialogs(), ui->edWRTimeout, 100, QStringLiteral("请填入正确的毫秒数"));
}

// ------------------------------------------------------------------- sending

void ComTestPage::SendData()
{
    const QString text = ui->mDataSend->toPlainText();
    if (text.isEmpty() || !session_->portOpen()) return;
    if (ui->cbInterClear->isChecked()) display_->clear();
    setSendButtonsEnabled(false);
    ui->sbStopSend->setEnabled(true);
    session_->send(ui->cbSendBinary->isChecked(), TextToSendBytes(toStd(text)));
    if (session_->logActive()) {
        for (const auto& line : splitLines(toStd(text))) session_->log(kLogSend, utf8ToGbk(line));
    }
}

void ComTestPage::startTimedSending(int32_t interval)
{
    // The box is held at 100 ms or more when left; a zero interval slipping
    // through would send without pause.
    host_.timer2()->setInterval(std::max<int32_t>(interval, 100));
    ui->rbManualSend->setEnabled(false);
    ui->edTimer->setEnabled(false);
    ui->lTimer->setEnabled(false);
    ui->btnSend->setText(QStringLiteral("停  止"));
    host_.timer2()->start();
    TimedSendRunning = true;
}

void ComTestPage::stopTimedSending()
{
    host_.timer2()->stop();
    ui->rbManualSend->setEnabled(true);
    ui->edTimer->setEnabled(true);
    ui->lTimer->setEnabled(true);
    ui->btnSend->setText(QStringLiteral("开  始"));
    TimedSendRunning = false;
}

void ComTestPage::btnSendClick()
{
    if (ui->rbTimedSend->isChecked()) {
        if (TimedSendRunning) {
            stopTimedSending();
        } else {
            const auto interval = wholeNumberIn(ui->edTimer);
            if (!interval) {
                host_.dialogs().error(QStringLiteral("请正确设置间隔时间!"));
                ui->edTimer->setFocus();
                return;
            }
            startTimedSending(*interval);
        }
    }
    SendData();
}

void ComTestPage::rbTimedSendClick()
{
    ui->edTimer->setEnabled(true);
    ui->lTimer->setEnabled(true);
    ui->btnSend->setText(QStringLiteral("开  始"));
}

void ComTestPage::rbManualSendClick()
{
    ui->edTimer->setEnabled(false);
    ui->lTimer->setEnabled(false);
    ui->btnSend->setText(QStringLiteral("发  送"));
}

void ComTestPage::edTimerExit()
{
    checkWholeNumberAtLeast(host_.dialogs(), ui->edTimer, 100, QStringLiteral("请设置正确的间隔时间!"));
}

void ComTestPage::Timer2Timer()
{
    if (interactive_) interactive_->masterLoopStep();
    SendData();
}

void ComTestPage::btnGetFileClick()
{
    if (auto file = host_.dialogs().openFile(QStringLiteral("All files (*.*)|*.*"), QStringLiteral("*")))
        ui->edFileSend->setText(*file);
}

void ComTestPage::btnSendFileClick()
{
    const QString path = ui->edFileSend->text();
    if (path.isEmpty()) {
        host_.dialogs().error(QStringLiteral("请先选择要发送的文件!"));
        return;
    }
    if (!session_->portOpen()) return;
    setSendButtonsEnabled(false);
    ui->sbStopSend->setEnabled(true);
    session_->sendFile(localPath(path));
    session_->log(kLogSendFile, utf8ToGbk(toStd(path)));
}

void ComTestPage::sbStopSendClick()
{
    session_->stopSend();
    if (session_->portOpen()) setSendButtonsEnabled(true);
    ui->sbStopSend->setEnabled(false);
}

void ComTestPage::sbTxFlushClick() { ui->mDataSend->clear(); }

void ComTestPage::sbSndResetClick()
{
    if (!session_->resetSent()) return;
    host_.showStatusNow(PanelSent, sentPanelText(0));
}

// ----------------------------------------------------------------- receiving

void ComTestPage::chunkProcessed(const ReceiveResult& result)
{
    if (rowsView_ && !result.changedRows.empty()) rowsView_->rowsChanged(result.changedRows);
    if (!result.display.empty()) ShowReceived(result.display);
}

void ComTestPage::ShowReceived(std::span<const uint8_t> bytes)
{
    if (ui->cbStopFresh->isChecked()) return;
    display_->showChunk(session_->receiveState(), bytes, ui->cbRcvBinary->isChecked(), ui->cbInterClear->isChecked());
}

void ComTestPage::sbRxFlushClick() { display_->clear(); }

void ComTestPage::cbRcvBinaryClick() { display_->clear(); }

void ComTestPage::sbRcvResetClick()
{
    if (!session_->resetReceived()) return;
    host_.showStatusNow(PanelReceived, receivedPanelText(0));
}

void ComTestPage::cbAutoSaveClick()
{
    if (!ui->cbAutoSave->isChecked()) {
        session_->closeLog();
        return;
    }
    auto file = host_.dialogs().saveFile(QStringLiteral("Log files (*.log)|*.log|All files (*.*)|*.*"),
                                         QStringLiteral("log"), QStringLiteral("LogFile.log"));
    if (!file) {
        ui->cbAutoSave->setChecked(false);
        return;
    }
    if (!session_->openLog(localPath(*file), toStd(*file))) {
        host_.dialogs().error(QStringLiteral("打开记录文件时出错!请重新设置"));
        ui->cbAutoSave->setChecked(false);
        return;
    }
    ui->gbCOM->setTitle(kComGroupCaption + QStringLiteral("/保存到: ") + QFileInfo(*file).fileName());
}

void ComTestPage::logClosed()
{
    // The box and the caption say what is true again.
    ui->cbAutoSave->setChecked(false);
    ui->gbCOM->setTitle(kComGroupCaption);
}

void ComTestPage::edRDDispMaxExit()
{
    if (checkWholeNumberAtLeast(host_.dialogs(), ui->edRDDispMax, 10, QStringLiteral("请填入正确的行数")))
        applyDisplayLimit();
}

// ------------------------------------------------------------- notifications

void ComTestPage::handleCommEvent(QEvent* event)
{
    auto* e = static_cast<CommEvent*>(event);
    switch (e->message()) {
    case WM_COMM_RECEIVED: WMBytesReceived(e->wParam()); break;
    case WM_COMM_SENT: WMSendDone(e->wParam()); break;
    case WM_COMM_ERROR: WMCommError(); break;
    case WM_COMM_SENDING: WMSendProgress(e->wParam()); break;
    case WM_COMM_IDLE: WMReceiveIdle(); break;
    default: break;
    }
}

// The only failure a thread reports to the user: a file to send that can't be opened.
void ComTestPage::threadFailed(CommFailure) { host_.dialogs().error(QStringLiteral("打开文件时出错!")); }

void ComTestPage::WMBytesReceived(intptr_t count)
{
    const auto total = session_->countReceived(count);
    if (!total) return;
    host_.setStatusText(PanelReceived, receivedPanelText(*total));
    // The panel is repainted at once, but not more often than the display:
    // a fast stream brings this message thousands of times a second.
    if (!statusPainted_.isValid() || statusPainted_.elapsed() >= kStatusRepaintMs) {
        host_.repaintStatus();
        statusPainted_.start();
    }
}

void ComTestPage::WMSendDone(intptr_t count)
{
    if (const auto total = session_->countSendEnd(count)) host_.showStatusNow(PanelSent, sentPanelText(*total));
    if (ui->btnOpenPort->text() == kCloseCaption) setSendButtonsEnabled(true);
    ui->sbStopSend->setEnabled(false);
}

void ComTestPage::WMCommError()
{
    // A late report from the threads of a connection already closed says
    // nothing about the port now.
    if (!session_->connected()) return;
    host_.setStatusText(PanelPort, portFailedText());
}

void ComTestPage::WMSendProgress(intptr_t count)
{
    const auto total = session_->countSendProgress(count);
    if (!total) return;
    host_.showStatusNow(PanelSent, sentPanelText(*total));
}

void ComTestPage::WMReceiveIdle()
{
    if (interactive_) interactive_->slaveReply();
    session_->lineWentIdle();
}

} // namespace quillon
