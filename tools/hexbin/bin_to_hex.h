#pragma once
// Flat binary image to Intel HEX: 16-byte data records, upper-case digits,
// CR LF line ends, closed by the end-of-file record.

#include "common/file_io.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon::hexbin {

// The start-address field: blanks trimmed, "0x" put in front unless the text
// starts with "0x"/"0X", then read as a hex whole number. Empty text or
// anything that is not hex: nullopt.
std::optional<uint32_t> parseStartAddress(std::string_view text);

// Builds the HEX text record by record. Images that pass 0xFFFF get an
// extended linear address record (type 04) at each new 64 KiB segment, and
// records are cut at segment boundaries, so the text stays valid Intel HEX.
class HexEncoder {
public:
    explicit HexEncoder(uint32_t start) : address_(start) {}
    // Appends the records for `bytes` to `out`; a partial record is held back.
    void add(std::string_view bytes, std::string& out);
    // Writes the pending short record and the end-of-file record.
    void finish(std::string& out);
    // False once the image would run past 0xFFFFFFFF.
    bool fits() const { return !overflow_; }

private:
    // Writes the record (after a segment record when one is due) at p.
    char* emitRecord(const uint8_t* data, unsigned count, char* p);
    uint64_t address_;
    uint8_t pending_[16];
    unsigned pendingCount_ = 0;
    uint32_t segment_ = 0;
    bool overflow_ = false;
};

enum class BinToHexOutcome { Done, SourceOpenFailed, TargetOpenFailed, BadAddress };

// Converts `source` into `target` (which must not be the source itself:
// TargetOpenFailed, nothing touched). The address is checked after both files
// are open, so a bad address leaves an empty target. Throws
// std::runtime_error if writing fails.
BinToHexOutcome binToHex(const std::string& source, const std::string& target, std::optional<uint32_t> start);

// The same between files already open; writes nothing for a bad address and
// closes `out` at the end.
BinToHexOutcome binToHex(InputFile& in, OutputFile& out, std::optional<uint32_t> start);

} // namespace quillon::hexbin
