#pragma once
// Carries the port threads' notifications to the window's thread. Received
// chunks are handed over synchronously: the reader waits until the chunk has
// been shown, but a closing connection releases it at once, so closing never
// waits on a reader that waits on the window.

#include "serial/comm_threads.h"

#include <QEvent>
#include <QObject>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace quillon::serial {

class QtCommSink : public CommSink, public std::enable_shared_from_this<QtCommSink> {
public:
    using DeliverFn = std::function<void(std::span<const uint8_t>)>;
    using FailureFn = std::function<void(CommFailure)>;
    // The sink a report came through tells its connection.
    using ReportFn = std::function<void(const CommSink& from, const CommReport&)>;

    // Reports, chunks and failures go to `receiver`, which passes the
    // HandoffEvents it gets to handleEvent(), in the order they were made.
    // Reports of a sink already destroyed are dropped.
    static std::shared_ptr<QtCommSink> create(QObject* receiver, DeliverFn deliver, FailureFn failure, ReportFn report);

    void report(const CommReport& report) override;
    bool deliver(std::span<const uint8_t> chunk) override;
    void reportFailure(CommFailure failure) override;

    // Window thread: closing. A chunk the reader is waiting with is shown
    // now; further chunks are refused and the reader is released.
    void cancel();

    static QEvent::Type handoffEventType();
    // Window thread: runs a HandoffEvent; true when `event` was one.
    static bool handleEvent(QEvent* event);

private:
    QtCommSink(QObject* receiver, DeliverFn deliver, FailureFn failure, ReportFn report);
    void runPending();

    QObject* receiver_;
    DeliverFn deliverFn_;
    FailureFn failureFn_;
    ReportFn reportFn_;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<uint8_t> chunk_; // owned here, so a released reader may go
    bool pending_ = false;
    bool running_ = false;
    bool cancelled_ = false;
};

} // namespace quillon::serial
