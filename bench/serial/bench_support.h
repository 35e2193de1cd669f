#pragma once
// What the serial benchmarks share: dialogs that must stay quiet, and a
// probe of the event loop. How late does a 10 ms timer fire while the window
// works? The worst and the mean lateness tell whether the user interface
// stayed responsive.

#include "bench/bench_dialogs.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdio>

namespace quillon::bench {

class EventLoopProbe {
public:
    EventLoopProbe()
    {
        clock_.start();
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            const double late = (now - last_) / 1e6 - 10.0;
            last_ = now;
            if (late > worst) worst = late;
            sum_ += late > 0 ? late : 0;
            ++ticks;
        });
    }
    void start()
    {
        last_ = clock_.nsecsElapsed();
        timer_.start();
    }
    // Forget what was seen so far (the start-up of the run).
    void reset()
    {
        worst = 0;
        sum_ = 0;
        ticks = 0;
    }
    void stop() { timer_.stop(); }
    double mean() const { return ticks ? sum_ / ticks : 0; }

    double worst = 0;
    long ticks = 0;

private:
    QElapsedTimer clock_;
    QTimer timer_;
    qint64 last_ = 0;
    double sum_ = 0;
};

} // namespace quillon::bench
