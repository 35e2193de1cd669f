#include "monitor/monitor_session.h"

namespace quillon {

MonitorSession::MonitorSession(CaptureService* capture)
    : own_(capture ? nullptr : makeSystemCaptureService()), driver_(capture ? capture : own_.get())
{
}

MonitorSession::~MonitorSession()
{
    // No capture outlives the session.
    if (driver_.handleValid()) driver_.removeDriverService();
}

void MonitorSession::unloadDriver()
{
    if (!driver_.handleValid()) return;
    driver_.closeMonitor();
    if (closed_) closed_();
}

} // namespace quillon
