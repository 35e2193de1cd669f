#pragma once
// The send area of the serial page: the send box and its buttons, timed
// sending on Timer2, sending a file, stopping a send, and the sent-bytes
// counter. It sends through the session and shows what the session reports.

#include <QObject>
#include <cstdint>

class QTimer;

namespace Ui {
class ComTestPage;
}

namespace quillon {
class PageHost;
} // namespace quillon

namespace quillon::serial {

class InteractiveHooks;
class ReceiveDisplay;
class SerialSession;

class SendPanel : public QObject {
    Q_OBJECT
public:
    // Works on the page's controls in `ui`; Timer2 is made as a child of `page`.
    SendPanel(PageHost& host, SerialSession& session, Ui::ComTestPage& ui, ReceiveDisplay& display, QWidget* page);

    void setInteractiveHooks(InteractiveHooks* hooks) { interactive_ = hooks; }
    QTimer* timer() const { return Timer2; }

    void SendData();
    void btnSendClick();
    void rbTimedSendClick();
    void rbManualSendClick();
    void edTimerExit();
    void Timer2Timer();
    void btnGetFileClick();
    void btnSendFileClick();
    void sbStopSendClick();
    void sbTxFlushClick();
    void sbSndResetClick();

    // The session's reports of the writers.
    void WMSendDone(bool counted, long long total);
    void WMSendProgress(long long total);

    // The port opened or closed: the send buttons follow.
    void setSendButtonsEnabled(bool enabled);

private:
    void connectHandlers();
    void startTimedSending(int32_t interval);
    void stopTimedSending();

    PageHost& host_;
    SerialSession& session_;
    Ui::ComTestPage& ui;
    ReceiveDisplay& display_;
    InteractiveHooks* interactive_ = nullptr;
    QTimer* Timer2;
    bool TimedSendRunning = false;
};

} // namespace quillon::serial
