#include "vars/sample_store.h"

#include "vars/sample_cursor.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace quillon::vars {

namespace {

size_t widthOf(serial::SampleKind kind)
{
    switch (kind) {
    case serial::SampleKind::U8: return 1;
    case serial::SampleKind::I16: return 2;
    case serial::SampleKind::I32:
    case serial::SampleKind::F32: return 4;
    case serial::SampleKind::F64: return 8;
    }
    return 8;
}

template <typename T>
void put(uint8_t* at, double value)
{
    const T v = static_cast<T>(value);
    std::memcpy(at, &v, sizeof v);
}

template <typename T>
double get(const uint8_t* at)
{
    T v;
    std::memcpy(&v, at, sizeof v);
    return static_cast<double>(v);
}

// Shortest text that reads back as the same number of the variable's own type.
std::string valueText(serial::SampleKind kind, double value)
{
    char buf[64];
    std::to_chars_result r{};
    switch (kind) {
    case serial::SampleKind::U8:
    case serial::SampleKind::I16:
    case serial::SampleKind::I32: r = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(value)); break;
    case serial::SampleKind::F32: r = std::to_chars(buf, buf + sizeof buf, static_cast<float>(value)); break;
    case serial::SampleKind::F64: r = std::to_chars(buf, buf + sizeof buf, value); break;
    }
    return std::string(buf, r.ptr);
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

} // namespace

std::optional<serial::SampleKind> sampleKindOf(VarType type)
{
    switch (type) {
    case VarType::Char:
    case VarType::BitMask: return serial::SampleKind::U8;
    case VarType::Int: return serial::SampleKind::I16;
    case VarType::Long: return serial::SampleKind::I32;
    case VarType::Float: return serial::SampleKind::F32;
    case VarType::Double: return serial::SampleKind::F64;
    case VarType::Array: return std::nullopt;
    }
    return std::nullopt;
}

// ------------------------------------------------------------------- series

double SampleStore::Series::value(size_t index) const
{
    size_t slot = head + index;
    if (slot >= slotCount()) slot -= slotCount();
    const uint8_t* at = ring.data() + slot * width;
    switch (kind) {
    case serial::SampleKind::U8: return get<uint8_t>(at);
    case serial::SampleKind::I16: return get<int16_t>(at);
    case serial::SampleKind::I32: return get<int32_t>(at);
    case serial::SampleKind::F32: return get<float>(at);
    case serial::SampleKind::F64: return get<double>(at);
    }
    return 0;
}

uint64_t SampleStore::Series::block(size_t index) const
{
    const uint64_t ordinal = dropped + index;
    auto it = std::upper_bound(runs.begin(), runs.end(), ordinal,
                               [](uint64_t o, const Run& r) { return o < r.firstOrdinal; });
    --it; // the first run starts at the oldest sample
    return it->firstBlock + (ordinal - it->firstOrdinal);
}

void SampleStore::Series::dropOldest()
{
    head = head + 1 == slotCount() ? 0 : head + 1;
    --count;
    ++dropped;
    Run& first = runs.front();
    ++first.firstBlock;
    ++first.firstOrdinal;
    if (runs.size() > 1 && runs[1].firstOrdinal == first.firstOrdinal) runs.pop_front();
}

void SampleStore::Series::push(double v, uint64_t blk, size_t bound)
{
    if (count >= bound) dropOldest();
    const uint64_t ordinal = dropped + count;
    if (runs.empty() || count == 0 || blk != lastBlock + 1) {
        if (count == 0) runs.clear();
        runs.push_back({blk, ordinal});
    }
    lastBlock = blk;
    size_t slot = head + count;
    if (slot >= slotCount()) {
        if (slotCount() < bound) { // still growing: the oldest is at slot 0
            // Doubling, but never past the bound: a full ring holds no spare room.
            if (ring.size() == ring.capacity())
                ring.reserve(std::min(bound, std::max<size_t>(64, 2 * slotCount())) * width);
            ring.resize(ring.size() + width);
        } else
            slot -= slotCount();
    }
    uint8_t* at = ring.data() + slot * width;
    switch (kind) {
    case serial::SampleKind::U8: put<uint8_t>(at, v); break;
    case serial::SampleKind::I16: put<int16_t>(at, v); break;
    case serial::SampleKind::I32: put<int32_t>(at, v); break;
    case serial::SampleKind::F32: put<float>(at, v); break;
    case serial::SampleKind::F64: put<double>(at, v); break;
    }
    ++count;
}

void SampleStore::Series::trimTo(size_t bound)
{
    while (count > bound) dropOldest();
    // Lay the newest out from slot 0 again so the ring can grow or wrap at the new bound.
    std::vector<uint8_t> linear(count * width);
    for (size_t i = 0; i < count; ++i) {
        size_t slot = head + i;
        if (slot >= slotCount()) slot -= slotCount();
        std::memcpy(linear.data() + i * width, ring.data() + slot * width, width);
    }
    ring = std::move(linear);
    head = 0;
}

// -------------------------------------------------------------------- store

SampleStore::SampleStore(size_t bound) : bound_(std::max<size_t>(bound, 1)) {}

void SampleStore::setBound(size_t bound)
{
    bound_ = std::max<size_t>(bound, 1);
    ++generation_;
    for (auto& [key, s] : series_) s.trimTo(bound_);
    dropUnusedMarks();
}

double SampleStore::secondsOf(serial::SampleClock::time_point t)
{
    if (!origin_) origin_ = t;
    return std::chrono::duration<double>(t - *origin_).count();
}

