#include "bench/monitor/flood_tally.h"

#include "monitor/monitor_requests.h"
#include "monitor/monitor_rows.h"
#include "monitor/record_walk.h"

#include <algorithm>
#include <cstdlib>

namespace quillon::bench {

using namespace quillon::monitor;

void Tally::add(std::string_view program, std::string_view request, std::string_view result, std::string_view other,
                std::string_view writerTag)
{
    ++records;
    if (result == "OVERFLOW") {
        ++overflowRecords;
        dropped += std::atoll(std::string(other).c_str());
    } else if (program.empty()) {
        ++completions;
    } else if (request == "IRP_MJ_WRITE" && program.ends_with(writerTag)) {
        ++writerWrites;
    }
}

Received receivedFrom(const std::vector<std::vector<uint8_t>>& buffers, std::string_view writerTag)
{
    Received r;
    size_t largest = 0;
    for (const auto& buffer : buffers) {
        r.bytes += static_cast<long long>(buffer.size());
        walkRecords(buffer, buffer.size(), [&](const CapturedRecord& record) {
            if (record.fieldCount == 0) return; // neither shown nor logged
            size_t text = record.fieldCount - 1;
            for (size_t k = 0; k < record.fieldCount; ++k) text += record.fields[k].size();
            largest = std::max(largest, nextRecordOffset(text));
            r.tally.add(record.fields[0], record.fields[1], record.fields[3], record.fields[4], writerTag);
            appendLogLine(r.expectedLog, record);
        });
    }
    for (const auto& buffer : buffers)
        if (buffer.size() + largest > kReadBufferSize) ++r.fullBuffers;
    return r;
}

Tally tallyLog(const std::string& log, std::string_view writerTag)
{
    Tally t;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find("\r\n", start);
        if (end == std::string::npos) end = log.size();
        std::string_view line(log.data() + start, end - start);
        std::string_view fields[kRecordFields];
        for (size_t k = 0; k < kRecordFields; ++k) {
            const size_t tab = k + 1 < kRecordFields ? line.find('\t') : std::string_view::npos;
            fields[k] = line.substr(0, tab);
            line = tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
        }
        t.add(fields[0], fields[1], fields[3], fields[4], writerTag);
        start = end + 2;
    }
    return t;
}

} // namespace quillon::bench
