#pragma once
// The port monitor's session: the capture component (owned here unless one
// is handed in) and the driver state kept over it. The page works on it;
// the frame reaches it on shut-down.

#include "app/sessions.h"
#include "monitor/capture_device.h"
#include "monitor/monitor_driver.h"

#include <functional>
#include <memory>

namespace quillon {

class MonitorSession : public MonitorSessionControl {
public:
    // `capture` null: the system's capture component.
    explicit MonitorSession(CaptureService* capture = nullptr);
    ~MonitorSession() override;
    MonitorSession(const MonitorSession&) = delete;
    MonitorSession& operator=(const MonitorSession&) = delete;

    monitor::MonitorDriver& driver() { return driver_; }
    const monitor::MonitorDriver& driver() const { return driver_; }
    // Told when the session ends the monitor on its own (the window closing).
    void setClosedHandler(std::function<void()> closed) { closed_ = std::move(closed); }

    // MonitorSessionControl
    bool driverLoaded() const override { return driver_.handleValid(); }
    void unloadDriver() override;

private:
    std::unique_ptr<CaptureService> own_;
    monitor::MonitorDriver driver_;
    std::function<void()> closed_;
};

} // namespace quillon
