#pragma once
// The port monitor's session: the capture component (owned here unless one
// is handed in), its state, the hooked ports, the captured rows and the
// capture log. The page reads its controls and hands their values over; the
// session tells it what to show through a MonitorView. The frame reaches the
// session on shut-down.

#include "app/sessions.h"
#include "monitor/capture_device.h"
#include "monitor/monitor_driver.h"
#include "monitor/monitor_files.h"
#include "monitor/monitor_rows.h"

#include <QString>
#include <QTimer>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillon::monitor {

// Unloaded: no component. Loading: it is being started (the page waits).
// Loaded: it answers and the ports are hooked. Capturing: loaded and told to capture.
enum class MonitorState { Unloaded, Loading, Loaded, Capturing };

// What the session tells the page, and what it asks of it when a set-up or a
// poll is due (the controls then say what is wanted).
class MonitorView {
public:
    virtual ~MonitorView() = default;
    virtual void showError(const QString& text) = 0;
    // The component is being loaded: the page's controls wait.
    virtual void showLoading(bool loading) = 0;
    // Loaded and set up, or unloaded again.
    virtual void showLoaded(bool loaded) = 0;
    // A checked port the component would not hook; the page unchecks it.
    virtual void portRefused(monitor::PortKind kind, int item) = 0;
    // The rows a poll changed.
    virtual void rowsChanged(const monitor::RowChanges& changes) = 0;
    // The log could not be opened: logging is switched off.
    virtual void logOpenFailed() = 0;

    // Which list entries are checked, in list order.
    virtual std::vector<bool> checkedPorts(monitor::PortKind kind) = 0;
    // The set-up that follows the hooks.
    virtual monitor::CaptureSettings captureSettings() = 0;
    // The log file of this poll, nullopt when not logging.
    virtual std::optional<std::string> logPath() = 0;
};

class MonitorSession : public MonitorSessionControl {
public:
    // `capture` null: the system's capture component.
    explicit MonitorSession(CaptureService* capture = nullptr);
    ~MonitorSession() override;
    MonitorSession(const MonitorSession&) = delete;
    MonitorSession& operator=(const MonitorSession&) = delete;

    void setView(MonitorView* view) { view_ = view; }
    MonitorState state() const { return state_; }
    bool loaded() const { return state_ == MonitorState::Loaded || state_ == MonitorState::Capturing; }

    monitor::MonitorDriver& driver() { return driver_; }
    const monitor::MonitorDriver& driver() const { return driver_; }
    monitor::MonitorRows& rows() { return rows_; }
    const monitor::MonitorRows& rows() const { return rows_; }
    void setPortTables(monitor::PortKind kind, const platform::PortTables& tables);
    const platform::PortTables& portTables(monitor::PortKind kind) const;

    // The load button: loads and sets up, or stops capture and unloads.
    void toggleLoad();
    // Back to unloaded; a load under way is given up.
    void closeMonitor();
    // Hooks the checked ports again (nothing unless loaded).
    bool hookPorts(monitor::PortKind kind);
    bool sendFilter(const monitor::FilterSettings& filter);
    void setCapturing(bool on);
    // Discards the records the component holds and empties the list.
    void discardRecords();
    void setHexDisplay(bool on);
    void setMaxDataBytes(uint32_t bytes);
    // The Timer1 tick: reads what was captured (capturing with a port hooked only).
    void poll();

    bool loading() const { return loading_; }

    // MonitorSessionControl
    // True while a load is under way too: ending the monitor then cancels it.
    bool driverLoaded() const override { return loading_ || driver_.handleValid(); }
    void unloadDriver() override;

private:
    // Runs a function on the window's thread, later.
    using Post = std::function<void(std::function<void()>)>;
    using Loaded = std::function<void(bool ok, LoadFailure why)>;

    // Loads the component on the session's own thread (starting the helper
    // and its handshake may wait for a password) and hands the result to
    // `done` through `post`. The thread lives as long as the session: the
    // helper is its child and ends with it. Nothing else may use the driver
    // until `done` has run.
    void loadInBackground(Post post, Loaded done);
    void run();
    // Gives up a load in progress and waits for the thread to be idle.
    void cancelLoad();
    void loadEnded(bool ok, LoadFailure why);
    bool setUp();
    bool hookChecked(monitor::PortKind kind);
    // A request failed: say so once and close the monitor.
    bool failed(const QString& text);
    bool commFailed();
    void pollSlice();
    void openLogForPoll();
    void readBuffer(std::span<const uint8_t> buffer, monitor::RowChanges& changes, bool& writeFailed);
    void logWritten(bool failed);

    std::unique_ptr<CaptureService> own_;
    CaptureService* service_;
    monitor::MonitorDriver driver_;
    MonitorView* view_ = nullptr;
    MonitorState state_ = MonitorState::Unloaded;
    platform::PortTables serialTables_;
    platform::PortTables parallelTables_;
    monitor::MonitorRows rows_;

    monitor::CaptureLog log_;
    std::string logText_;
    bool logWriteFailing_ = false;
    // A message box inside a poll runs the event loop; the ticks it lets
    // through must not start another poll.
    bool polling_ = false;
    QTimer followUp_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<void()> job_;
    bool quit_ = false;
    bool loading_ = false;    // the window's thread only
    unsigned generation_ = 0; // the window's thread only: answers of an older load are dropped
    bool busy_ = false;       // under mutex_: a job runs
    std::thread worker_;
};

} // namespace quillon::monitor
