#pragma once
// Segment maps, glyph tables and code tables of 7-, 14- and 16-segment LED
// displays, the source text emitted from a code table, and the pattern
// strings that store a segment map in the settings file.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::led {

enum class LedType { Seg7, Seg14, Seg16 };

// Segment names of a type in computation order (A first). The on-screen
// order of the boxes and of the stored pattern strings is the reverse.
std::span<const char* const> segmentNames(LedType type);
inline int segmentCount(LedType type) { return static_cast<int>(segmentNames(type).size()); }

// All bits of the type's code width: 0xFF for 7 segments, 0xFFFF otherwise.
uint16_t codeWidthMask(LedType type);

// Bit mask of one position. The position is taken modulo 32 (as a shift
// count); 0..15 select that bit, anything else selects none.
uint16_t segmentMask(int32_t position);

inline bool isValidPosition(int32_t position) { return position >= 0 && position <= 15; }

// Reads the boxes' texts (computation order). Each text is trimmed and read
// as a whole number; positions outside 0..15 are refused too, because such a
// segment would silently drop out of every code. nullopt on the first bad text.
std::optional<std::vector<int32_t>> readSegmentMap(LedType type, std::span<const std::string> texts);

// Which segments a character lights, as bits over the type's computation
// order (bit i = segment i). Characters the type can't show give 0.
uint16_t glyph(LedType type, char ch);

// Labels of the code table entries: "A".."Z" then "0".."F" for 14 and 16
// segments (42 entries), "0".."F" for 7 segments (16 entries).
std::vector<std::string> tableLabels(LedType type);

// One code per table entry: the OR of the masks of the segments lit.
std::vector<uint16_t> codeTable(LedType type, std::span<const int32_t> positions);

// XOR with all bits of the code width, including bits no segment uses.
void invertCodes(LedType type, std::vector<uint16_t>& codes);

struct EmitOptions {
    bool assembler = false; // C otherwise
    bool fourBits = false;  // 8 bits otherwise
    std::string dataDefine = "DB";
    std::string hexMarker = "H";
    bool prefix = false; // marker before the digits; after them otherwise
};

// The whole of one encoding: the code table of the map, inverted if asked,
// as source lines.
std::vector<std::string> encodeTable(LedType type, std::span<const int32_t> positions, bool invert,
                                     const EmitOptions& options);

// The source lines of a code table. The first line of the 7-segment C form
// ends in a line feed of its own.
std::vector<std::string> emitCodeTable(LedType type, std::span<const uint16_t> codes, const EmitOptions& options);

// Positions (computation order) as one upper-case hex digit each, in
// on-screen order. Positions must be 0..15 for the string to read back.
std::string patternString(LedType type, std::span<const int32_t> positions);

// Positions in on-screen order read from a pattern string. Reading stops at
// the first character that is missing or not a hex digit; `complete` tells
// whether every segment was read.
struct PatternRead {
    std::vector<int32_t> onScreen;
    bool complete = false;
};
PatternRead readPattern(LedType type, std::string_view pattern);

// The segment map (computation order) a whole pattern string stands for;
// nullopt unless every segment reads.
std::optional<std::vector<int32_t>> patternPositions(LedType type, std::string_view pattern);

// Pattern names must come back from the settings file as they went in.
bool isStorablePatternName(std::string_view name);

} // namespace quillon::led
