#include "serial/qt_comm_sink.h"

#include <QCoreApplication>

namespace quillon::serial {

namespace {

class HandoffEvent : public QEvent {
public:
    HandoffEvent(std::weak_ptr<QtCommSink> sink, std::function<void(QtCommSink&)> action)
        : QEvent(QtCommSink::handoffEventType()), sink_(std::move(sink)), action_(std::move(action))
    {
    }
    void run()
    {
        // The connection may be gone by the time the event comes up.
        if (auto s = sink_.lock()) action_(*s);
    }

private:
    std::weak_ptr<QtCommSink> sink_;
    std::function<void(QtCommSink&)> action_;
};

} // namespace

QtCommSink::QtCommSink(QObject* receiver, DeliverFn deliver, FailureFn failure, ReportFn report)
    : receiver_(receiver), deliverFn_(std::move(deliver)), failureFn_(std::move(failure)), reportFn_(std::move(report))
{
}

std::shared_ptr<QtCommSink> QtCommSink::create(QObject* receiver, DeliverFn deliver, FailureFn failure, ReportFn report)
{
    return std::shared_ptr<QtCommSink>(
        new QtCommSink(receiver, std::move(deliver), std::move(failure), std::move(report)));
}

QEvent::Type QtCommSink::handoffEventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool QtCommSink::handleEvent(QEvent* event)
{
    if (event->type() != handoffEventType()) return false;
    static_cast<HandoffEvent*>(event)->run();
    return true;
}

void QtCommSink::report(const CommReport& report)
{
    QCoreApplication::postEvent(receiver_, new HandoffEvent(weak_from_this(), [report](QtCommSink& s) {
                                    if (s.reportFn_) s.reportFn_(s, report);
                                }));
}

bool QtCommSink::deliver(std::span<const uint8_t> chunk)
{
    std::unique_lock lock(mutex_);
    if (cancelled_) return false;
    chunk_.assign(chunk.begin(), chunk.end());
    pending_ = true;
    QCoreApplication::postEvent(receiver_, new HandoffEvent(weak_from_this(), [](QtCommSink& s) { s.runPending(); }));
    cv_.wait(lock, [this] { return !pending_ || cancelled_; });
    return !cancelled_;
}

void QtCommSink::reportFailure(CommFailure failure)
{
    QCoreApplication::postEvent(receiver_, new HandoffEvent(weak_from_this(), [failure](QtCommSink& s) {
                                    if (s.failureFn_) s.failureFn_(failure);
                                }));
}

void QtCommSink::runPending()
{
    auto keep = shared_from_this(); // the chunk may close the connection
    {
        std::lock_guard lock(mutex_);
        if (!pending_ || running_) return;
        running_ = true;
    }
    struct Done {
        QtCommSink& s;
        ~Done()
        {
            {
                std::lock_guard lock(s.mutex_);
                s.pending_ = false;
                s.running_ = false;
            }
            s.cv_.notify_all();
        }
    } done{*this};
    deliverFn_(chunk_);
}

void QtCommSink::cancel()
{
    bool take = false;
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        take = pending_ && !running_;
    }
    cv_.notify_all();
    // Bytes already read from the device still reach the display and the log.
    if (take) runPending();
}

} // namespace quillon::serial
