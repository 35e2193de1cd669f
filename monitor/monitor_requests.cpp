#include "monitor/monitor_requests.h"

#include "common/text.h"

#include <algorithm>
#include <cstring>

namespace quillon::monitor {

namespace {

// Longest prefix of at most `maxBytes` bytes that does not end inside a
// UTF-8 sequence.
std::string_view cutAtCharacter(std::string_view s, size_t maxBytes)
{
    if (s.size() <= maxBytes) return s;
    size_t n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return s.substr(0, n);
}

void putText(std::vector<uint8_t>& block, size_t offset, std::string_view text, size_t slotSize)
{
    const std::string_view cut = cutAtCharacter(text, slotSize - 1);
    std::memcpy(block.data() + offset, cut.data(), cut.size());
}

} // namespace

std::vector<uint8_t> buildFilterBlock(const FilterSettings& settings)
{
    const std::string include = toUpperAscii(settings.include.empty() ? std::string_view("*") : settings.include);
    const std::string exclude = toUpperAscii(settings.exclude.empty() ? std::string_view(" ") : settings.exclude);
    std::vector<uint8_t> block(kFilterBlockSize, 0);
    // A lone blank stands for "no filter" and is not sent.
    if (include != " ") putText(block, 0, include, kFilterFieldSize);
    if (exclude != " ") putText(block, kFilterFieldSize, exclude, kFilterFieldSize);
    block[2 * kFilterFieldSize] = settings.captureReads ? 1 : 0;
    block[2 * kFilterFieldSize + 1] = settings.captureWrites ? 1 : 0;
    return block;
}

std::vector<uint8_t> uint32Block(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> buildHookBlock(uint32_t mask, const platform::PortTables& tables)
{
    std::vector<uint8_t> block(kHookBlockSize, 0);
    const auto maskBytes = uint32Block(mask);
    std::copy(maskBytes.begin(), maskBytes.end(), block.begin());
    const size_t count = std::min(tables.count, platform::kPortTableSize);
    for (size_t i = 0; i < count; ++i) putText(block, 4 + i * kHookNameSize, tables.portNames[i], kHookNameSize);
    return block;
}

uint32_t hookMaskOf(std::span<const uint8_t> answer) { return answer.size() < 4 ? 0 : capture::getU32(answer.data()); }

LimitValue limitFrom(std::optional<int32_t> typed, int32_t limit)
{
    if (!typed) return {kLimitDefault, true, false};
    if (*typed < 0 || *typed > limit) return {limit, false, true};
    return {*typed, false, false};
}

} // namespace quillon::monitor
