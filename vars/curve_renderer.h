#pragma once
// The plot's curves drawn into an image on a thread of their own.

#include "vars/sample_store.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <QSize>
#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace quillon::vars {

// Draws the curves into an image on a thread of its own, so the window's
// thread only lays out the axes and puts the picture on them. The newest
// request replaces one not yet started.
class CurveRenderer {
public:
    struct Line {
        QColor color;
        std::vector<vars::SamplePoint> points;
    };
    struct Job {
        uint64_t serial = 0;
        QSize size;
        double xLow = 0, xHigh = 1, yLow = 0, yHigh = 1;
        std::vector<Line> lines;
    };
    // Called on the drawing thread with each finished picture.
    using Done = std::function<void(QImage, const Job&)>;

    explicit CurveRenderer(Done done) : done_(std::move(done)), thread_([this] { run(); }) {}
    ~CurveRenderer()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void submit(Job job)
    {
        {
            std::lock_guard lock(mutex_);
            pending_ = std::move(job);
        }
        wake_.notify_one();
    }

private:
    void run()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stop_ || pending_; });
                if (stop_) return;
                job = std::move(*pending_);
                pending_.reset();
            }
            done_(draw(job), job);
        }
    }
    static QImage draw(const Job& job)
    {
        QImage image(job.size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        const double w = image.width(), h = image.height();
        const double sx = w / (job.xHigh - job.xLow), sy = h / (job.yHigh - job.yLow);
        QPolygonF line;
        for (const Line& l : job.lines) {
            line.resize(static_cast<qsizetype>(l.points.size()));
            for (size_t i = 0; i < l.points.size(); ++i) {
                // Far outside the picture is as good as just outside it.
                const double y = std::clamp((job.yHigh - l.points[i].value) * sy, -1e5, 1e5);
                line[static_cast<qsizetype>(i)] = QPointF((l.points[i].time - job.xLow) * sx, y);
            }
            painter.setPen(QPen(l.color, 0)); // cosmetic: the quickest line to draw
            painter.drawPolyline(line);
        }
        return image;
    }

    Done done_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Job> pending_;
    bool stop_ = false;
    std::thread thread_; // last: it starts running at once
};

} // namespace quillon::vars
