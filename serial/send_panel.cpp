#include "serial/send_panel.h"

#include "app/dialogs.h"
#include "app/handler.h"
#include "app/number_box.h"
#include "app/page_host.h"
#include "app/qt_text.h"
#include "app/send_key.h"
#include "app/status_panels.h"
#include "serial/comtest_page.h"
#include "serial/receive_display.h"
#include "serial/serial_session.h"
#include "ui_comtest_page.h"

#include <QTimer>
#include <algorithm>

namespace quillon::serial {

SendPanel::SendPanel(PageHost& host, SerialSession& session, Ui::ComTestPage& form, ReceiveDisplay& display,
                     QWidget* page)
    : QObject(page), host_(host), session_(session), ui(form), display_(display), Timer2(new QTimer(page))
{
    Timer2->setObjectName(QStringLiteral("Timer2"));
    connectHandlers();
}

void SendPanel::connectHandlers()
{
    connectHandler(Timer2, &QTimer::timeout, this, &SendPanel::Timer2Timer);
    connectHandler(&session_, &SerialSession::sendProgress, this, [this](long long t) { WMSendProgress(t); });
    connectHandler(&session_, &SerialSession::sendEnded, this,
                   [this](bool counted, long long t) { WMSendDone(counted, t); });
    connectHandler(ui.btnSend, &QPushButton::clicked, this, &SendPanel::btnSendClick);
    pressOnCtrlEnter(ui.mDataSend, ui.btnSend);
    // Only a change of choice counts: clicking the choice already made must
    // not relabel "停  止" while timed sending runs.
    connectHandler(ui.rbTimedSend, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rbTimedSendClick();
    });
    connectHandler(ui.rbManualSend, &QRadioButton::toggled, this, [this](bool on) {
        if (on) rbManualSendClick();
    });
    connectHandler(ui.btnGetFile, &QPushButton::clicked, this, &SendPanel::btnGetFileClick);
    connectHandler(ui.btnSendFile, &QPushButton::clicked, this, &SendPanel::btnSendFileClick);
    connectHandler(ui.sbStopSend, &QToolButton::clicked, this, &SendPanel::sbStopSendClick);
    connectHandler(ui.sbTxFlush, &QToolButton::clicked, this, &SendPanel::sbTxFlushClick);
    connectHandler(ui.sbSndReset, &QToolButton::clicked, this, &SendPanel::sbSndResetClick);
}

void SendPanel::setSendButtonsEnabled(bool enabled)
{
    ui.btnSend->setEnabled(enabled);
    ui.btnSendFile->setEnabled(enabled);
}

void SendPanel::SendData()
{
    const QString text = ui.mDataSend->toPlainText();
    if (text.isEmpty() || !session_.portOpen()) return;
    if (ui.cbInterClear->isChecked()) display_.clear();
    setSendButtonsEnabled(false);
    ui.sbStopSend->setEnabled(true);
    session_.send(ui.cbSendBinary->isChecked(), toStd(text));
}

void SendPanel::startTimedSending(int32_t interval)
{
    // The box is held at 100 ms or more when left; a zero interval slipping
    // through would send without pause.
    Timer2->setInterval(std::max<int32_t>(interval, 100));
    ui.rbManualSend->setEnabled(false);
    ui.edTimer->setEnabled(false);
    ui.lTimer->setEnabled(false);
    ui.btnSend->setText(QStringLiteral("停  止"));
    Timer2->start();
    TimedSendRunning = true;
}

void SendPanel::stopTimedSending()
{
    Timer2->stop();
    ui.rbManualSend->setEnabled(true);
    ui.edTimer->setEnabled(true);
    ui.lTimer->setEnabled(true);
    ui.btnSend->setText(QStringLiteral("开  始"));
    TimedSendRunning = false;
}

void SendPanel::btnSendClick()
{
    if (ui.rbTimedSend->isChecked()) {
        if (TimedSendRunning) {
            stopTimedSending();
        } else {
            const auto interval = wholeNumberIn(ui.edTimer);
            if (!interval) {
                host_.dialogs().error(QStringLiteral("请正确设置间隔时间!"));
                ui.edTimer->setFocus();
                return;
            }
            startTimedSending(*interval);
        }
    }
    SendData();
}

void SendPanel::rbTimedSendClick()
{
    ui.edTimer->setEnabled(true);
    ui.lTimer->setEnabled(true);
    ui.btnSend->setText(QStringLiteral("开  始"));
}

void SendPanel::rbManualSendClick()
{
    ui.edTimer->setEnabled(false);
    ui.lTimer->setEnabled(false);
    ui.btnSend->setText(QStringLiteral("发  送"));
}

void SendPanel::edTimerExit()
{
    checkWholeNumberAtLeast(host_.dialogs(), ui.edTimer, 100, QStringLiteral("请设置正确的间隔时间!"));
}

void SendPanel::Timer2Timer()
{
    if (interactive_) interactive_->masterLoopStep();
    SendData();
}

void SendPanel::btnGetFileClick()
{
    if (auto file = host_.dialogs().openFile(QStringLiteral("All files (*.*)|*.*"), QStringLiteral("*")))
        ui.edFileSend->setText(*file);
}

void SendPanel::btnSendFileClick()
{
    const QString path = ui.edFileSend->text();
    if (path.isEmpty()) {
        host_.dialogs().error(QStringLiteral("请先选择要发送的文件!"));
        return;
    }
    if (!session_.portOpen()) return;
    setSendButtonsEnabled(false);
    ui.sbStopSend->setEnabled(true);
    session_.sendFile(localPath(path), toStd(path));
}

void SendPanel::sbStopSendClick()
{
    session_.stopSend();
    if (session_.portOpen()) setSendButtonsEnabled(true);
    ui.sbStopSend->setEnabled(false);
}

void SendPanel::sbTxFlushClick() { ui.mDataSend->clear(); }

void SendPanel::sbSndResetClick()
{
    if (!session_.resetSent()) return;
    host_.showStatusNow(PanelSent, sentPanelText(0));
}

void SendPanel::WMSendDone(bool counted, long long total)
{
    if (counted) host_.showStatusNow(PanelSent, sentPanelText(total));
    if (session_.portOpen()) setSendButtonsEnabled(true);
    ui.sbStopSend->setEnabled(false);
}

void SendPanel::WMSendProgress(long long total) { host_.showStatusNow(PanelSent, sentPanelText(total)); }

} // namespace quillon::serial