void SampleStore::record(const serial::Sample& sample)
{
    auto it = series_.find(sample.series);
    if (it != series_.end() && it->second.kind != sample.kind) {
        ++generation_;
        series_.erase(it);
        it = series_.end();
    }
    if (it == series_.end()) {
        Series s;
        s.kind = sample.kind;
        s.width = widthOf(sample.kind);
        it = series_.emplace(sample.series, std::move(s)).first;
    }
    // The store numbers blocks itself: a decoder set up afresh counts from
    // zero again, and the times must still be found in order.
    if (!anyBlock_ || sample.block != lastBlock_) {
        anyBlock_ = true;
        lastBlock_ = sample.block;
        ++block_;
        const double t = secondsOf(sample.time);
        if (marks_.empty() || marks_.back().time != t) {
            marks_.push_back({block_, t});
            dropUnusedMarks();
        }
    }
    it->second.push(sample.value, block_, bound_);
}

void SampleStore::dropUnusedMarks()
{
    if (marks_.size() < 2) return;
    uint64_t oldest = std::numeric_limits<uint64_t>::max();
    for (const auto& [key, s] : series_)
        if (s.count) oldest = std::min(oldest, s.runs.front().firstBlock);
    while (marks_.size() > 1 && marks_[1].firstBlock <= oldest) marks_.pop_front();
}

void SampleStore::restart(uint64_t series)
{
    if (series_.erase(series)) ++generation_;
    dropUnusedMarks();
}

void SampleStore::keepOnly(const VarList& rows)
{
    for (auto it = series_.begin(); it != series_.end();) {
        const bool live =
            std::any_of(rows.rows().begin(), rows.rows().end(), [&](const VarRow& r) { return r.series == it->first; });
        if (!live) ++generation_;
        it = live ? std::next(it) : series_.erase(it);
    }
    dropUnusedMarks();
}

void SampleStore::clear()
{
    ++generation_;
    series_.clear();
    marks_.clear();
    origin_.reset();
    anyBlock_ = false;
}

size_t SampleStore::count(uint64_t series) const
{
    auto it = series_.find(series);
    return it == series_.end() ? 0 : it->second.count;
}

size_t SampleStore::memoryUsed() const
{
    size_t bytes = marks_.size() * sizeof(TimeMark);
    for (const auto& [key, s] : series_) bytes += s.ring.capacity() + s.runs.size() * sizeof(Run) + sizeof(Series);
    return bytes;
}

double SampleStore::timeOf(uint64_t block) const
{
    if (marks_.empty()) return 0;
    auto it = std::upper_bound(marks_.begin(), marks_.end(), block,
                               [](uint64_t b, const TimeMark& m) { return b < m.firstBlock; });
    return it == marks_.begin() ? marks_.front().time : std::prev(it)->time;
}

std::optional<double> SampleStore::firstTime() const
{
    std::optional<double> t;
    for (const auto& [key, s] : series_)
        if (s.count) t = std::min(t.value_or(std::numeric_limits<double>::max()), timeOf(s.block(0)));
    return t;
}

std::optional<double> SampleStore::lastTime() const
{
    std::optional<double> t;
    for (const auto& [key, s] : series_)
        if (s.count) t = std::max(t.value_or(std::numeric_limits<double>::lowest()), timeOf(s.block(s.count - 1)));
    return t;
}

size_t SampleStore::lowerIndex(const Series& s, double time, bool inclusive) const
{
    size_t lo = 0, hi = s.count;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        const double t = timeOf(s.block(mid));
        if (t < time || (inclusive && t == time))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::vector<SamplePoint> SampleStore::points(uint64_t series) const
{
    std::vector<SamplePoint> out;
    auto it = series_.find(series);
    if (it == series_.end()) return out;
    out.reserve(it->second.count);
    for (Cursor c(*this, it->second, 0); !c.done(); c.next()) out.push_back({c.time(), c.value()});
    return out;
}

void SampleStore::writeCsv(std::ostream& out, const std::string& timeCaption,
                           const std::vector<CsvColumn>& columns) const
{
    out << csvField(timeCaption);
    for (const CsvColumn& c : columns) out << ',' << csvField(c.name);
    out << "\r\n";

    std::vector<std::optional<Cursor>> cursors;
    std::vector<serial::SampleKind> kinds;
    for (const CsvColumn& c : columns) {
        auto it = series_.find(c.series);
        if (it == series_.end() || it->second.count == 0) {
            cursors.emplace_back();
            kinds.push_back(serial::SampleKind::F64);
        } else {
            cursors.emplace_back(std::in_place, *this, it->second, 0);
            kinds.push_back(it->second.kind);
        }
    }
    std::string line;
    for (;;) {
        std::optional<uint64_t> block;
        double time = 0;
        for (const auto& c : cursors)
            if (c && !c->done() && (!block || c->block() < *block)) {
                block = c->block();
                time = c->time();
            }
        if (!block) break;
        char buf[64];
        const auto r = std::to_chars(buf, buf + sizeof buf, time, std::chars_format::fixed, 3);
        line.assign(buf, r.ptr);
        for (size_t k = 0; k < cursors.size(); ++k) {
            line += ',';
            auto& c = cursors[k];
            if (c && !c->done() && c->block() == *block) {
                line += valueText(kinds[k], c->value());
                c->next();
            }
        }
        line += "\r\n";
        out << line;
    }
}

} // namespace quillon::vars
