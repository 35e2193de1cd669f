#pragma once
// The port monitor's session: the capture component (owned here unless one
// is handed in) and the driver state kept over it. The page works on it;
// the frame reaches it on shut-down.

#include "app/sessions.h"
#include "monitor/capture_device.h"
#include "monitor/monitor_driver.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace quillon {

class MonitorSession : public MonitorSessionControl {
public:
    // Runs a function on the window's thread, later.
    using Post = std::function<void(std::function<void()>)>;
    using Loaded = std::function<void(bool ok, LoadFailure why)>;

    // `capture` null: the system's capture component.
    explicit MonitorSession(CaptureService* capture = nullptr);
    ~MonitorSession() override;
    MonitorSession(const MonitorSession&) = delete;
    MonitorSession& operator=(const MonitorSession&) = delete;

    monitor::MonitorDriver& driver() { return driver_; }
    const monitor::MonitorDriver& driver() const { return driver_; }
    // Told when the session ends the monitor on its own (the window closing).
    void setClosedHandler(std::function<void()> closed) { closed_ = std::move(closed); }

    // Loads the component on the session's own thread (starting the helper
    // and its handshake may wait for a password) and hands the result to
    // `done` through `post`. The thread lives as long as the session: the
    // helper is its child and ends with it. Nothing else may use the driver
    // until `done` has run.
    void loadInBackground(Post post, Loaded done);
    bool loading() const { return loading_; }

    // MonitorSessionControl
    // True while a load is under way too: ending the monitor then cancels it.
    bool driverLoaded() const override { return loading_ || driver_.handleValid(); }
    void unloadDriver() override;

private:
    void run();
    // Gives up a load in progress and waits for the thread to be idle.
    void cancelLoad();

    std::unique_ptr<CaptureService> own_;
    CaptureService* service_;
    monitor::MonitorDriver driver_;
    std::function<void()> closed_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<void()> job_;
    bool quit_ = false;
    bool loading_ = false;    // the window's thread only
    unsigned generation_ = 0; // the window's thread only: answers of an older load are dropped
    bool busy_ = false;       // under mutex_: a job runs
    std::thread worker_;
};

} // namespace quillon
