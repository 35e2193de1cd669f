#include "monitor/monitor_session.h"

namespace quillon {

MonitorSession::MonitorSession(CaptureService* capture)
    : own_(capture ? nullptr : makeSystemCaptureService()), service_(capture ? capture : own_.get()), driver_(service_)
{
}

MonitorSession::~MonitorSession()
{
    cancelLoad();
    if (worker_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    // No capture outlives the session.
    if (driver_.handleValid()) driver_.removeDriverService();
}

void MonitorSession::loadInBackground(Post post, Loaded done)
{
    loading_ = true;
    const unsigned generation = ++generation_;
    if (service_) service_->setLoadCancelled(false);
    if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
    std::lock_guard lock(mutex_);
    busy_ = true;
    job_ = [this, generation, post = std::move(post), done = std::move(done)] {
        const bool ok = driver_.loadDriverService();
        const LoadFailure why = driver_.lastLoadFailure();
        post([this, generation, done, ok, why] {
            if (generation != generation_) return;
            loading_ = false;
            done(ok, why);
        });
    };
    wake_.notify_all();
}

void MonitorSession::run()
{
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return quit_ || job_; });
        if (!job_) return;
        auto job = std::move(job_);
        job_ = nullptr;
        lock.unlock();
        job();
        lock.lock();
        busy_ = false;
        wake_.notify_all();
    }
}

void MonitorSession::cancelLoad()
{
    if (!loading_) return;
    if (service_) service_->setLoadCancelled(true);
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return !busy_; });
}

void MonitorSession::unloadDriver()
{
    if (loading_) {
        // The answer posted for the page is dropped: the monitor ends here.
        cancelLoad();
        loading_ = false;
        ++generation_;
        driver_.closeMonitor();
        if (closed_) closed_();
        return;
    }
    if (!driver_.handleValid()) return;
    driver_.closeMonitor();
    if (closed_) closed_();
}

} // namespace quillon
