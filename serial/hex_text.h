#pragma once
// Text typed by the user to be sent: as characters, or as hexadecimal
// digits packed into the bytes they stand for.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quillon::serial {

// Packs in place: two adjacent hex digits make one byte; a digit standing
// alone (before a non-digit, or last) makes a byte of its own value. Any
// character that is not a hex digit is skipped and makes the result false.
// `length` comes in as the input size and goes out as the byte count.
bool HexTextToBytes(uint8_t* data, size_t& length);

// The same on a vector, which is resized to the packed bytes.
bool HexTextToBytes(std::vector<uint8_t>& data);

// The bytes of typed text (UTF-8, lines ended by LF) as the line carries
// them: GBK, lines ended by CR LF.
std::vector<uint8_t> TextToSendBytes(std::string_view utf8);

} // namespace quillon::serial
