#include "monitor/capture/record_text.h"

#include "monitor/capture/channel.h"

#include <cerrno>
#include <cstring>

namespace quillon::capture {

uint64_t fileTimeFromUnixNs(int64_t unixNs)
{
    constexpr uint64_t kEpochDelta = 116444736000000000ULL; // 1601 -> 1970 in 100 ns
    if (unixNs < 0) return kEpochDelta - static_cast<uint64_t>(-unixNs) / 100;
    return kEpochDelta + static_cast<uint64_t>(unixNs) / 100;
}

std::string resultText(int64_t ret)
{
    if (ret >= 0) return "SUCCESS";
    // Negated unsigned: a malformed event may carry the most negative value.
    const uint64_t err = 0 - static_cast<uint64_t>(ret);
    // Seen by the exit hook before the kernel turns them into EINTR or a restart.
    switch (err) {
    case 512: return "ERESTARTSYS";
    case 513: return "ERESTARTNOINTR";
    case 514: return "ERESTARTNOHAND";
    case 515: return "ENOIOCTLCMD";
    case 516: return "ERESTART_RESTARTBLOCK";
    default: break;
    }
    if (err < 4096) {
        if (const char* name = strerrorname_np(static_cast<int>(err))) return name;
    }
    return "ERROR " + std::to_string(err);
}

std::string lengthAndData(uint64_t length, std::span<const uint8_t> data, bool hex)
{
    std::string out = "Length " + std::to_string(length) + ": ";
    if (hex) {
        static const char digits[] = "0123456789ABCDEF";
        out.reserve(out.size() + data.size() * 3);
        for (size_t i = 0; i < data.size(); ++i) {
            if (i) out += ' ';
            out += digits[data[i] >> 4];
            out += digits[data[i] & 15];
        }
    } else {
        out.reserve(out.size() + data.size());
        // Tabs and zero bytes would break the record's fields, so all control bytes go.
        for (uint8_t b : data) out += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
    }
    return out;
}

void appendRecord(std::vector<uint8_t>& out, int32_t sequence, uint64_t fileTime, std::string_view text)
{
    const size_t n = text.size();
    const size_t stride = nextRecordOffset(n);
    const size_t base = out.size();
    out.resize(base + stride, 0);
    uint8_t* p = out.data() + base;
    const uint32_t seq = static_cast<uint32_t>(sequence);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(seq >> (8 * i));
    for (int i = 0; i < 8; ++i) p[5 + i] = static_cast<uint8_t>(fileTime >> (8 * i));
    std::memcpy(p + kRecordHeaderSize, text.data(), n);
}

std::vector<uint8_t> encodeRecord(int32_t sequence, uint64_t fileTime, std::string_view text)
{
    std::vector<uint8_t> out;
    appendRecord(out, sequence, fileTime, text);
    return out;
}

namespace {

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::vector<std::string> terms(std::string_view list)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string_view::npos) end = list.size();
        std::string_view t = list.substr(start, end - start);
        while (!t.empty() && static_cast<unsigned char>(t.front()) <= ' ') t.remove_prefix(1);
        while (!t.empty() && static_cast<unsigned char>(t.back()) <= ' ') t.remove_suffix(1);
        if (!t.empty()) out.emplace_back(t);
        start = end + 1;
    }
    return out;
}

} // namespace

bool wildcardMatch(std::string_view pattern, std::string_view text)
{
    // Iterative with one backtrack point: linear in practice, no recursion to exhaust.
    size_t p = 0, t = 0, starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || upper(pattern[p]) == upper(text[t]))) {
            ++p;
            ++t;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

void RecordFilter::set(std::string_view include, std::string_view exclude)
{
    include_ = terms(include);
    exclude_ = terms(exclude);
}

bool RecordFilter::passes(std::initializer_list<std::string_view> subjects) const
{
    auto any = [&](const std::vector<std::string>& list) {
        for (const std::string& term : list)
            for (std::string_view s : subjects)
                if (wildcardMatch(term, s)) return true;
        return false;
    };
    if (!include_.empty() && !any(include_)) return false;
    return !any(exclude_);
}

} // namespace quillon::capture
