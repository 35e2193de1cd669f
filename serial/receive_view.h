#pragma once
// What a received chunk adds to the receive display, as text or as a
// hexadecimal dump. Only the new part is produced, so showing a chunk costs
// time in proportion to the chunk, not to what is on screen already.

#include "common/codepage.h"
#include "serial/receive_state.h"

#include <span>
#include <string>

namespace quillon::serial {

inline constexpr const char* kDumpHeader = "           0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F \r\n";
inline constexpr const char* kInitialDumpLine = "00000000: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";

struct DumpOutput {
    bool replaceAll = false; // the display is replaced by `text` instead of extended
    std::string text;        // lines end in CR LF; the last line stays open
};

// What decides where a chunk's dump starts besides the dump itself.
struct DumpStart {
    bool lineIdle = false;     // the line was quiet: the burst's addresses start at 0
    bool blockDecoded = false; // a block was decoded: the dump starts afresh
    int32_t freshAddress = 0;  // the address a fresh dump starts at
};

// Dumps the bytes from `DumpAddress` on and moves it past them.
// `displayEmpty` says whether the display holds nothing yet (the dump then
// starts afresh, with its header).
DumpOutput dumpChunk(int32_t& DumpAddress, const DumpStart& start, std::span<const uint8_t> bytes, bool displayEmpty);

// Received bytes shown as text: up to the first zero byte, decoded from
// GBK across chunk boundaries, line breaks (CR LF, LF or CR) made '\n'.
class TextFeed {
public:
    // Lines longer than this are broken for display: laying out one endless
    // line again for every chunk would stall the window.
    static constexpr size_t kMaxLineChars = 1024;

    // The part of a chunk that is shown (and logged): up to a zero byte.
    static std::span<const uint8_t> shownPart(std::span<const uint8_t> bytes);

    // UTF-8 text to append for the shown part of a chunk.
    std::string feed(std::span<const uint8_t> shown);
    // The display was emptied: a new line begins.
    void displayCleared() { lineChars_ = 0; }
    void reset();

private:
    GbkStreamDecoder decoder_;
    bool afterCR_ = false;
    size_t lineChars_ = 0;
};

} // namespace quillon::serial
