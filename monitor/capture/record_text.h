#pragma once
// Building the records the monitor reads: the text fields and the byte layout
// (4-byte sequence, flag byte, 8-byte file time in UTC, text, zero padding to
// a 4-byte stride).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::capture {

// 100 ns ticks since 1601-01-01 UTC, from nanoseconds since the Unix epoch.
uint64_t fileTimeFromUnixNs(int64_t unixNs);

// "SUCCESS" for a non-negative return, otherwise the error's name ("EAGAIN").
std::string resultText(int64_t ret);

// "Length n: " followed by the bytes: printable ASCII as is and everything
// else as '.', or as upper-case hexadecimal pairs separated by blanks.
std::string lengthAndData(uint64_t length, std::span<const uint8_t> data, bool hex);

// One record in the read layout.
void appendRecord(std::vector<uint8_t>& out, int32_t sequence, uint64_t fileTime, std::string_view text);
std::vector<uint8_t> encodeRecord(int32_t sequence, uint64_t fileTime, std::string_view text);

// Case-insensitive wildcard match: '*' any run, '?' any one character.
bool wildcardMatch(std::string_view pattern, std::string_view text);

// The include/exclude filter: ';'-separated terms, each matched against the
// program, the request and the device. A record passes when some include
// term matches (or there are none) and no exclude term does.
class RecordFilter {
public:
    void set(std::string_view include, std::string_view exclude);
    bool passes(std::initializer_list<std::string_view> subjects) const;

private:
    std::vector<std::string> include_;
    std::vector<std::string> exclude_;
};

} // namespace quillon::capture
