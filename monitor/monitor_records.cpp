#include "monitor/monitor_records.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstring>

#include "common/clock.h"
#include "monitor/capture/channel.h"

namespace quillon {

std::string fileTimeText(uint64_t fileTime)
{
    constexpr int64_t kEpochDeltaSeconds = 11644473600; // 1601 -> 1970
    // In whole seconds, so no file time can overflow the arithmetic.
    const int64_t seconds = static_cast<int64_t>(fileTime / 10'000'000) - kEpochDeltaSeconds;
    return timeOfDayText(static_cast<std::time_t>(seconds));
}

void walkMonitorRecords(std::span<const uint8_t> buffer, size_t returned,
                        const std::function<void(const MonitorRecord&)>& onRecord)
{
    const size_t end = std::min({returned, buffer.size(), capture::kReadBufferSize});
    const uint8_t* base = buffer.data();
    std::string previousTime;
    size_t pos = 0;
    while (pos < end && end - pos > 13) {
        const uint8_t* rec = base + pos;
        const auto* text = reinterpret_cast<const char*>(rec + 13);
        const void* nul = std::memchr(text, 0, end - pos - 13);
        if (!nul) break;
        const size_t n = static_cast<size_t>(static_cast<const char*>(nul) - text);

        MonitorRecord r;
        r.sequence = static_cast<int32_t>(capture::getU32(rec));
        const uint32_t low = capture::getU32(rec + 5);
        const uint32_t high = capture::getU32(rec + 9);
        r.time = (low || high) ? fileTimeText(uint64_t(high) << 32 | low) : previousTime;
        previousTime = r.time;
        std::string_view rest(text, n);
        while (!rest.empty() && r.fields.size() < kMonitorFieldCount) {
            const size_t tab = rest.find('\t');
            r.fields.emplace_back(rest.substr(0, tab));
            if (tab == std::string_view::npos) break;
            rest.remove_prefix(tab + 1);
            if (rest.empty() && r.fields.size() < kMonitorFieldCount) r.fields.emplace_back();
        }
        onRecord(r);
        pos += 13 + ((n + 4) & ~size_t(3));
    }
}

} // namespace quillon
