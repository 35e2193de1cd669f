#include "monitor/record_walk.h"

#include "common/clock.h"
#include "monitor/monitor_requests.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace quillon::monitor {

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeEpochOffset = 11644473600LL;

void splitFields(std::string_view text, CapturedRecord& record)
{
    record.fieldCount = 0;
    if (text.empty()) return;
    size_t start = 0;
    while (record.fieldCount < kRecordFields) {
        const size_t tab = text.find('\t', start);
        record.fields[record.fieldCount++] = text.substr(start, tab == std::string_view::npos ? tab : tab - start);
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    for (size_t i = record.fieldCount; i < kRecordFields; ++i) record.fields[i] = {};
}

} // namespace

std::string fileTimeText(uint64_t fileTime)
{
    // In whole seconds, so no file time can overflow the arithmetic.
    return timeOfDayText(static_cast<std::time_t>(static_cast<int64_t>(fileTime / 10000000) - kFileTimeEpochOffset));
}

void walkRecords(std::span<const uint8_t> buffer, size_t count,
                 const std::function<void(const CapturedRecord&)>& handle)
{
    // Never past the buffer, nor past what one read can return.
    const size_t end = std::min({count, buffer.size(), size_t(kReadBufferSize)});
    CapturedRecord record;
    size_t pos = 0;
    while (pos + kRecordHeaderSize < end) {
        const uint8_t* p = buffer.data() + pos;
        const uint8_t* text = p + kRecordHeaderSize;
        const void* zero = std::memchr(text, 0, end - pos - kRecordHeaderSize);
        if (!zero) break;
        const size_t length = static_cast<const uint8_t*>(zero) - text;

        record.sequence = static_cast<int32_t>(capture::getU32(p));
        const uint32_t low = capture::getU32(p + 5);
        const uint32_t high = capture::getU32(p + 9);
        if (low != 0 || high != 0) record.timeText = fileTimeText(uint64_t(high) << 32 | low);
        splitFields(std::string_view(reinterpret_cast<const char*>(text), length), record);
        handle(record);
        pos += nextRecordOffset(length);
    }
}

void walkMonitorRecords(std::span<const uint8_t> buffer, size_t count,
                        const std::function<void(const MonitorRecord&)>& handle)
{
    walkRecords(buffer, count, [&](const CapturedRecord& r) {
        MonitorRecord owned{r.sequence, r.timeText, {}};
        for (size_t i = 0; i < r.fieldCount; ++i) owned.fields.emplace_back(r.fields[i]);
        handle(owned);
    });
}

} // namespace quillon::monitor
