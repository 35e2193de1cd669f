#include "tests/tools/hexbin/hex_records.h"
#include "tests/support/temp_dir.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>

using namespace quillon::test;

namespace {

struct Result {
    int code = -1;
    std::string out; // stdout and stderr together
};

class Cli : public ::testing::Test {
protected:
    TempDir dir;

    Result cli(const std::string& args) { return sh("{ " + std::string(QUILLON_CLI_PATH) + " " + args + "; }"); }
    // A shell command line; its standard output and error are collected.
    Result sh(const std::string& line)
    {
        Result r;
        const std::string cmd = line + " 2>&1";
        FILE* p = popen(cmd.c_str(), "r");
        std::array<char, 4096> buf;
        std::size_t n;
        while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
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
    for (auto& c : bytes) c = static_cast<char>(rng());
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
    TempDir::writeFile(f("far.hex"),
                       hexRecord(0, 0, "start") + "\n:02000004FFFFFC\n" + hexRecord(0, 0, "far") + "\n:00000001FF\n");
    auto r = cli("hex2bin --extended " + f("far.hex") + " " + f("far.bin"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("the image would be 4294901763 bytes (line 3), more than 256 MiB (--max-size"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(exists("far.bin"));

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

namespace {

std::set<std::string> namesIn(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

} // namespace

// A build script must not see an up-to-date target after a failed run, nor
// lose a file it named.
TEST_F(Cli, FailedRunsLeaveTheTargetAsItWas)
{
    TempDir::writeFile(f("bad.hex"),
                       hexRecord(0, 0, std::string(16, 'a')) + "\n" + hexRecord(0, 16, "b") + "\n:0100200002FF\n");
    TempDir::writeFile(f("empty.hex"), "");
    TempDir::writeFile(f("big.bin"), std::string(1024, 'x'));
    TempDir::writeFile(f("out.bin"), "previous build");
    for (const char* args : {"hex2bin bad.hex out.bin", "hex2bin empty.hex out.bin",
                             "bin2hex --start FFFFFF00 big.bin out.bin", "array --hex bad.hex -o out.bin"}) {
        std::string cmd = args;
        for (const char* name : {"bad.hex", "empty.hex", "big.bin", "out.bin"})
            if (auto at = cmd.find(name); at != std::string::npos) cmd.replace(at, std::strlen(name), f(name));
        const auto r = cli(cmd);
        EXPECT_EQ(r.code, 1) << args << ": " << r.out;
        EXPECT_EQ(r.out.rfind("quillon-cli: ", 0), 0u) << r.out;
        EXPECT_EQ(TempDir::readFile(f("out.bin")), "previous build") << args;
    }
    EXPECT_NE(cli("hex2bin " + f("bad.hex") + " " + f("out.bin")).out.find("checksum error (line 3)"),
              std::string::npos);

    // A folder as output is refused and leaves nothing beside it.
    std::filesystem::create_directory(f("dir"));
    TempDir::writeFile(f("one.bin"), "\x01");
    EXPECT_EQ(cli("array " + f("one.bin") + " -o " + f("dir")).code, 1);
    EXPECT_EQ(namesIn(dir.path()),
              (std::set<std::string>{"bad.hex", "empty.hex", "big.bin", "out.bin", "dir", "one.bin"}));
    EXPECT_TRUE(std::filesystem::is_empty(f("dir")));
}

TEST_F(Cli, EveryCommandRefusesToWriteItsInput)
{
    TempDir::writeFile(f("in.hex"), hexRecord(0, 0, "ab") + "\n:00000001FF\n");
    std::filesystem::create_symlink("in.hex", f("alias.hex"));
    for (const std::string cmd : {"hex2bin IN OUT", "bin2hex IN OUT", "array --hex IN -o OUT", "array IN -o OUT"}) {
        for (const char* out : {"in.hex", "alias.hex"}) {
            std::string c = cmd;
            c.replace(c.find("IN"), 2, f("in.hex"));
            c.replace(c.find("OUT"), 3, f(out));
            const auto r = cli(c);
            EXPECT_EQ(r.code, 1) << c;
            EXPECT_NE(r.out.find("is the input file"), std::string::npos) << r.out;
        }
    }
    EXPECT_EQ(TempDir::readFile(f("in.hex")), hexRecord(0, 0, "ab") + "\n:00000001FF\n");
}

TEST_F(Cli, OutputsKeepModeLinksAndWhatTheyAre)
{
    TempDir::writeFile(f("two.bin"), "\x12\xAB");
    TempDir::writeFile(f("keep.c"), "old");
    ::chmod(f("keep.c").c_str(), 0600);
    std::filesystem::create_symlink("keep.c", f("link.c"));
    ASSERT_EQ(cli("array --lf " + f("two.bin") + " -o " + f("link.c")).code, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(f("link.c")));
    EXPECT_EQ(TempDir::readFile(f("keep.c")).substr(0, 5), "const");
    struct stat st {};
    ::stat(f("keep.c").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"two.bin", "keep.c", "link.c"}));

    // A FIFO named as output is written, not replaced by a plain file.
    ASSERT_EQ(::mkfifo(f("fifo").c_str(), 0600), 0);
    std::string got;
    std::thread reader([&] { got = TempDir::readFile(f("fifo")); });
    EXPECT_EQ(cli("bin2hex " + f("two.bin") + " " + f("fifo")).code, 0);
    reader.join();
    EXPECT_EQ(got, ":0200000012AB41\r\n:00000001FF\r\n");
    ::lstat(f("fifo").c_str(), &st);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// Outputs that cannot seek, standard input and output, and a CRC that is the
// image's own whatever the output is.
TEST_F(Cli, StreamsAndTheCrcOfTheImage)
{
    TempDir::writeFile(f("a.hex"), hexRecord(0, 2, "123456789") + "\n" + hexRecord(0, 0, "AB") + "\n:00000001FF\n");
    const std::string image = "AB123456789";
    auto r = cli("hex2bin " + f("a.hex") + " " + f("a.bin"));
    ASSERT_EQ(r.code, 0) << r.out;
    const std::string crc = r.out;
    EXPECT_EQ(cli("hex2bin " + f("a.hex") + " /dev/null").out, crc);
    r = cli("hex2bin " + f("a.hex") + " - 2>/dev/null | od -An -c | tr -d ' \\n'");
    EXPECT_EQ(r.out, image);
    r = cli("hex2bin - " + f("b.bin") + " < " + f("a.hex"));
    EXPECT_EQ(r.out, crc);
    EXPECT_EQ(TempDir::readFile(f("b.bin")), image);
    // The CRC is not mixed into an image written to standard output.
    r = cli("hex2bin " + f("a.hex") + " /dev/stdout >" + f("c.bin") + " 2>" + f("crc.txt"));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(TempDir::readFile(f("c.bin")), image);
    EXPECT_EQ(TempDir::readFile(f("crc.txt")), crc);

    EXPECT_EQ(cli("crc - < " + f("a.bin")).out, cli("crc " + f("a.bin")).out);
    ASSERT_EQ(cli("bin2hex " + f("a.bin") + " " + f("a2.hex")).code, 0);
    EXPECT_EQ(cli("bin2hex - - < " + f("a.bin")).out, TempDir::readFile(f("a2.hex")));
    EXPECT_EQ(cli("array --lf - < " + f("a.bin")).out, cli("array --lf " + f("a.bin")).out);
}

TEST_F(Cli, ArrayReadsExtendedHexPast64KiB)
{
    std::string bytes(0x10010, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    TempDir::writeFile(f("big.bin"), bytes);
    ASSERT_EQ(cli("bin2hex " + f("big.bin") + " " + f("big.hex")).code, 0);
    auto r = cli("array --hex " + f("big.hex") + " -o " + f("big.c"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("--extended"), std::string::npos) << r.out;
    EXPECT_FALSE(exists("big.c"));
    r = cli("array --hex --extended " + f("big.hex") + " -o " + f("big.c"));
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(TempDir::readFile(f("big.c")), cli("array " + f("big.bin")).out);
}

TEST_F(Cli, ExitStatusVersionAndMessages)
{
    for (const char* args : {"", "frobnicate", "hex2bin", "hex2bin a", "hex2bin --fill 12 a b", "crc --type md5 x",
                             "array --nope x", "bin2hex --start 12G a b"}) {
        const auto r = cli(args);
        EXPECT_EQ(r.code, 2) << args << ": " << r.out;
        EXPECT_EQ(r.out.rfind("quillon-cli: ", 0), 0u) << r.out;
    }
    auto r = cli("--version");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("quillon-cli ", 0), 0u) << r.out;
    r = cli("--help");
    EXPECT_NE(r.out.find("Exit status: 0 success, 1 failure"), std::string::npos) << r.out;
}

// A result that never reached a full standard output is a failure.
TEST_F(Cli, FullStandardOutputFails)
{
    if (::mknod(f("full").c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0)
        GTEST_SKIP() << "cannot make a device node here";
    TempDir::writeFile(f("nine"), "123456789");
    TempDir::writeFile(f("a.hex"), hexRecord(0, 0, "x") + "\n:00000001FF\n");
    for (const std::string& cmd :
         std::vector<std::string>{"crc " + f("nine"), "hex2bin " + f("a.hex") + " " + f("a.bin"), "array " + f("nine"),
                                  "--help", "--version"}) {
        const auto r = cli(cmd + " 2>" + f("err") + " >" + f("full"));
        EXPECT_EQ(r.code, 1) << cmd;
        EXPECT_NE(TempDir::readFile(f("err")).find("quillon-cli: cannot write standard output"), std::string::npos)
            << cmd << ": " << TempDir::readFile(f("err"));
    }
    struct stat st {};
    ::lstat(f("full").c_str(), &st);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}
