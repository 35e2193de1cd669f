#pragma once
// Hexadecimal text typed by the user, packed into the bytes it stands for.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon {

// Packs in place: two adjacent hex digits make one byte; a digit standing
// alone (before a non-digit, or last) makes a byte of its own value. Any
// character that is not a hex digit is skipped and makes the result false.
// `length` comes in as the input size and goes out as the byte count.
bool HexTextToBytes(uint8_t* data, size_t& length);

// The same on a vector, which is resized to the packed bytes.
bool HexTextToBytes(std::vector<uint8_t>& data);

} // namespace quillon
