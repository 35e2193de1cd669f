#pragma once
// Intel HEX records as the converters read them, and HEX-to-BIN conversion.

#include "common/file_io.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::hexbin {

// A line is read in pieces of at most this many characters; a longer line
// continues in the next piece, which does not start with a colon.
constexpr std::size_t kHexLineChars = 254;

enum class RecordCheck {
    Skip,        // the piece does not start with ':'
    EndOfFile,   // type 01
    Data,        // type 00 (or, in extended mode, an address record)
    UnknownType, // any other type
    BadChecksum, // checksum wrong, or fewer data digits than the length claims
};

struct HexRecord {
    int type = -1;
    unsigned length = 0;
    uint16_t address = 0;
    // The 2*length data digits as they stand in the line, and their values.
    std::string_view digits;
    const uint8_t* data = nullptr;
    // Every byte of the digit run (a piece holds at most 127).
    uint8_t bytes[128];
};

// Checks one piece as read (line end already removed). Only types 00 and 01
// are understood; with `extended`, types 02 to 05 pass as well.
RecordCheck checkRecord(std::string_view piece, bool extended, HexRecord& rec);

enum class HexToBinOutcome {
    Done, // end record seen; the image is complete
    SourceOpenFailed,
    TargetOpenFailed, // also when the target is the source itself
    UnknownType,      // the image written so far stays
    BadChecksum,      // as above
    NoEndRecord,      // source ended without the end record; as above
    ImageTooLarge,    // a record lies beyond maxImageSize; as above
};

struct HexToBinOptions {
    uint8_t fill = 0xFF;
    // Understand extended segment (02) and extended linear (04) address
    // records and skip start-address records (03, 05).
    bool extended = false;
    // A record that would make the image larger than this is refused before
    // anything of it is written: one stray address record can otherwise ask
    // for a 4 GiB file.
    uint64_t maxImageSize = kDefaultMaxImageSize;
    static constexpr uint64_t kDefaultMaxImageSize = uint64_t(256) << 20;
};

struct HexToBinResult {
    HexToBinOutcome outcome = HexToBinOutcome::Done;
    uint64_t imageSize = 0;
    uint64_t neededSize = 0; // with ImageTooLarge: the image the record asked for
    std::size_t line = 0;    // line of the offending record, if any
};

// Writes the image of `source` to `target`: a byte with load address a lands
// at offset a, gaps are filled, later records overwrite earlier ones.
// Throws std::runtime_error if writing the target fails.
HexToBinResult hexToBin(const std::string& source, const std::string& target, const HexToBinOptions& options);

// The same between files already open; `out` is closed at the end.
HexToBinResult hexToBin(InputFile& in, OutputFile& out, const HexToBinOptions& options);

} // namespace quillon::hexbin
