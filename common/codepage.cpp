#include "common/codepage.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace quillon {

namespace {

constexpr const char* kReplacementUtf8 = "\xEF\xBF\xBD";

iconv_t openOrThrow(const char* to, const char* from)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: code page not available");
    return cd;
}

// Length of the well-formed UTF-8 character at the start of s, 0 if it is not one.
size_t utf8CharLength(const char* s, size_t left)
{
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const auto cont = [&](size_t i) { return i < left && (b(i) & 0xC0) == 0x80; };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        if (c == 0xE0 && b(1) < 0xA0) return 0;  // overlong
        if (c == 0xED && b(1) >= 0xA0) return 0; // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        if (c == 0xF0 && b(1) < 0x90) return 0;
        if (c == 0xF4 && b(1) >= 0x90) return 0;
        return 4;
    }
    return 0;
}

// Converts as much of `in` as possible. Stops at an incomplete sequence at the
// end (returns its length in `incomplete`); invalid bytes are replaced.
std::string convert(iconv_t cd, std::string_view in, const char* replacement, size_t* incomplete, bool fromUtf8 = false)
{
    std::string out;
    out.reserve(in.size() * 3 / 2 + 8);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[4096];
    if (incomplete) *incomplete = 0;
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<size_t>(dst - buf));
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) continue;
        if (errno == EINVAL) {
            if (incomplete) {
                *incomplete = srcLeft;
                break;
            }
            // No next chunk: the truncated character is bad data.
            out += replacement;
            ++src;
            --srcLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        // EILSEQ: skip one bad byte, or the whole of a good UTF-8 character
        // the target code page has no place for.
        size_t skip = fromUtf8 ? utf8CharLength(src, srcLeft) : 0;
        if (skip == 0) skip = 1;
        out += replacement;
        src += skip;
        srcLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

} // namespace

std::string gbkToUtf8(std::string_view gbk)
{
    iconv_t cd = openOrThrow("UTF-8", "GB18030");
    std::string out = convert(cd, gbk, kReplacementUtf8, nullptr);
    iconv_close(cd);
    return out;
}

std::string utf8ToGbk(std::string_view utf8)
{
    iconv_t cd = openOrThrow("GB18030", "UTF-8");
    std::string out = convert(cd, utf8, "?", nullptr, true);
    iconv_close(cd);
    return out;
}

GbkStreamDecoder::GbkStreamDecoder() : cd_(openOrThrow("UTF-8", "GB18030")) {}

GbkStreamDecoder::~GbkStreamDecoder() { iconv_close(static_cast<iconv_t>(cd_)); }

std::string GbkStreamDecoder::decode(std::span<const uint8_t> chunk)
{
    return decode(std::string_view(reinterpret_cast<const char*>(chunk.data()), chunk.size()));
}

std::string GbkStreamDecoder::decode(std::string_view chunk)
{
    std::string in;
    std::string_view view = chunk;
    if (!held_.empty()) {
        in = held_ + std::string(chunk);
        view = in;
    }
    size_t incomplete = 0;
    std::string out = convert(static_cast<iconv_t>(cd_), view, kReplacementUtf8, &incomplete);
    held_.assign(view.substr(view.size() - incomplete));
    return out;
}

std::string GbkStreamDecoder::flush()
{
    std::string out;
    for (size_t i = 0; i < held_.size(); ++i) out += kReplacementUtf8;
    reset();
    return out;
}

void GbkStreamDecoder::reset()
{
    held_.clear();
    iconv(static_cast<iconv_t>(cd_), nullptr, nullptr, nullptr, nullptr);
}

} // namespace quillon
