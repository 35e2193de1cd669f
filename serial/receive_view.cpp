#include "serial/receive_view.h"

#include <algorithm>

namespace quillon::serial {

namespace {

const char kHex[] = "0123456789ABCDEF";

void appendLineStart(std::string& s, uint32_t address)
{
    for (int shift = 28; shift >= 0; shift -= 4) s += kHex[(address >> shift) & 0xF];
    s += ": ";
}

} // namespace

DumpOutput dumpChunk(int32_t& DumpAddress, const DumpStart& start, std::span<const uint8_t> bytes, bool displayEmpty)
{
    DumpOutput out;
    std::string h; // the open line of this chunk
    bool fresh = displayEmpty || start.blockDecoded;
    bool idle = start.lineIdle;
    // Addresses wrap as 32-bit values; a start address typed as FFFFFFF0 is fine.
    uint32_t address = static_cast<uint32_t>(DumpAddress);
    for (uint8_t b : bytes) {
        if (fresh) {
            fresh = false;
            out.replaceAll = true;
            out.text = kDumpHeader;
            address = static_cast<uint32_t>(start.freshAddress);
            h.clear();
            appendLineStart(h, address);
            h.append(3 * (address % 16), ' ');
        } else {
            if (idle) address = 0;
            if (address % 16 == 0) {
                out.text += h;
                out.text += "\r\n";
                h.clear();
                appendLineStart(h, address);
            }
        }
        h += kHex[b >> 4];
        h += kHex[b & 0xF];
        h += ' ';
        ++address;
        idle = false;
    }
    out.text += h;
    DumpAddress = static_cast<int32_t>(address);
    return out;
}

std::span<const uint8_t> TextFeed::shownPart(std::span<const uint8_t> bytes)
{
    auto zero = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    return bytes.first(static_cast<size_t>(zero - bytes.begin()));
}

std::string TextFeed::feed(std::span<const uint8_t> shown)
{
    const std::string text = decoder_.decode(shown);
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n') {
            if (!afterCR_) out += '\n';
            afterCR_ = false;
            lineChars_ = 0;
            continue;
        }
        afterCR_ = false;
        if (c == '\r') {
            out += '\n';
            afterCR_ = true;
            lineChars_ = 0;
            continue;
        }
        // Count characters, not bytes: continuation bytes don't start one.
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            if (lineChars_ >= kMaxLineChars) {
                out += '\n';
                lineChars_ = 0;
            }
            ++lineChars_;
        }
        out += c;
    }
    return out;
}

void TextFeed::reset()
{
    decoder_.reset();
    afterCR_ = false;
    lineChars_ = 0;
}

} // namespace quillon::serial
