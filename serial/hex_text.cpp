#include "serial/hex_text.h"

#include "common/codepage.h"

#include <string>

namespace quillon::serial {

namespace {

int hexValue(uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

bool HexTextToBytes(uint8_t* data, size_t& length)
{
    bool valid = true;
    int pending = -1;
    size_t out = 0;
    for (size_t i = 0; i < length; ++i) {
        const int v = hexValue(data[i]);
        if (pending < 0) {
            if (v < 0) {
                valid = false;
            } else if (i + 1 == length) {
                data[out++] = static_cast<uint8_t>(v);
            } else {
                pending = v;
            }
        } else {
            if (v >= 0) {
                data[out++] = static_cast<uint8_t>(pending * 16 + v);
            } else {
                data[out++] = static_cast<uint8_t>(pending);
                valid = false;
            }
            pending = -1;
        }
    }
    length = out;
    return valid;
}

bool HexTextToBytes(std::vector<uint8_t>& data)
{
    size_t n = data.size();
    bool valid = HexTextToBytes(data.data(), n);
    data.resize(n);
    return valid;
}

std::vector<uint8_t> TextToSendBytes(std::string_view utf8)
{
    std::string crlf;
    crlf.reserve(utf8.size() + utf8.size() / 16);
    for (char ch : utf8) {
        if (ch == '\n') crlf += '\r';
        crlf += ch;
    }
    const std::string bytes = utf8ToGbk(crlf);
    return {bytes.begin(), bytes.end()};
}

} // namespace quillon::serial
