#pragma once
// The three checksums of the HEX/BIN tools: CRC-16/XMODEM (poly 0x1021),
// CRC-16/UMTS (poly 0x8005) and CRC-32 (ISO-HDLC). All start from the
// published initial value; feed data in any number of pieces.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon::hexbin {

enum class CrcKind { Ccitt, Crc16, Crc32 };

// Running CRC. Large blocks take a carry-less-multiply path where the CPU has
// one, otherwise slicing-by-8 tables; both give the same value.
class Crc {
public:
    explicit Crc(CrcKind kind);
    void update(const void* data, std::size_t size);
    void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }
    // The finished CRC (CRC-32 has its final XOR applied); the object stays usable.
    uint32_t value() const;
    CrcKind kind() const { return kind_; }

private:
    CrcKind kind_;
    uint32_t state_;
};

uint32_t crcOf(CrcKind kind, std::string_view bytes);

// CRC of a whole file, read in large blocks; nullopt if it cannot be opened.
// A read error ends the data like the end of the file.
std::optional<uint32_t> crcOfFile(const std::string& path, CrcKind kind);

// Upper-case hex without prefix: 4 digits for the 16-bit CRCs, 8 for CRC-32.
std::string crcText(CrcKind kind, uint32_t value);

// For tests and benchmarks: whether the carry-less-multiply path is in use,
// and a switch to force the table path.
bool crcUsesClmul();
void crcForceTables(bool force);

} // namespace quillon::hexbin
