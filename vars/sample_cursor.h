#pragma once
// The sample store's walk over one series, shared by its files.

#include "vars/sample_store.h"

#include <algorithm>

namespace quillon::vars {

// Walks a series oldest first, keeping its place in the runs and the block times.
class SampleStore::Cursor {
public:
    Cursor(const SampleStore& store, const Series& s, size_t index) : store_(store), s_(s), index_(index)
    {
        if (index_ >= s_.count) return;
        block_ = s_.block(index_);
        const uint64_t ordinal = s_.dropped + index_;
        while (run_ + 1 < s_.runs.size() && s_.runs[run_ + 1].firstOrdinal <= ordinal) ++run_;
        auto it = std::upper_bound(store_.marks_.begin(), store_.marks_.end(), block_,
                                   [](uint64_t b, const TimeMark& m) { return b < m.firstBlock; });
        mark_ = it == store_.marks_.begin() ? 0 : static_cast<size_t>(it - store_.marks_.begin()) - 1;
    }
    bool done() const { return index_ >= s_.count; }
    size_t index() const { return index_; }
    uint64_t block() const { return block_; }
    double time() const { return store_.marks_.empty() ? 0 : store_.marks_[mark_].time; }
    double value() const { return s_.value(index_); }
    void next()
    {
        if (++index_ >= s_.count) return;
        const uint64_t ordinal = s_.dropped + index_;
        if (run_ + 1 < s_.runs.size() && s_.runs[run_ + 1].firstOrdinal == ordinal)
            block_ = s_.runs[++run_].firstBlock;
        else
            ++block_;
        while (mark_ + 1 < store_.marks_.size() && store_.marks_[mark_ + 1].firstBlock <= block_) ++mark_;
    }

private:
    const SampleStore& store_;
    const Series& s_;
    size_t index_;
    size_t run_ = 0;
    size_t mark_ = 0;
    uint64_t block_ = 0;
};

} // namespace quillon::vars
