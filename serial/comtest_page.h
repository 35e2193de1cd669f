#pragma once
// The serial debugger page: port settings and connection, sending (by hand,
// timed, or a whole file), the receive display with its counters, and the
// communication log. The session behind it does the work; the page reads
// its controls, calls the session and shows what comes back.

#include "app/number_box.h"
#include "app/sessions.h"
#include "serial/interactive_hooks.h"
#include "serial/receive_view.h"
#include "serial/serial_session.h"
#include "vars/watched_rows_view.h"

#include <QElapsedTimer>
#include <QWidget>
#include <memory>
#include <span>
#include <vector>

namespace Ui {
class ComTestPage;
}

namespace quillon::platform {
class DeviceMap;
struct PortListing;
} // namespace quillon::platform

namespace quillon {
class PageHost;
} // namespace quillon

namespace quillon::vars {
class VarGroup;
}

namespace quillon::serial {

class InteractiveGroup;
class ReceiveDisplay;
class SendPanel;

class ComTestPage : public QWidget, public SerialSessionEvents, public TimerClient {
    Q_OBJECT
public:
    explicit ComTestPage(PageHost& host, QWidget* parent = nullptr);
    ~ComTestPage() override;

    // Places of the page's group boxes that come as classes of their own.
    enum class GroupSlot { Variables, DataMode, Interactive };
    // Puts `group` on the page in its place; the page owns it from then on.
    void placeGroup(GroupSlot slot, QWidget* group);
    static QRect groupRect(GroupSlot slot);

    void setInteractiveHooks(InteractiveHooks* hooks);
    void setWatchedRowsView(vars::WatchedRowsView* view) { rowsView_ = view; }

    SerialSession& session() { return *session_; }
    InteractiveGroup* interactiveGroup() const { return interactiveGroup_; }
    vars::VarGroup* varGroup() const { return varGroup_; }
    SendPanel& sendPanel() const { return *sendPanel_; }
    bool portOpen() const { return session_->portOpen(); }

    // Start-up: COMList from the serial listing, first entry selected.
    void fillPortList(const platform::PortListing& listing);
    // Where COMList is read afresh each time its drop-down opens.
    void setPortSource(platform::DeviceMap* ports) { portSource_ = ports; }
    void refreshPortList();

    // TimerClient: Timer2 is the page's own.
    void stopTimers() override;

    // Connection.
    void btnOpenPortClick();
    void edRDTimeoutExit();
    void edWRTimeoutExit();

    // Receiving.
    // The display step of a received chunk; the text the log takes for it.
    std::optional<std::string> ShowReceived(std::span<const uint8_t> bytes);
    void sbRxFlushClick();
    void sbRcvResetClick();
    void cbRcvBinaryClick();
    void cbAutoSaveClick();
    void edRDDispMaxExit();

    // The session's reports of its threads, with the counters' totals.
    void WMBytesReceived(long long total);
    void WMCommError();
    void WMReceiveIdle();

private:
    // SerialSessionEvents
    void rowsChanged(const std::vector<size_t>& rows) override;
    std::optional<std::string> showReceived(std::span<const uint8_t> bytes) override { return ShowReceived(bytes); }
    void threadFailed(CommFailure failure) override;
    void logClosed() override;

    void buildGroups();
    void connectHandlers();
    void showConnectionClosed();
    void setLineControlsEnabled(bool enabled);
    void applyDisplayLimit();

    PageHost& host_;
    std::unique_ptr<Ui::ComTestPage> ui;
    std::unique_ptr<SerialSession> session_;
    std::unique_ptr<ReceiveDisplay> display_;
    SendPanel* sendPanel_ = nullptr;
    vars::VarGroup* varGroup_ = nullptr;
    InteractiveHooks* interactive_ = nullptr;
    InteractiveGroup* interactiveGroup_ = nullptr;
    vars::WatchedRowsView* rowsView_ = nullptr;
    platform::DeviceMap* portSource_ = nullptr;
    QElapsedTimer statusPainted_;
    FocusLeaveChecks leaveChecks_;
};

} // namespace quillon::serial
