#include "serial/comtest_page.h"

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
#include "serial/open_failure_text.h"
#include "serial/port_combo_box.h"
#include "serial/receive_display.h"
#include "serial/send_panel.h"
#include "ui_comtest_page.h"
#include "vars/datamode_group.h"
#include "vars/var_group.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>
#include <stdexcept>

namespace quillon::serial {

namespace {

const QString kOpenCaption = QStringLiteral("打开串口");
const QString kCloseCaption = QStringLiteral("关闭串口");
const QString kComGroupCaption = QStringLiteral("通讯内容");
// The received-bytes panel is repainted at most this often (one display refresh).
constexpr int kStatusRepaintMs = 25;

} // namespace

ComTestPage::ComTestPage(PageHost& host, QWidget* parent)
    : QWidget(parent), host_(host), ui(std::make_unique<Ui::ComTestPage>())
{
    ui->setupUi(this);
    session_ = std::make_unique<SerialSession>(*this);
    display_ = std::make_unique<ReceiveDisplay>(ui->mCOMRx, ui->cbCOMAutoScroll);
    sendPanel_ = new SendPanel(host_, *session_, *ui, *display_, this);
    applyDisplayLimit();
    connectHandlers();
    buildGroups();
}

ComTestPage::~ComTestPage()
{
    // The session's threads end before the display they report to.
    session_.reset();
}

void ComTestPage::buildGroups()
{
    varGroup_ = new vars::VarGroup(host_, session_->watchedVariables(), session_->samples());
    placeGroup(GroupSlot::Variables, varGroup_);
    setWatchedRowsView(varGroup_);
    placeGroup(GroupSlot::DataMode, new vars::DataModeGroup(host_, *session_));
    interactiveGroup_ =
        new InteractiveGroup(host_, *session_, {ui->mDataSend, ui->cbSendBinary, [this] { sendPanel_->SendData(); }});
    placeGroup(GroupSlot::Interactive, interactiveGroup_);
    setInteractiveHooks(interactiveGroup_);
}

void ComTestPage::setInteractiveHooks(InteractiveHooks* hooks)
{
    interactive_ = hooks;
    sendPanel_->setInteractiveHooks(hooks);
}

void ComTestPage::stopTimers() { sendPanel_->timer()->stop(); }

void ComTestPage::connectHandlers()
{
    connectHandler(session_.get(), &SerialSession::bytesReceived, this, [this](long long t) { WMBytesReceived(t); });
    connectHandler(session_.get(), &SerialSession::commError, this, &ComTestPage::WMCommError);
    connectHandler(session_.get(), &SerialSession::lineIdle, this, &ComTestPage::WMReceiveIdle);
    connectHandler(ui->COMList, &PortComboBox::popupAboutToShow, this, &ComTestPage::refreshPortList);
    connectHandler(ui->btnOpenPort, &QPushButton::clicked, this, &ComTestPage::btnOpenPortClick);
    leaveChecks_.add(ui->edRDTimeout, [this] { edRDTimeoutExit(); });
    leaveChecks_.add(ui->edWRTimeout, [this] { edWRTimeoutExit(); });

    leaveChecks_.add(ui->edTimer, [this] { sendPanel_->edTimerExit(); });

    connectHandler(ui->sbRxFlush, &QToolButton::clicked, this, &ComTestPage::sbRxFlushClick);
    connectHandler(ui->sbRcvReset, &QToolButton::clicked, this, &ComTestPage::sbRcvResetClick);
    connectHandler(ui->cbRcvBinary, &QCheckBox::clicked, this, &ComTestPage::cbRcvBinaryClick);
    connectHandler(ui->cbStopFresh, &QCheckBox::toggled, this,
                   [this](bool stopped) { session_->setRefreshStopped(stopped); });
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

void ComTestPage::fillPortList(const platform::PortListing& listing)
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
    ui->COMList->refill(platform::buildSerialListing(*entries).comList);
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
        platform::CommTimeouts t;
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
    sendPanel_->setSendButtonsEnabled(true);
    host_.setStatusText(PanelPort, portStateText(name, line.baudRate));
    ui->btnOpenPort->setText(kCloseCaption);
}

void ComTestPage::showConnectionClosed()
{
    sendPanel_->setSendButtonsEnabled(false);
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

// ----------------------------------------------------------------- receiving

void ComTestPage::rowsChanged(const std::vector<size_t>& rows)
{
    if (rowsView_) rowsView_->rowsChanged(rows);
}

std::optional<std::string> ComTestPage::ShowReceived(std::span<const uint8_t> bytes)
{
    return display_->showChunk(*session_, bytes, ui->cbRcvBinary->isChecked(), ui->cbInterClear->isChecked());
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

// The only failure a thread reports to the user: a file to send that can't be opened.
void ComTestPage::threadFailed(CommFailure) { host_.dialogs().error(QStringLiteral("打开文件时出错!")); }

void ComTestPage::WMBytesReceived(long long total)
{
    host_.setStatusText(PanelReceived, receivedPanelText(total));
    // The panel is repainted at once, but not more often than the display:
    // a fast stream brings this report thousands of times a second.
    if (!statusPainted_.isValid() || statusPainted_.elapsed() >= kStatusRepaintMs) {
        host_.repaintStatus();
        statusPainted_.start();
    }
}

void ComTestPage::WMCommError() { host_.setStatusText(PanelPort, portFailedText()); }

void ComTestPage::WMReceiveIdle()
{
    if (interactive_) interactive_->slaveReply();
}

} // namespace quillon::serial
