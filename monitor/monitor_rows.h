#pragma once
// The captured-request list: one row per request, completed by later
// records of the same sequence number, emptied when it reaches its limit.

#include "monitor/record_walk.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon::monitor {

// Number, time, program, request, device, result, other.
inline constexpr size_t kColumns = 7;
enum Column : size_t { ColNumber, ColTime, ColProgram, ColRequest, ColDevice, ColResult, ColOther };

struct MonitorRow {
    int32_t sequence = 0;
    // Bytes as the device sent them; columns without text hold a single blank.
    std::array<std::string, kColumns> columns;
};

// What a batch of records did to the rows, for a view to catch up in one step.
struct RowChanges {
    bool emptied = false;           // the list was emptied at least once
    size_t rowsBefore = 0;          // rows at the start of the batch
    size_t firstUpdated = SIZE_MAX; // range of rows completed in place, below rowsBefore
    size_t lastUpdated = 0;
    bool any() const { return emptied || firstUpdated != SIZE_MAX; }
};

class MonitorRows {
public:
    void setMaxLines(int32_t maxLines) { maxLines_ = maxLines; }
    int32_t maxLines() const { return maxLines_; }

    // Starts a batch; apply() reports into `changes`.
    RowChanges begin() const { return RowChanges{false, rows_.size()}; }
    // A record with a program is a new request; one without completes the
    // newest row of its sequence number (the time stays as it was).
    void apply(const CapturedRecord& record, RowChanges& changes);
    void clear() { rows_.clear(); }

    const std::vector<MonitorRow>& rows() const { return rows_; }
    size_t size() const { return rows_.size(); }

private:
    void addRow(const CapturedRecord& record, RowChanges& changes);
    void completeRow(const CapturedRecord& record, RowChanges& changes);

    std::vector<MonitorRow> rows_;
    int32_t maxLines_ = 64;
};

// The saved list: the seven columns of every row, tab-separated, CR LF after each.
std::string savedListText(const std::vector<MonitorRow>& rows);

// One log line of a record: its five fields joined by tabs (an empty field is
// nothing between its tabs), then CR LF. Number and time are not written.
void appendLogLine(std::string& out, const CapturedRecord& record);

} // namespace quillon::monitor
