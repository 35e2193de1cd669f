#pragma once
// The serial debugger page: port settings and connection, sending (by hand,
// timed, or a whole file), the receive display with its counters, and the
// communication log.

#include "app/sessions.h"
#include "serial/receive_state.h"
#include "serial/receive_view.h"

#include <QElapsedTimer>
#include <QWidget>
#include <memory>
#include <span>
#include <vector>

class QAbstractButton;
class QTimer;

class QLineEdit;

namespace Ui {
class ComTestPage;
}

namespace quillon {

class DeviceMap;
class PageHost;
class SettingsFile;
struct PortListing;
class TPortConnection;
class TRead;
class TWrite;
class QtCommSink;

class ComTestPage : public QWidget,
                    public SerialSession {
    Q_OBJECT
public:
    explicit ComTestPage(PageHost& host, QWidget* parent = nullptr);
    ~ComTestPage() override;

    // Start-up: COMList from the serial listing, first entry selected.
    void fillPortList(const PortListing& listing);
    // Where COMList is read afresh each time its drop-down opens.
    void setPortSource(DeviceMap* ports) { portSource_ = ports; }
    void refreshPortList();
    // Start-up: watched variables and the interactive command lists.
    void loadVariables(const SettingsFile& settings);
    void loadCommandLists(const SettingsFile& settings);
    // Frame timers and posted thread notifications.
    void Timer1Timer();
    void Timer2Timer();
    void handleCommEvent(QEvent* event);

    // SerialSession
    bool portOpen() const override { return PortOpen; }
    long long receivedTotal() const override;
    long long sentTotal() const override;
    std::string portName() const override;
    int baudRate() const override;
    bool logActive() const override { return receive_.LogActive; }
    void closeLog() override;
    void closeForExit() override;

    // Connection.
    void btnOpenPortClick();
    void edRDTimeoutExit();
    void edWRTimeoutExit();
    // Both timeout boxes: a whole number of at least 100 ms.
    void checkMillisecondsBox(QLineEdit* box);

    // Sending.
    void SendData();
    void btnSendClick();
    void rbTimedSendClick();
    void rbManualSendClick();
    void edTimerExit();
    void btnGetFileClick();
    void btnSendFileClick();
    void sbStopSendClick();
    void sbTxFlushClick();
    void sbSndResetClick();

    // Receiving.
    void DeliverChunk(std::span<const uint8_t> chunk);
    void ShowReceived(std::span<const uint8_t> bytes);
    void sbRxFlushClick();
    void sbRcvResetClick();
    void cbRcvBinaryClick();
    void cbAutoSaveClick();
    void edRDDispMaxExit();

    // Notification handlers.
    void WMBytesReceived(intptr_t count);
    void WMSendDone(intptr_t count);
    void WMCommError();
    void WMSendProgress(intptr_t count);
    void WMReceiveIdle();

    // The receive state the decoding of received data shares.
    ReceiveState& receiveState() { return receive_; }

protected:
    bool event(QEvent* event) override;

private:
    void connectHandlers();
    void applyDisplayFont();
    void applyDisplayLimit();
    void closeConnection();
    void stopThreads();
    void startWriter(bool hexMode, bool fromFile, std::vector<uint8_t> data);
    void reapWriters();
    void setLineControlsEnabled(bool enabled);
    void appendToDisplay(const QString& text);
    void flushDisplay();
    bool displayEmpty() const;
    void clearDisplay();
    bool interactiveChecked() const;
    // Hooks of the interactive mode: the master's loop before a timed send,
    // the slave's reply when the line falls quiet.
    void masterLoopStep() {}
    void slaveReply() {}

    PageHost& host_;
    std::unique_ptr<Ui::ComTestPage> ui;
    DeviceMap* portSource_ = nullptr;

    bool PortOpen = false;
    bool TimedSendRunning = false;
    std::unique_ptr<TPortConnection> connection_;
    std::shared_ptr<QtCommSink> sink_;
    std::unique_ptr<TRead> reader_;
    std::vector<std::unique_ptr<TWrite>> writers_;
    TWrite* currentWriter_ = nullptr; // the newest writer while it runs
    bool writerRegistered_ = false;   // its reports are counted

    ReceiveState receive_;
    TextFeed textFeed_;
    QString pendingDisplay_;
    QTimer* displayFlush_ = nullptr;
    QAbstractButton* interactiveBox_ = nullptr;
    QElapsedTimer statusPainted_;
    std::vector<QObject*> exitWatchers_;
};

} // namespace quillon
