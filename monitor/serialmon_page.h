#pragma once
// The port monitor page: the ports to hook, the capture component's loading
// and switches, filters and limits, the list of captured requests, its log
// file and saving. The Timer1 tick reads the captured records.

#include "app/number_box.h"
#include "app/sessions.h"
#include "monitor/monitor_files.h"
#include "monitor/monitor_rows.h"
#include "monitor/monitor_session.h"
#include "platform/device_map.h"

#include <QString>
#include <QWidget>
#include <memory>

namespace Ui {
class SerialMonPage;
}

class QLineEdit;
class QListWidget;

namespace quillon {
class PageHost;
}

namespace quillon::monitor {

class MonitorTableModel;

class SerialMonPage : public QWidget, public TimerClient, private MonitorView {
    Q_OBJECT
public:
    // `capture` null: the system's capture component, owned by the page's session.
    explicit SerialMonPage(PageHost& host, CaptureService* capture = nullptr, QWidget* parent = nullptr);
    ~SerialMonPage() override;

    // Start-up: the monitor's port lists and the name tables behind them.
    void fillSerialList(const platform::PortListing& listing) { fillPorts(monitor::PortKind::Serial, listing); }
    void fillParallelList(const platform::PortListing& listing) { fillPorts(monitor::PortKind::Parallel, listing); }

    const platform::PortTables& serialTables() const { return session_.portTables(monitor::PortKind::Serial); }
    const platform::PortTables& parallelTables() const { return session_.portTables(monitor::PortKind::Parallel); }
    const monitor::MonitorRows& rows() const { return session_.rows(); }

    // The capture component and its state; the frame ends it on shut-down.
    MonitorSession& session() { return session_; }
    bool driverLoaded() const { return session_.driverLoaded(); }
    // The component is being started; the page's controls wait for it.
    bool loading() const { return session_.loading(); }
    // TimerClient
    void timer1Tick() override { PollMonitor(); }

    // Loading and set-up.
    void btnStartParMonClick() { session_.toggleLoad(); }
    void CloseMonitor() { session_.closeMonitor(); }
    bool SendFilter() { return session_.sendFilter(filterSettings()); }
    monitor::FilterSettings filterSettings() const;
    void clbSerialListClickCheck() { portClicked(monitor::PortKind::Serial); }
    void clbParallelListClickCheck() { portClicked(monitor::PortKind::Parallel); }

    // Switches, filters and limits.
    void cbStartMoniterClick();
    void sbClearMonClick();
    void cbMonShowHexClick();
    void btnMaxBytesClick();
    void edMaxBytesExit() { maxBytesValue(); }
    void btnMaxLinesClick();
    void cbMonShowClockClick();
    void cbMonShowIRPClick();
    void cbMonShowResultClick();
    void cbDataOnlyClick();
    void cbLogReadsClick();
    void btnFilterApplyClick() { SendFilter(); }

    // Log file and saving.
    void btnLogFileClick();
    void edLogFileChange();
    void btnMonSaveClick();
    void btnMonSaveAsClick();

    // The monitor's part of the Timer1 tick.
    void PollMonitor() { session_.poll(); }

private:
    // MonitorView
    void showError(const QString& text) override;
    void showLoading(bool loading) override { setEnabled(!loading); }
    void showLoaded(bool loaded) override;
    void portRefused(monitor::PortKind kind, int item) override;
    void rowsChanged(const monitor::RowChanges& changes) override;
    void logOpenFailed() override;
    std::vector<bool> checkedPorts(monitor::PortKind kind) override;
    monitor::CaptureSettings captureSettings() override;
    std::optional<std::string> logPath() override;

    void connectHandlers();
    QListWidget* portList(monitor::PortKind kind) const;
    QString hookName(monitor::PortKind kind, int item) const;
    void fillPorts(monitor::PortKind kind, const platform::PortListing& listing);
    void portClicked(monitor::PortKind kind)
    {
        if (!settingChecks_) session_.hookPorts(kind);
    }
    int32_t limitIn(QLineEdit* field, int32_t limit, const QString& unreadable);
    int32_t maxBytesValue();
    void setColumnShown(int column, bool shown);
    void saveAs(const QString& proposed);
    void writeList(const QString& path);

    PageHost& host_;
    std::unique_ptr<Ui::SerialMonPage> ui;
    MonitorSession session_;
    MonitorTableModel* model_ = nullptr;
    QString savePath_;
    FocusLeaveChecks leaveChecks_;
    // Ticks set by the page itself are no clicks of the user.
    bool settingChecks_ = false;
};

} // namespace quillon::monitor
