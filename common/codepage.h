#pragma once
// Conversion between the GBK/GB18030 bytes of stored files and serial text,
// and the UTF-8 the program uses inside.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quillon {

// Bytes that are not valid GB18030 come out as U+FFFD, one per bad byte.
std::string gbkToUtf8(std::string_view gbk);

// Invalid UTF-8 input comes out as '?', one per bad byte; a character GB18030
// has no code for becomes one '?'.
std::string utf8ToGbk(std::string_view utf8);

// Decodes a byte stream arriving in chunks. An incomplete multi-byte
// character at the end of a chunk is held back until the next chunk.
class GbkStreamDecoder {
public:
    GbkStreamDecoder();
    ~GbkStreamDecoder();
    GbkStreamDecoder(const GbkStreamDecoder&) = delete;
    GbkStreamDecoder& operator=(const GbkStreamDecoder&) = delete;

    std::string decode(std::span<const uint8_t> chunk);
    std::string decode(std::string_view chunk);
    // Emits whatever is held back (as replacement characters) and starts afresh.
    std::string flush();
    void reset();
    size_t pending() const { return held_.size(); }

private:
    void* cd_;
    std::string held_;
};

} // namespace quillon
