#pragma once
// The recent history of the watched numeric variables, for the plot window
// and its CSV export: one bounded ring per variable, fed with the values the
// decoder finds in each block, with the time the block's chunk came in.
//
// A value is kept in its variable's own width (a char costs one byte, a
// double eight) and the block it came from is kept as runs of consecutive
// block numbers, so a variable present in every block costs no more than
// its value. Block times are kept once per chunk, shared by all variables.

#include "serial/sample.h"
#include "vars/var_list.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace quillon::vars {

// None for arrays: they have no single value to plot.
std::optional<serial::SampleKind> sampleKindOf(VarType type);

struct SamplePoint {
    double time = 0; // seconds since the store's origin
    double value = 0;
};

// The lowest and the highest sample of one column of time.
struct MinMaxColumn {
    int64_t column = 0;
    SamplePoint low, high;
    bool lowFirst = true;
    bool single = true; // one sample is both
    // Its points in the order they came.
    void appendTo(std::vector<SamplePoint>& out) const;
};

class SampleStore {
public:
    // Ten minutes of one variable at 1 MB/s of 204-byte blocks (4,902 blocks a second).
    static constexpr size_t kDefaultBound = 3'000'000;

    explicit SampleStore(size_t bound = kDefaultBound);

    // Samples kept per variable; the oldest go first. Lowering it drops the
    // oldest at once.
    size_t bound() const { return bound_; }
    void setBound(size_t bound);

    void record(const serial::Sample& sample);
    void record(std::span<const serial::Sample> samples)
    {
        for (const serial::Sample& s : samples) record(s);
    }
    // Forgets a series (its variable was redefined or deleted).
    void restart(uint64_t series);
    // Forgets the series of rows no longer in `rows`.
    void keepOnly(const VarList& rows);
    // Forgets everything; the next sample is time 0.
    void clear();

    bool has(uint64_t series) const { return series_.count(series) != 0; }
    size_t count(uint64_t series) const;
    // Bytes held for values, block runs and block times.
    size_t memoryUsed() const;
    // Time span of what is held, in seconds since the origin; none when empty.
    std::optional<double> firstTime() const;
    std::optional<double> lastTime() const;

    // All samples of a series, oldest first (for tests and small series).
    std::vector<SamplePoint> points(uint64_t series) const;
    // The columns [origin + k * width, origin + (k + 1) * width) for k from
    // `first` through `last` that hold samples (non-finite values skipped).
    // With a `budget`, it stops at the first column boundary after that
    // many samples (so it always completes at least one column).
    std::vector<MinMaxColumn> columns(uint64_t series, double origin, double width, int64_t first, int64_t last,
                                      size_t budget = SIZE_MAX) const;
    // The samples between `from` and `to` drawn into `columns` columns of
    // equal width: each column gives its lowest and its highest sample in
    // the order they came (one point when they are the same sample). The
    // last sample before `from` leads, so the curve reaches the left edge.
    std::vector<SamplePoint> decimated(uint64_t series, double from, double to, int columns) const;
    // The latest sample at or before `time`; none before the first.
    std::optional<SamplePoint> valueAt(uint64_t series, double time) const;
    // The latest sample before `time`.
    std::optional<SamplePoint> before(uint64_t series, double time) const;
    // Changes whenever samples go other than by the bound (clear, restart, a
    // lower bound), so views built from the store know to start over.
    uint64_t generation() const { return generation_; }

    // A column of the CSV: the series and the name in its header.
    struct CsvColumn {
        uint64_t series = 0;
        std::string name;
    };
    // A header row ("time" caption, then the names), then one row per block
    // any of the columns has a sample from: its time in seconds with three
    // decimals, then each column's value, empty where it has none. Lines end
    // in CR LF; fields holding a comma, quote or line break are quoted.
    void writeCsv(std::ostream& out, const std::string& timeCaption, const std::vector<CsvColumn>& columns) const;

private:
    struct Run {
        uint64_t firstBlock;
        uint64_t firstOrdinal; // the ordinal of its first sample in the series
    };
    struct Series {
        serial::SampleKind kind = serial::SampleKind::F64;
        size_t width = 8;
        std::vector<uint8_t> ring; // grows up to the bound, then wraps
        size_t head = 0;           // slot of the oldest sample
        size_t count = 0;
        uint64_t dropped = 0; // ordinal of the oldest sample
        std::deque<Run> runs;
        uint64_t lastBlock = 0;

        size_t slotCount() const { return ring.size() / width; }
        double value(size_t index) const;
        uint64_t block(size_t index) const;
        void push(double value, uint64_t block, size_t bound);
        void dropOldest();
        void trimTo(size_t bound);
    };
    struct TimeMark {
        uint64_t firstBlock;
        double time;
    };
    class Cursor;

    double secondsOf(serial::SampleClock::time_point t);
    double timeOf(uint64_t block) const;
    // The first sample index whose time is at or after `time` (after it,
    // with `inclusive`).
    size_t lowerIndex(const Series& s, double time, bool inclusive = false) const;
    std::optional<SamplePoint> sampleBefore(uint64_t series, double time, bool inclusive) const;
    void dropUnusedMarks();

    size_t bound_;
    std::map<uint64_t, Series> series_;
    std::deque<TimeMark> marks_;
    std::optional<serial::SampleClock::time_point> origin_;
    uint64_t lastBlock_ = 0; // the decoder's number of the last block seen
    bool anyBlock_ = false;
    uint64_t block_ = 0; // the store's own number of it
    uint64_t generation_ = 0;
};

// One series' columns on a grid of fixed width anchored at time 0, kept as
// the window moves: each update scans only the samples that came since the
// last one (and the last column, which they may extend), so following a
// window of millions of samples costs what arrived, not what is shown. A
// window seen for the first time over a long history is scanned a budget
// of samples per update: it fills in from the left over a few updates
// instead of stalling the window (and the reader waiting on it).
class ColumnView {
public:
    // The points of `series` for the window [from, to]: the sample before
    // it, then each column's lowest and highest.
    const std::vector<SamplePoint>& update(const SampleStore& store, uint64_t series, double from, double to,
                                           double width, size_t budget = SIZE_MAX);
    const std::vector<SamplePoint>& points() const { return points_; }

private:
    uint64_t series_ = 0;
    double width_ = 0;
    uint64_t generation_ = 0;
    std::deque<MinMaxColumn> columns_;
    std::vector<SamplePoint> points_;
};

} // namespace quillon::vars
