// The sample store seen through pixel columns: each column's lowest and
// highest sample, for drawing a curve of millions of samples in a few
// thousand points, and the view that keeps them while a window follows.
#include "vars/sample_store.h"

#include "vars/sample_cursor.h"

#include <algorithm>
#include <cmath>

namespace quillon::vars {

void MinMaxColumn::appendTo(std::vector<SamplePoint>& out) const
{
    if (single) {
        out.push_back(low);
    } else if (lowFirst) {
        out.push_back(low);
        out.push_back(high);
    } else {
        out.push_back(high);
        out.push_back(low);
    }
}

std::vector<MinMaxColumn> SampleStore::columns(uint64_t series, double origin, double width, int64_t first,
                                               int64_t last, size_t budget) const
{
    std::vector<MinMaxColumn> out;
    auto it = series_.find(series);
    if (it == series_.end() || !(width > 0) || last < first) return out;
    const Series& s = it->second;
    const double to = origin + static_cast<double>(last + 1) * width;
    size_t loIndex = 0, hiIndex = 0;
    size_t scanned = 0;
    for (Cursor c(*this, s, lowerIndex(s, origin + static_cast<double>(first) * width)); !c.done(); c.next()) {
        const double t = c.time();
        if (t > to) break; // a sample right at the end belongs to the last column
        const double v = c.value();
        if (!std::isfinite(v)) continue; // a NaN float draws nothing
        const auto column = std::clamp(static_cast<int64_t>(std::floor((t - origin) / width)), first, last);
        if (out.empty() || out.back().column != column) {
            if (scanned >= budget) break;
            out.push_back({column, {t, v}, {t, v}, true, true});
            loIndex = hiIndex = c.index();
            ++scanned;
            continue;
        }
        ++scanned;
        MinMaxColumn& col = out.back();
        if (v < col.low.value) {
            col.low = {t, v};
            loIndex = c.index();
        }
        if (v > col.high.value) {
            col.high = {t, v};
            hiIndex = c.index();
        }
        col.single = loIndex == hiIndex;
        col.lowFirst = loIndex < hiIndex;
    }
    return out;
}

std::vector<SamplePoint> SampleStore::decimated(uint64_t series, double from, double to, int columns) const
{
    std::vector<SamplePoint> out;
    if (columns < 1 || !(to > from)) return out;
    if (auto lead = before(series, from)) out.push_back(*lead);
    const double width = (to - from) / columns;
    for (const MinMaxColumn& c : this->columns(series, from, width, 0, columns - 1)) c.appendTo(out);
    return out;
}

std::optional<SamplePoint> SampleStore::sampleBefore(uint64_t series, double time, bool inclusive) const
{
    auto it = series_.find(series);
    if (it == series_.end()) return std::nullopt;
    const Series& s = it->second;
    const size_t n = lowerIndex(s, time, inclusive);
    if (n == 0) return std::nullopt;
    return SamplePoint{timeOf(s.block(n - 1)), s.value(n - 1)};
}

std::optional<SamplePoint> SampleStore::valueAt(uint64_t series, double time) const
{
    return sampleBefore(series, time, true);
}

std::optional<SamplePoint> SampleStore::before(uint64_t series, double time) const
{
    return sampleBefore(series, time, false);
}

const std::vector<SamplePoint>& ColumnView::update(const SampleStore& store, uint64_t series, double from, double to,
                                                   double width, size_t budget)
{
    points_.clear();
    if (!(width > 0) || !(to > from)) return points_;
    if (series != series_ || width != width_ || store.generation() != generation_) {
        columns_.clear();
        series_ = series;
        width_ = width;
        generation_ = store.generation();
    }
    const auto first = static_cast<int64_t>(std::floor(from / width));
    const auto last = static_cast<int64_t>(std::floor(to / width));
    while (!columns_.empty() && columns_.front().column < first) columns_.pop_front();
    // The last column may have grown since; it is scanned again with what is new.
    int64_t start = first;
    if (!columns_.empty()) {
        start = columns_.back().column;
        columns_.pop_back();
    }
    for (const MinMaxColumn& c : store.columns(series, 0, width, start, last, budget)) columns_.push_back(c);
    if (auto lead = store.before(series, static_cast<double>(first) * width)) points_.push_back(*lead);
    // Each column starts at the end nearer to where the line is: within a
    // pixel the order cannot be seen, and a noisy signal then draws half
    // the line it would going from each column's last value to the next.
    for (const MinMaxColumn& c : columns_) {
        if (c.single) {
            points_.push_back(c.low);
            continue;
        }
        const bool lowFirst = points_.empty() ? c.lowFirst
                                              : std::abs(points_.back().value - c.low.value) <=
                                                    std::abs(points_.back().value - c.high.value);
        points_.push_back(lowFirst ? c.low : c.high);
        points_.push_back(lowFirst ? c.high : c.low);
    }
    return points_;
}

} // namespace quillon::vars
