#include "tests/support/temp_dir.h"
#include "tools/hexbin/crc.h"

#include <gtest/gtest.h>
#include <random>

using namespace quillon::hexbin;
using quillon::test::TempDir;

namespace {

// Straight from the definitions: bit by bit, no tables.
uint16_t bitwise16(uint16_t poly, std::string_view data)
{
    uint16_t crc = 0;
    for (unsigned char byte : data)
        for (unsigned mask = 0x80; mask; mask >>= 1) {
            const bool out = crc & 0x8000;
            crc = static_cast<uint16_t>(crc << 1);
            if (out) crc ^= poly;
            if (byte & mask) crc ^= poly;
        }
    return crc;
}

uint32_t bitwise32(std::string_view data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

uint32_t reference(CrcKind kind, std::string_view data)
{
    switch (kind) {
    case CrcKind::Ccitt: return bitwise16(0x1021, data);
    case CrcKind::Crc16: return bitwise16(0x8005, data);
    default: return bitwise32(data);
    }
}

struct ForceTables {
    explicit ForceTables(bool on) { crcForceTables(on); }
    ~ForceTables() { crcForceTables(false); }
};

} // namespace

TEST(Crc, CheckValuesAndDisplay)
{
    EXPECT_EQ(crcText(CrcKind::Ccitt, crcOf(CrcKind::Ccitt, "123456789")), "31C3");
    EXPECT_EQ(crcText(CrcKind::Crc16, crcOf(CrcKind::Crc16, "123456789")), "FEE8");
    EXPECT_EQ(crcText(CrcKind::Crc32, crcOf(CrcKind::Crc32, "123456789")), "CBF43926");
    EXPECT_EQ(crcText(CrcKind::Ccitt, crcOf(CrcKind::Ccitt, "abc")), "9DD6");
    EXPECT_EQ(crcText(CrcKind::Crc16, crcOf(CrcKind::Crc16, "abc")), "CADB");
    EXPECT_EQ(crcText(CrcKind::Crc32, crcOf(CrcKind::Crc32, "abc")), "352441C2");
    EXPECT_EQ(crcText(CrcKind::Ccitt, crcOf(CrcKind::Ccitt, "")), "0000");
    EXPECT_EQ(crcText(CrcKind::Crc32, crcOf(CrcKind::Crc32, "")), "00000000");
    EXPECT_EQ(crcText(CrcKind::Crc16, 0xAB), "00AB");
}

// Random data of random lengths, fed in random pieces, on both the folding
// and the table path, must equal the bit-by-bit definition.
TEST(Crc, MatchesBitwiseDefinitionOnRandomData)
{
    std::mt19937 rng(1234);
    for (bool tables : {false, true}) {
        ForceTables force(tables);
        for (int round = 0; round < 300; ++round) {
            const std::size_t len = round < 200 ? rng() % 600 : rng() % 70000;
            std::string data(len, '\0');
            for (auto& c : data) c = static_cast<char>(rng());
            for (CrcKind kind : {CrcKind::Ccitt, CrcKind::Crc16, CrcKind::Crc32}) {
                Crc crc(kind);
                std::size_t pos = 0;
                while (pos < len) {
                    const std::size_t piece = std::min<std::size_t>(len - pos, rng() % 3 ? rng() % 300 : rng() % 5000);
                    crc.update(data.data() + pos, piece);
                    pos += piece;
                }
                ASSERT_EQ(crc.value(), reference(kind, data))
                    << "kind " << int(kind) << " len " << len << " tables " << tables;
            }
        }
    }
}

TEST(Crc, FileCrcReadsWholeFileInBlocks)
{
    TempDir dir;
    std::mt19937 rng(7);
    std::string data(3 * (1 << 20) + 12345, '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    TempDir::writeFile(dir.file("big.bin"), data);
    EXPECT_EQ(crcOfFile(dir.file("big.bin"), CrcKind::Crc32), bitwise32(data));
    EXPECT_EQ(crcOfFile(dir.file("big.bin"), CrcKind::Ccitt), crcOf(CrcKind::Ccitt, data));
    TempDir::writeFile(dir.file("empty.bin"), "");
    EXPECT_EQ(crcOfFile(dir.file("empty.bin"), CrcKind::Crc16), 0u);
    EXPECT_FALSE(crcOfFile(dir.file("missing.bin"), CrcKind::Crc16));
    EXPECT_FALSE(crcOfFile(dir.path(), CrcKind::Crc16)) << "a directory is not a data file";
}
