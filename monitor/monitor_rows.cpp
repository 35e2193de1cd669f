#include "monitor/monitor_rows.h"

#include <algorithm>

namespace quillon::monitor {

void MonitorRows::apply(const CapturedRecord& record, RowChanges& changes)
{
    if (record.fieldCount == 0) return;
    if (!record.fields[0].empty())
        addRow(record, changes);
    else
        completeRow(record, changes);
}

void MonitorRows::addRow(const CapturedRecord& record, RowChanges& changes)
{
    if (rows_.size() >= static_cast<size_t>(std::max(maxLines_, 0))) {
        rows_.clear();
        changes.emptied = true;
        changes.rowsBefore = 0;
        changes.firstUpdated = SIZE_MAX;
    }
    MonitorRow& row = rows_.emplace_back();
    row.sequence = record.sequence;
    row.columns[ColNumber] = std::to_string(record.sequence);
    row.columns[ColTime] = record.timeText.empty() ? std::string(" ") : record.timeText;
    for (size_t k = 0; k < kRecordFields; ++k) {
        const std::string_view field = record.fields[k];
        row.columns[ColProgram + k] = field.empty() ? std::string(" ") : std::string(field);
    }
}

void MonitorRows::completeRow(const CapturedRecord& record, RowChanges& changes)
{
    // Sequence numbers grow down the list: a smaller number means the row is gone.
    for (size_t i = rows_.size(); i-- > 0;) {
        MonitorRow& row = rows_[i];
        if (row.sequence < record.sequence) return;
        if (row.sequence != record.sequence) continue;
        for (size_t k = 1; k < record.fieldCount; ++k)
            if (!record.fields[k].empty()) row.columns[ColProgram + k] = std::string(record.fields[k]);
        if (i < changes.rowsBefore) {
            changes.firstUpdated = std::min(changes.firstUpdated, i);
            changes.lastUpdated = std::max(changes.lastUpdated, i);
        }
        return;
    }
}

std::string savedListText(const std::vector<MonitorRow>& rows)
{
    std::string out;
    for (const MonitorRow& row : rows) {
        for (size_t c = 0; c < kColumns; ++c) {
            if (c) out += '\t';
            out += row.columns[c];
        }
        out += "\r\n";
    }
    return out;
}

void appendLogLine(std::string& out, const CapturedRecord& record)
{
    for (size_t k = 0; k < kRecordFields; ++k) {
        if (k) out += '\t';
        out += record.fields[k];
    }
    out += "\r\n";
}

} // namespace quillon::monitor
