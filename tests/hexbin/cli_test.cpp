#include "tests/hexbin/hex_records.h"
#include "tests/support/temp_dir.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace quillon::test;

namespace {

struct Result {
    int code = -1;
    std::string out; // stdout and stderr together
};

class Cli : public ::testing::Test {
protected:
    TempDir dir;

    Result cli(const std::string& args)
    {
        Result r;
        const std::string cmd = std::string(QUILLON_CLI_PATH) + " " + args + " 2>&1";
        FILE* p = popen(cmd.c_str(), "r");
        std::array<char, 4096> buf;
        std::size_t n;
        while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
            r.out.append(buf.data(), n);
        const int status = pclose(p);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    }
    std::string f(const std::string& name) const { return dir.file(name); }
    bool exists(const std::string& name) const { return std::filesystem::exists(f(name)); }
};

} // namespace

TEST_F(Cli, Hex2BinWritesImageAndPrintsCrc)
{
    TempDir::writeFile(f("a.hex"), hexRecord(0, 2, "123456789") + "\r\n:00000001FF\r\n");
    auto r = cli("hex2bin " + f("a.hex") + " " + f("a.bin") + " --fill 00 --crc crc32");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(TempDir::readFile(f("a.bin")), std::string(2, '\0') + "123456789");
    EXPECT_EQ(r.out.size(), 9u);

    // Without --extended, address records are refused like on the page.
    TempDir::writeFile(f("b.hex"), ":020000040001F9\n" + hexRecord(0, 0, "x") + "\n:00000001FF\n");
    r = cli("hex2bin " + f("b.hex") + " " + f("b.bin"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("unrecognised HEX record type (line 1)"), std::string::npos) << r.out;
    r = cli("hex2bin --extended " + f("b.hex") + " " + f("b.bin"));
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(TempDir::readFile(f("b.bin")), std::string(0x10000, '\xFF') + "x");

    TempDir::writeFile(f("c.hex"), hexRecord(0, 0, "x") + "\n");
    r = cli("hex2bin " + f("c.hex") + " " + f("c.bin"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("without an end-of-file record"), std::string::npos);
    EXPECT_NE(cli("hex2bin " + f("none.hex") + " " + f("n.bin")).code, 0);
    EXPECT_FALSE(exists("n.bin"));
    EXPECT_NE(cli("hex2bin --fill 12 " + f("a.hex") + " " + f("n.bin")).code, 0);
}

// bin2hex then hex2bin --extended gives back the same bytes, past 64 KiB too;
// the CRC command agrees with the one printed by hex2bin.
TEST_F(Cli, RoundTripAndCrc)
{
    std::mt19937 rng(3);
    // Big enough for the HEX text to cross the reader's 1 MiB blocks.
    std::string bytes(400000, '\0');
    for (auto& c : bytes)
        c = static_cast<char>(rng());
    TempDir::writeFile(f("in.bin"), bytes);
    ASSERT_EQ(cli("bin2hex " + f("in.bin") + " " + f("out.hex")).code, 0);
    auto r = cli("hex2bin --extended --crc crc16 " + f("out.hex") + " " + f("back.bin"));
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(TempDir::readFile(f("back.bin")), bytes);
    EXPECT_EQ(cli("crc --type crc16 " + f("in.bin")).out, r.out);

    TempDir::writeFile(f("nine"), "123456789");
    EXPECT_EQ(cli("crc " + f("nine")).out, "31C3\n");
    r = cli("crc --type crc32 " + f("nine") + " " + f("missing"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("CBF43926  " + f("nine")), std::string::npos);

    EXPECT_NE(cli("bin2hex " + f("in.bin") + " " + f("bad.hex") + " --start 12G").code, 0);
    EXPECT_FALSE(exists("bad.hex"));
    ASSERT_EQ(cli("bin2hex " + f("nine") + " " + f("n.hex") + " --start 0X8000").code, 0);
    EXPECT_EQ(TempDir::readFile(f("n.hex")).substr(0, 9), ":09800000");
}

TEST_F(Cli, ArrayFormsAndFailures)
{
    TempDir::writeFile(f("two.bin"), "\x12\xAB");
    auto r = cli("array --lf " + f("two.bin"));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "const unsigned char BinCode[]={\n\t0x12,\t\t// 0\n\t0xAB\t\t// 1\n};\n");
    r = cli("array --asm --prefix --db DW --marker '$' " + f("two.bin"));
    EXPECT_EQ(r.out, "BinTable:\r\n\tDW\t$012\t\t; 0\r\n\tDW\t$0AB\t\t; 1\r\n\r\n");

    TempDir::writeFile(f("a.hex"), hexRecord(0, 0, "\xab", true) + "\n" + ":0100000002FF\n");
    r = cli("array --hex -o " + f("a.c") + " " + f("a.hex"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("HEX checksum error (line 2)"), std::string::npos) << r.out;
    EXPECT_FALSE(exists("a.c"));
    TempDir::writeFile(f("a.hex"), hexRecord(0, 0, "\xab", true) + "\n:00000001FF\n");
    ASSERT_EQ(cli("array --hex --lf -o " + f("a.c") + " " + f("a.hex")).code, 0);
    EXPECT_EQ(TempDir::readFile(f("a.c")), "const unsigned char BinCode[]={\n\t0xab\t\t// 0\n};\n");
    // An empty marker given as "--marker=" must not swallow the next argument.
    r = cli("array --lf --asm --marker= --hex " + f("a.hex"));
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out, "BinTable:\n\tDB\t0ab\t\t; 0\n\n");
    EXPECT_NE(cli("array " + f("none.bin")).code, 0);
}

TEST_F(Cli, HelpOnEveryCommand)
{
    for (const char* cmd : {"", "hex2bin ", "bin2hex ", "crc ", "array "}) {
        const auto r = cli(std::string(cmd) + "--help");
        EXPECT_EQ(r.code, 0) << cmd;
        EXPECT_NE(r.out.find("Usage:"), std::string::npos) << cmd;
    }
    EXPECT_NE(cli("").code, 0);
    EXPECT_NE(cli("frobnicate").code, 0);
}

// One address record of FFFF asks for a 4 GiB image: refused at the limit,
// before the gap is written; the option raises the limit.
TEST_F(Cli, Hex2BinRefusesAnImageAboveTheLimit)
{
    TempDir::writeFile(f("far.hex"), hexRecord(0, 0, "start") + "\n:02000004FFFFFC\n" + hexRecord(0, 0, "far") +
                                         "\n:00000001FF\n");
    auto r = cli("hex2bin --extended " + f("far.hex") + " " + f("far.bin"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("the image would be 4294901763 bytes (line 3), more than 256 MiB (--max-size"),
              std::string::npos)
        << r.out;
    EXPECT_LE(std::filesystem::file_size(f("far.bin")), 5u);

    TempDir::writeFile(f("seg.hex"), ":020000040001F9\n" + hexRecord(0, 0, "x") + "\n:00000001FF\n");
    r = cli("hex2bin --extended --max-size 64K " + f("seg.hex") + " " + f("seg.bin"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("more than 64 KiB"), std::string::npos) << r.out;
    r = cli("hex2bin --extended " + f("seg.hex") + " " + f("seg.bin") + " --max-size=65537");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(std::filesystem::file_size(f("seg.bin")), 0x10001u);
}

// Pipes are read as scripts hand them over; a FIFO nobody opens for writing
// ends with an error after the wait, and an endless device at the size limit.
TEST_F(Cli, StreamInputsAreReadWithinLimits)
{
    auto r = cli("crc --type crc32 /dev/stdin < /dev/null; printf 123456789 | " + std::string(QUILLON_CLI_PATH) +
                 " crc --type crc32 /dev/stdin");
    EXPECT_EQ(r.out, "00000000\nCBF43926\n");

    const std::string fifo = f("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    r = cli("crc " + fifo + " --wait 1");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("nothing written to " + fifo + " within 1 s"), std::string::npos) << r.out;
    // A writer that comes late is still waited for.
    r = cli("array --lf " + fifo + " & sleep 1; printf '\\022' > " + fifo + "; wait");
    EXPECT_EQ(r.out, "const unsigned char BinCode[]={\n\t0x12\t\t// 0\n};\n");

    r = cli("bin2hex /dev/zero " + f("z.hex") + " --max-size 1M");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("/dev/zero is longer than 1 MiB (--max-size raises the limit)"), std::string::npos) << r.out;
    EXPECT_FALSE(exists("z.hex"));
}
