#pragma once

#include <string>
// The monitor page against the real capture helper, a writer flooding a
// ticked pty: what was written, read, logged and dropped, and how late the
// window's event loop ran.

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace quillon::bench {

// The event loop's promptness: a 10 ms timer that should never be late by much.
class DelayProbe {
public:
    DelayProbe()
    {
        clock_.start();
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kIntervalMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            const qint64 late = now - last_ - kIntervalMs;
            worst_ = std::max(worst_, late);
            if (late > 100) ++over100_;
            last_ = now;
        });
        reset();
        timer_.start();
    }
    void reset()
    {
        worst_ = 0;
        over100_ = 0;
        last_ = clock_.elapsed();
    }
    qint64 worst() const { return worst_; }
    // Ticks more than 100 ms late.
    int over100() const { return over100_; }

private:
    static constexpr int kIntervalMs = 10;
    QElapsedTimer clock_;
    QTimer timer_;
    qint64 last_ = 0;
    qint64 worst_ = 0;
    int over100_ = 0;
};

struct HelperFloodSettings {
    double seconds = 5; // of each flood, with capture and without
    int rounds = 3;
    double pacedSeconds = 10; // of the paced run after each flood
    long pacedRate = 20000;   // writes a second
    std::string screenshot;   // where to save the window at the end, if anywhere
};

// Needs the application object; returns the program's exit code.
int runHelperFlood(const HelperFloodSettings& settings);

} // namespace quillon::bench
