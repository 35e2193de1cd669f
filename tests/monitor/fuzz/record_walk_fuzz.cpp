// Fuzz target: any buffer, any returned count, through the record walk.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "monitor/record_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) return 0;
    uint32_t returned;
    std::memcpy(&returned, data, 4);
    // An exact-size copy, so a read past its end is caught by the sanitizer.
    std::vector<uint8_t> buffer(data + 4, data + size);
    size_t fields = 0;
    quillon::monitor::walkMonitorRecords(buffer, returned % (buffer.size() + 64),
                                         [&](const quillon::monitor::MonitorRecord& r) {
                                             if (r.fields.size() > quillon::monitor::kRecordFields) __builtin_trap();
                                             fields += r.fields.size();
                                         });
    return 0;
}
