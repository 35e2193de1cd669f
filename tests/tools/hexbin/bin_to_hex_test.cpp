#include "tests/tools/hexbin/oracle.h"
#include "tests/support/temp_dir.h"
#include "tools/hexbin/bin_to_hex.h"

#include <gtest/gtest.h>
#include <random>
#include <stdexcept>

using namespace quillon::hexbin;
using namespace quillon::test;

namespace {

class BinToHex : public ::testing::Test {
protected:
    TempDir dir;
    std::string src = dir.file("in.bin");
    std::string dst = dir.file("out.hex");

    std::string convert(const std::string& bytes, std::optional<uint32_t> start)
    {
        TempDir::writeFile(src, bytes);
        EXPECT_EQ(binToHex(src, dst, start), BinToHexOutcome::Done);
        return TempDir::readFile(dst);
    }
};

} // namespace

TEST(StartAddress, HexWithOrWithoutPrefix)
{
    EXPECT_EQ(parseStartAddress("8000"), 0x8000u);
    EXPECT_EQ(parseStartAddress(" 0x8000 "), 0x8000u);
    EXPECT_EQ(parseStartAddress("0X8000"), 0x8000u);
    EXPECT_EQ(parseStartAddress("ffffffff"), 0xFFFFFFFFu);
    EXPECT_FALSE(parseStartAddress("12G"));
    EXPECT_FALSE(parseStartAddress(""));
    EXPECT_FALSE(parseStartAddress("   "));
    EXPECT_FALSE(parseStartAddress("-10"));
    EXPECT_FALSE(parseStartAddress("0x"));
}

TEST_F(BinToHex, RecordLayout)
{
    EXPECT_EQ(convert("", 0), ":00000001FF\r\n");
    EXPECT_EQ(convert("\x01\x02\x03", 0x100), ":03010000010203F6\r\n:00000001FF\r\n");
    const std::string two = convert(std::string(32, '\x11'), 0);
    EXPECT_EQ(two,
              ":10000000" + std::string(32, '1') + "E0\r\n:10001000" + std::string(32, '1') + "D0\r\n:00000001FF\r\n");
    // A short last record carries its own count.
    const std::string text = convert(std::string(27, '\xAB'), 0xFFE0);
    EXPECT_EQ(text.substr(0, 9), ":10FFE000");
    EXPECT_EQ(text.substr(text.find("\r\n") + 2, 9), ":0BFFF000");

    TempDir::writeFile(src, "x");
    EXPECT_EQ(binToHex(src, dst, std::nullopt), BinToHexOutcome::BadAddress);
    EXPECT_EQ(TempDir::readFile(dst), "") << "the target was created before the address was read";
    EXPECT_EQ(binToHex(dir.file("none.bin"), dst, 0), BinToHexOutcome::SourceOpenFailed);
    EXPECT_EQ(binToHex(src, dir.file("no/dir/x.hex"), 0), BinToHexOutcome::TargetOpenFailed);
    EXPECT_EQ(binToHex(src, src, 0), BinToHexOutcome::TargetOpenFailed);
    EXPECT_EQ(TempDir::readFile(src), "x");
    EXPECT_THROW(binToHex(src, "/dev/full", 0), std::runtime_error);
}

TEST_F(BinToHex, PastSixtyFourKiBUsesExtendedLinearAddresses)
{
    const std::string text = convert(std::string(40, 'a'), 0xFFF8);
    // Cut at the boundary, then the segment record, then the rest.
    EXPECT_NE(text.find(":08FFF800"), std::string::npos);
    EXPECT_NE(text.find(":020000040001F9\r\n:10000000"), std::string::npos);
    EXPECT_EQ(text.find("10000"), text.find(":10000000") + 1);

    TempDir::writeFile(src, std::string(20, 'x'));
    EXPECT_EQ(binToHex(src, dst, 0xFFFFFFF0u), BinToHexOutcome::BadAddress) << "past the 32-bit address space";
    EXPECT_EQ(TempDir::readFile(dst), "") << "no half file is left behind";
}

// srec_cat reads our output back to the very bytes we started from, also for
// images larger than 64 KiB and at odd start addresses.
TEST_F(BinToHex, ParsesBackWithSrecCat)
{
    if (!haveTool("srec_cat")) GTEST_SKIP() << "srec_cat not installed";
    std::mt19937 rng(5);
    const std::pair<std::size_t, uint32_t> cases[] = {{1000, 0}, {200000, 0x1234}, {70001, 0x8000007}, {65536, 0}};
    for (auto [size, start] : cases) {
        std::string bytes(size, '\0');
        for (auto& c : bytes) c = static_cast<char>(rng());
        convert(bytes, start);
        char cmd[512];
        std::snprintf(cmd, sizeof cmd, "srec_cat %s -Intel -offset -0x%X -o %s -Binary", dst.c_str(), start,
                      dir.file("back.bin").c_str());
        ASSERT_EQ(run(cmd), 0) << cmd;
        EXPECT_EQ(TempDir::readFile(dir.file("back.bin")), bytes) << "size " << size << " start " << start;
    }
}
